#pragma once
// A screen's message table: lines "key|text" looked up by key.

#include <QHash>
#include <QString>
#include <QStringList>

class TMessages
{
public:
    TMessages() = default;
    // Lines of the form "Key|Text"; a line without a bar is a programming error (asserts).
    explicit TMessages(const QStringList &lines);
    void Add(const QString &line);
    // The text of a key. An unknown key is an Exception naming the key, never an empty text.
    QString Msg(const QString &key) const;
    bool Contains(const QString &key) const { return m_texts.contains(key); }

private:
    QHash<QString, QString> m_texts;
};
