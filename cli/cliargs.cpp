#include "cli/cliargs.h"

namespace vnd::cli
{

TArgs::TArgs(const QStringList &valued, const QStringList &flags)
    : m_valued(valued.begin(), valued.end()), m_flags(flags.begin(), flags.end())
{
}

void TArgs::Parse(const QStringList &args)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (!arg.startsWith(QLatin1String("--")) || arg == QLatin1String("--")) {
            m_positional << arg;
            continue;
        }
        QString name = arg.mid(2);
        QString value;
        const int igual = name.indexOf(QLatin1Char('='));
        const bool temIgual = igual >= 0;
        if (temIgual) {
            value = name.mid(igual + 1);
            name = name.left(igual);
        }
        if (m_flags.contains(name)) {
            if (temIgual)
                throw EUsage(QStringLiteral("A opção --%1 não aceita valor.").arg(name));
            m_set.insert(name);
        } else if (m_valued.contains(name)) {
            if (!temIgual) {
                if (i + 1 >= args.size())
                    throw EUsage(QStringLiteral("A opção --%1 exige um valor.").arg(name));
                value = args.at(++i);
            }
            // A repeated option would silently drop one of the two values.
            if (m_values.contains(name))
                throw EUsage(QStringLiteral("A opção --%1 foi informada mais de uma vez.").arg(name));
            m_values.insert(name, value);
        } else {
            throw EUsage(QStringLiteral("Opção desconhecida: %1").arg(arg));
        }
    }
}

QStringList OpcoesConexao()
{
    return {QStringLiteral("config"),     QStringLiteral("server"),   QStringLiteral("port"),
            QStringLiteral("token-file"), QStringLiteral("operador"), QStringLiteral("filial"),
            QStringLiteral("db"),         QStringLiteral("ca-file")};
}

QStringList FlagsComuns()
{
    return {QStringLiteral("quiet"), QStringLiteral("help"), QStringLiteral("tls")};
}

} // namespace vnd::cli
