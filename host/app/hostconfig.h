#pragma once
// The shell's settings: built-in defaults (those of the demo), then an INI file (--config), then the
// environment, each overriding the one before. They become the session values of the Quorvel unit.

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace vnd
{

struct HostConfig {
    QString serverHost = QStringLiteral("127.0.0.1");
    int serverPort = 8044;
    QString tokenFile;
    bool serverTls = false; // reach the server over TLS
    QString caFile;         // authorities to check its certificate against (empty: the system's)
    QString operador;
    QString filial;
    bool moduFili = false;
    QString dbUrl;
    QString moduleDir;
};

// The demo's data folder (~/.local/share/vnd04400/demo); the default token file and database lie in it.
QString DemoDataDir();

// Defaults, then the INI file when iniFile is not empty ([server] host, port, token_file, tls, ca_file; [session]
// operador, filial, modufili; [database] url; [modules] dir), then VND_SERVER_HOST, VND_SERVER_PORT,
// VND_TOKEN_FILE, VND_SERVER_TLS, VND_CA_FILE, VND_OPERADOR, VND_FILIAL, VND_MODUFILI, VND_DB_URL, VND_MODULE_DIR. A missing or
// unreadable file and a value that does not convert are Exceptions naming the file or variable.
HostConfig LoadHostConfig(const QString &iniFile, const QProcessEnvironment &env);

// Fills the session values (server, TLS, token read from the token file, operator, branch at 4 characters,
// one-branch flag). Returns the problems that leave the shell usable (a missing token file) as messages.
QStringList ApplySession(const HostConfig &config);

// Opens the host database; a SQLite file that does not exist is not created. Returns the problem as a
// message, or an empty text.
QString OpenConfiguredDatabase(const HostConfig &config);

} // namespace vnd
