// Many hosts importing at once: eight clients, two hundred sales each, some sent twice by two clients.
#include "server/docgen/docgen.h"
#include "server/docgen/salepackets.h"
#include "tests/server/servertest.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

using namespace servertest;
using namespace vnd::docgen;

namespace {
class ConcurrencyTest : public EngineTest
{
};
} // namespace

TEST_P(ConcurrencyTest, EightClientsStoreTwoHundredSalesEachWithNoneLostOrDoubled)
{
    constexpr int kClients = 8, kSales = 200;
    vndtest::ServerFixture &server =
        Server([](vndtest::ServerFixture &s) { s.Seed({QStringLiteral("--sales"), QStringLiteral("0"), QStringLiteral("--seed"), QStringLiteral("11")}); });
    Generator gen(11);
    QList<QVariantList> arrays;
    QList<const char *> methods;
    qint64 items = 0;
    for (const Sale &s : gen.MakeSales(kClients * kSales)) {
        ArrayOptions o;
        o.branch = s.branchCode;
        o.company = s.companyCode;
        o.registerCode = s.kind == DocKind::Nfce ? s.registerCode : QString();
        arrays << SaleArray(s, o);
        methods << (s.kind == DocKind::Nfce ? "setVendasNfce" : "setVendas");
        items += s.items.size();
    }

    std::mutex lock;
    QStringList failures;
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&, c] {
            try {
                auto net = server.Connect();
                for (int i = 0; i < kSales; ++i) {
                    const int own = c * kSales + i;
                    CheckResultServ(net->Call(QString::fromLatin1(methods[own]), {QVariant(arrays[own])}));
                    // Every tenth sale is also sent by the next client, racing the owner.
                    if (i % 10 == 0) {
                        const int other = ((c + 1) % kClients) * kSales + i;
                        CheckResultServ(net->Call(QString::fromLatin1(methods[other]), {QVariant(arrays[other])}));
                    }
                }
            } catch (const Exception &e) {
                std::lock_guard<std::mutex> guard(lock);
                failures << e.Message();
            }
        });
    for (auto &t : clients)
        t.join();
    EXPECT_TRUE(failures.isEmpty()) << failures.join(QLatin1Char('\n')).toStdString();

    const vnd::server::ServerDb db(server.DbUrl());
    QSqlQuery q = db.Exec(QStringLiteral("SELECT COUNT(*), COUNT(DISTINCT NRACESSONFCE) FROM VENDA"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), kClients * kSales);
    EXPECT_EQ(q.value(1).toInt(), kClients * kSales);
    QSqlQuery i = db.Exec(QStringLiteral("SELECT COUNT(*) FROM VENDAITEM"));
    ASSERT_TRUE(i.next());
    EXPECT_EQ(i.value(0).toLongLong(), items);
}

INSTANTIATE_TEST_SUITE_P(Engines, ConcurrencyTest, testing::Values(Engine::SQLite, Engine::PostgreSQL), EngineName);

// The server's SQLite writers share transactions: while one writer's transaction runs, the others queue,
// and the next one carries all of them. Each must still be answered for its own work alone.
TEST(SqliteWriters, QueuedWritersShareATransactionAndEachIsAnsweredForItsOwnWork)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const vnd::server::ServerDb db(QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("grupo.db")));
    db.Exec(QStringLiteral("CREATE TABLE T (N INTEGER PRIMARY KEY, FEITO TEXT)"));

    constexpr int kWriters = 24;
    std::atomic<int> queued{0};
    std::atomic<int> carriedByAnother{0};
    std::atomic<bool> first{true};
    std::vector<QString> outcome(kWriters);
    std::vector<int> syncSeen(kWriters, -1); // the connection's sync setting each writer's work ran under
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            const auto caller = std::this_thread::get_id();
            try {
                ++queued;
                // Every fourth writer's rows may wait for the next commit to reach the disk; the others'
                // must be on disk at their own, so the two never share a transaction.
                const auto write = [&](const std::function<void()> &fn) {
                    if (w % 4 == 3)
                        db.WriteDeferredSync(fn);
                    else
                        db.Write(fn);
                };
                write([&] {
                    if (std::this_thread::get_id() != caller)
                        ++carriedByAnother;
                    // The first transaction lasts until every other writer waits behind it.
                    if (first.exchange(false)) {
                        for (int i = 0; i < 400 && queued < kWriters; ++i)
                            std::this_thread::sleep_for(std::chrono::milliseconds(5));
                        std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    }
                    QSqlQuery sync = db.Exec(QStringLiteral("PRAGMA synchronous"));
                    syncSeen[size_t(w)] = sync.next() ? sync.value(0).toInt() : -1;
                    db.Exec(QStringLiteral("INSERT INTO T (N, FEITO) VALUES (?, 'S')"), {w});
                    if (w % 3 == 1)
                        throw Exception(QStringLiteral("recusada %1").arg(w));
                    if (w % 3 == 2) // a database error: the primary key given twice
                        db.Exec(QStringLiteral("INSERT INTO T (N, FEITO) VALUES (?, 'S')"), {w});
                });
                outcome[size_t(w)] = QStringLiteral("gravada");
            } catch (const Exception &e) {
                outcome[size_t(w)] = e.Message();
            }
        });
    for (std::thread &t : writers)
        t.join();

    EXPECT_GT(carriedByAnother.load(), 0) << "no writer's work was carried by another's transaction";
    QSet<int> stored;
    for (QSqlQuery q = db.Exec(QStringLiteral("SELECT N FROM T")); q.next();)
        stored.insert(q.value(0).toInt());
    for (int w = 0; w < kWriters; ++w) {
        SCOPED_TRACE(w);
        EXPECT_EQ(syncSeen[size_t(w)], w % 4 == 3 ? 1 : 2) << "NORMAL is 1, FULL is 2";
        if (w % 3 == 0) {
            EXPECT_EQ(outcome[size_t(w)], QStringLiteral("gravada"));
            EXPECT_TRUE(stored.contains(w));
        } else {
            EXPECT_FALSE(stored.contains(w)); // its first row went back with its failure, the others' stayed
            if (w % 3 == 1)
                EXPECT_EQ(outcome[size_t(w)], QStringLiteral("recusada %1").arg(w));
            else
                EXPECT_TRUE(outcome[size_t(w)].contains(QLatin1String("UNIQUE"), Qt::CaseInsensitive)) << outcome[size_t(w)].toStdString();
        }
    }
    // The connection is back to autocommit: a later write stands alone.
    db.Write([&] { db.Exec(QStringLiteral("INSERT INTO T (N, FEITO) VALUES (100, 'S')")); });
    QSqlQuery last = db.Exec(QStringLiteral("SELECT COUNT(*) FROM T WHERE N = 100"));
    ASSERT_TRUE(last.next());
    EXPECT_EQ(last.value(0).toInt(), 1);
}

