#include "host/app/hostconfig.h"

#include "host/errors.h"
#include "host/hostutil.h"
#include "host/query.h"
#include "host/session.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

namespace vnd
{

namespace
{

int ParsePort(const QString &text, const QString &source)
{
    bool ok = false;
    const int port = text.trimmed().toInt(&ok);
    if (!ok || port < 1 || port > 65535)
        throw Exception(QStringLiteral("Porta do servidor inválida em %1: \"%2\"").arg(source, text));
    return port;
}

bool ParseFlag(const QString &text, const QString &source)
{
    const QString t = text.trimmed().toUpper();
    if (t == QLatin1String("S") || t == QLatin1String("1") || t == QLatin1String("TRUE") ||
        t == QLatin1String("SIM"))
        return true;
    if (t == QLatin1String("N") || t == QLatin1String("0") || t == QLatin1String("FALSE") ||
        t == QLatin1String("NAO") || t == QLatin1String("NÃO") || t.isEmpty())
        return false;
    throw Exception(QStringLiteral("Valor inválido em %1: \"%2\" (use S ou N)").arg(source, text));
}

QString DefaultModuleDir()
{
    const QString built = QStringLiteral(VND_DEFAULT_MODULE_DIR);
    return QFileInfo(built).isDir() ? built : QCoreApplication::applicationDirPath();
}

} // namespace

QString DemoDataDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/vnd04400/demo");
}

HostConfig LoadHostConfig(const QString &iniFile, const QProcessEnvironment &env)
{
    HostConfig c;
    c.tokenFile = DemoDataDir() + QStringLiteral("/token");
    c.dbUrl = QStringLiteral("sqlite:") + DemoDataDir() + QStringLiteral("/vnd04400.db");
    c.moduleDir = DefaultModuleDir();

    if (!iniFile.isEmpty()) {
        const QFileInfo info(iniFile);
        if (!info.isFile() || !info.isReadable())
            throw Exception(QStringLiteral("Arquivo de configuração não encontrado: %1").arg(iniFile));
        QSettings ini(iniFile, QSettings::IniFormat);
        if (ini.status() != QSettings::NoError)
            throw Exception(QStringLiteral("Arquivo de configuração inválido: %1").arg(iniFile));
        const auto text = [&](const char *key, QString &into) {
            if (ini.contains(QLatin1String(key)))
                into = ini.value(QLatin1String(key)).toString();
        };
        text("server/host", c.serverHost);
        if (ini.contains(QStringLiteral("server/port")))
            c.serverPort = ParsePort(ini.value(QStringLiteral("server/port")).toString(),
                                     iniFile + QStringLiteral(" [server] port"));
        text("server/token_file", c.tokenFile);
        if (ini.contains(QStringLiteral("server/tls")))
            c.serverTls = ParseFlag(ini.value(QStringLiteral("server/tls")).toString(), iniFile + QStringLiteral(" [server] tls"));
        text("server/ca_file", c.caFile);
        text("session/operador", c.operador);
        text("session/filial", c.filial);
        if (ini.contains(QStringLiteral("session/modufili")))
            c.moduFili = ParseFlag(ini.value(QStringLiteral("session/modufili")).toString(),
                                   iniFile + QStringLiteral(" [session] modufili"));
        text("database/url", c.dbUrl);
        text("modules/dir", c.moduleDir);
    }

    const auto fromEnv = [&](const char *name, QString &into) {
        if (env.contains(QLatin1String(name)))
            into = env.value(QLatin1String(name));
    };
    fromEnv("VND_SERVER_HOST", c.serverHost);
    if (env.contains(QStringLiteral("VND_SERVER_PORT")))
        c.serverPort =
            ParsePort(env.value(QStringLiteral("VND_SERVER_PORT")), QStringLiteral("VND_SERVER_PORT"));
    fromEnv("VND_TOKEN_FILE", c.tokenFile);
    if (env.contains(QStringLiteral("VND_SERVER_TLS")))
        c.serverTls = ParseFlag(env.value(QStringLiteral("VND_SERVER_TLS")), QStringLiteral("VND_SERVER_TLS"));
    fromEnv("VND_CA_FILE", c.caFile);
    fromEnv("VND_OPERADOR", c.operador);
    fromEnv("VND_FILIAL", c.filial);
    if (env.contains(QStringLiteral("VND_MODUFILI")))
        c.moduFili = ParseFlag(env.value(QStringLiteral("VND_MODUFILI")), QStringLiteral("VND_MODUFILI"));
    fromEnv("VND_DB_URL", c.dbUrl);
    fromEnv("VND_MODULE_DIR", c.moduleDir);
    return c;
}

QStringList ApplySession(const HostConfig &config)
{
    QStringList problems;
    // Check the branch before touching the session: a wrong configuration changes nothing.
    const QString filial = config.filial.trimmed().isEmpty() ? QString() : Ajusta(config.filial.trimmed(), 4);
    QString token;
    if (!config.tokenFile.isEmpty()) {
        QFile file(config.tokenFile);
        if (file.open(QIODevice::ReadOnly))
            token = QString::fromUtf8(file.readLine()).trimmed();
        else
            problems << QStringLiteral("Arquivo do token não encontrado: %1").arg(config.tokenFile);
    }
    Quorvel::WebURL = config.serverHost;
    Quorvel::WebPort = config.serverPort;
    Quorvel::WebToken = token;
    Quorvel::WebTls = config.serverTls;
    Quorvel::WebCaFile = config.caFile;
    Quorvel::Operador = config.operador;
    Quorvel::FiliProc = filial;
    Quorvel::ModuFili = config.moduFili;
    return problems;
}

QString OpenConfiguredDatabase(const HostConfig &config)
{
    if (config.dbUrl.isEmpty())
        return QStringLiteral("Banco de dados não configurado.");
    if (config.dbUrl.startsWith(QLatin1String("sqlite:"))) {
        const QString file = config.dbUrl.mid(7);
        if (!QFileInfo(file).isFile())
            return QStringLiteral("Banco de dados não encontrado: %1").arg(file);
    }
    try {
        OpenHostDatabase(config.dbUrl);
    } catch (const Exception &e) {
        // The message names the address; a password in it stays off the screen.
        const QUrl url(config.dbUrl);
        QString message = e.Message();
        if (!url.password().isEmpty())
            message.replace(config.dbUrl, url.toString(QUrl::RemovePassword));
        return message;
    }
    return {};
}

} // namespace vnd
