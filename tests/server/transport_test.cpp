// The server as a program: its token, hostile requests, stopping, and its command line.
#include "tests/server/servertest.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <random>
#include <httplib.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using vndtest::ServerFixture;

namespace {

httplib::Result Post(const ServerFixture &s, const QByteArray &body, const QString &token, const char *path = "/rpc")
{
    httplib::Client client("127.0.0.1", s.Port());
    client.set_read_timeout(60, 0);
    httplib::Headers headers;
    if (!token.isEmpty())
        headers.emplace("Authorization", "Bearer " + token.toStdString());
    return client.Post(path, headers, body.constData(), size_t(body.size()), "application/json");
}

QString RpcError(const ServerFixture &s, const QByteArray &body)
{
    const httplib::Result res = Post(s, body, s.Token());
    if (!res)
        return QStringLiteral("<sem resposta>");
    EXPECT_EQ(res->status, 200);
    const vnd::rpc::Response r = vnd::rpc::DecodeResponse(QByteArray::fromStdString(res->body));
    EXPECT_FALSE(r.ok);
    return r.message;
}

// Sends raw bytes on a new connection (then ends the sending side when asked) and reads until the server
// closes it, or nothing comes for 5 s.
QByteArray RawExchange(const ServerFixture &s, const QByteArray &bytes, bool endSending = false)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(s.Port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return {};
    }
    const timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    for (qsizetype sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += n;
    }
    if (endSending)
        ::shutdown(fd, SHUT_WR);
    QByteArray in;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        in.append(buf, n);
    }
    ::close(fd);
    return in;
}

} // namespace

TEST(Transport, EveryShapeOfRequestGetsItsAnswerOrAClearRefusal)
{
    ServerFixture server;
    const QByteArray auth = "Authorization: Bearer " + server.Token().toLatin1() + "\r\n";
    const QByteArray ping = vnd::rpc::EncodeRequest(1, QStringLiteral("VND04400.rdmGeraXml.ping"), {});
    auto post = [&](const QByteArray &extra, const QByteArray &body) {
        return "POST /rpc HTTP/1.1\r\nHost: x\r\n" + auth + extra + "Content-Length: " +
               QByteArray::number(body.size()) + "\r\n\r\n" + body;
    };
    // Two requests in one write (an empty line between them) are answered in order; the last one asks to close.
    QByteArray answer = RawExchange(server, post({}, ping) + "\r\n" + post("Connection: close\r\n", ping));
    EXPECT_EQ(answer.count("HTTP/1.1 200 OK"), 2) << answer.toStdString();
    EXPECT_EQ(answer.count("\"result\":true"), 2);
    EXPECT_TRUE(answer.contains("Connection: close"));
    // A client that waits for the go-ahead gets it before its answer.
    answer = RawExchange(server, post("Expect: 100-continue\r\nConnection: close\r\n", ping));
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK")) << answer.toStdString();
    // HTTP/1.0 closes unless it asks otherwise.
    answer = RawExchange(server, "POST /rpc HTTP/1.0\r\n" + auth + "Content-Length: " + QByteArray::number(ping.size()) +
                                     "\r\n\r\n" + ping);
    EXPECT_TRUE(answer.contains("\"result\":true") && answer.contains("Connection: close")) << answer.toStdString();

    const struct
    {
        QByteArray request;
        const char *status;
    } refused[] = {
        {"GARBAGE\r\n\r\n", "400"},
        {"POST /rpc HTTP/2.0\r\n\r\n", "400"},
        {"POST /rpc HTTP/1.1\r\nNo colon here\r\n\r\n", "400"},
        {"POST /rpc HTTP/1.1\r\n" + auth + "Content-Length: abc\r\n\r\n", "400"},
        {"POST /rpc HTTP/1.1\r\n" + auth + "Content-Length: -1\r\n\r\n", "400"},
        {"POST /rpc HTTP/1.1\r\n" + auth + "Content-Length: 99999999999\r\n\r\n", "413"},
        {"POST /rpc HTTP/1.1\r\n" + auth + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", "501"},
        {"POST /rpc HTTP/1.1\r\nX-Long: " + QByteArray(100 * 1024, 'a') + "\r\n\r\n", "431"},
        {"GET /rpc HTTP/1.1\r\n" + auth + "Connection: close\r\n\r\n", "404"},
    };
    for (const auto &r : refused) {
        answer = RawExchange(server, r.request);
        EXPECT_TRUE(answer.startsWith("HTTP/1.1 " + QByteArray(r.status) + ' ')) << r.request.left(60).toStdString() << " -> "
                                                                                 << answer.left(60).toStdString();
    }
    // A request cut short is dropped without an answer, and the server carries on.
    EXPECT_TRUE(RawExchange(server, post({}, ping).chopped(5), true).isEmpty());
    EXPECT_TRUE(server.Running());
    EXPECT_EQ(CheckResultServ(server.Connection().Call(QStringLiteral("ping"))).toBool(), true);
}

TEST(Transport, MangledRequestsNeverStopTheServer)
{
    ServerFixture server;
    const QByteArray ping = vnd::rpc::EncodeRequest(1, QStringLiteral("VND04400.rdmGeraXml.ping"), {});
    const QByteArray valid = "POST /rpc HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + server.Token().toLatin1() +
                             "\r\nContent-Length: " + QByteArray::number(ping.size()) + "\r\n\r\n" + ping;
    std::mt19937 random(20261208);
    for (int i = 0; i < 300; ++i) {
        QByteArray request = valid.repeated(1 + int(random() % 3));
        // Bytes changed, removed or repeated at random places; the sending side then ends.
        const int edits = 1 + int(random() % 6);
        for (int e = 0; e < edits; ++e) {
            const qsizetype at = qsizetype(random() % quint32(request.size()));
            switch (random() % 4) {
            case 0: request[at] = char(random() % 256); break;
            case 1: request.remove(at, 1 + qsizetype(random() % 8)); break;
            case 2: request.insert(at, request.mid(at, 1 + qsizetype(random() % 16))); break;
            default: request.truncate(at); break;
            }
            if (request.isEmpty())
                request = valid;
        }
        const QByteArray answer = RawExchange(server, request, true);
        // Whatever came back is made of whole answers.
        if (!answer.isEmpty()) {
            EXPECT_TRUE(answer.startsWith("HTTP/1.1 ")) << answer.left(40).toStdString();
        }
    }
    EXPECT_TRUE(server.Running());
    EXPECT_EQ(CheckResultServ(server.Connection().Call(QStringLiteral("ping"))).toBool(), true);
}

TEST(Transport, CallsWithoutTheRightTokenAreRefusedAndNotRun)
{
    ServerFixture server;
    for (const QString &token : {QStringLiteral("errado"), QString(), server.Token() + QStringLiteral("x"),
                                 server.Token().left(10)}) {
        TNetConnection net;
        net.Port = server.Port();
        net.Token = token;
        try {
            net.Open();
            ADD_FAILURE() << "connected with token " << token.toStdString();
        } catch (const EConnectionError &e) {
            EXPECT_THAT(e.Message().toStdString(), testing::HasSubstr("token"));
            EXPECT_THAT(e.Message().toStdString(), testing::HasSubstr(net.Address().toStdString()));
        }
    }
    const QByteArray next = vnd::rpc::EncodeRequest(1, QStringLiteral("VND04400.rdmGeraXml.getPrxPreValidXml"), {});
    for (int i = 0; i < 5; ++i) {
        const httplib::Result res = Post(server, next, QStringLiteral("errado"));
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 401);
    }
    EXPECT_EQ(Post(server, "{}", QString(), "/outra")->status, 401); // every path needs the token
    // None of the refused calls ran: the first batch number is still 1.
    EXPECT_EQ(CheckResultServ(server.Connection().Call(QStringLiteral("getPrxPreValidXml"))).toString(), QStringLiteral("1"));
    EXPECT_THAT(server.Log().toStdString(), testing::HasSubstr("recusado: token inválido"));
}

TEST(Transport, HostileRequestsGetErrorsAndTheServerCarriesOn)
{
    ServerFixture server;
    const struct
    {
        QByteArray body;
        const char *message;
    } cases[] = {
        {"{bad", "Requisição inválida"},
        {"", "Requisição inválida"},
        {"[1,2]", "Requisição inválida"},
        {"{\"method\":\"VND04400.rdmGeraXml.ping\",\"params\":" + QByteArray(200000, '[') + "}",
         "aninhamento profundo demais"},
        {"{\"jsonrpc\":\"2.0\",\"id\":1,\"params\":[]}", "sem \"method\""},
        {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"VND04400.rdmGeraXml.getNotas\",\"params\":{\"a\":1}}",
         "\"params\" deve ser uma lista"},
        {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"VND04400.rdmGeraXml.dropTables\",\"params\":[]}",
         "Método desconhecido: VND04400.rdmGeraXml.dropTables"},
        {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"Outro.modulo.ping\",\"params\":[]}", "Método desconhecido: Outro.modulo.ping"},
        {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"VND04400.rdmGeraXml.getFilial\",\"params\":[{\"fields\":[{\"name\":"
         "\"NRINSJURFILI\",\"type\":\"bogus\"}],\"rows\":[]}]}",
         "Tipo de campo desconhecido"},
        {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"VND04400.rdmGeraXml.getFilial\",\"params\":[{\"fields\":[{\"name\":"
         "\"DTVENDA\",\"type\":\"datetime\"}],\"rows\":[[\"31/02/2024\"]]}]}",
         "data-hora inválida"},
        {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"VND04400.rdmGeraXml.getPreValidXml\",\"params\":[\"\xff\xfe\"]}",
         "Número de lote de validação inválido"},
        {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"VND04400.rdmGeraXml.setVendas\",\"params\":[[1,2,3,4,5,6,7,8,true,10]]}",
         "Item 9 (tipo do documento) do vetor da venda (parâmetro 1 do método setVendas) deve ser um texto"},
        {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"VND04400.rdmGeraXml.setVendas\",\"params\":[\"x\"]}",
         "Parâmetro 1 (vetor da venda) do método setVendas deve ser uma lista"},
        {"{\"method\":\"VND04400.rdmGeraXml.getNotas\",\"params\":[\"" + QByteArray(5 * 1024 * 1024, 'A') + "\"]}",
         "espera 16 itens"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.body.left(80).toStdString());
        EXPECT_THAT(RpcError(server, c.body).toStdString(), testing::HasSubstr(c.message));
    }
    EXPECT_EQ(Post(server, "{}", server.Token(), "/outra")->status, 404);
    EXPECT_TRUE(server.Running());
    EXPECT_EQ(CheckResultServ(server.Connection().Call(QStringLiteral("ping"))).toBool(), true);
}

TEST(Transport, StopsCleanlyAndADeadServerIsAConnectionErrorNamingTheAddress)
{
    ServerFixture server;
    std::unique_ptr<TNetConnection> net = server.Connect();
    EXPECT_EQ(server.Stop(), 0);
    EXPECT_THAT(server.Log().toStdString(), testing::HasSubstr("servidor parado"));
    try {
        net->Call(QStringLiteral("ping"));
        ADD_FAILURE() << "a stopped server answered";
    } catch (const EConnectionError &e) {
        EXPECT_THAT(e.Message().toStdString(), testing::HasSubstr(QStringLiteral("127.0.0.1:%1").arg(server.Port()).toStdString()));
    }
}

// A call whose request is still arriving when SIGTERM comes is answered before the server exits.
TEST(Transport, StopFinishesTheCallInFlight)
{
    ServerFixture server;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(server.Port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    auto request = [&](const QByteArray &body) {
        return "POST /rpc HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + server.Token().toLatin1() +
               "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    };
    auto readAnswer = [&] {
        QByteArray in;
        char buf[4096];
        while (!in.contains("\"jsonrpc\"") || !in.endsWith('}')) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            in.append(buf, n);
        }
        return in;
    };
    // A first call makes sure a worker is serving this connection.
    const QByteArray ping = request(vnd::rpc::EncodeRequest(1, QStringLiteral("VND04400.rdmGeraXml.ping"), {}));
    ASSERT_EQ(::send(fd, ping.constData(), size_t(ping.size()), 0), ping.size());
    ASSERT_TRUE(readAnswer().contains("\"result\":true"));

    const QByteArray next = request(vnd::rpc::EncodeRequest(2, QStringLiteral("VND04400.rdmGeraXml.getPrxPreValidXml"), {}));
    const qsizetype half = next.size() - 10;
    ASSERT_EQ(::send(fd, next.constData(), size_t(half), 0), half);
    QThread::msleep(300);
    ::kill(pid_t(server.Pid()), SIGTERM);
    QThread::msleep(300);
    ASSERT_EQ(::send(fd, next.constData() + half, size_t(next.size() - half), 0), next.size() - half);
    EXPECT_TRUE(readAnswer().contains("\"result\":\"1\""));
    ::close(fd);
    EXPECT_EQ(server.Stop(), 0);
    EXPECT_THAT(server.Log().toStdString(), testing::HasSubstr("getPrxPreValidXml"));
}

TEST(Transport, TokenFileIsPrivateAndSharedByServersOfOneDatabase)
{
    ServerFixture server;
    const QString tokenFile = server.Dir() + QStringLiteral("/token");
    struct stat st{};
    ASSERT_EQ(::stat(QFile::encodeName(tokenFile).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(server.Token().size(), 64);

    // A second server on the same database and token file: the schema is already current, the token is
    // the same, and both serve.
    QProcess second;
    second.setProgram(ServerFixture::ServerBinary());
    second.setArguments({QStringLiteral("--db"), server.DbUrl(), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                         QStringLiteral("--token-file"), tokenFile, QStringLiteral("--export-root"), server.ExportRoot()});
    second.start();
    ASSERT_TRUE(second.waitForReadyRead(30000));
    const QString line = QString::fromUtf8(second.readLine()).trimmed();
    ASSERT_TRUE(line.startsWith(QLatin1String("listening 127.0.0.1:"))) << line.toStdString();
    TNetConnection net;
    net.Port = line.section(QLatin1Char(':'), -1).toInt();
    net.Token = server.Token();
    net.Open();
    EXPECT_EQ(CheckResultServ(net.Call(QStringLiteral("getPrxPreValidXml"))).toString(), QStringLiteral("1"));
    EXPECT_EQ(CheckResultServ(server.Connection().Call(QStringLiteral("getPrxPreValidXml"))).toString(), QStringLiteral("2"));
    ::kill(pid_t(second.processId()), SIGTERM);
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitCode(), 0);
}

TEST(Transport, CommandLineErrorsAreClear)
{
    QTemporaryDir dir;
    const struct
    {
        QStringList args;
        const char *message;
    } cases[] = {
        {{QStringLiteral("--db"), QStringLiteral("mysql://x")}, "Endereço de banco de dados não suportado"},
        {{QStringLiteral("--listen"), QStringLiteral("semporta")}, "Endereço inválido para --listen"},
        {{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:99999")}, "Valor inválido para --listen"},
        {{QStringLiteral("--sales"), QStringLiteral("10")}, "Argumento desconhecido: --sales"},
        {{QStringLiteral("seed"), QStringLiteral("--from"), QStringLiteral("2024-13-01")}, "Data inválida para --from"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        QProcess p;
        p.setProgram(ServerFixture::ServerBinary());
        p.setArguments(c.args + QStringList{QStringLiteral("--token-file"), dir.path() + QStringLiteral("/t")});
        if (c.args.first() == QLatin1String("seed"))
            p.setArguments(c.args);
        p.setProcessEnvironment([&] {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("VND_DATA_DIR"), dir.path());
            return env;
        }());
        p.start();
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 1);
        EXPECT_THAT(QString::fromUtf8(p.readAllStandardError()).toStdString(), testing::HasSubstr(c.message));
    }
}
