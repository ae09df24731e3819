#pragma once
// What the rpc_* figures share: a vnd-server process on a database the figure prepared.

#include "host/netconnection.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>

namespace vndbench {

inline const char *kToken = "bench-token";

// Starts vnd-server on the database (token file and export root in dir) and returns its port, or 0
// when it did not start. The server's log goes nowhere unless VND_BENCH_SERVER_LOG names a file.
inline int StartServer(QProcess &server, const QTemporaryDir &dir, const QString &url)
{
    const QString bin =
        qEnvironmentVariable("VND_BINARY_DIR", QStringLiteral(VND_BINARY_DIR)) + QStringLiteral("/server/vnd-server");
    QFile token(dir.filePath(QStringLiteral("token")));
    if (!token.open(QIODevice::WriteOnly) || token.write(kToken) < 0)
        return 0;
    token.close();
    token.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    const QString log = qEnvironmentVariable("VND_BENCH_SERVER_LOG"); // for looking into a figure
    server.setStandardErrorFile(log.isEmpty() ? QProcess::nullDevice() : log);
    server.start(bin, {QStringLiteral("--db"), url, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                       QStringLiteral("--token-file"), token.fileName(), QStringLiteral("--export-root"),
                       dir.filePath(QStringLiteral("xml"))});
    if (!server.waitForReadyRead(60000))
        return 0;
    return QString::fromUtf8(server.readLine()).trimmed().section(QLatin1Char(':'), -1).toInt();
}

inline void StopServer(QProcess &server)
{
    ::kill(pid_t(server.processId()), SIGTERM);
    server.waitForFinished(15000);
}

// StartServer, then net opened on it with the token; false (said on standard error) when the server did
// not start.
inline bool StartAndConnect(QProcess &server, const QTemporaryDir &dir, const QString &url, TNetConnection &net,
                            const char *figure)
{
    const int port = StartServer(server, dir, url);
    if (port <= 0) {
        std::fprintf(stderr, "%s: vnd-server did not start\n", figure);
        return false;
    }
    net.Port = port;
    net.Token = QString::fromLatin1(kToken);
    net.Open();
    return true;
}

} // namespace vndbench
