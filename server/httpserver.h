#pragma once
// The HTTP side of the server: POST /rpc with JSON-RPC 2.0 bodies, a bearer token on every request, a
// pool of worker threads and one log line per call.

#include "server/rdm.h"

#include <memory>

namespace vnd::server {

class RpcServer
{
public:
    // threads: workers serving connections (each keeps its own database connection).
    RpcServer(const RdmGeraXml &rdm, QString token, int threads);
    ~RpcServer();

    // Binds the address (port 0 picks a free one) and returns the port. Exception naming the address
    // when it cannot bind.
    int Bind(const QString &host, int port);
    // Serves until Stop; the calls in flight finish before it returns.
    void Run();
    // Stops accepting; safe from any thread.
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

} // namespace vnd::server
