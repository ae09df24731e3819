#include "host/messages.h"

#include "host/errors.h"

TMessages::TMessages(const QStringList &lines)
{
    for (const QString &line : lines)
        Add(line);
}

void TMessages::Add(const QString &line)
{
    const int bar = line.indexOf(QLatin1Char('|'));
    Q_ASSERT_X(bar > 0, "TMessages::Add", "message line without key");
    m_texts.insert(line.left(bar), line.mid(bar + 1));
}

QString TMessages::Msg(const QString &key) const
{
    const auto it = m_texts.constFind(key);
    if (it == m_texts.constEnd())
        throw Exception(QStringLiteral("Mensagem não cadastrada: %1").arg(key));
    return *it;
}
