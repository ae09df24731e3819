// bench-libs: vnd_server_lib vnd_docgen
// rpc_concurrent: 32 clients storing 200 NFC-e sales each (setValidaXml then setVendasNfce, as the import
// does) while 8 readers fetch pages of 500 rows of the sale list (a page every 250 ms each, as people
// paging through the list), on one vnd-server process over loopback:
// the clients' aggregate sales/s against one client storing alone (baseline), and the readers' 95th
// percentile page time against the same readers with no writers. On SQLite, and on PostgreSQL when
// VND_TEST_PG names a server (a database is made there for the run and dropped after).
#include "bench/rpc_common.h"
#include "host/netconnection.h"
#include "host/query.h"
#include "server/docgen/docgen.h"
#include "server/docgen/salepackets.h"
#include "server/schema.h"
#include "server/seed.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

using namespace vnd::server;
using namespace vnd::docgen;

namespace {

constexpr int kClients = 32;
constexpr int kSalesPerClient = 200;
constexpr int kReaders = 8;
constexpr int kPage = 500;
constexpr int kAlonePages = 20; // pages per reader without writers
constexpr int kReaderPauseMs = 250; // between a reader's pages
constexpr quint64 kSeed = 5;

QVariantList Array(const Sale &s)
{
    ArrayOptions o;
    o.branch = s.branchCode;
    o.company = s.companyCode;
    o.registerCode = s.registerCode;
    o.batch = QStringLiteral("1");
    return vnd::docgen::SaleArray(s, o);
}

QVariantList PageParams(qint64 first)
{
    return {QString(), QStringLiteral("T"), QString(), QStringLiteral("T"), QDateTime(QDate(2000, 1, 1), QTime(0, 0)),
            QDateTime(QDate(2099, 12, 31), QTime(0, 0)), QString(), QStringLiteral("T"), QStringLiteral("A_C"), false,
            QString::number(first), QString::number(first + kPage - 1), QString(), QStringLiteral("T"), QString(),
            QStringLiteral("T")};
}

std::unique_ptr<TNetConnection> Connect(int port)
{
    auto net = std::make_unique<TNetConnection>();
    net->Port = port;
    net->Token = QString::fromLatin1(vndbench::kToken);
    net->Open();
    return net;
}

void Store(TNetConnection &net, const QList<QVariantList> &arrays)
{
    for (const QVariantList &array : arrays) {
        CheckResultServ(net.Call(QStringLiteral("setValidaXml"), {QVariant(array)}));
        CheckResultServ(net.Call(QStringLiteral("setVendasNfce"), {QVariant(array)}));
    }
}

// Readers fetching pages (first rows, then further on) until done says so or each read `pages`; the time of
// every page.
std::vector<double> Read(int port, const std::atomic<bool> &done, int pages)
{
    std::vector<double> times;
    std::mutex mutex;
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r) {
        readers.emplace_back([&, r] {
            auto net = Connect(port);
            std::vector<double> mine;
            QElapsedTimer t;
            for (int i = 0; pages > 0 ? i < pages : !done; ++i) {
                t.start();
                const QVariant page = CheckResultServ(net->Call(QStringLiteral("getNotas"), PageParams(qint64((i + r) % 4) * kPage)));
                mine.push_back(t.nsecsElapsed() / 1e9);
                (void)page;
                // A user reads the page before asking for the next one.
                std::this_thread::sleep_for(std::chrono::milliseconds(kReaderPauseMs));
            }
            std::lock_guard lock(mutex);
            times.insert(times.end(), mine.begin(), mine.end());
        });
    }
    for (std::thread &t : readers)
        t.join();
    return times;
}

double P95(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * 95 / 100)];
}

bool Run(const char *name, const QString &url, const QList<QList<QVariantList>> &work, const QList<QVariantList> &alone)
{
    {
        const ServerDb db(url);
        UpgradeSchema(db);
        SeedOptions seed;
        seed.sales = 0;
        seed.seed = kSeed;
        SeedDatabase(db, seed);
    }
    QTemporaryDir dir;
    QProcess server;
    const int port = vndbench::StartServer(server, dir, url);
    if (port <= 0) {
        std::fprintf(stderr, "%s: vnd-server did not start\n", name);
        return false;
    }
    bool ok = true;
    try {
        QElapsedTimer t;
        {
            auto net = Connect(port);
            t.start();
            Store(*net, alone);
        }
        const double aloneRate = alone.size() / (t.nsecsElapsed() / 1e9);
        const std::atomic<bool> never{false};
        const double readAlone = P95(Read(port, never, kAlonePages));

        std::atomic<bool> done{false};
        std::atomic<int> failures{0};
        std::vector<std::thread> clients;
        t.restart();
        for (const QList<QVariantList> &arrays : work) {
            clients.emplace_back([&, arrays] {
                try {
                    auto net = Connect(port);
                    Store(*net, arrays);
                } catch (const std::exception &e) {
                    std::fprintf(stderr, "%s: %s\n", name, e.what());
                    ++failures;
                }
            });
        }
        std::vector<double> readTimes;
        std::thread readers([&] { readTimes = Read(port, done, 0); });
        for (std::thread &c : clients)
            c.join();
        const double elapsed = t.nsecsElapsed() / 1e9;
        done = true;
        readers.join();
        if (failures > 0)
            throw std::runtime_error("a client failed");
        const double rate = kClients * kSalesPerClient / elapsed;
        std::fprintf(stderr, "%s: %d clients x %d sales in %.1f s while %zu pages were read\n", name, kClients,
                     kSalesPerClient, elapsed, readTimes.size());
        std::printf("%s: %.0f sales/s (baseline: %.0f sales/s, ratio: %.2f)\n", name, rate, aloneRate, rate / aloneRate);
        std::printf("%s_p95: %.0f ms (baseline: %.0f ms, ratio: %.2f)\n", name, P95(readTimes) * 1000, readAlone * 1000,
                    readAlone > 0 ? P95(readTimes) / readAlone : 0.0);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
        ok = false;
    }
    vndbench::StopServer(server);
    return ok;
}

// A new database on the PostgreSQL server of VND_TEST_PG, or empty; dropped by DropPostgres.
QString CreatePostgres(const QString &admin, QString &database)
{
    database = QStringLiteral("vnd_bench_%1").arg(QRandomGenerator::system()->generate64(), 0, 16);
    {
        QSqlDatabase db = vnd::OpenDatabaseUrl(admin, QStringLiteral("bench_admin"));
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("CREATE DATABASE %1").arg(database)))
            return {};
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench_admin"));
    QUrl url(admin);
    url.setPath(QLatin1Char('/') + database);
    return url.toString();
}

void DropPostgres(const QString &admin, const QString &database)
{
    {
        QSqlDatabase db = vnd::OpenDatabaseUrl(admin, QStringLiteral("bench_admin"));
        QSqlQuery q(db);
        q.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(database));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench_admin"));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    MasterOptions production;
    production.environment = QStringLiteral("1");
    Generator gen(kSeed, production);
    SaleOptions nfce;
    nfce.kind = DocKind::Nfce;
    nfce.status = NfceStatus::Authorized;
    // Everything the clients send is made before any clock starts.
    QList<QVariantList> alone;
    for (const Sale &s : gen.MakeSales(kSalesPerClient, nfce))
        alone << Array(s);
    QList<QList<QVariantList>> work;
    for (int c = 0; c < kClients; ++c) {
        QList<QVariantList> arrays;
        for (const Sale &s : gen.MakeSales(kSalesPerClient, nfce))
            arrays << Array(s);
        work << arrays;
    }

    QTemporaryDir dir;
    bool ok = Run("rpc_concurrent_sqlite", QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("bench.db")), work, alone);
    const QString admin = qEnvironmentVariable("VND_TEST_PG");
    if (admin.isEmpty()) {
        std::fprintf(stderr, "rpc_concurrent_postgresql: VND_TEST_PG not set, not measured\n");
    } else {
        QString database;
        const QString url = CreatePostgres(admin, database);
        if (url.isEmpty()) {
            std::fprintf(stderr, "rpc_concurrent_postgresql: cannot create a database on %s\n", qPrintable(admin));
            ok = false;
        } else {
            ok = Run("rpc_concurrent_postgresql", url, work, alone) && ok;
            DropPostgres(admin, database);
        }
    }
    return ok ? 0 : 1;
}
