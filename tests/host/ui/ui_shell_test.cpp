#include "host/app/hostconfig.h"
#include "host/app/mainwindow.h"
#include "host/app/modules.h"
#include "host/errors.h"
#include "host/session.h"
#include "host/ui/hostwindow.h"
#include "host/ui/producticon.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/server_fixture.h"
#include "tests/support/testutil.h"

#include <QAction>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

// The session values are process-wide; each test leaves them as it found them.
class SessionGuard
{
  public:
    SessionGuard()
        : m_url(Quorvel::WebURL), m_port(Quorvel::WebPort), m_token(Quorvel::WebToken),
          m_operador(Quorvel::Operador), m_filial(Quorvel::FiliProc), m_moduFili(Quorvel::ModuFili),
          m_tls(Quorvel::WebTls), m_caFile(Quorvel::WebCaFile)
    {
    }
    ~SessionGuard()
    {
        Quorvel::WebURL = m_url;
        Quorvel::WebPort = m_port;
        Quorvel::WebToken = m_token;
        Quorvel::Operador = m_operador;
        Quorvel::FiliProc = m_filial;
        Quorvel::ModuFili = m_moduFili;
        Quorvel::WebTls = m_tls;
        Quorvel::WebCaFile = m_caFile;
    }

  private:
    QString m_url;
    int m_port;
    QString m_token, m_operador, m_filial;
    bool m_moduFili;
    bool m_tls;
    QString m_caFile;
};

QProcessEnvironment Env(std::initializer_list<std::pair<const char *, const char *>> values)
{
    QProcessEnvironment env;
    for (const auto &[name, value] : values)
        env.insert(QString::fromLatin1(name), QString::fromUtf8(value));
    return env;
}

} // namespace

TEST(HostConfig, FileOverridesDefaultsAndEnvironmentOverridesTheFile)
{
    QTemporaryDir temp;
    const QString ini = temp.filePath(QStringLiteral("host.ini"));
    vndtest::WriteFile(ini,
                       "[server]\nhost=10.0.0.5\nport=9000\ntls=S\nca_file=/etc/ca.pem\n[session]\noperador=ANA\nfilial=12\nmodufili=S\n"
                       "[database]\nurl=sqlite:/tmp/x.db\n");
    const vnd::HostConfig defaults = vnd::LoadHostConfig({}, {});
    EXPECT_EQ(defaults.serverHost, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(defaults.serverPort, 8044);
    EXPECT_FALSE(defaults.serverTls);
    EXPECT_TRUE(defaults.dbUrl.startsWith(QStringLiteral("sqlite:") + vnd::DemoDataDir()));

    const vnd::HostConfig c =
        vnd::LoadHostConfig(ini, Env({{"VND_SERVER_PORT", "9100"}, {"VND_OPERADOR", "BIA"}}));
    EXPECT_EQ(c.serverHost, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(c.serverPort, 9100);
    EXPECT_EQ(c.operador, QStringLiteral("BIA"));
    EXPECT_EQ(c.filial, QStringLiteral("12"));
    EXPECT_TRUE(c.moduFili);
    EXPECT_EQ(c.dbUrl, QStringLiteral("sqlite:/tmp/x.db"));
    EXPECT_TRUE(c.serverTls);
    EXPECT_EQ(c.caFile, QStringLiteral("/etc/ca.pem"));
    const vnd::HostConfig plain = vnd::LoadHostConfig(ini, Env({{"VND_SERVER_TLS", "N"}, {"VND_CA_FILE", ""}}));
    EXPECT_FALSE(plain.serverTls);
    EXPECT_TRUE(plain.caFile.isEmpty());
}

TEST(HostConfig, BadValuesAreErrorsNamingWhereTheyCameFrom)
{
    const auto message = [](const QString &ini, const QProcessEnvironment &env) {
        try {
            vnd::LoadHostConfig(ini, env);
        } catch (const Exception &e) {
            return e.Message();
        }
        return QString();
    };
    EXPECT_TRUE(message({}, Env({{"VND_SERVER_PORT", "80x"}})).contains(QStringLiteral("VND_SERVER_PORT")));
    EXPECT_TRUE(message({}, Env({{"VND_MODUFILI", "talvez"}})).contains(QStringLiteral("VND_MODUFILI")));
    EXPECT_TRUE(message({}, Env({{"VND_SERVER_TLS", "talvez"}})).contains(QStringLiteral("VND_SERVER_TLS")));
    EXPECT_TRUE(message(QStringLiteral("/nao/existe.ini"), {}).contains(QStringLiteral("/nao/existe.ini")));
}

TEST(HostConfig, SessionTakesTheTokenAndThePaddedBranch)
{
    SessionGuard guard;
    QTemporaryDir temp;
    vnd::HostConfig c;
    c.serverHost = QStringLiteral("10.1.1.1");
    c.serverPort = 9001;
    c.filial = QStringLiteral("7");
    c.operador = QStringLiteral("ANA");
    c.tokenFile = temp.filePath(QStringLiteral("token"));
    vndtest::WriteFile(c.tokenFile, "segredo-123\n");
    EXPECT_TRUE(vnd::ApplySession(c).isEmpty());
    EXPECT_EQ(Quorvel::WebURL, QStringLiteral("10.1.1.1"));
    EXPECT_EQ(Quorvel::WebPort, 9001);
    EXPECT_EQ(Quorvel::WebToken, QStringLiteral("segredo-123"));
    EXPECT_EQ(Quorvel::FiliProc, QStringLiteral("0007"));

    c.tokenFile = temp.filePath(QStringLiteral("sem-token"));
    const QStringList problems = vnd::ApplySession(c);
    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems.first().contains(c.tokenFile));
    EXPECT_TRUE(Quorvel::WebToken.isEmpty());

    c.filial = QStringLiteral("12345");
    EXPECT_THROW(vnd::ApplySession(c), Exception);
}

// The shell's settings reach a server that speaks TLS only: the session carries the flag and the
// authority, and a connection made by a screen (which sets host, port and token) takes them.
TEST(HostConfig, TheSessionReachesATlsServer)
{
    SessionGuard guard;
    QTemporaryDir temp;
    QString cert, key;
    if (!vndtest::MakeCertificate(temp.path(), cert, key))
        GTEST_SKIP() << "comando openssl indisponível: TLS não testado";
    vndtest::ServerFixture server(vndtest::ServerFixture::Engine::SQLite,
                                  {QStringLiteral("--tls-cert"), cert, QStringLiteral("--tls-key"), key});
    const QString ini = temp.filePath(QStringLiteral("host.ini"));
    vndtest::WriteFile(ini, "[server]\nhost=localhost\nport=" + QByteArray::number(server.Port()) + "\ntoken_file=" +
                                server.Dir().toUtf8() + "/token\ntls=S\nca_file=" + cert.toUtf8() + "\n");
    EXPECT_TRUE(vnd::ApplySession(vnd::LoadHostConfig(ini, {})).isEmpty());
    TNetConnection net;
    net.BeforeConnect = [](TNetConnection &c) {
        c.Host = Quorvel::WebURL;
        c.Port = Quorvel::WebPort;
        c.Token = Quorvel::WebToken;
    };
    net.Open();
    EXPECT_EQ(CheckResultServ(net.Call(QStringLiteral("ping"))).toBool(), true);
    // Without the flag the same server is out of reach, with a message naming it.
    Quorvel::WebTls = false;
    TNetConnection plain;
    plain.BeforeConnect = net.BeforeConnect;
    plain.TimeoutSeconds = 5;
    EXPECT_THROW(plain.Open(), EConnectionError);
}

TEST(HostConfig, AMissingSQLiteDatabaseIsReportedNotCreated)
{
    QTemporaryDir temp;
    vnd::HostConfig c;
    c.dbUrl = QStringLiteral("sqlite:") + temp.filePath(QStringLiteral("nao-existe.db"));
    EXPECT_TRUE(vnd::OpenConfiguredDatabase(c).contains(QStringLiteral("nao-existe.db")));
    EXPECT_FALSE(QFileInfo::exists(temp.filePath(QStringLiteral("nao-existe.db"))));
}

TEST(Shell, LoadsAModuleWhoseWindowJoinsTheHost)
{
    vnd::HostConfig config;
    config.moduleDir = QFileInfo(QStringLiteral(VND_TEST_MODULE)).absolutePath();
    vnd::MainWindow window(config);
    window.show();
    EXPECT_EQ(vnd::HostMdiArea(), window.MdiArea());
    EXPECT_EQ(vnd::ModuleFile(QStringLiteral("/opt/mod"), QStringLiteral("VND04400")),
              QStringLiteral("/opt/mod/libvnd04400.so"));

    window.OpenModule(QStringLiteral(VND_TEST_MODULE));
    window.OpenModule(QStringLiteral(VND_TEST_MODULE)); // loaded once, entered twice
    const auto windows = window.MdiArea()->subWindowList();
    ASSERT_EQ(windows.size(), 2);
    EXPECT_EQ(windows.first()->widget()->objectName(), QStringLiteral("lblModuloTeste"));
    window.MdiArea()->closeAllSubWindows();
}

TEST(Shell, AModuleThatCannotBeOpenedIsReportedWithItsFile)
{
    QTemporaryDir temp;
    vnd::HostConfig config;
    config.moduleDir = temp.path();
    vnd::MainWindow window(config);
    vndtest::ScopedPlatform platform;

    // From the menu, as the user meets it: the message names the library file the shell looked for.
    const QString expected = temp.filePath(QStringLiteral("libvnd04400.so"));
    platform->ExpectError(QStringLiteral("Não foi possível carregar o módulo ") + expected,
                          vndtest::ScriptedPlatform::Match::Contains);
    auto *entry = window.findChild<QAction *>(QStringLiteral("mniVND04400"));
    ASSERT_NE(entry, nullptr);
    entry->trigger();
    EXPECT_TRUE(platform->Seen().first().contains(QStringLiteral("Motivo:")));

    try {
        window.OpenModule(QStringLiteral(VND_TEST_MODULE_NOENTRY));
        ADD_FAILURE() << "a module without IniProc was opened";
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("não exporta a entrada IniProc")));
        EXPECT_TRUE(e.Message().contains(QStringLiteral(VND_TEST_MODULE_NOENTRY)));
    }
}

TEST(Shell, ScreenshotIsWrittenAsPng)
{
    QTemporaryDir temp;
    vnd::MainWindow window(vnd::HostConfig{});
    window.show();
    const QString file = temp.filePath(QStringLiteral("host.png"));
    ASSERT_TRUE(vnd::SaveScreenshot(window, file));
    EXPECT_TRUE(vndtest::ReadFile(file).startsWith("\x89PNG"));
}

TEST(Shell, TheUsageIsPrintedWithoutADisplayAndWindowsCarryTheProductIcon)
{
    QProcess host;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    host.setProcessEnvironment(env);
    host.start(QStringLiteral(VND_HOST_BINARY), {QStringLiteral("--help")});
    ASSERT_TRUE(host.waitForFinished(20000));
    EXPECT_EQ(host.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(host.exitCode(), 0) << host.readAllStandardError().toStdString();
    const QString usage = QString::fromUtf8(host.readAllStandardOutput());
    EXPECT_TRUE(usage.contains(QStringLiteral("--config"))) << usage.toStdString();
    EXPECT_TRUE(usage.contains(QStringLiteral("VND_SERVER_HOST")));

    vnd::MainWindow window(vnd::HostConfig{});
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Quorvel Retaguarda"));
    EXPECT_EQ(window.windowIcon().cacheKey(), vnd::ProductIcon().cacheKey());
}
