#include "server/httpserver.h"

#include "host/errors.h"
#include "host/rpc.h"

#include <QElapsedTimer>
#include <httplib.h>

#include <cstdio>

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

struct RpcServer::Impl
{
    Impl(const RdmGeraXml &r, QByteArray e) : rdm(r), expected(std::move(e)) {}
    const RdmGeraXml &rdm;
    QByteArray expected; // "Bearer <token>"
    httplib::Server http;
};

RpcServer::RpcServer(const RdmGeraXml &rdm, QString token, int threads)
    : m_impl(std::make_unique<Impl>(rdm, "Bearer " + token.toUtf8()))
{
    httplib::Server &http = m_impl->http;
    // httplib owns the queue it is given.
    const size_t workers = size_t(std::max(2, threads));
    http.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    http.set_payload_max_length(kMaxBody);
    http.set_keep_alive_max_count(1000);
    // An idle host's connection is held this long; stopping waits for it, and a host reconnects by itself.
    http.set_keep_alive_timeout(2);
    // Answers go out at once: with Nagle's algorithm a small answer waits for the client's delayed ACK.
    http.set_tcp_nodelay(true);
    http.set_read_timeout(600, 0);
    http.set_write_timeout(600, 0);
    // Every request needs the token, whatever its path: nothing runs for a caller without it.
    http.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        const std::string header = req.get_header_value("Authorization");
        if (SameSecret(QByteArray(header.data(), qsizetype(header.size())), m_impl->expected))
            return httplib::Server::HandlerResponse::Unhandled;
        res.status = 401;
        res.set_header("WWW-Authenticate", "Bearer");
        res.set_content("{\"error\":\"token de acesso ausente ou inválido\"}", "application/json");
        std::fprintf(stderr, "recusado: token inválido de %s\n", req.remote_addr.c_str());
        return httplib::Server::HandlerResponse::Handled;
    });
    http.Post("/rpc", [this](const httplib::Request &req, httplib::Response &res) {
        // The pieces are put together once, in the body itself: a page of the sale list is megabytes.
        // (A content provider would not copy at all, but sends nothing once a stop began, and a call in
        // flight must still be answered.)
        const QByteArrayList pieces = Handle(QByteArray(req.body.data(), qsizetype(req.body.size())));
        size_t total = 0;
        for (const QByteArray &piece : pieces)
            total += size_t(piece.size());
        res.body.reserve(total);
        for (const QByteArray &piece : pieces)
            res.body.append(piece.constData(), size_t(piece.size()));
        res.set_header("Content-Type", "application/json");
    });
}

RpcServer::~RpcServer() = default;

int RpcServer::Bind(const QString &host, int port)
{
    const std::string h = host.toStdString();
    const int bound = port == 0 ? m_impl->http.bind_to_any_port(h) : (m_impl->http.bind_to_port(h, port) ? port : -1);
    if (bound <= 0)
        throw Exception(QStringLiteral("Não foi possível escutar em %1:%2 (endereço em uso ou inválido).").arg(host).arg(port));
    return bound;
}

void RpcServer::Run() { m_impl->http.listen_after_bind(); }

void RpcServer::Stop() { m_impl->http.stop(); }

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
