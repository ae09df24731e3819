#include "server/httpsession.h"

#include "host/bytearraybody.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

namespace vnd::server {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;
using Clock = std::chrono::steady_clock;

constexpr int kBodySeconds = 300;  // an authenticated body may arrive this slowly
constexpr int kWriteSeconds = 300; // a peer that stops reading its answer is dropped after this
constexpr int kMaxRequestsPerConnection = 1000;
// After a refusal the rest of what the peer sends is read and thrown away for a moment, so that its
// answer is not lost to a reset; never more than this.
constexpr std::size_t kLingerBytes = 256 * 1024;
constexpr int kLingerSeconds = 2;

const char *StatusText(int status)
{
    switch (status) {
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

std::string ResponseHead(int status, std::size_t length, bool keepAlive, const char *extra)
{
    std::string head = "HTTP/1.1 " + std::to_string(status) + ' ' + StatusText(status) + "\r\n";
    head += "Content-Type: application/json\r\nContent-Length: " + std::to_string(length) + "\r\n";
    head += extra;
    head += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    return head;
}

// Whether the error is the peer's malformed request (as opposed to the connection failing).
bool IsBadRequest(const error_code &ec)
{
    static const auto &httpErrors = http::make_error_code(http::error::bad_method).category();
    return ec.category() == httpErrors && ec != http::error::end_of_stream && ec != http::error::partial_message &&
           ec != http::error::need_more && ec != http::error::need_buffer;
}

template <class Stream>
class Session final : public SessionBase
{
public:
    Session(SessionShared &shared, tcp::socket socket, std::string peer)
        : m_shared(shared), m_stream(MakeStream(shared, std::move(socket))),
          m_buffer(TransportLimits::kMaxHead + 8192), m_peer(std::move(peer))
    {
    }

    ~Session() override
    {
        std::lock_guard lock(m_shared.mutex);
        m_shared.sessions.erase(this);
    }

    void Start()
    {
        {
            std::lock_guard lock(m_shared.mutex);
            m_shared.sessions.emplace(this, weak_from_this());
        }
        m_deadline = Clock::now() + std::chrono::seconds(TransportLimits::kHeadSeconds);
        m_headClock = true;
        if constexpr (kTls) {
            m_idle = true;
            Tcp().expires_at(m_deadline);
            m_stream.async_handshake(asio::ssl::stream_base::server, [self = Self()](const error_code &ec) {
                self->m_idle = false;
                if (ec)
                    return self->Drop();
                self->WaitRequest();
            });
        } else {
            WaitRequest();
        }
    }

    void OnStop() override
    {
        asio::post(m_stream.get_executor(), [self = Self()] {
            if (self->m_idle)
                self->Tcp().cancel();
        });
    }

private:
    static constexpr bool kTls = !std::is_same_v<Stream, beast::tcp_stream>;

    static Stream MakeStream(SessionShared &shared, tcp::socket socket)
    {
        if constexpr (kTls)
            return Stream(beast::tcp_stream(std::move(socket)), *shared.tls);
        else
            return Stream(std::move(socket));
    }

    std::shared_ptr<Session> Self() { return std::static_pointer_cast<Session>(shared_from_this()); }
    beast::tcp_stream &Tcp() { return beast::get_lowest_layer(m_stream); }

    // Waits for the first byte of the next request: an idle kept connection is held for the keep-alive
    // time, then its head has its own deadline.
    void WaitRequest()
    {
        // Empty lines before a request line are allowed (some clients end a body with one).
        std::size_t skip = 0;
        const auto pending = m_buffer.cdata();
        const char *bytes = static_cast<const char *>(pending.data());
        while (pending.size() - skip >= 2 && bytes[skip] == '\r' && bytes[skip + 1] == '\n')
            skip += 2;
        m_buffer.consume(skip);
        if (m_buffer.size() > 0) {
            StartHeadClock();
            return ReadHead();
        }
        if (m_shared.stopping)
            return Close();
        m_idle = true;
        if (m_headClock)
            Tcp().expires_at(m_deadline);
        else
            Tcp().expires_after(std::chrono::seconds(TransportLimits::kKeepAliveSeconds));
        m_stream.async_read_some(m_buffer.prepare(16384), [self = Self()](const error_code &ec, std::size_t n) {
            self->m_idle = false;
            self->m_buffer.commit(n);
            if (ec)
                return self->Drop();
            self->WaitRequest();
        });
    }

    void StartHeadClock()
    {
        if (m_headClock)
            return;
        m_headClock = true;
        m_deadline = Clock::now() + std::chrono::seconds(TransportLimits::kHeadSeconds);
    }

    // Reads until the head's blank line is buffered, strictly within the head limit (the parser's own
    // limit counts the request line and the fields apart, letting nearly twice as much through).
    void ReadHead()
    {
        const auto pending = m_buffer.cdata();
        const std::string_view bytes(static_cast<const char *>(pending.data()), pending.size());
        const std::size_t end = bytes.find("\r\n\r\n", m_scanned);
        if (end != std::string_view::npos) {
            m_scanned = 0;
            if (end + 4 > TransportLimits::kMaxHead)
                return Refuse(431);
            return ParseHead();
        }
        if (bytes.size() >= TransportLimits::kMaxHead)
            return Refuse(431);
        if (m_shared.stopping)
            return Close();
        m_scanned = bytes.size() > 3 ? bytes.size() - 3 : 0;
        Tcp().expires_at(m_deadline);
        const std::size_t room = std::min<std::size_t>(16384, TransportLimits::kMaxHead + 4096 - bytes.size());
        m_idle = true; // nothing of the request has run: a stop may close it
        m_stream.async_read_some(m_buffer.prepare(room), [self = Self()](const error_code &ec, std::size_t n) {
            self->m_idle = false;
            self->m_buffer.commit(n);
            if (ec)
                return self->Drop(); // cut short, timed out or reset: nothing to answer
            self->ReadHead();
        });
    }

    // The head alone: nothing of a body is taken before the token is checked.
    void ParseHead()
    {
        m_head.emplace();
        m_head->header_limit(std::uint32_t(TransportLimits::kMaxHead));
        m_head->body_limit(boost::none); // checked against the configured limit once the caller is known
        Tcp().expires_at(m_deadline);
        http::async_read_header(m_stream, m_buffer, *m_head,
                                [self = Self()](const error_code &ec, std::size_t) { self->OnHead(ec); });
    }

    void OnHead(const error_code &ec)
    {
        if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
            return Refuse(431);
        if (ec)
            return IsBadRequest(ec) ? Refuse(400) : Drop();
        const auto &req = m_head->get();
        if (req.version() != 10 && req.version() != 11)
            return Refuse(400);
        // One length, one number: two of them (even equal) are a request that could be read two ways.
        int lengths = 0;
        for (auto it = req.find(http::field::content_length); it != req.end() && it->name() == http::field::content_length; ++it)
            lengths += it->value().find(',') == beast::string_view::npos ? 1 : 2;
        if (lengths > 1)
            return Refuse(400);
        if (req.count(http::field::transfer_encoding) > 0)
            return Refuse(501); // bodies come with their length
        const std::uint64_t length = m_head->content_length().value_or(0);
        const bool keepAlive = req.keep_alive() && m_served + 1 < kMaxRequestsPerConnection;

        // Every request needs the token, whatever its path: nothing runs for a caller without it, and
        // nothing of its body is read.
        const beast::string_view authorization = req[http::field::authorization];
        if (!SameSecret(BearerToken(QByteArray(authorization.data(), qsizetype(authorization.size()))), m_shared.token)) {
            std::fprintf(stderr, "recusado: token inválido de %s\n", m_peer.c_str());
            return Respond(401, {QByteArray("{\"error\":\"token de acesso ausente ou inválido\"}")}, keepAlive && length == 0,
                           "WWW-Authenticate: Bearer\r\n");
        }
        if (length > m_shared.maxBody)
            return Refuse(413);
        if (beast::iequals(req[http::field::expect], "100-continue")) {
            static const std::string go = "HTTP/1.1 100 Continue\r\n\r\n";
            Tcp().expires_after(std::chrono::seconds(kWriteSeconds));
            return asio::async_write(m_stream, asio::buffer(go), [self = Self()](const error_code &ec, std::size_t) {
                if (ec)
                    return self->Drop();
                self->ReadBody();
            });
        }
        ReadBody();
    }

    void ReadBody()
    {
        m_body.emplace(std::move(*m_head));
        m_head.reset();
        m_body->body_limit(m_shared.maxBody);
        Tcp().expires_after(std::chrono::seconds(kBodySeconds));
        http::async_read(m_stream, m_buffer, *m_body, [self = Self()](const error_code &ec, std::size_t) { self->OnBody(ec); });
    }

    void OnBody(const error_code &ec)
    {
        if (ec == http::error::body_limit)
            return Refuse(413);
        if (ec)
            return Drop(); // cut short: nothing to answer
        auto &req = m_body->get();
        const bool keepAlive = req.keep_alive() && ++m_served < kMaxRequestsPerConnection;
        if (req.method() != http::verb::post || req.target() != "/rpc") {
            m_body.reset();
            return Respond(404, {}, keepAlive);
        }
        // The method runs on a database thread; the I/O threads go on serving other connections.
        QByteArray body = std::move(req.body());
        m_body.reset();
        m_shared.pool->Post(m_worker, [self = Self(), body = std::move(body), keepAlive,
                                       work = asio::make_work_guard(m_stream.get_executor())]() mutable {
            QByteArrayList pieces = self->m_shared.server->Handle(body);
            body = QByteArray();
            asio::post(work.get_executor(), [self, keepAlive, pieces = std::move(pieces)]() mutable {
                self->Respond(200, std::move(pieces), keepAlive);
            });
        });
    }

    // The rest of a refused request cannot be told from the next one: the connection ends.
    void Refuse(int status) { Respond(status, {}, false); }

    void Respond(int status, QByteArrayList pieces, bool keepAlive, const char *extra = "")
    {
        keepAlive = keepAlive && !m_shared.stopping;
        std::size_t total = 0;
        for (const QByteArray &piece : pieces)
            total += std::size_t(piece.size());
        m_outHead = ResponseHead(status, total, keepAlive, extra);
        m_outPieces = std::move(pieces);
        std::vector<asio::const_buffer> buffers;
        buffers.reserve(std::size_t(m_outPieces.size()) + 1);
        buffers.emplace_back(m_outHead.data(), m_outHead.size());
        for (const QByteArray &piece : m_outPieces)
            if (!piece.isEmpty())
                buffers.emplace_back(piece.constData(), std::size_t(piece.size()));
        Tcp().expires_after(std::chrono::seconds(kWriteSeconds));
        asio::async_write(m_stream, buffers, AllAtOnce{}, [self = Self(), keepAlive](const error_code &ec, std::size_t) {
            self->m_outPieces.clear();
            if (ec)
                return self->Drop();
            if (!keepAlive)
                return self->Close();
            self->m_headClock = false;
            self->WaitRequest();
        });
    }

    // Ends the sending side, then throws away what still comes for a moment (see kLingerBytes).
    void Close()
    {
        error_code ignored;
        Tcp().socket().shutdown(tcp::socket::shutdown_send, ignored);
        Linger();
    }

    void Linger()
    {
        Tcp().expires_after(std::chrono::seconds(kLingerSeconds));
        if (!m_scratch)
            m_scratch = std::make_unique<char[]>(kScratch);
        Tcp().async_read_some(asio::buffer(m_scratch.get(), kScratch), [self = Self()](const error_code &ec, std::size_t n) {
            self->m_lingered += n;
            if (ec || self->m_lingered > kLingerBytes)
                return self->Drop();
            self->Linger();
        });
    }

    void Drop()
    {
        error_code ignored;
        Tcp().socket().shutdown(tcp::socket::shutdown_both, ignored);
        Tcp().close();
    }

    SessionShared &m_shared;
    Stream m_stream;
    beast::flat_buffer m_buffer;
    std::string m_peer;
    std::optional<http::request_parser<http::empty_body>> m_head;
    std::optional<http::request_parser<ByteArrayBody>> m_body;
    std::string m_outHead;
    QByteArrayList m_outPieces;
    Clock::time_point m_deadline;
    bool m_headClock = false; // whether m_deadline runs for the head under way
    bool m_idle = false;      // waiting for a request, its head or the TLS handshake: a stop closes it
    int m_served = 0;
    unsigned m_worker = m_shared.nextWorker++; // preferred database thread
    std::size_t m_lingered = 0;
    std::size_t m_scanned = 0; // bytes of the buffer already searched for the end of the head
    static constexpr std::size_t kScratch = 16384;
    std::unique_ptr<char[]> m_scratch; // lingering only
};

} // namespace

void StartSession(SessionShared &shared, tcp::socket socket)
{
    error_code ec;
    const tcp::endpoint peer = socket.remote_endpoint(ec);
    const std::string address = ec ? std::string("?") : peer.address().to_string();
    socket.set_option(tcp::no_delay(true), ec);
    if (shared.tls)
        std::make_shared<Session<beast::ssl_stream<beast::tcp_stream>>>(shared, std::move(socket), address)->Start();
    else
        std::make_shared<Session<beast::tcp_stream>>(shared, std::move(socket), address)->Start();
}

} // namespace vnd::server
