#include "host/httpclient.h"

#include "host/bytearraybody.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <QFile>

#include <array>
#include <cerrno>
#include <chrono>
#include <optional>
#include <poll.h>

namespace vnd
{

namespace
{

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

constexpr std::uint32_t kMaxHeaderBytes = 64 * 1024;
constexpr std::uint64_t kMaxBodyBytes = std::uint64_t(1) << 31;

// The user reads these in Portuguese; the system's texts are English under the C locale.
QString Reason(const error_code &ec)
{
    if (ec.category() == boost::system::system_category() || ec.category() == boost::system::generic_category()) {
        switch (ec.value()) {
        case ECONNREFUSED: return QStringLiteral("conexão recusada");
        case ETIMEDOUT: return QStringLiteral("tempo de espera esgotado");
        case ECONNRESET: return QStringLiteral("conexão encerrada pelo servidor");
        case EPIPE: return QStringLiteral("conexão interrompida");
        case EHOSTUNREACH: return QStringLiteral("máquina inacessível");
        case ENETUNREACH: return QStringLiteral("rede inacessível");
        case EADDRNOTAVAIL: return QStringLiteral("endereço indisponível");
        default: break;
        }
    }
    return QString::fromLocal8Bit(ec.message().c_str());
}

// The user's reason for a failed read of an answer.
QString ReadFailure(const error_code &ec, int ioSeconds)
{
    if (ec == beast::error::timeout)
        return QStringLiteral("tempo de espera esgotado (%1 s)").arg(ioSeconds);
    if (ec == http::error::partial_message || ec == http::error::end_of_stream || ec == asio::error::eof ||
        ec == asio::error::connection_reset || ec == asio::ssl::error::stream_truncated)
        return QStringLiteral("o servidor encerrou a conexão no meio da resposta");
    if (ec == http::error::bad_content_length || ec == http::error::multiple_content_length || ec == http::error::body_limit)
        return QStringLiteral("tamanho de resposta inválido");
    if (ec == http::error::bad_chunk || ec == http::error::bad_chunk_extension)
        return QStringLiteral("bloco de resposta inválido");
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
        return QStringLiteral("cabeçalho da resposta grande demais");
    if (ec.category() == http::make_error_code(http::error::bad_version).category())
        return QStringLiteral("resposta que não é HTTP");
    return QStringLiteral("falha ao receber: %1").arg(Reason(ec));
}

} // namespace

struct HttpClient::Impl
{
    // Every step is an asynchronous operation with its deadline, run to its end on this context: the
    // blocking calls of the screens wrap it.
    template <class Initiate>
    error_code Await(Initiate &&initiate)
    {
        error_code result = asio::error::would_block;
        initiate([&result](const error_code &ec, auto &&...) { result = ec; });
        ioc.restart();
        ioc.run();
        return result;
    }

    beast::tcp_stream &Tcp() { return secure ? beast::get_lowest_layer(*secure) : *plain; }

    template <class F>
    decltype(auto) WithStream(F &&f)
    {
        if (secure)
            return f(*secure);
        return f(*plain);
    }

    bool Open() const { return plain || secure; }

    asio::io_context ioc;
    std::unique_ptr<asio::ssl::context> tls;
    std::optional<beast::tcp_stream> plain;
    std::optional<beast::ssl_stream<beast::tcp_stream>> secure;
    beast::flat_buffer buffer;
};

HttpClient::HttpClient(QString host, int port, TlsSettings tls)
    : m_host(std::move(host)), m_port(port), m_tls(std::move(tls)), m_impl(std::make_unique<Impl>())
{
}

HttpClient::~HttpClient()
{
    Close();
}

void HttpClient::SetTimeouts(int connectSeconds, int ioSeconds)
{
    m_connectSeconds = connectSeconds;
    m_ioSeconds = ioSeconds;
}

void HttpClient::Close()
{
    error_code ignored;
    if (m_impl->Open())
        m_impl->Tcp().socket().close(ignored);
    m_impl->plain.reset();
    m_impl->secure.reset();
    m_impl->buffer.clear();
}

void HttpClient::Connect()
{
    Close();
    Impl &d = *m_impl;
    if (m_tls.enabled && !d.tls) {
        auto ctx = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_client);
        ctx->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                         asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1);
        ctx->set_verify_mode(asio::ssl::verify_peer);
        error_code ec;
        if (m_tls.caFile.isEmpty())
            ctx->set_default_verify_paths(ec);
        else
            ctx->load_verify_file(QFile::encodeName(m_tls.caFile).toStdString(), ec);
        if (ec)
            throw HttpTransportError(QStringLiteral("certificados de autoridade %1 ilegíveis: %2")
                                         .arg(m_tls.caFile.isEmpty() ? QStringLiteral("do sistema") : m_tls.caFile, Reason(ec)));
        d.tls = std::move(ctx);
    }

    error_code ec;
    tcp::resolver resolver(d.ioc);
    const auto found = resolver.resolve(m_host.toStdString(), std::to_string(m_port), ec);
    if (ec)
        throw HttpTransportError(QStringLiteral("endereço não encontrado: %1").arg(Reason(ec)));
    if (d.tls)
        d.secure.emplace(beast::tcp_stream(d.ioc), *d.tls);
    else
        d.plain.emplace(d.ioc);
    d.Tcp().expires_after(std::chrono::seconds(m_connectSeconds));
    ec = d.Await([&](auto handler) { d.Tcp().async_connect(found, std::move(handler)); });
    if (ec) {
        Close();
        throw HttpTransportError(QStringLiteral("conexão não estabelecida: %1")
                                     .arg(ec == beast::error::timeout ? QStringLiteral("tempo esgotado") : Reason(ec)));
    }
    // A call is a small request answered at once: without this, Nagle's algorithm and the peer's
    // delayed acknowledgement hold every call back by tens of milliseconds.
    d.Tcp().socket().set_option(tcp::no_delay(true), ec);
    if (d.secure) {
        const std::string name = m_host.toStdString();
        error_code isAddress;
        asio::ip::make_address(name, isAddress);
        if (isAddress) // a name, not an address: the server picks its certificate by it
            SSL_set_tlsext_host_name(d.secure->native_handle(), name.c_str());
        d.secure->set_verify_callback(asio::ssl::host_name_verification(name));
        d.Tcp().expires_after(std::chrono::seconds(m_connectSeconds + m_ioSeconds));
        ec = d.Await([&](auto handler) { d.secure->async_handshake(asio::ssl::stream_base::client, std::move(handler)); });
        if (ec) {
            QString why = Reason(ec);
            const long verify = SSL_get_verify_result(d.secure->native_handle());
            if (verify != X509_V_OK)
                why = QString::fromUtf8(X509_verify_cert_error_string(verify));
            Close();
            throw HttpTransportError(QStringLiteral("falha na negociação TLS: %1").arg(why));
        }
    }
}

bool HttpClient::ConnectionLooksAlive() const
{
    // Between calls nothing may arrive: a readable socket is one the server closed (or spoke out of turn).
    if (!m_impl->Open() || m_impl->buffer.size() > 0)
        return false;
    pollfd p{m_impl->Tcp().socket().native_handle(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 0;
}

HttpClient::Outcome HttpClient::Exchange(const QByteArray &request, const QByteArray &body, Response &response)
{
    Impl &d = *m_impl;
    m_answered = false;
    // Head and body leave in one write, as the server reads them.
    const std::array<asio::const_buffer, 2> out{asio::buffer(request.constData(), std::size_t(request.size())),
                                                asio::buffer(body.constData(), std::size_t(body.size()))};
    d.Tcp().expires_after(std::chrono::seconds(m_ioSeconds));
    error_code ec = d.Await([&](auto handler) { d.WithStream([&](auto &s) { asio::async_write(s, out, AllAtOnce{}, std::move(handler)); }); });
    if (ec)
        throw HttpTransportError(ec == beast::error::timeout ? QStringLiteral("tempo de espera esgotado (%1 s)").arg(m_ioSeconds)
                                                             : QStringLiteral("falha ao enviar: %1").arg(Reason(ec)));

    http::response_parser<ByteArrayBody> parser;
    parser.header_limit(kMaxHeaderBytes);
    parser.body_limit(kMaxBodyBytes);
    d.Tcp().expires_after(std::chrono::seconds(m_ioSeconds));
    ec = d.Await([&](auto handler) { d.WithStream([&](auto &s) { http::async_read_header(s, d.buffer, parser, std::move(handler)); }); });
    if (ec && !parser.got_some() &&
        (ec == http::error::end_of_stream || ec == asio::error::eof || ec == asio::error::connection_reset ||
         ec == asio::ssl::error::stream_truncated))
        return Outcome::StaleConnection;
    m_answered = true;
    if (ec)
        throw HttpTransportError(ReadFailure(ec, m_ioSeconds));
    auto &message = parser.get();
    response.status = message.result_int();
    const bool keepAlive = message.keep_alive();
    if (const auto length = parser.content_length(); length && !parser.chunked()) {
        // The length is the parser's (checked, single); the body of megabytes then goes straight from
        // the socket into its place in large reads, instead of through the parser's small buffer.
        response.body.resize(qsizetype(*length));
        const std::size_t buffered = std::min<std::size_t>(d.buffer.size(), std::size_t(*length));
        asio::buffer_copy(asio::buffer(response.body.data(), buffered), d.buffer.data());
        d.buffer.consume(buffered);
        if (buffered < *length) {
            const auto rest = asio::buffer(response.body.data() + buffered, std::size_t(*length) - buffered);
            ec = d.Await([&](auto handler) { d.WithStream([&](auto &s) { asio::async_read(s, rest, AllAtOnce{}, std::move(handler)); }); });
            if (ec)
                throw HttpTransportError(ReadFailure(ec, m_ioSeconds));
        }
    } else {
        ec = d.Await([&](auto handler) { d.WithStream([&](auto &s) { http::async_read(s, d.buffer, parser, std::move(handler)); }); });
        if (ec)
            throw HttpTransportError(ReadFailure(ec, m_ioSeconds));
        response.body = std::move(message.body());
    }
    if (!keepAlive)
        Close();
    return Outcome::Done;
}

HttpClient::Response HttpClient::Post(const QByteArray &path, const QByteArray &headers, const QByteArray &body)
{
    const QByteArray request = "POST " + path + " HTTP/1.1\r\nHost: " + m_host.toUtf8() + ':' +
                               QByteArray::number(m_port) + "\r\nConnection: keep-alive\r\nContent-Length: " +
                               QByteArray::number(body.size()) + "\r\n" + headers + "\r\n";
    const bool reused = ConnectionLooksAlive();
    if (!reused)
        Connect();
    Response response;
    try {
        if (Exchange(request, body, response) == Outcome::Done)
            return response;
        if (!reused)
            throw HttpTransportError(QStringLiteral("o servidor encerrou a conexão sem responder"));
    } catch (const HttpTransportError &) {
        // A failed send on a kept connection is the server having closed it: nothing was read, so the
        // request was never taken.
        Close();
        if (!reused || m_answered)
            throw;
    }
    Connect();
    if (Exchange(request, body, response) == Outcome::Done)
        return response;
    Close();
    throw HttpTransportError(QStringLiteral("o servidor encerrou a conexão sem responder"));
}

} // namespace vnd
