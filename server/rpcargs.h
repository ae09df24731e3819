#pragma once
// Positional arguments of a remote call, read by type with errors that name the method and the argument.

#include "host/recordset.h"

#include <QDate>
#include <QString>
#include <QVariantList>

namespace vnd::server {

class Args
{
public:
    // The parameters of a method; errors name the method and the parameter.
    static Args ForMethod(const QString &method, QVariantList values);

    int Count() const { return int(m_values.size()); }
    // Exception unless there are exactly n values.
    void ExpectCount(int n) const;
    // A text; null reads as empty, numbers as their decimal text. Other kinds, and a text holding a NUL,
    // are an Exception naming the argument.
    QString Text(int i, const char *name) const;
    // A day from exactly "yyyy-MM-dd" or "yyyy-MM-ddTHH:mm:ss" (the time is checked, then ignored);
    // Exception when missing or malformed.
    QDate Date(int i, const char *name) const;
    bool Bool(int i, const char *name) const;
    TDataPacket Packet(int i, const char *name) const;
    // A nested list read with the same rules, named "name" in its errors.
    Args List(int i, const char *name) const;

private:
    // subject: "O método getNotas"; of: "do método getNotas"; item: "Parâmetro" or "Item".
    Args(QVariantList values, QString subject, QString of, QString item);
    [[noreturn]] void Wrong(int i, const char *name, const char *expected) const;
    QString Position(int i, const char *name) const;
    QVariantList m_values;
    QString m_subject, m_of, m_item;
};

} // namespace vnd::server
