// rpc_hostile: a vnd-server process held by hostile peers over loopback: 1000 idle connections, 64 that
// send their head a byte at a time and eight that announce 100 MB bodies without the token and try to
// send them. Figures: the slowest of 50 pings made meanwhile (baseline: the slowest of 50 pings on the
// quiet server), and the server's resident memory afterwards (baseline: at its start).
#include "bench/rpc_common.h"
#include "host/netconnection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int Dial(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Resident memory of a process in MB, from /proc.
double ResidentMb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// The slowest of n pings, each on a connection of its own, in ms.
double SlowestPing(int port, int n)
{
    double slowest = 0;
    for (int i = 0; i < n; ++i) {
        TNetConnection net;
        net.Port = port;
        net.Token = QString::fromLatin1(vndbench::kToken);
        net.TimeoutSeconds = 30;
        QElapsedTimer t;
        t.start();
        net.Open(); // Open is the ping
        slowest = std::max(slowest, t.nsecsElapsed() / 1e6);
        QThread::msleep(20);
    }
    return slowest;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    QTemporaryDir dir;
    QProcess server;
    const int port = vndbench::StartServer(server, dir, QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("bench.db")));
    if (port <= 0) {
        std::fprintf(stderr, "rpc_hostile: vnd-server did not start\n");
        return 1;
    }
    const double quiet = SlowestPing(port, 50);
    const double startMb = ResidentMb(server.processId());

    std::vector<int> idle, slow;
    for (int i = 0; i < 1000; ++i)
        idle.push_back(Dial(port));
    for (int i = 0; i < 64; ++i)
        slow.push_back(Dial(port));
    // Eight senders of unauthenticated 100 MB bodies, each pushing as long as the server lets it.
    std::vector<std::thread> senders;
    for (int i = 0; i < 8; ++i) {
        senders.emplace_back([port] {
            const int fd = Dial(port);
            const QByteArray head = "POST /rpc HTTP/1.1\r\nHost: x\r\nContent-Length: 104857600\r\n\r\n";
            ::send(fd, head.constData(), size_t(head.size()), MSG_NOSIGNAL);
            const QByteArray chunk(1024 * 1024, 'x');
            for (int mb = 0; mb < 100; ++mb)
                if (::send(fd, chunk.constData(), size_t(chunk.size()), MSG_NOSIGNAL) <= 0)
                    break;
            ::close(fd);
        });
    }
    // The slow ones send a byte a second while the pings are made.
    std::atomic<bool> done{false};
    std::thread dripper([&] {
        const QByteArray head = "POST /rpc HTTP/1.1\r\nHost: x\r\n";
        for (int second = 0; !done && second < 60; ++second) {
            for (int fd : slow)
                ::send(fd, head.constData() + second % head.size(), 1, MSG_NOSIGNAL);
            QThread::msleep(1000);
        }
    });
    const double held = SlowestPing(port, 50);
    for (std::thread &t : senders)
        t.join();
    const double afterMb = ResidentMb(server.processId());
    done = true;
    dripper.join();
    for (int fd : idle)
        ::close(fd);
    for (int fd : slow)
        ::close(fd);
    vndbench::StopServer(server);
    if (std::count(idle.begin(), idle.end(), -1) > 0) {
        std::fprintf(stderr, "rpc_hostile: not every idle connection could be opened\n");
        return 1;
    }
    std::printf("rpc_hostile_ping: %.1f ms (baseline: %.1f ms, ratio: %.2f)\n", held, quiet, held / quiet);
    std::printf("rpc_hostile_memory: %.0f MB (baseline: %.0f MB, ratio: %.2f)\n", afterMb, startMb, afterMb / startMb);
    return 0;
}
