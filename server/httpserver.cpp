#include "server/httpserver.h"

#include "host/errors.h"
#include "host/rpc.h"
#include "server/httpsession.h"

#include <QElapsedTimer>

#include <QFile>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include <openssl/ssl.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace vnd::server {

namespace {

// Calls are plain JSON-RPC errors with these codes; the host shows the message.
constexpr int kParseError = -32700;
constexpr int kMethodNotFound = -32601;
constexpr int kServerError = -32000;
constexpr int kInternalError = -32603;

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

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

QByteArray BearerToken(const QByteArray &authorization)
{
    const QByteArray value = authorization.trimmed();
    const qsizetype space = value.indexOf(' ');
    if (space <= 0 || value.left(space).compare("Bearer", Qt::CaseInsensitive) != 0)
        return {};
    return value.mid(space + 1).trimmed();
}

// ---- HTTP/1.1 transport ----
//
// Boost.Beast over Asio: a few I/O threads serve every connection asynchronously (a slow or idle peer
// costs a socket and a timer, never a thread); the methods run on a bounded pool of database threads,
// each with its own database connection.
//
// Each I/O thread runs a context of its own and the connections are dealt out among them: a request
// and its answer are handled by one thread from start to end, instead of the threads of one shared
// context waking one another for every event.

struct RpcServer::Impl
{
    Impl(const RdmGeraXml &r, QByteArray t, int threads) : rdm(r), pool(threads)
    {
        shared.token = std::move(t);
        shared.pool = &pool;
        const unsigned n = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
        for (unsigned i = 1; i < n; ++i)
            others.push_back(std::make_unique<asio::io_context>(1));
    }

    void Accept();
    // The context of the next connection, in turn.
    asio::io_context &NextContext()
    {
        const std::size_t i = next++ % (others.size() + 1);
        return i == 0 ? ioc : *others[i - 1];
    }

    const RdmGeraXml &rdm;
    asio::io_context ioc{1}; // the acceptor's, and the first I/O thread's
    std::vector<std::unique_ptr<asio::io_context>> others;
    // Keeps the other contexts running while they have no connection; let go at Stop.
    std::vector<asio::executor_work_guard<asio::io_context::executor_type>> idle;
    std::size_t next = 0;
    DbPool pool;
    tcp::acceptor acceptor{ioc};
    asio::steady_timer retry{ioc};
    std::unique_ptr<asio::ssl::context> tls;
    SessionShared shared;
};

void RpcServer::Impl::Accept()
{
    acceptor.async_accept(asio::make_strand(NextContext()), [this](const error_code &ec, tcp::socket socket) {
        if (!acceptor.is_open() || shared.stopping)
            return;
        if (ec) {
            // Out of descriptors, most likely: wait for connections to end instead of spinning.
            retry.expires_after(std::chrono::milliseconds(100));
            retry.async_wait([this](const error_code &waited) {
                if (!waited)
                    Accept();
            });
            return;
        }
        StartSession(shared, std::move(socket));
        Accept();
    });
}

RpcServer::RpcServer(const RdmGeraXml &rdm, QString token, int threads)
    : m_impl(std::make_unique<Impl>(rdm, token.toUtf8(), std::max(2, threads)))
{
    m_impl->shared.server = this;
}

RpcServer::~RpcServer()
{
    m_impl->pool.Join();
}

void RpcServer::SetBodyLimit(std::size_t bytes)
{
    m_impl->shared.maxBody = bytes;
}

void RpcServer::UseTls(const QString &certFile, const QString &keyFile)
{
    auto ctx = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
    ctx->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                     asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1);
    // No session tickets: a client tells a connection the server closed by its socket turning readable
    // between calls, which a ticket arriving after the handshake would also do.
    SSL_CTX_set_num_tickets(ctx->native_handle(), 0);
    SSL_CTX_set_options(ctx->native_handle(), SSL_OP_NO_TICKET);
    error_code ec;
    ctx->use_certificate_chain_file(QFile::encodeName(certFile).toStdString(), ec);
    if (ec)
        throw Exception(QStringLiteral("Não foi possível usar o certificado TLS %1: %2.")
                            .arg(certFile, QString::fromStdString(ec.message())));
    ctx->use_private_key_file(QFile::encodeName(keyFile).toStdString(), asio::ssl::context::pem, ec);
    if (ec || SSL_CTX_check_private_key(ctx->native_handle()) != 1)
        throw Exception(QStringLiteral("Não foi possível usar a chave privada TLS %1: %2.")
                            .arg(keyFile, ec ? QString::fromStdString(ec.message())
                                             : QStringLiteral("não corresponde ao certificado")));
    m_impl->tls = std::move(ctx);
    m_impl->shared.tls = m_impl->tls.get();
}

int RpcServer::Bind(const QString &host, int port)
{
    const QString failure =
        QStringLiteral("Não foi possível escutar em %1:%2 (endereço em uso ou inválido).").arg(host).arg(port);
    if (port < 0 || port > 65535)
        throw Exception(failure);
    error_code ec;
    tcp::resolver resolver(m_impl->ioc);
    const auto found = resolver.resolve(host.toStdString(), std::to_string(port),
                                        tcp::resolver::passive | tcp::resolver::numeric_service, ec);
    if (ec)
        throw Exception(failure);
    tcp::acceptor &acceptor = m_impl->acceptor;
    for (const auto &entry : found) {
        acceptor.close(ec);
        acceptor.open(entry.endpoint().protocol(), ec);
        if (ec)
            continue;
        acceptor.set_option(asio::socket_base::reuse_address(true), ec);
        acceptor.bind(entry.endpoint(), ec);
        if (!ec)
            acceptor.listen(asio::socket_base::max_listen_connections, ec);
        if (!ec)
            return acceptor.local_endpoint().port();
    }
    acceptor.close(ec);
    throw Exception(failure);
}

void RpcServer::Run()
{
    Impl &d = *m_impl;
    if (!d.acceptor.is_open())
        return;
    // Every connection is a descriptor: take all the process may have.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    d.Accept();
    std::vector<std::thread> threads;
    for (auto &ctx : d.others) {
        d.idle.push_back(asio::make_work_guard(*ctx));
        threads.emplace_back([ctx = ctx.get()] { ctx->run(); });
    }
    // Returns once the acceptor is closed and every connection has ended.
    d.ioc.run();
    for (std::thread &t : threads)
        t.join();
}

void RpcServer::Stop()
{
    Impl &d = *m_impl;
    d.shared.stopping = true;
    asio::post(d.ioc, [&d] {
        error_code ignored;
        d.acceptor.close(ignored);
        d.retry.cancel();
        std::vector<std::shared_ptr<SessionBase>> open;
        {
            std::lock_guard lock(d.shared.mutex);
            for (const auto &entry : d.shared.sessions)
                if (auto s = entry.second.lock())
                    open.push_back(std::move(s));
        }
        for (const auto &s : open)
            s->OnStop();
        // The other threads end with their last connection.
        d.idle.clear();
    });
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
