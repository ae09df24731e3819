#include "tests/support/server_fixture.h"

#include "host/query.h"
#include "host/session.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include <csignal>
#include <stdexcept>
#include <sys/prctl.h>

namespace vndtest {

namespace {

QString ReadText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

std::unique_ptr<ServerFixture> g_shared;

// The server dies with the test process, even when a test crashes.
void TieToParent() { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }

} // namespace

bool MakeCertificate(const QString &dir, QString &certFile, QString &keyFile)
{
    certFile = dir + QStringLiteral("/cert.pem");
    keyFile = dir + QStringLiteral("/key.pem");
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                   QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=localhost"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost"), QStringLiteral("-keyout"), keyFile,
                   QStringLiteral("-out"), certFile});
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        QFile::remove(certFile);
        QFile::remove(keyFile);
        return false;
    }
    return true;
}

QString ServerFixture::PostgresUrl() { return qEnvironmentVariable("VND_TEST_PG"); }

QString ServerFixture::ServerBinary()
{
    const QString env = qEnvironmentVariable("VND_BINARY_DIR");
    return (env.isEmpty() ? QStringLiteral(VND_BINARY_DIR) : env) + QStringLiteral("/server/vnd-server");
}

ServerFixture::ServerFixture(Engine engine, const QStringList &extraArgs) : m_engine(engine)
{
    if (!m_dir.isValid())
        throw std::runtime_error("no temporary folder for the server");
    if (engine == Engine::PostgreSQL)
        m_dbUrl = CreatePostgresDatabase();
    else
        m_dbUrl = QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("vnd04400.db"));
    m_connectionName = QStringLiteral("server_fixture_%1").arg(quintptr(this), 0, 16);
    try {
        Start(extraArgs);
    } catch (...) {
        DropPostgresDatabase();
        throw;
    }
}

ServerFixture::~ServerFixture()
{
    m_connection.reset();
    Stop();
    if (QSqlDatabase::contains(m_connectionName)) {
        QSqlDatabase::database(m_connectionName, false).close();
        QSqlDatabase::removeDatabase(m_connectionName);
    }
    DropPostgresDatabase();
}

QString ServerFixture::ExportRoot() const { return m_dir.filePath(QStringLiteral("xml")); }

void ServerFixture::Start(const QStringList &extraArgs)
{
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(ServerBinary());
    m_process->setArguments(QStringList{QStringLiteral("--db"), m_dbUrl, QStringLiteral("--listen"),
                                        QStringLiteral("127.0.0.1:0"), QStringLiteral("--token-file"),
                                        m_dir.filePath(QStringLiteral("token")), QStringLiteral("--export-root"),
                                        ExportRoot()} +
                            extraArgs);
    // Files, not pipes: nobody drains a pipe while a test runs, and a full one would stall the server.
    m_process->setStandardOutputFile(m_dir.filePath(QStringLiteral("stdout.txt")));
    m_process->setStandardErrorFile(m_dir.filePath(QStringLiteral("stderr.txt")));
    m_process->setChildProcessModifier(TieToParent);
    m_process->start();
    if (!m_process->waitForStarted(10000))
        throw std::runtime_error("vnd-server did not start: " + ServerBinary().toStdString());
    for (int waited = 0; waited < 60000; waited += 20) {
        const QString out = ReadText(m_dir.filePath(QStringLiteral("stdout.txt")));
        const int at = int(out.indexOf(QLatin1String("listening ")));
        if (at >= 0 && out.indexOf(QLatin1Char('\n'), at) > 0) {
            const QString address = out.mid(at + 10).section(QLatin1Char('\n'), 0, 0).trimmed();
            m_port = address.section(QLatin1Char(':'), -1).toInt();
            m_token = ReadText(m_dir.filePath(QStringLiteral("token"))).trimmed();
            return;
        }
        // Also the pause between looks: QProcess learns of the exit only inside a wait.
        if (m_process->state() == QProcess::NotRunning || m_process->waitForFinished(20))
            break;
    }
    const QString log = Log();
    Stop();
    throw std::runtime_error("vnd-server did not become ready:\n" + log.toStdString());
}

TNetConnection &ServerFixture::Connection()
{
    if (!m_connection) {
        Quorvel::WebURL = QStringLiteral("127.0.0.1");
        Quorvel::WebPort = m_port;
        Quorvel::WebToken = m_token;
        m_connection = Connect();
    }
    return *m_connection;
}

std::unique_ptr<TNetConnection> ServerFixture::Connect() const
{
    auto net = std::make_unique<TNetConnection>();
    net->Host = QStringLiteral("127.0.0.1");
    net->Port = m_port;
    net->Token = m_token;
    net->Open();
    return net;
}

QString ServerFixture::Seed(const QStringList &args) const
{
    QProcess seed;
    seed.setProgram(ServerBinary());
    seed.setArguments(QStringList{QStringLiteral("seed"), QStringLiteral("--db"), m_dbUrl} + args);
    seed.setChildProcessModifier(TieToParent);
    seed.start();
    if (!seed.waitForFinished(600000) || seed.exitStatus() != QProcess::NormalExit || seed.exitCode() != 0)
        throw std::runtime_error("vnd-server seed failed: " + QString::fromUtf8(seed.readAllStandardError()).toStdString());
    return QString::fromUtf8(seed.readAllStandardOutput());
}

QSqlDatabase ServerFixture::Database() const
{
    if (QSqlDatabase::contains(m_connectionName)) {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName);
        if (db.isOpen())
            return db;
    }
    return vnd::OpenDatabaseUrl(m_dbUrl, m_connectionName);
}

int ServerFixture::Stop()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return m_process ? m_process->exitCode() : 0;
    ::kill(pid_t(m_process->processId()), SIGTERM);
    if (m_process->waitForFinished(15000) && m_process->exitStatus() == QProcess::NormalExit)
        return m_process->exitCode();
    m_process->kill();
    m_process->waitForFinished(5000);
    return -1;
}

qint64 ServerFixture::Pid() const { return Running() ? m_process->processId() : 0; }

bool ServerFixture::Running() const { return m_process && m_process->state() != QProcess::NotRunning; }

QString ServerFixture::Log() const { return ReadText(m_dir.filePath(QStringLiteral("stderr.txt"))); }

QString ServerFixture::CreatePostgresDatabase()
{
    const QString admin = PostgresUrl();
    if (admin.isEmpty())
        throw std::runtime_error("VND_TEST_PG is not set");
    m_pgDatabase = QStringLiteral("vnd_test_%1").arg(QRandomGenerator::system()->generate64(), 0, 16);
    const QString name = QStringLiteral("server_fixture_admin_%1").arg(quintptr(this), 0, 16);
    {
        QSqlDatabase db = vnd::OpenDatabaseUrl(admin, name);
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("CREATE DATABASE %1").arg(m_pgDatabase)))
            throw std::runtime_error("cannot create the test database: " + q.lastError().text().toStdString());
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    QUrl url(admin);
    url.setPath(QLatin1Char('/') + m_pgDatabase);
    return url.toString();
}

void ServerFixture::DropPostgresDatabase()
{
    if (m_pgDatabase.isEmpty())
        return;
    const QString name = QStringLiteral("server_fixture_admin_%1").arg(quintptr(this), 0, 16);
    {
        QSqlDatabase db = vnd::OpenDatabaseUrl(PostgresUrl(), name);
        QSqlQuery q(db);
        q.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_pgDatabase));
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    m_pgDatabase.clear();
}

ServerFixture &SharedServer(const QStringList &seedArgs)
{
    if (!g_shared) {
        auto server = std::make_unique<ServerFixture>();
        server->Seed(seedArgs);
        g_shared = std::move(server);
    }
    return *g_shared;
}

void StopSharedServer() { g_shared.reset(); }

} // namespace vndtest
