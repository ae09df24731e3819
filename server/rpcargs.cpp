#include "server/rpcargs.h"

#include "host/errors.h"
#include "host/rpc.h"

#include <QTime>

namespace vnd::server {

Args::Args(QVariantList values, QString subject, QString of, QString item)
    : m_values(std::move(values)), m_subject(std::move(subject)), m_of(std::move(of)), m_item(std::move(item))
{
}

Args Args::ForMethod(const QString &method, QVariantList values)
{
    return Args(std::move(values), QStringLiteral("O método %1").arg(method), QStringLiteral("do método %1").arg(method),
                QStringLiteral("Parâmetro"));
}

void Args::ExpectCount(int n) const
{
    if (Count() != n)
        throw Exception(QStringLiteral("%1 espera %2 itens e recebeu %3.").arg(m_subject).arg(n).arg(Count()));
}

QString Args::Position(int i, const char *name) const
{
    return QStringLiteral("%1 %2 (%3) %4").arg(m_item).arg(i + 1).arg(QString::fromUtf8(name), m_of);
}

void Args::Wrong(int i, const char *name, const char *expected) const
{
    const QVariant &v = m_values.at(i);
    QString got = v.isNull() ? QStringLiteral("nulo") : QString::fromLatin1(v.typeName());
    if (v.typeId() == QMetaType::QVariantMap)
        got = QStringLiteral("objeto");
    else if (v.typeId() == QMetaType::QVariantList)
        got = QStringLiteral("lista");
    else if (v.typeId() == QMetaType::QString)
        got = QStringLiteral("texto");
    else if (v.typeId() == QMetaType::Double)
        got = QStringLiteral("número");
    else if (v.typeId() == QMetaType::Bool)
        got = QStringLiteral("booleano");
    else if (vnd::rpc::IsPacket(v))
        got = QStringLiteral("pacote de dados");
    throw Exception(QStringLiteral("%1 deve ser %2; recebido: %3.").arg(Position(i, name), QString::fromUtf8(expected), got));
}

QString Args::Text(int i, const char *name) const
{
    const QVariant &v = m_values.at(i);
    if (v.isNull())
        return {};
    switch (v.typeId()) {
    case QMetaType::QString: {
        // No column or statement takes a NUL (PostgreSQL refuses it in text), and no code or filter
        // holds one: it is refused here, by name, instead of failing deep in the driver.
        QString text = v.toString();
        if (text.contains(QChar(0)))
            throw Exception(QStringLiteral("%1 contém o caractere nulo (NUL), que não é aceito.").arg(Position(i, name)));
        return text;
    }
    case QMetaType::Double: {
        // JSON numbers arrive as doubles; whole ones are the codes a client may send unquoted.
        const double d = v.toDouble();
        if (d == double(qint64(d)))
            return QString::number(qint64(d));
        return QString::number(d, 'g', 15);
    }
    default: Wrong(i, name, "um texto");
    }
}

QDate Args::Date(int i, const char *name) const
{
    const QVariant &v = m_values.at(i);
    if (v.typeId() != QMetaType::QString)
        Wrong(i, name, "uma data");
    const QString s = v.toString();
    // Exactly a day, or a day and a time of day; nothing before, between or after.
    const QDate d = s.size() == 10 || s.size() == 19 ? QDate::fromString(s.left(10), QStringLiteral("yyyy-MM-dd")) : QDate();
    const bool timeOk = s.size() == 10 || (s.size() == 19 && s[10] == QLatin1Char('T') &&
                                           QTime::fromString(s.mid(11), QStringLiteral("HH:mm:ss")).isValid());
    if (!d.isValid() || !timeOk)
        throw Exception(QStringLiteral("%1: \"%2\" não é uma data válida.").arg(Position(i, name), s.left(40)));
    return d;
}

bool Args::Bool(int i, const char *name) const
{
    const QVariant &v = m_values.at(i);
    if (v.typeId() != QMetaType::Bool)
        Wrong(i, name, "um booleano");
    return v.toBool();
}

TDataPacket Args::Packet(int i, const char *name) const
{
    const QVariant &v = m_values.at(i);
    if (!vnd::rpc::IsPacket(v))
        Wrong(i, name, "um pacote de dados");
    return v.value<TDataPacket>();
}

Args Args::List(int i, const char *name) const
{
    const QVariant &v = m_values.at(i);
    if (v.typeId() != QMetaType::QVariantList)
        Wrong(i, name, "uma lista");
    const QString where = QStringLiteral("%1 (%2 %3 %4)").arg(QString::fromUtf8(name)).arg(m_item.toLower()).arg(i + 1).arg(m_of);
    return Args(v.toList(), QStringLiteral("O ") + where, QStringLiteral("do ") + where, QStringLiteral("Item"));
}

} // namespace vnd::server
