// Many hosts importing at once: eight clients, two hundred sales each, some sent twice by two clients.
#include "server/docgen/docgen.h"
#include "server/docgen/salepackets.h"
#include "tests/server/servertest.h"

#include <QSqlQuery>
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
