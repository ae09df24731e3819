// The remote calls' HTTP client against a small server of the test's own on a loopback socket, which
// answers each request with bytes the test writes: kept connections, answers in every framing, and
// servers that close or misbehave.

#include "host/httpclient.h"

#include <QList>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <atomic>
#include <mutex>
#include <thread>
#include <unistd.h>

using vnd::HttpClient;
using vnd::HttpTransportError;

namespace
{

// One scripted answer: the bytes sent back for a request, and whether the connection is closed after.
struct Answer {
    QByteArray bytes;
    bool closeAfter = false;
};

// Accepts connections one after another and answers the requests on each with the next scripted answer.
class ScriptedServer
{
public:
    explicit ScriptedServer(QList<Answer> answers) : m_answers(std::move(answers))
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(m_listen, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        socklen_t len = sizeof addr;
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        ::listen(m_listen, 4);
        m_thread = std::thread([this] { Serve(); });
    }
    ~ScriptedServer()
    {
        ::shutdown(m_listen, SHUT_RDWR);
        ::close(m_listen);
        m_thread.join();
    }
    int Port() const { return m_port; }
    std::atomic<int> connections = 0;
    QList<QByteArray> Bodies() const
    {
        std::lock_guard lock(m_mutex);
        return m_bodies;
    }

private:
    // Reads one request; false when the client closed the connection.
    bool ReadRequest(int fd)
    {
        QByteArray in;
        char buf[4096];
        qsizetype headerEnd = -1;
        qsizetype length = 0;
        for (;;) {
            if (headerEnd < 0 && (headerEnd = in.indexOf("\r\n\r\n")) >= 0) {
                const qsizetype at = in.toLower().indexOf("content-length:");
                length = at < 0 ? 0 : in.mid(at + 15, in.indexOf("\r\n", at) - at - 15).trimmed().toLongLong();
            }
            if (headerEnd >= 0 && in.size() >= headerEnd + 4 + length) {
                std::lock_guard lock(m_mutex);
                m_bodies << in.mid(headerEnd + 4, length);
                return true;
            }
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            in.append(buf, n);
        }
    }

    void Serve()
    {
        while (!m_answers.isEmpty()) {
            const int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd < 0)
                return;
            ++connections;
            while (!m_answers.isEmpty() && ReadRequest(fd)) {
                const Answer a = m_answers.takeFirst();
                ::send(fd, a.bytes.constData(), size_t(a.bytes.size()), MSG_NOSIGNAL);
                if (a.closeAfter)
                    break;
            }
            ::close(fd);
        }
    }

    QList<Answer> m_answers;
    mutable std::mutex m_mutex;
    QList<QByteArray> m_bodies; // the request bodies, in order
    int m_listen = -1;
    int m_port = 0;
    std::thread m_thread;
};

QByteArray Ok(const QByteArray &body, const QByteArray &extra = {})
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n" + extra +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

} // namespace

TEST(HttpClient, AnswersInEveryFramingOverOneKeptConnection)
{
    const QByteArray big(3 * 1024 * 1024 + 7, 'x');
    ScriptedServer server({
        {Ok("{\"a\":1}")},
        {Ok(big)},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n3;ext=1\r\nefg\r\n0\r\n\r\n"},
        {"HTTP/1.1 401 Unauthorized\r\nContent-Length: 2\r\n\r\nno"},
        {"HTTP/1.1 200 OK\r\n\r\nto the end", true},
    });
    HttpClient client(QStringLiteral("127.0.0.1"), server.Port());
    EXPECT_EQ(client.Post("/rpc", {}, "1").body, QByteArray("{\"a\":1}"));
    const HttpClient::Response large = client.Post("/rpc", "X-Test: 1\r\n", QByteArray(100000, 'y'));
    EXPECT_EQ(large.status, 200);
    EXPECT_EQ(large.body, big);
    EXPECT_EQ(client.Post("/rpc", {}, "3").body, QByteArray("abcdefg"));
    EXPECT_EQ(client.Post("/rpc", {}, "4").status, 401);
    EXPECT_EQ(client.Post("/rpc", {}, "5").body, QByteArray("to the end"));
    EXPECT_EQ(server.connections, 1);
    ASSERT_EQ(server.Bodies().size(), 5);
    EXPECT_EQ(server.Bodies()[1].size(), 100000);
}

TEST(HttpClient, AKeptConnectionTheServerClosedIsOpenedAgain)
{
    // The server closes after each answer without saying so, as an idle kept connection ends.
    ScriptedServer server({{Ok("1"), true}, {Ok("2"), true}, {Ok("3"), true}});
    HttpClient client(QStringLiteral("127.0.0.1"), server.Port());
    for (const char *expected : {"1", "2", "3"})
        EXPECT_EQ(client.Post("/rpc", {}, "x").body, QByteArray(expected));
    EXPECT_EQ(server.connections, 3);
    // Each request reached the server once.
    EXPECT_EQ(server.Bodies().size(), 3);

    // Closed after taking a request on a kept connection, before a byte of answer: the request is sent
    // again on a new connection.
    ScriptedServer dropping({{Ok("1")}, {QByteArray(), true}, {Ok("2")}});
    HttpClient again(QStringLiteral("127.0.0.1"), dropping.Port());
    EXPECT_EQ(again.Post("/rpc", {}, "a").body, QByteArray("1"));
    EXPECT_EQ(again.Post("/rpc", {}, "b").body, QByteArray("2"));
    EXPECT_EQ(dropping.connections, 2);
    EXPECT_EQ(dropping.Bodies(), QList<QByteArray>({"a", "b", "b"}));
}

TEST(HttpClient, BrokenAnswersAndDeadServersAreTransportErrors)
{
    auto failure = [](const QList<Answer> &answers) {
        ScriptedServer server(answers);
        HttpClient client(QStringLiteral("127.0.0.1"), server.Port());
        try {
            client.Post("/rpc", {}, "x");
        } catch (const HttpTransportError &e) {
            return e.Reason();
        }
        return QStringLiteral("no error");
    };
    EXPECT_EQ(failure({{"SSH-2.0-OpenSSH\r\n\r\n", true}}), QStringLiteral("resposta que não é HTTP"));
    EXPECT_EQ(failure({{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort", true}}),
              QStringLiteral("o servidor encerrou a conexão no meio da resposta"));
    EXPECT_EQ(failure({{"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n", true}}),
              QStringLiteral("tamanho de resposta inválido"));
    // A fresh connection closed without an answer is not sent again.
    EXPECT_EQ(failure({{QByteArray(), true}, {Ok("second"), true}}),
              QStringLiteral("o servidor encerrou a conexão sem responder"));

    int port;
    {
        ScriptedServer gone({});
        port = gone.Port();
    }
    HttpClient client(QStringLiteral("127.0.0.1"), port);
    try {
        client.Post("/rpc", {}, "x");
        ADD_FAILURE() << "a closed port answered";
    } catch (const HttpTransportError &e) {
        EXPECT_TRUE(e.Reason().startsWith(QStringLiteral("conexão não estabelecida"))) << qPrintable(e.Reason());
    }
}
