#pragma once
// The HTTP side of the server: POST /rpc with JSON-RPC 2.0 bodies, a bearer token on every request,
// connections served asynchronously (Boost.Beast over Asio, TLS optional), the methods run on a bounded
// pool of database threads, and one log line per call.

#include "server/rdm.h"

#include <cstddef>
#include <memory>

namespace vnd::server {

// What a connection may do before it is closed.
struct TransportLimits
{
    static constexpr std::size_t kMaxHead = 64 * 1024;          // request line and headers
    static constexpr int kHeadSeconds = 10;                     // a head must be complete this soon
    static constexpr int kKeepAliveSeconds = 30;                // an idle kept connection is held this long
    static constexpr std::size_t kDefaultMaxBody = std::size_t(256) * 1024 * 1024;
};

class RpcServer
{
public:
    // threads: database threads running the methods (each keeps its own database connection).
    RpcServer(const RdmGeraXml &rdm, QString token, int threads);
    ~RpcServer();

    // The largest request body taken from an authenticated caller; larger ones get 413 unread.
    void SetBodyLimit(std::size_t bytes);
    // Serves TLS only, with this certificate chain and private key (PEM files). Exception naming the file
    // that cannot be used.
    void UseTls(const QString &certFile, const QString &keyFile);

    // Binds the address (port 0 picks a free one) and returns the port. Exception naming the address
    // when it cannot bind.
    int Bind(const QString &host, int port);
    // Serves until Stop; the calls in flight finish before it returns.
    void Run();
    // Stops accepting and closes idle connections; safe from any thread.
    void Stop();

    // One call as the HTTP handler runs it, without the transport: the JSON-RPC response body for a
    // request body, as pieces that make it up in order (a packet result is not copied into them). Never
    // throws.
    QByteArrayList Handle(const QByteArray &body) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Compares two texts in time independent of where they differ.
bool SameSecret(const QByteArray &a, const QByteArray &b);

// The token of an Authorization value of the bearer scheme (its name in any case), or empty.
QByteArray BearerToken(const QByteArray &authorization);

} // namespace vnd::server
