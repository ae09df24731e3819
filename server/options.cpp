#include "server/options.h"

#include "host/errors.h"

#include <QDir>

namespace vnd::server {

namespace {

QString DataDir()
{
    const QString env = qEnvironmentVariable("VND_DATA_DIR");
    if (!env.isEmpty())
        return env;
    return QDir::homePath() + QStringLiteral("/.local/share/vnd04400");
}

int Number(const QString &option, const QString &value, int min, int max)
{
    bool ok = false;
    const int n = value.toInt(&ok);
    if (!ok || n < min || n > max)
        throw Exception(QStringLiteral("Valor inválido para %1: \"%2\" (de %3 a %4).").arg(option, value).arg(min).arg(max));
    return n;
}

QDate Day(const QString &option, const QString &value)
{
    const QDate d = QDate::fromString(value, QStringLiteral("yyyy-MM-dd"));
    if (!d.isValid())
        throw Exception(QStringLiteral("Data inválida para %1: \"%2\" (use aaaa-mm-dd).").arg(option, value));
    return d;
}

} // namespace

QString Usage()
{
    return QStringLiteral(
        "uso: vnd-server [--db URL] [--listen MAQUINA:PORTA] [--token-file ARQUIVO] [--export-root PASTA] [--threads N]\n"
        "                  [--max-body MB] [--tls-cert ARQUIVO.pem --tls-key ARQUIVO.pem]\n"
        "     vnd-server seed [--db URL] [--sales N] [--from aaaa-mm-dd --to aaaa-mm-dd] [--import-dir PASTA] [--seed S]\n"
        "URL: sqlite:ARQUIVO ou postgresql://usuario@maquina:porta/banco. Porta 0 escolhe uma livre.\n");
}

ServerOptions ParseOptions(const QStringList &args)
{
    ServerOptions o;
    int i = 0;
    if (!args.isEmpty() && args[0] == QLatin1String("seed")) {
        o.seed = true;
        i = 1;
    }
    const QStringList serveOnly = {QStringLiteral("--listen"), QStringLiteral("--token-file"),
                                   QStringLiteral("--export-root"), QStringLiteral("--threads"),
                                   QStringLiteral("--max-body"), QStringLiteral("--tls-cert"), QStringLiteral("--tls-key")};
    const QStringList seedOnly = {QStringLiteral("--sales"), QStringLiteral("--from"), QStringLiteral("--to"),
                                  QStringLiteral("--import-dir"), QStringLiteral("--seed")};
    for (; i < args.size(); ++i) {
        const QString opt = args[i];
        if (opt == QLatin1String("--help") || opt == QLatin1String("-h")) {
            o.help = true;
            continue;
        }
        if (!opt.startsWith(QLatin1String("--")) || (!o.seed && seedOnly.contains(opt)) ||
            (o.seed && serveOnly.contains(opt)) || (!serveOnly.contains(opt) && !seedOnly.contains(opt) && opt != QLatin1String("--db")))
            throw Exception(QStringLiteral("Argumento desconhecido: %1\n%2").arg(opt, Usage()));
        if (i + 1 >= args.size())
            throw Exception(QStringLiteral("Falta o valor de %1.").arg(opt));
        const QString value = args[++i];
        if (opt == QLatin1String("--db")) {
            o.db = value;
        } else if (opt == QLatin1String("--listen")) {
            const int colon = int(value.lastIndexOf(QLatin1Char(':')));
            if (colon <= 0)
                throw Exception(QStringLiteral("Endereço inválido para --listen: \"%1\" (use MAQUINA:PORTA).").arg(value));
            o.host = value.left(colon);
            o.port = Number(opt, value.mid(colon + 1), 0, 65535);
        } else if (opt == QLatin1String("--token-file")) {
            o.tokenFile = value;
        } else if (opt == QLatin1String("--export-root")) {
            o.exportRoot = value;
        } else if (opt == QLatin1String("--threads")) {
            o.threads = Number(opt, value, 2, 256);
        } else if (opt == QLatin1String("--max-body")) {
            o.maxBodyMb = Number(opt, value, 1, 4096);
        } else if (opt == QLatin1String("--tls-cert")) {
            o.tlsCert = value;
        } else if (opt == QLatin1String("--tls-key")) {
            o.tlsKey = value;
        } else if (opt == QLatin1String("--sales")) {
            o.sales = Number(opt, value, 0, 10000000);
        } else if (opt == QLatin1String("--from")) {
            o.from = Day(opt, value);
        } else if (opt == QLatin1String("--to")) {
            o.to = Day(opt, value);
        } else if (opt == QLatin1String("--import-dir")) {
            o.importDir = value;
        } else if (opt == QLatin1String("--seed")) {
            bool ok = false;
            o.randomSeed = value.toULongLong(&ok);
            if (!ok)
                throw Exception(QStringLiteral("Valor inválido para --seed: \"%1\".").arg(value));
        }
    }
    if (o.tlsCert.isEmpty() != o.tlsKey.isEmpty())
        throw Exception(QStringLiteral("--tls-cert e --tls-key vão juntos: falta %1.")
                            .arg(o.tlsCert.isEmpty() ? QStringLiteral("--tls-cert") : QStringLiteral("--tls-key")));
    const QString data = DataDir();
    if (o.db.isEmpty())
        o.db = QStringLiteral("sqlite:") + data + QStringLiteral("/vnd04400.db");
    if (o.tokenFile.isEmpty())
        o.tokenFile = data + QStringLiteral("/token");
    if (o.exportRoot.isEmpty())
        o.exportRoot = data + QStringLiteral("/xml");
    if (o.seed) {
        if (!o.to.isValid())
            o.to = o.from.isValid() ? o.from.addDays(29) : QDate::currentDate();
        if (!o.from.isValid())
            o.from = o.to.addDays(-29);
        if (o.from > o.to)
            throw Exception(QStringLiteral("Período inválido: --from %1 é posterior a --to %2.")
                                .arg(o.from.toString(Qt::ISODate), o.to.toString(Qt::ISODate)));
    }
    return o;
}

} // namespace vnd::server
