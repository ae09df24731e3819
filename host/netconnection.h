#pragma once
// Client side of the remote data module: one keep-alive HTTP connection to the application server over
// which methods are called by name with positional arguments.

#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

// The outcome of a remote call before the result check: a value, or the server's failure.
struct TServerResult
{
    bool ok = true;
    QVariant value;
    QString error;
};

class TNetConnection
{
public:
    TNetConnection();
    ~TNetConnection();

    // Runs before each connect; the main screen sets host and port from the session values here.
    std::function<void(TNetConnection &)> BeforeConnect;
    QString Host = QStringLiteral("127.0.0.1");
    int Port = 8044;
    QString Token;
    // TLS, and the authorities its certificate is checked against; the session's values unless set.
    bool Tls;
    QString CaFile;
    // Seconds a call may take before it fails.
    int TimeoutSeconds = 600;
    // Module of the methods ("VND04400.rdmGeraXml").
    QString ServerModule = QStringLiteral("VND04400.rdmGeraXml");

    // Opens the connection and checks that the server answers; EConnectionError naming the address when
    // it does not.
    void Open();
    void Close();
    bool Connected() const { return m_connected; }

    // Calls a method. A transport failure raises EConnectionError; a failure inside the method comes back
    // in the result for CheckResultServ.
    TServerResult Call(const QString &method, const QVariantList &params = {});
    QString Address() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    bool m_connected = false;
    qint64 m_nextId = 1;
};

// Given a remote result: a server failure raises EServerError with the server's message (the running
// handler shows it and ends); otherwise the value.
QVariant CheckResultServ(const TServerResult &result, bool abort = true, int code = 0);
