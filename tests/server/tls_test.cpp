// The server over TLS with a certificate the test makes: calls from a client that checks it, and
// clients that must not get through.
#include "tests/server/servertest.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using vndtest::ServerFixture;

namespace {

struct Certificates
{
    QTemporaryDir dir;
    QString cert, key;
    QString otherCert, otherKey; // a second authority that did not sign the server's certificate
    bool made = false;

    Certificates()
    {
        QDir().mkpath(dir.filePath(QStringLiteral("other")));
        made = vndtest::MakeCertificate(dir.path(), cert, key) &&
               vndtest::MakeCertificate(dir.filePath(QStringLiteral("other")), otherCert, otherKey);
    }
};

QString OpenFails(TNetConnection &net)
{
    try {
        net.Open();
    } catch (const EConnectionError &e) {
        return e.Message();
    }
    return QStringLiteral("<conectou>");
}

} // namespace

TEST(TransportTls, CallsTravelEncryptedAndTheServerIsChecked)
{
    Certificates certs;
    if (!certs.made)
        GTEST_SKIP() << "comando openssl indisponível: TLS não testado";
    ServerFixture server(ServerFixture::Engine::SQLite,
                         {QStringLiteral("--tls-cert"), certs.cert, QStringLiteral("--tls-key"), certs.key});
    // By address and by name, both in the certificate; calls go over one kept connection.
    for (const QString &host : {QStringLiteral("127.0.0.1"), QStringLiteral("localhost")}) {
        TNetConnection net;
        net.Host = host;
        net.Port = server.Port();
        net.Token = server.Token();
        net.Tls = true;
        net.CaFile = certs.cert;
        net.Open();
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(CheckResultServ(net.Call(QStringLiteral("ping"))).toBool(), true);
        EXPECT_FALSE(CheckResultServ(net.Call(QStringLiteral("getPrxPreValidXml"))).toString().isEmpty());
    }

    // A client that does not know the authority, or expects plain HTTP, does not get through.
    TNetConnection stranger;
    stranger.Port = server.Port();
    stranger.Token = server.Token();
    stranger.Tls = true;
    stranger.CaFile = certs.otherCert;
    EXPECT_THAT(OpenFails(stranger).toStdString(), testing::HasSubstr("falha na negociação TLS"));
    stranger.CaFile.clear(); // the system's authorities
    EXPECT_THAT(OpenFails(stranger).toStdString(), testing::HasSubstr("falha na negociação TLS"));
    stranger.Tls = false;
    stranger.TimeoutSeconds = 5;
    EXPECT_THAT(OpenFails(stranger).toStdString(), testing::HasSubstr(stranger.Address().toStdString()));
    stranger.Tls = true;
    stranger.CaFile = certs.dir.filePath(QStringLiteral("nenhum.pem"));
    EXPECT_THAT(OpenFails(stranger).toStdString(), testing::HasSubstr("nenhum.pem"));

    // Plain bytes and a handshake that never comes end their connections, and the server goes on.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(server.Port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    const QByteArray plain = "POST /rpc HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}";
    ::send(fd, plain.constData(), size_t(plain.size()), MSG_NOSIGNAL);
    char c;
    const timeval timeout{15, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    while (::recv(fd, &c, 1, 0) > 0) {
    }
    ::close(fd);
    TNetConnection again;
    again.Port = server.Port();
    again.Token = server.Token();
    again.Tls = true;
    again.CaFile = certs.cert;
    again.Open();
    EXPECT_EQ(CheckResultServ(again.Call(QStringLiteral("ping"))).toBool(), true);
}

TEST(TransportTls, AServerWithoutAUsableCertificateDoesNotStart)
{
    Certificates certs;
    if (!certs.made)
        GTEST_SKIP() << "comando openssl indisponível: TLS não testado";
    QTemporaryDir dir;
    const struct
    {
        QStringList args;
        const char *message;
    } cases[] = {
        {{QStringLiteral("--tls-cert"), certs.cert}, "--tls-cert e --tls-key vão juntos: falta --tls-key"},
        {{QStringLiteral("--tls-cert"), dir.filePath(QStringLiteral("falta.pem")), QStringLiteral("--tls-key"), certs.key},
         "Não foi possível usar o certificado TLS"},
        {{QStringLiteral("--tls-cert"), certs.cert, QStringLiteral("--tls-key"), certs.otherKey},
         "Não foi possível usar a chave privada TLS"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        QProcess p;
        p.setProgram(ServerFixture::ServerBinary());
        p.setArguments(c.args + QStringList{QStringLiteral("--db"), QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("db")),
                                            QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                            QStringLiteral("--token-file"), dir.filePath(QStringLiteral("t")),
                                            QStringLiteral("--export-root"), dir.filePath(QStringLiteral("xml"))});
        p.start();
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 1);
        EXPECT_THAT(QString::fromUtf8(p.readAllStandardError()).toStdString(), testing::HasSubstr(c.message));
    }
}
