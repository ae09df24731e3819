#pragma once
// One connection of the server (internal to httpserver.cpp and httpsession.cpp): its stream, buffer and
// parser, a deadline on every read, the head read alone and checked before any body is read.

#include "server/dbpool.h"
#include "server/httpserver.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace vnd::server {

class SessionBase;

// What every connection of one server shares.
struct SessionShared
{
    const RpcServer *server = nullptr;
    QByteArray token;
    std::size_t maxBody = TransportLimits::kDefaultMaxBody;
    DbPool *pool = nullptr;                   // the database threads
    std::atomic<unsigned> nextWorker{0};      // the preferred database thread of the next connection
    boost::asio::ssl::context *tls = nullptr; // null: plain HTTP
    std::atomic<bool> stopping{false};

    // The open connections, so that a stop can close the idle ones.
    std::mutex mutex;
    std::unordered_map<SessionBase *, std::weak_ptr<SessionBase>> sessions;
};

class SessionBase : public std::enable_shared_from_this<SessionBase>
{
public:
    virtual ~SessionBase() = default;
    // Closes the connection when it waits for a request; one under way is answered first. Any thread.
    virtual void OnStop() = 0;
};

// Starts serving an accepted connection (TLS when shared.tls is set).
void StartSession(SessionShared &shared, boost::asio::ip::tcp::socket socket);

} // namespace vnd::server
