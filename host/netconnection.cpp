#include "host/netconnection.h"

#include "host/errors.h"
#include "host/rpc.h"
#include "host/session.h"

#include "host/httpclient.h"

struct TNetConnection::Impl
{
    std::unique_ptr<vnd::HttpClient> client;
};

TNetConnection::TNetConnection() : Tls(Quorvel::WebTls), CaFile(Quorvel::WebCaFile), m_impl(std::make_unique<Impl>()) {}
TNetConnection::~TNetConnection() = default;

QString TNetConnection::Address() const { return QStringLiteral("%1:%2").arg(Host).arg(Port); }

void TNetConnection::Open()
{
    if (BeforeConnect)
        BeforeConnect(*this);
    m_impl->client = std::make_unique<vnd::HttpClient>(Host, Port, vnd::TlsSettings{Tls, CaFile});
    m_impl->client->SetTimeouts(5, TimeoutSeconds);
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
    QByteArray headers = "Content-Type: application/json\r\n";
    if (!Token.isEmpty())
        headers += "Authorization: Bearer " + Token.toUtf8() + "\r\n";
    vnd::HttpClient::Response res;
    try {
        res = m_impl->client->Post("/rpc", headers, body);
    } catch (const vnd::HttpTransportError &e) {
        throw EConnectionError(QStringLiteral("Não foi possível comunicar com o servidor de aplicação %1 (%2). "
                                              "Verifique se o servidor está em execução e se a rede está "
                                              "disponível, e tente novamente.")
                                   .arg(Address(), e.Reason()));
    }
    if (res.status == 401)
        throw EConnectionError(
            QStringLiteral("O servidor de aplicação %1 recusou a chave de acesso (token).").arg(Address()));
    if (res.status != 200)
        throw EConnectionError(QStringLiteral("O servidor de aplicação %1 respondeu com o código HTTP %2.")
                                   .arg(Address())
                                   .arg(res.status));
    const vnd::rpc::Response resp = vnd::rpc::DecodeResponse(std::move(res.body));
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
