#include "server/httpserver.h"

#include "host/errors.h"
#include "host/rpc.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vnd::server {

namespace {

// Calls are plain JSON-RPC errors with these codes; the host shows the message.
constexpr int kParseError = -32700;
constexpr int kMethodNotFound = -32601;
constexpr int kServerError = -32000;
constexpr int kInternalError = -32603;

// The largest request body accepted: a whole sale list for geraXml is the biggest a host sends.
constexpr size_t kMaxBody = size_t(256) * 1024 * 1024;

void LogCall(const QString &method, qint64 ms, int rows, const QString &error)
{
    const QByteArray m = method.left(80).toUtf8();
    if (!error.isEmpty())
        std::fprintf(stderr, "%s %lld ms erro: %s\n", m.constData(), ms, error.left(300).toUtf8().constData());
    else if (rows >= 0)
        std::fprintf(stderr, "%s %lld ms %d linhas\n", m.constData(), ms, rows);
    else
        std::fprintf(stderr, "%s %lld ms\n", m.constData(), ms);
}

} // namespace

bool SameSecret(const QByteArray &a, const QByteArray &b)
{
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    const qsizetype n = std::max(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        diff |= static_cast<unsigned char>(x ^ y);
    }
    return diff == 0;
}

// ---- HTTP/1.1 transport ----
//
// A small server of our own: a thread accepts, a pool of workers serves one connection each for as
// long as it is kept alive. A request is read with as few system calls as its size allows (the head and
// the start of the body usually come in one read, the rest of the body straight into its buffer) and
// answered with one write of head and body together.

namespace {

constexpr size_t kMaxHead = 64 * 1024;
constexpr int kKeepAliveMs = 2000;     // an idle kept connection is held this long
constexpr int kReadTimeoutMs = 600000; // a request that has begun may arrive this slowly
constexpr int kMaxRequestsPerConnection = 1000;

// Why a connection is given up without an answer.
struct Dropped
{
};

// A request refused with this status before its body is read.
struct Refused
{
    int status;
};

struct Request
{
    std::string method;
    std::string target;
    bool http11 = true;
    std::vector<std::pair<std::string, std::string>> headers;
    QByteArray body;

    const std::string *Header(std::string_view name) const
    {
        for (const auto &[key, value] : headers) {
            if (key.size() == name.size() &&
                std::equal(key.begin(), key.end(), name.begin(),
                           [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b)); }))
                return &value;
        }
        return nullptr;
    }
};

bool HasToken(const std::string &value, std::string_view token)
{
    std::string lower(value);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return lower.find(token) != std::string::npos;
}

const char *StatusText(int status)
{
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 501: return "Not Implemented";
    default: return "Error";
    }
}

std::string PeerAddress(const sockaddr_storage &peer)
{
    char text[INET6_ADDRSTRLEN] = "?";
    if (peer.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in &>(peer).sin_addr, text, sizeof text);
    else if (peer.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 &>(peer).sin6_addr, text, sizeof text);
    return text;
}

// One connection: its socket, the bytes read past the request being served, and the stop signal.
class Connection
{
public:
    Connection(int fd, int stopFd) : m_fd(fd), m_stopFd(stopFd) {}

    // Waits for the first byte of the next request: false when the peer closed, the kept connection
    // idled out, or the server is stopping and nothing of a request has come.
    bool NextRequestBegins()
    {
        SkipEmptyLines();
        if (m_used < m_buffer.size())
            return true;
        m_buffer.clear();
        m_used = 0;
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        for (;;) {
            const int n = ::poll(fds, 2, kKeepAliveMs);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            if (fds[0].revents != 0)
                return Fill(false) > 0;
            return false; // stopping, and no request under way
        }
    }

    // The head of a request, up to and without its blank line; leaves the bytes after it buffered.
    std::string_view Head()
    {
        size_t searched = m_used;
        for (;;) {
            SkipEmptyLines();
            searched = std::max(searched, m_used);
            const std::string_view pending(m_buffer.data() + m_used, m_buffer.size() - m_used);
            const size_t from = searched > m_used + 3 ? searched - m_used - 3 : 0;
            const size_t end = pending.find("\r\n\r\n", from);
            if (end != std::string_view::npos) {
                m_used += end + 4;
                return pending.substr(0, end + 2);
            }
            if (pending.size() > kMaxHead)
                throw Refused{431};
            searched = m_buffer.size();
            if (Fill(true) == 0)
                throw Dropped{};
        }
    }

    // Exactly n bytes of body: those already buffered, then straight from the socket.
    QByteArray Body(size_t n)
    {
        QByteArray body;
        body.resize(qsizetype(n));
        const size_t buffered = std::min(n, m_buffer.size() - m_used);
        std::memcpy(body.data(), m_buffer.data() + m_used, buffered);
        m_used += buffered;
        size_t have = buffered;
        while (have < n) {
            const ssize_t got = Receive(body.data() + have, n - have, true);
            if (got <= 0)
                throw Dropped{};
            have += size_t(got);
        }
        return body;
    }

    // Writes every piece, in order, with as few system calls as the socket takes them.
    void Send(const std::string &head, const QByteArrayList &pieces)
    {
        std::vector<iovec> parts;
        parts.reserve(size_t(pieces.size()) + 1);
        parts.push_back({const_cast<char *>(head.data()), head.size()});
        for (const QByteArray &piece : pieces)
            if (!piece.isEmpty())
                parts.push_back({const_cast<char *>(piece.constData()), size_t(piece.size())});
        size_t first = 0;
        while (first < parts.size()) {
            msghdr message{};
            message.msg_iov = parts.data() + first;
            message.msg_iovlen = std::min<size_t>(parts.size() - first, IOV_MAX);
            const ssize_t sent = ::sendmsg(m_fd, &message, MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent <= 0)
                throw Dropped{};
            size_t left = size_t(sent);
            while (first < parts.size() && left >= parts[first].iov_len)
                left -= parts[first++].iov_len;
            if (left > 0) {
                parts[first].iov_base = static_cast<char *>(parts[first].iov_base) + left;
                parts[first].iov_len -= left;
            }
        }
    }

private:
    // Empty lines before a request line are allowed (some clients end a body with one).
    void SkipEmptyLines()
    {
        while (m_buffer.size() - m_used >= 2 && m_buffer.compare(m_used, 2, "\r\n") == 0)
            m_used += 2;
    }

    // Reads what the socket has (waiting for it within a request, not for a new one); 0 at its end.
    size_t Fill(bool wait)
    {
        const size_t old = m_buffer.size();
        m_buffer.resize(old + 16384);
        const ssize_t got = Receive(m_buffer.data() + old, 16384, wait);
        m_buffer.resize(old + size_t(std::max<ssize_t>(got, 0)));
        return size_t(std::max<ssize_t>(got, 0));
    }

    // One read; within a request it waits up to the read timeout, whatever a stop says: the call under
    // way is answered.
    ssize_t Receive(char *into, size_t n, bool wait)
    {
        for (;;) {
            const ssize_t got = ::recv(m_fd, into, n, MSG_DONTWAIT);
            if (got >= 0)
                return got;
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return -1;
            if (!wait)
                return 0;
            pollfd fd{m_fd, POLLIN, 0};
            const int ready = ::poll(&fd, 1, kReadTimeoutMs);
            if (ready == 0)
                return -1;
            if (ready < 0 && errno != EINTR)
                return -1;
        }
    }

    int m_fd;
    int m_stopFd;
    std::string m_buffer;
    size_t m_used = 0;
};

// Reads the request line and headers of head (CR LF separated, ending with CR LF).
bool ParseHead(std::string_view head, Request &req)
{
    size_t lineEnd = head.find("\r\n");
    const std::string_view line = head.substr(0, lineEnd);
    const size_t sp1 = line.find(' ');
    const size_t sp2 = line.rfind(' ');
    if (sp1 == std::string_view::npos || sp2 == sp1)
        return false;
    req.method = std::string(line.substr(0, sp1));
    req.target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
    const std::string_view version = line.substr(sp2 + 1);
    if (version == "HTTP/1.1")
        req.http11 = true;
    else if (version == "HTTP/1.0")
        req.http11 = false;
    else
        return false;
    if (req.method.empty() || req.target.empty())
        return false;
    for (size_t at = lineEnd + 2; at < head.size();) {
        const size_t end = head.find("\r\n", at);
        const std::string_view field = head.substr(at, end - at);
        at = end + 2;
        const size_t colon = field.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return false;
        std::string_view value = field.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        req.headers.emplace_back(std::string(field.substr(0, colon)), std::string(value));
    }
    return true;
}

std::string ResponseHead(int status, size_t length, bool keepAlive, const char *extra = "")
{
    std::string head = "HTTP/1.1 " + std::to_string(status) + ' ' + StatusText(status) + "\r\n";
    if (length > 0 || status != 100)
        head += "Content-Type: application/json\r\nContent-Length: " + std::to_string(length) + "\r\n";
    head += extra;
    head += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    return head;
}

} // namespace

struct RpcServer::Impl
{
    Impl(const RdmGeraXml &r, QByteArray e, int w) : rdm(r), expected(std::move(e)), workers(w) {}
    ~Impl()
    {
        if (listenFd >= 0)
            ::close(listenFd);
        if (stopFd >= 0)
            ::close(stopFd);
    }

    void Serve(RpcServer &server, int fd, const std::string &peer);

    const RdmGeraXml &rdm;
    QByteArray expected; // "Bearer <token>"
    int workers;
    int listenFd = -1;
    int stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::condition_variable queued;
    std::deque<std::pair<int, std::string>> connections; // accepted, not yet served
    bool accepting = true;
};

void RpcServer::Impl::Serve(RpcServer &server, int fd, const std::string &peer)
{
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // A peer that stops reading cannot hold a worker for ever.
    const timeval sendTimeout{kReadTimeoutMs / 1000, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
    Connection conn(fd, stopFd);
    try {
        for (int served = 0; served < kMaxRequestsPerConnection && conn.NextRequestBegins(); ++served) {
            Request req;
            int status = 0;
            try {
                if (!ParseHead(conn.Head(), req))
                    status = 400;
            } catch (const Refused &refused) {
                status = refused.status;
            }
            bool keepAlive = status == 0 && served + 1 < kMaxRequestsPerConnection && !stopping;
            if (status == 0) {
                const std::string *connection = req.Header("Connection");
                if (req.http11 ? (connection && HasToken(*connection, "close"))
                               : !(connection && HasToken(*connection, "keep-alive")))
                    keepAlive = false;
                if (req.Header("Transfer-Encoding"))
                    status = 501; // bodies come with their length
            }
            size_t length = 0;
            if (status == 0) {
                if (const std::string *text = req.Header("Content-Length")) {
                    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), length);
                    if (error != std::errc() || end != text->data() + text->size())
                        status = 400;
                    else if (length > kMaxBody)
                        status = 413;
                }
            }
            if (status != 0) {
                // The rest of a refused request cannot be told from the next one: the connection ends.
                conn.Send(ResponseHead(status, 0, false), {});
                return;
            }
            if (const std::string *expect = req.Header("Expect"); expect && HasToken(*expect, "100-continue"))
                conn.Send("HTTP/1.1 100 Continue\r\n\r\n", {});
            req.body = conn.Body(length);
            keepAlive = keepAlive && !stopping;

            // Every request needs the token, whatever its path: nothing runs for a caller without it.
            const std::string *authorization = req.Header("Authorization");
            const QByteArray given = authorization ? QByteArray(authorization->data(), qsizetype(authorization->size())) : QByteArray();
            if (!SameSecret(given, expected)) {
                std::fprintf(stderr, "recusado: token inválido de %s\n", peer.c_str());
                const QByteArray body("{\"error\":\"token de acesso ausente ou inválido\"}");
                conn.Send(ResponseHead(401, size_t(body.size()), keepAlive, "WWW-Authenticate: Bearer\r\n"), {body});
            } else if (req.method == "POST" && req.target == "/rpc") {
                const QByteArrayList pieces = server.Handle(req.body);
                size_t total = 0;
                for (const QByteArray &piece : pieces)
                    total += size_t(piece.size());
                conn.Send(ResponseHead(200, total, keepAlive), pieces);
            } else {
                conn.Send(ResponseHead(404, 0, keepAlive), {});
            }
            if (!keepAlive)
                return;
        }
    } catch (const Dropped &) {
    } catch (const std::exception &e) {
        // Out of memory for a body, most likely: this connection ends, the server goes on.
        std::fprintf(stderr, "conexão de %s encerrada: %s\n", peer.c_str(), e.what());
    }
}

RpcServer::RpcServer(const RdmGeraXml &rdm, QString token, int threads)
    : m_impl(std::make_unique<Impl>(rdm, "Bearer " + token.toUtf8(), std::max(2, threads)))
{
    if (m_impl->stopFd < 0)
        throw Exception(QStringLiteral("Não foi possível preparar o servidor: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
}

RpcServer::~RpcServer() = default;

int RpcServer::Bind(const QString &host, int port)
{
    const QString failure =
        QStringLiteral("Não foi possível escutar em %1:%2 (endereço em uso ou inválido).").arg(host).arg(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const QByteArray name = host.toUtf8();
    if (port < 0 || port > 65535 || ::getaddrinfo(name.constData(), std::to_string(port).c_str(), &hints, &found) != 0)
        throw Exception(failure);
    int fd = -1;
    for (addrinfo *a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0)
        throw Exception(failure);
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &size);
    if (m_impl->listenFd >= 0)
        ::close(m_impl->listenFd);
    m_impl->listenFd = fd;
    return bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6 &>(bound).sin6_port)
                                       : ntohs(reinterpret_cast<sockaddr_in &>(bound).sin_port);
}

void RpcServer::Run()
{
    Impl &d = *m_impl;
    if (d.listenFd < 0)
        return;
    std::vector<std::thread> workers;
    for (int i = 0; i < d.workers; ++i) {
        workers.emplace_back([this, &d] {
            for (;;) {
                std::pair<int, std::string> next;
                {
                    std::unique_lock lock(d.mutex);
                    d.queued.wait(lock, [&d] { return !d.connections.empty() || !d.accepting; });
                    if (d.connections.empty())
                        return;
                    next = std::move(d.connections.front());
                    d.connections.pop_front();
                }
                d.Serve(*this, next.first, next.second);
                ::shutdown(next.first, SHUT_RDWR);
                ::close(next.first);
            }
        });
    }
    pollfd fds[2] = {{d.listenFd, POLLIN, 0}, {d.stopFd, POLLIN, 0}};
    while (!d.stopping) {
        const int n = ::poll(fds, 2, -1);
        if (n < 0 && errno != EINTR)
            break;
        if (n <= 0 || fds[1].revents != 0)
            continue;
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        const int fd = ::accept4(d.listenFd, reinterpret_cast<sockaddr *>(&peer), &size, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            std::lock_guard lock(d.mutex);
            d.connections.emplace_back(fd, PeerAddress(peer));
        }
        d.queued.notify_one();
    }
    // No new connection from here on; those accepted are served (a request under way is answered) and
    // closed, then the workers end.
    ::close(d.listenFd);
    d.listenFd = -1;
    {
        std::lock_guard lock(d.mutex);
        d.accepting = false;
    }
    d.queued.notify_all();
    for (std::thread &t : workers)
        t.join();
}

void RpcServer::Stop()
{
    m_impl->stopping = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_impl->stopFd, &one, sizeof one);
}

QByteArrayList RpcServer::Handle(const QByteArray &body) const
{
    QElapsedTimer timer;
    timer.start();
    vnd::rpc::Request req;
    try {
        req = vnd::rpc::DecodeRequest(body);
    } catch (const Exception &e) {
        LogCall(QStringLiteral("(requisição inválida)"), timer.elapsed(), -1, e.Message());
        return {vnd::rpc::EncodeError(QVariant(), kParseError, QStringLiteral("Requisição inválida: %1").arg(e.Message()))};
    }
    const QString prefix = QString::fromLatin1(vnd::rpc::kModule);
    const QString method = req.method.startsWith(prefix) ? req.method.mid(prefix.size()) : QString();
    if (method.isEmpty() || !m_impl->rdm.Has(method)) {
        const QString message = QStringLiteral("Método desconhecido: %1.").arg(req.method.left(100));
        LogCall(req.method, timer.elapsed(), -1, message);
        return {vnd::rpc::EncodeError(req.id, kMethodNotFound, message)};
    }
    try {
        const MethodResult result = m_impl->rdm.Call(method, req.params);
        QByteArrayList out;
        if (vnd::rpc::IsPacket(result.value) && !result.value.value<TDataPacket>().IsEmpty())
            out = {vnd::rpc::EncodeResultHead(req.id), result.value.value<TDataPacket>().json, QByteArray("}")};
        else
            out = {vnd::rpc::EncodeResult(req.id, result.value)};
        LogCall(method, timer.elapsed(), result.rows, {});
        return out;
    } catch (const Exception &e) {
        LogCall(method, timer.elapsed(), -1, e.Message());
        return {vnd::rpc::EncodeError(req.id, kServerError, e.Message())};
    } catch (const std::exception &e) {
        const QString message = QStringLiteral("Erro interno do servidor em %1: %2").arg(method, QString::fromUtf8(e.what()));
        LogCall(method, timer.elapsed(), -1, message);
        return {vnd::rpc::EncodeError(req.id, kInternalError, message)};
    }
}

} // namespace vnd::server
