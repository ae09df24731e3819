#pragma once
// The HTTP/1.1 client of the remote calls, on Boost.Beast: one kept-alive connection (TLS when asked),
// POST requests, a deadline on every step, answers read into one buffer of their announced size.

#include <QByteArray>
#include <QString>
#include <memory>
#include <stdexcept>

namespace vnd
{

// A transport failure: no answer, or no HTTP answer. The reason is Portuguese text for the user.
class HttpTransportError : public std::runtime_error
{
public:
    explicit HttpTransportError(const QString &reason) : std::runtime_error(reason.toStdString()), m_reason(reason) {}
    const QString &Reason() const { return m_reason; }

private:
    QString m_reason;
};

// How the connection is secured: plain HTTP (loopback), or TLS with the server's certificate checked
// against the CA file (the system's authorities when empty) and the host name.
struct TlsSettings
{
    bool enabled = false;
    QString caFile;
};

class HttpClient
{
public:
    HttpClient(QString host, int port, TlsSettings tls = {});
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    void SetTimeouts(int connectSeconds, int ioSeconds);

    struct Response {
        int status = 0;
        QByteArray body;
    };

    // Sends a POST with the given extra header lines (each ending in CR LF) and reads the answer.
    // A kept connection the server closed in the meantime is opened again; a request is sent again only
    // when the server closed the kept connection before answering a single byte of it.
    Response Post(const QByteArray &path, const QByteArray &headers, const QByteArray &body);

    void Close();

private:
    struct Impl;
    enum class Outcome { Done, StaleConnection };
    Outcome Exchange(const QByteArray &request, const QByteArray &body, Response &response);
    void Connect();
    bool ConnectionLooksAlive() const;

    QString m_host;
    int m_port;
    TlsSettings m_tls;
    int m_connectSeconds = 5;
    int m_ioSeconds = 600;
    std::unique_ptr<Impl> m_impl;
    // Whether the server began answering the request being exchanged.
    bool m_answered = false;
};

} // namespace vnd
