#include "host/netconnection.h"

#include "host/errors.h"
#include "host/rpc.h"
#include "host/session.h"

#include <httplib.h>

struct TNetConnection::Impl
{
    std::unique_ptr<httplib::Client> client;
};

TNetConnection::TNetConnection() : m_impl(std::make_unique<Impl>()) {}
TNetConnection::~TNetConnection() = default;

QString TNetConnection::Address() const { return QStringLiteral("%1:%2").arg(Host).arg(Port); }

void TNetConnection::Open()
{
    if (BeforeConnect)
        BeforeConnect(*this);
    m_impl->client = std::make_unique<httplib::Client>(Host.toStdString(), Port);
    m_impl->client->set_keep_alive(true);
    // A call is a small request answered at once: without this, Nagle's algorithm and the peer's delayed
    // acknowledgement hold every call back by tens of milliseconds.
    m_impl->client->set_tcp_nodelay(true);
    m_impl->client->set_connection_timeout(5, 0);
    m_impl->client->set_read_timeout(TimeoutSeconds, 0);
    m_impl->client->set_write_timeout(TimeoutSeconds, 0);
    m_connected = true;
    try {
        Call(QStringLiteral("ping"));
    } catch (...) {
        m_connected = false;
        m_impl->client.reset();
        throw;
    }
}

void TNetConnection::Close()
{
    m_impl->client.reset();
    m_connected = false;
}

TServerResult TNetConnection::Call(const QString &method, const QVariantList &params)
{
    if (!m_connected)
        Open();
    const QByteArray body = vnd::rpc::EncodeRequest(m_nextId++, ServerModule + QLatin1Char('.') + method, params);
    httplib::Request req;
    req.method = "POST";
    req.path = "/rpc";
    req.headers.emplace("Content-Type", "application/json");
    if (!Token.isEmpty())
        req.headers.emplace("Authorization", "Bearer " + Token.toStdString());
    req.body.assign(body.constData(), size_t(body.size()));
    // The answer goes straight into one buffer of its announced size: a page of the sale list is
    // megabytes, which a growing string would copy several times over.
    QByteArray received;
    req.content_receiver = [&received](const char *data, size_t length, uint64_t offset, uint64_t total) {
        if (offset == 0) {
            received.clear(); // a retried request starts its answer over
            if (total > 0 && total < (uint64_t(1) << 31))
                received.reserve(qsizetype(total));
        }
        received.append(data, qsizetype(length));
        return true;
    };
    auto res = m_impl->client->send(req);
    if (!res) {
        throw EConnectionError(QStringLiteral("Não foi possível comunicar com o servidor de aplicação %1 (%2).")
                                   .arg(Address(), QString::fromStdString(httplib::to_string(res.error()))));
    }
    if (res->status == 401)
        throw EConnectionError(
            QStringLiteral("O servidor de aplicação %1 recusou a chave de acesso (token).").arg(Address()));
    if (res->status != 200)
        throw EConnectionError(QStringLiteral("O servidor de aplicação %1 respondeu com o código HTTP %2.")
                                   .arg(Address())
                                   .arg(res->status));
    const vnd::rpc::Response resp = vnd::rpc::DecodeResponse(std::move(received));
    TServerResult out;
    out.ok = resp.ok;
    out.value = resp.result;
    out.error = resp.message;
    return out;
}

QVariant CheckResultServ(const TServerResult &result, bool, int)
{
    if (!result.ok)
        throw EServerError(result.error.isEmpty() ? QStringLiteral("Erro no servidor de aplicação.") : result.error);
    return result.value;
}
