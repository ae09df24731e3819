// The server's transport under hostile and slow peers: heads that never end, idle connections by the
// thousand, bodies sent without the token, lengths that can be read two ways.
#include "tests/server/servertest.h"

#include <QElapsedTimer>
#include <QThread>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using vndtest::ServerFixture;

namespace {

// A loopback connection to the server, or -1.
int Dial(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void Send(int fd, const QByteArray &bytes)
{
    for (qsizetype sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += n;
    }
}

// What the server sends until it closes, or until nothing has come for `seconds`.
QByteArray Receive(int fd, int seconds = 5)
{
    const timeval timeout{seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    QByteArray in;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        in.append(buf, n);
        if (in.contains("\r\n\r\n") && in.endsWith('}'))
            break;
    }
    return in;
}

// Whether the server has closed the connection (nothing more will come).
bool ClosedByServer(int fd)
{
    char c;
    const ssize_t n = ::recv(fd, &c, 1, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

// A thousand connections need more descriptors than a shell gives by default.
void RaiseFileLimit()
{
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
}

// A connection of its own that gives up after two seconds: a server held by other peers fails it.
bool Pings(const ServerFixture &server)
{
    TNetConnection net;
    net.Port = server.Port();
    net.Token = server.Token();
    net.TimeoutSeconds = 2;
    try {
        net.Open();
        return CheckResultServ(net.Call(QStringLiteral("ping"))).toBool();
    } catch (const Exception &) {
        return false;
    }
}

QByteArray Ping() { return vnd::rpc::EncodeRequest(1, QStringLiteral("VND04400.rdmGeraXml.ping"), {}); }

} // namespace

TEST(TransportLimits, SlowAndIdleConnectionsNeitherHoldTheServerNorStayOpen)
{
    RaiseFileLimit();
    ServerFixture server;
    const QByteArray head = "POST /rpc HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + server.Token().toLatin1() +
                            "\r\nContent-Length: " + QByteArray::number(Ping().size()) + "\r\n\r\n";
    std::vector<int> slow, idle;
    for (int i = 0; i < 64; ++i)
        slow.push_back(Dial(server.Port()));
    for (int i = 0; i < 1000; ++i)
        idle.push_back(Dial(server.Port()));
    ASSERT_EQ(std::count(idle.begin(), idle.end(), -1), 0);
    // The slow ones send a byte of their head each second, which never makes them complete in time.
    for (int second = 0; second < 13; ++second) {
        for (int fd : slow)
            Send(fd, head.mid(second, 1));
        EXPECT_TRUE(Pings(server)) << "second " << second;
        QThread::msleep(1000);
    }
    int slowOpen = 0, idleOpen = 0;
    for (int fd : slow) {
        slowOpen += ClosedByServer(fd) ? 0 : 1;
        ::close(fd);
    }
    for (int fd : idle) {
        idleOpen += ClosedByServer(fd) ? 0 : 1;
        ::close(fd);
    }
    EXPECT_EQ(slowOpen, 0) << "heads unfinished after 10 s stay open";
    EXPECT_EQ(idleOpen, 0) << "connections that sent nothing for 10 s stay open";
    EXPECT_TRUE(Pings(server));

    // A stop does not wait for heads under way: nothing of their requests has run.
    const int stalled = Dial(server.Port());
    Send(stalled, head.left(20));
    EXPECT_TRUE(Pings(server)); // the server has read the bytes sent before the stop
    QElapsedTimer stopping;
    stopping.start();
    EXPECT_EQ(server.Stop(), 0);
    EXPECT_LT(stopping.elapsed(), 5000) << "the stop waited for the head's own deadline";
    EXPECT_TRUE(ClosedByServer(stalled));
    ::close(stalled);
}

TEST(TransportLimits, NothingButTheHeadIsReadBeforeTheTokenIsChecked)
{
    ServerFixture server(ServerFixture::Engine::SQLite, {QStringLiteral("--max-body"), QStringLiteral("1")});
    const QByteArray auth = "Authorization: Bearer " + server.Token().toLatin1() + "\r\n";
    // Eight heads announcing 100 MB without the token: each is refused at once, before a byte of its body
    // has been sent, and its connection ends.
    std::vector<int> fds;
    for (int i = 0; i < 8; ++i) {
        fds.push_back(Dial(server.Port()));
        Send(fds.back(), "POST /rpc HTTP/1.1\r\nHost: x\r\nContent-Length: 104857600\r\n\r\n");
    }
    for (int fd : fds) {
        const QByteArray answer = Receive(fd);
        EXPECT_TRUE(answer.startsWith("HTTP/1.1 401 ")) << answer.left(60).toStdString();
        EXPECT_TRUE(answer.contains("Connection: close"));
        // What it sends now is thrown away, never kept: the connection goes.
        Send(fd, QByteArray(1024 * 1024, 'x'));
        ::close(fd);
    }
    // With the token, a body over the configured limit (1 MB here) is refused just as early.
    int fd = Dial(server.Port());
    Send(fd, "POST /rpc HTTP/1.1\r\nHost: x\r\n" + auth + "Content-Length: 1048577\r\n\r\n");
    EXPECT_TRUE(Receive(fd).startsWith("HTTP/1.1 413 "));
    ::close(fd);
    // The scheme's name is case-insensitive; any other scheme is refused.
    for (const QByteArray &scheme : {QByteArray("bearer "), QByteArray("BEARER  "), QByteArray("Basic ")}) {
        fd = Dial(server.Port());
        Send(fd, "POST /rpc HTTP/1.1\r\nHost: x\r\nAuthorization: " + scheme + server.Token().toLatin1() +
                     "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(Ping().size()) + "\r\n\r\n" + Ping());
        const QByteArray answer = Receive(fd);
        EXPECT_TRUE(answer.startsWith(scheme.startsWith("Basic") ? "HTTP/1.1 401 " : "HTTP/1.1 200 "))
            << scheme.toStdString() << answer.left(60).toStdString();
        ::close(fd);
    }
    EXPECT_TRUE(Pings(server));
    EXPECT_THAT(server.Log().toStdString(), testing::HasSubstr("recusado: token inválido de 127.0.0.1"));
}

TEST(TransportLimits, LengthsAndHeadsAreTakenStrictly)
{
    ServerFixture server;
    const QByteArray auth = "Authorization: Bearer " + server.Token().toLatin1() + "\r\n";
    auto exchange = [&](const QByteArray &request) {
        const int fd = Dial(server.Port());
        Send(fd, request);
        const QByteArray answer = Receive(fd);
        ::close(fd);
        return answer.left(12);
    };
    const QByteArray ping = Ping();
    const QByteArray length = QByteArray::number(ping.size());
    // Two lengths, even equal ones, or a list of them could be read two ways by two readers.
    for (const QByteArray &lengths : {"Content-Length: " + length + "\r\nContent-Length: " + length + "\r\n",
                                      "Content-Length: " + length + "\r\nContent-Length: 3\r\n",
                                      "Content-Length: " + length + ", " + length + "\r\n",
                                      QByteArray("Content-Length: +12\r\n"), QByteArray("Content-Length: 0x10\r\n")}) {
        EXPECT_EQ(exchange("POST /rpc HTTP/1.1\r\nHost: x\r\n" + auth + lengths + "\r\n" + ping), "HTTP/1.1 400")
            << lengths.toStdString();
    }
    // The head limit is 64 KB, request line and final blank line included: one byte over is refused.
    auto padded = [&](qsizetype total) {
        const QByteArray start = "POST /rpc HTTP/1.1\r\nHost: x\r\n" + auth + "Connection: close\r\nContent-Length: " + length +
                                 "\r\nX-Pad: ";
        const QByteArray end = "\r\n\r\n";
        return start + QByteArray(total - start.size() - end.size(), 'p') + end + ping;
    };
    EXPECT_EQ(exchange(padded(64 * 1024)), "HTTP/1.1 200");
    EXPECT_EQ(exchange(padded(64 * 1024 + 1)), "HTTP/1.1 431");
    EXPECT_EQ(exchange(padded(70 * 1024)), "HTTP/1.1 431");
    EXPECT_TRUE(Pings(server));
}
