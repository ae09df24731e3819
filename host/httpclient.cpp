#include "host/httpclient.h"

#include <QList>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vnd
{

namespace
{

constexpr qsizetype kReadPiece = 256 * 1024;
constexpr qsizetype kMaxHeaderBytes = 64 * 1024;
constexpr qint64 kMaxBodyBytes = qint64(1) << 31;

// The user reads these in Portuguese; the C library's texts are English under the C locale.
QString SystemReason(int error)
{
    switch (error) {
    case ECONNREFUSED: return QStringLiteral("conexão recusada");
    case ETIMEDOUT: return QStringLiteral("tempo de espera esgotado");
    case ECONNRESET: return QStringLiteral("conexão encerrada pelo servidor");
    case EPIPE: return QStringLiteral("conexão interrompida");
    case EHOSTUNREACH: return QStringLiteral("máquina inacessível");
    case ENETUNREACH: return QStringLiteral("rede inacessível");
    case EADDRNOTAVAIL: return QStringLiteral("endereço indisponível");
    default: return QString::fromLocal8Bit(std::strerror(error));
    }
}

bool HeaderIs(const QByteArray &line, const char *name, QByteArray *value)
{
    const qsizetype colon = line.indexOf(':');
    if (colon < 0 || line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) != 0)
        return false;
    *value = line.mid(colon + 1).trimmed();
    return true;
}

} // namespace

HttpClient::HttpClient(QString host, int port) : m_host(std::move(host)), m_port(port) {}

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
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_inBegin = m_inEnd = 0;
}

void HttpClient::Connect()
{
    Close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int rc = getaddrinfo(m_host.toUtf8().constData(), QByteArray::number(m_port).constData(), &hints, &found);
    if (rc != 0)
        throw HttpTransportError(QStringLiteral("endereço não encontrado: %1").arg(QString::fromLocal8Bit(gai_strerror(rc))));
    int lastError = ECONNREFUSED;
    for (addrinfo *a = found; a && m_fd < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        int ok = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
        if (ok == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            const int ready = ::poll(&p, 1, m_connectSeconds * 1000);
            socklen_t len = sizeof ok;
            if (ready <= 0)
                ok = ready == 0 ? ETIMEDOUT : errno;
            else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &ok, &len) != 0)
                ok = errno;
        }
        if (ok != 0) {
            lastError = ok;
            ::close(fd);
            continue;
        }
        // A call is a small request answered at once: without this, Nagle's algorithm and the peer's
        // delayed acknowledgement hold every call back by tens of milliseconds.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        m_fd = fd;
    }
    freeaddrinfo(found);
    if (m_fd < 0)
        throw HttpTransportError(QStringLiteral("conexão não estabelecida: %1").arg(SystemReason(lastError)));
}

bool HttpClient::ConnectionLooksAlive() const
{
    // Between calls nothing may arrive: a readable socket is one the server closed (or spoke out of turn).
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 0;
}

void HttpClient::WaitFor(short events)
{
    pollfd p{m_fd, events, 0};
    for (;;) {
        const int ready = ::poll(&p, 1, m_ioSeconds * 1000);
        if (ready > 0)
            return;
        if (ready == 0)
            throw HttpTransportError(QStringLiteral("tempo de espera esgotado (%1 s)").arg(m_ioSeconds));
        if (errno != EINTR)
            throw HttpTransportError(SystemReason(errno));
    }
}

void HttpClient::SendAll(const char *data, qsizetype size, bool more)
{
    while (size > 0) {
        const ssize_t n = ::send(m_fd, data, size_t(size), MSG_NOSIGNAL | (more ? MSG_MORE : 0));
        if (n > 0) {
            data += n;
            size -= n;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            WaitFor(POLLOUT);
        } else if (n < 0 && errno != EINTR) {
            throw HttpTransportError(QStringLiteral("falha ao enviar: %1").arg(SystemReason(errno)));
        }
    }
}

bool HttpClient::Fill()
{
    if (m_inBegin == m_inEnd)
        m_inBegin = m_inEnd = 0;
    if (m_in.size() - m_inEnd < kReadPiece / 4) {
        // Keep the unread bytes and make room behind them.
        m_in = m_in.mid(m_inBegin, m_inEnd - m_inBegin);
        m_inEnd -= m_inBegin;
        m_inBegin = 0;
        m_in.resize(m_inEnd + kReadPiece);
    }
    for (;;) {
        const ssize_t n = ::recv(m_fd, m_in.data() + m_inEnd, size_t(m_in.size() - m_inEnd), 0);
        if (n > 0) {
            m_inEnd += n;
            return true;
        }
        if (n == 0)
            return false;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            WaitFor(POLLIN);
        else if (errno == ECONNRESET)
            return false;
        else if (errno != EINTR)
            throw HttpTransportError(QStringLiteral("falha ao receber: %1").arg(SystemReason(errno)));
    }
}

void HttpClient::ReadExactly(char *data, qsizetype size)
{
    const qsizetype buffered = std::min(size, m_inEnd - m_inBegin);
    std::memcpy(data, m_in.constData() + m_inBegin, size_t(buffered));
    m_inBegin += buffered;
    data += buffered;
    size -= buffered;
    // The rest goes straight to its place, as much per call as the system gives.
    while (size > 0) {
        const ssize_t n = ::recv(m_fd, data, size_t(size), 0);
        if (n > 0) {
            data += n;
            size -= n;
        } else if (n == 0 || errno == ECONNRESET) {
            throw HttpTransportError(QStringLiteral("o servidor encerrou a conexão no meio da resposta"));
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            WaitFor(POLLIN);
        } else if (errno != EINTR) {
            throw HttpTransportError(QStringLiteral("falha ao receber: %1").arg(SystemReason(errno)));
        }
    }
}

QByteArray HttpClient::ReadLine()
{
    for (;;) {
        const qsizetype end = m_in.indexOf("\r\n", m_inBegin);
        if (end >= 0 && end < m_inEnd) {
            QByteArray line = m_in.mid(m_inBegin, end - m_inBegin);
            m_inBegin = end + 2;
            return line;
        }
        if (m_inEnd - m_inBegin > kMaxHeaderBytes)
            throw HttpTransportError(QStringLiteral("cabeçalho da resposta grande demais"));
        if (!Fill())
            throw HttpTransportError(QStringLiteral("o servidor encerrou a conexão no meio da resposta"));
    }
}

HttpClient::Outcome HttpClient::Exchange(const QByteArray &request, const QByteArray &body, Response &response)
{
    m_answered = false;
    // The head waits for the body: both leave in one segment when they fit, as the server reads them.
    SendAll(request.constData(), request.size(), true);
    SendAll(body.constData(), body.size(), false);
    if (m_inBegin == m_inEnd && !Fill())
        return Outcome::StaleConnection;
    m_answered = true;

    const QByteArray status = ReadLine();
    const QList<QByteArray> parts = status.split(' ');
    bool ok = false;
    response.status = parts.size() >= 2 && status.startsWith("HTTP/1.") ? parts[1].toInt(&ok) : 0;
    if (!ok)
        throw HttpTransportError(QStringLiteral("resposta que não é HTTP"));
    qint64 length = -1;
    bool chunked = false, close = status.startsWith("HTTP/1.0");
    for (QByteArray line = ReadLine(); !line.isEmpty(); line = ReadLine()) {
        QByteArray value;
        if (HeaderIs(line, "Content-Length", &value)) {
            length = value.toLongLong(&ok);
            if (!ok || length < 0 || length >= kMaxBodyBytes)
                throw HttpTransportError(QStringLiteral("tamanho de resposta inválido"));
        } else if (HeaderIs(line, "Transfer-Encoding", &value)) {
            chunked = value.compare("chunked", Qt::CaseInsensitive) == 0;
        } else if (HeaderIs(line, "Connection", &value)) {
            close = value.compare("close", Qt::CaseInsensitive) == 0;
        }
    }

    response.body.clear();
    if (chunked) {
        for (;;) {
            const qint64 size = ReadLine().split(';').first().trimmed().toLongLong(&ok, 16);
            if (!ok || size < 0 || response.body.size() + size >= kMaxBodyBytes)
                throw HttpTransportError(QStringLiteral("bloco de resposta inválido"));
            if (size == 0)
                break;
            const qsizetype at = response.body.size();
            response.body.resize(at + qsizetype(size));
            ReadExactly(response.body.data() + at, qsizetype(size));
            ReadLine();
        }
        while (!ReadLine().isEmpty()) {
        }
    } else if (length >= 0) {
        response.body.resize(qsizetype(length));
        ReadExactly(response.body.data(), qsizetype(length));
    } else {
        // No length: the answer runs to the end of the connection.
        close = true;
        do {
            response.body.append(m_in.constData() + m_inBegin, m_inEnd - m_inBegin);
            m_inBegin = m_inEnd;
        } while (Fill());
    }
    if (close)
        Close();
    return Outcome::Done;
}

HttpClient::Response HttpClient::Post(const QByteArray &path, const QByteArray &headers, const QByteArray &body)
{
    QByteArray request = "POST " + path + " HTTP/1.1\r\nHost: " + m_host.toUtf8() + ':' +
                         QByteArray::number(m_port) + "\r\nConnection: keep-alive\r\nContent-Length: " +
                         QByteArray::number(body.size()) + "\r\n" + headers + "\r\n";
    bool reused = m_fd >= 0 && ConnectionLooksAlive();
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
