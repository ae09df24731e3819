#pragma once
// A small HTTP/1.1 client for the remote calls: one kept-alive connection, POST requests, answers read
// straight into one buffer of their announced size with large reads. A page of the sale list is
// megabytes; read in small pieces, the system calls alone would cost as much as the query.


#include <QByteArray>
#include <QString>
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

class HttpClient
{
public:
    HttpClient(QString host, int port);
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
    enum class Outcome { Done, StaleConnection };
    Outcome Exchange(const QByteArray &request, const QByteArray &body, Response &response);
    void Connect();
    bool ConnectionLooksAlive() const;
    // With `more`, the system holds the bytes back for what follows.
    void SendAll(const char *data, qsizetype size, bool more);
    // Reads at least one more byte into m_in (beyond m_inEnd); false at the end of the stream.
    bool Fill();
    // Reads into [data, data + size) exactly; raises at the end of the stream.
    void ReadExactly(char *data, qsizetype size);
    QByteArray ReadLine();
    void WaitFor(short events);

    QString m_host;
    int m_port;
    int m_connectSeconds = 5;
    int m_ioSeconds = 600;
    int m_fd = -1;
    // Bytes received and not yet consumed: m_in[m_inBegin, m_inEnd).
    QByteArray m_in;
    qsizetype m_inBegin = 0;
    qsizetype m_inEnd = 0;
    // Whether the server began answering the request being exchanged.
    bool m_answered = false;
};

} // namespace vnd
