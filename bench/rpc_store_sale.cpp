// bench-libs: vnd_server_lib vnd_docgen
// rpc_store_sale: one NFC-e sale stored the way the import does it, setValidaXml then setVendasNfce on a
// vnd-server process over loopback (sales/s), against inserting the same kind of sale straight into the
// same SQLite database in this process (one transaction per sale in both), the two sides taking turns.
// The figure is the steady pace of a batch: each side first stores a few dozen sales off the clock (the
// connection's first calls, cold caches and the database file's first pages would otherwise weigh on
// the few hundred sales timed, the remote side's more than the direct one's).
#include "bench/rpc_common.h"
#include "host/hostutil.h"
#include "host/netconnection.h"
#include "server/docgen/docgen.h"
#include "server/docgen/salepackets.h"
#include "server/salestore.h"
#include "server/schema.h"
#include "server/seed.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

using namespace vnd::server;
using namespace vnd::docgen;

namespace {

constexpr int kWarmup = 50;
constexpr int kSales = 600;
constexpr int kRounds = 12;
constexpr quint64 kSeed = 3;

// The ten-item array the NFC-e reader sends for the sale, with the branch and register it found.
QVariantList SaleArray(const Sale &s)
{
    ArrayOptions o;
    o.branch = s.branchCode;
    o.company = s.companyCode;
    o.registerCode = s.registerCode;
    o.batch = QStringLiteral("1");
    return vnd::docgen::SaleArray(s, o);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString url = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("bench.db"));
    const ServerDb db(url);
    UpgradeSchema(db);
    SeedOptions seed;
    seed.sales = 0;
    seed.seed = kSeed;
    SeedDatabase(db, seed);

    MasterOptions production;
    production.environment = QStringLiteral("1");
    Generator gen(kSeed, production);
    SaleOptions nfce;
    nfce.kind = DocKind::Nfce;
    nfce.status = NfceStatus::Authorized;
    // The first kWarmup of each side's sales are stored off the clock.
    const QList<Sale> remoteSales = gen.MakeSales(kWarmup + kSales, nfce);
    const QList<Sale> directSales = gen.MakeSales(kWarmup + kSales, nfce);
    // Everything a side sends or writes is made before its clock starts.
    QList<QVariantList> arrays;
    for (const Sale &s : remoteSales)
        arrays << SaleArray(s);
    QList<SaleRows> rows;
    for (const Sale &s : directSales)
        rows << RowsFor(gen, s, 3);

    QProcess server;
    TNetConnection net;
    if (!vndbench::StartAndConnect(server, dir, url, net, "rpc_store_sale"))
        return 1;

    // The two sides take turns, a few dozen sales at a time, so that a change of the machine's pace (or of
    // the disk's) during the run weighs on both alike; each side's figure is its total time.
    auto storeRemote = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            CheckResultServ(net.Call(QStringLiteral("setValidaXml"), {QVariant(arrays[i])}));
            CheckResultServ(net.Call(QStringLiteral("setVendasNfce"), {QVariant(arrays[i])}));
        }
    };
    auto storeDirect = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            const SaleRows &d = rows[i];
            db.Write([&] { InsertVenda(db, d.row, d.items, d.payments); });
        }
    };
    storeRemote(0, kWarmup);
    storeDirect(0, kWarmup);
    double remote = 0, direct = 0;
    QElapsedTimer t;
    for (int round = 0; round < kRounds; ++round) {
        const int from = kWarmup + round * kSales / kRounds, to = kWarmup + (round + 1) * kSales / kRounds;
        t.start();
        storeRemote(from, to);
        remote += t.nsecsElapsed() / 1e9;
        t.start();
        storeDirect(from, to);
        direct += t.nsecsElapsed() / 1e9;
    }
    vndbench::StopServer(server);

    QSqlQuery count = db.Exec(QStringLiteral("SELECT COUNT(*) FROM VENDA"));
    QSqlQuery problems = db.Exec(QStringLiteral("SELECT COUNT(*) FROM PREVALIDXML"));
    if (!count.next() || count.value(0).toInt() != 2 * (kWarmup + kSales) || !problems.next() || problems.value(0).toInt() != 0) {
        std::fprintf(stderr, "rpc_store_sale: the sales were not all stored cleanly\n");
        return 1;
    }
    std::fprintf(stderr, "rpc_store_sale: %.1f ms per remote sale, %.1f ms per direct insert\n", remote * 1000 / kSales,
                 direct * 1000 / kSales);
    std::printf("rpc_store_sale: %.0f sales/s (baseline: %.0f sales/s, ratio: %.2f)\n", kSales / remote, kSales / direct,
                direct / remote);
    return 0;
}
