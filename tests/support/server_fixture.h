#pragma once
// A real vnd-server for tests: started as a process on a free loopback port, with a fresh database (a
// temporary SQLite file, or a new PostgreSQL database on the server named by VND_TEST_PG), its own token
// file and export root. Screen and import tests use it like this:
//
//     vndtest::ServerFixture server;                  // SQLite; started and ready
//     server.Seed({"--sales", "200"});                // optional demo data (vnd-server seed)
//     TNetConnection &net = server.Connection();      // connected; Quorvel::WebURL/WebPort/WebToken set
//     CheckResultServ(net.Call("getParamGeral"));
//
// The process is stopped (and a PostgreSQL database dropped) when the fixture is destroyed. Failures to
// start throw std::runtime_error carrying the server's log.

#include "host/netconnection.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class QProcess;

namespace vndtest {

class ServerFixture
{
public:
    enum class Engine { SQLite, PostgreSQL };

    // Starts the server; extraArgs go to its command line (for example {"--threads", "4"}).
    explicit ServerFixture(Engine engine = Engine::SQLite, const QStringList &extraArgs = {});
    ~ServerFixture();
    ServerFixture(const ServerFixture &) = delete;
    ServerFixture &operator=(const ServerFixture &) = delete;

    // The PostgreSQL server of the test run (VND_TEST_PG), or empty: tests skip that engine without it.
    static QString PostgresUrl();
    // The vnd-server program: $VND_BINARY_DIR/server/vnd-server, else the build's own.
    static QString ServerBinary();

    Engine engine() const { return m_engine; }
    QString DbUrl() const { return m_dbUrl; }
    int Port() const { return m_port; }
    QString Token() const { return m_token; }
    QString ExportRoot() const;
    // The fixture's temporary folder (database file, token, logs, export root).
    QString Dir() const { return m_dir.path(); }

    // The shared connection, opened on first use, with the session values pointing at this server.
    TNetConnection &Connection();
    // A connection of its own (for concurrent clients), opened.
    std::unique_ptr<TNetConnection> Connect() const;

    // Runs "vnd-server seed --db URL <args>" and returns what it printed; std::runtime_error when it fails.
    QString Seed(const QStringList &args = {}) const;
    // A Qt Sql connection on the server's database, for setting up and checking data (one per fixture,
    // on the calling thread).
    QSqlDatabase Database() const;

    // Stops the server with SIGTERM and returns its exit code (-1 when it had to be killed).
    int Stop();
    bool Running() const;
    // The server's process id (to send it signals), or 0 when it is not running.
    qint64 Pid() const;
    // What the server wrote to standard error so far (one line per call).
    QString Log() const;

private:
    void Start(const QStringList &extraArgs);
    QString CreatePostgresDatabase();
    void DropPostgresDatabase();

    Engine m_engine;
    QTemporaryDir m_dir;
    QString m_dbUrl;
    QString m_pgDatabase;
    QString m_token;
    int m_port = 0;
    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<TNetConnection> m_connection;
    QString m_connectionName;
};

// A self-signed certificate for 127.0.0.1 and localhost, made with the openssl command into dir: the
// certificate (also the authority a client checks it against) and its private key. False, with nothing
// made, when the command is missing or fails.
bool MakeCertificate(const QString &dir, QString &certFile, QString &keyFile);

// A server shared by the whole test binary, started (and seeded with seedArgs) on first use. The test
// main stops it after the last test, while the application and Qt's globals still exist.
ServerFixture &SharedServer(const QStringList &seedArgs = {QStringLiteral("--sales"), QStringLiteral("0")});
void StopSharedServer();

} // namespace vndtest
