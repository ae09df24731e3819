#include "cli/conexao.h"

#include "host/app/hostconfig.h"
#include "host/errors.h"
#include "host/query.h"
#include "host/session.h"

#include <QProcessEnvironment>

namespace vnd::cli
{

namespace
{

HostConfig Configuracao(const TArgs &args)
{
    HostConfig c =
        LoadHostConfig(args.Value(QStringLiteral("config")), QProcessEnvironment::systemEnvironment());
    if (args.Has(QStringLiteral("server")))
        c.serverHost = args.Value(QStringLiteral("server"));
    if (args.Has(QStringLiteral("port"))) {
        bool ok = false;
        const int porta = args.Value(QStringLiteral("port")).toInt(&ok);
        if (!ok || porta <= 0 || porta > 65535)
            throw EUsage(
                QStringLiteral("Porta inválida em --port: \"%1\"").arg(args.Value(QStringLiteral("port"))));
        c.serverPort = porta;
    }
    if (args.Has(QStringLiteral("token-file")))
        c.tokenFile = args.Value(QStringLiteral("token-file"));
    if (args.Has(QStringLiteral("tls")))
        c.serverTls = true;
    if (args.Has(QStringLiteral("ca-file")))
        c.caFile = args.Value(QStringLiteral("ca-file"));
    if (args.Has(QStringLiteral("operador")))
        c.operador = args.Value(QStringLiteral("operador"));
    if (args.Has(QStringLiteral("filial")))
        c.filial = args.Value(QStringLiteral("filial"));
    if (args.Has(QStringLiteral("db")))
        c.dbUrl = args.Value(QStringLiteral("db"));
    return c;
}

// What keeps the session from reaching the server; reported when a connection is asked for, so that a
// wrong option is told first.
QStringList &Problemas()
{
    static QStringList problemas;
    return problemas;
}

} // namespace

void AplicaSessao(const TArgs &args)
{
    const HostConfig c = Configuracao(args);
    Problemas() = ApplySession(c);
}

std::unique_ptr<TNetConnection> Conecta()
{
    // The shell can start without a token; a job that cannot call the server cannot do anything.
    if (!Problemas().isEmpty())
        throw Exception(Problemas().join(QLatin1Char('\n')));
    auto net = std::make_unique<TNetConnection>();
    net->Host = Quorvel::WebURL;
    net->Port = Quorvel::WebPort;
    net->Token = Quorvel::WebToken;
    net->Tls = Quorvel::WebTls;
    net->CaFile = Quorvel::WebCaFile;
    net->Open();
    return net;
}

void AbreBancoHost(const TArgs &args)
{
    const QString problema = OpenConfiguredDatabase(Configuracao(args));
    if (!problema.isEmpty())
        throw Exception(problema);
}

} // namespace vnd::cli
