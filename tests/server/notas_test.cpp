// getNotas and getNotasPedRej against a dataset whose answers are known, on both engines.
#include "host/errors.h"
#include "server/notas.h"
#include "tests/server/dataset.h"
#include "tests/server/servertest.h"

#include <QSet>

#include <limits>

using namespace servertest;

namespace {

class NotasTest : public EngineTest
{
protected:
    vndtest::ServerFixture &Prepared()
    {
        return Server(PrepareFilterDataset);
    }

    static NotasQuery March()
    {
        NotasQuery q;
        q.de = QDate(2024, 3, 1);
        q.ate = QDate(2024, 3, 3);
        return q;
    }

    // The sale ids of one page, in the order the server sent them.
    QList<int> Page(const NotasQuery &q, qint64 first = 0, qint64 last = 500)
    {
        TClientDataSet cds;
        cds.SetData(vnd::rpc::ToPacket(CheckResultServ(Prepared().Connection().Call(QStringLiteral("getNotas"),
                                                                                    NotasParams(q, first, last)))));
        QList<int> ids;
        for (cds.First(); !cds.Eof(); cds.Next())
            ids << cds.FieldByName(QStringLiteral("NRSEQVENDA")).AsString().toInt();
        return ids;
    }

    QString Failure(const QVariantList &params, const char *method = "getNotas")
    {
        const TServerResult r = Prepared().Connection().Call(QString::fromLatin1(method), params);
        EXPECT_FALSE(r.ok);
        return r.error;
    }
};

} // namespace

TEST_P(NotasTest, ListsTheFilteredSalesInTheStableOrder)
{
    const NotasQuery q = March();
    EXPECT_EQ(Page(q), QList<int>({1, 2, 10, 3, 4, 5}));
    // The period takes whole days: midnight of the first and the last second of the last.
    NotasQuery oneDay = q;
    oneDay.ate = oneDay.de;
    EXPECT_EQ(Page(oneDay), QList<int>({1, 2}));
    // Pending and rejected NFC-e are never listed; only the warning call sees them.
    for (int id : Page(q))
        EXPECT_NE(id, 8);
}

// Full pages asked one after the other go on from the last row handed out (read from the index after
// it); they give what one page gives, and a page asked again, or alone, gives the same rows.
TEST_P(NotasTest, PagesInSequenceGiveTheWholeListOnce)
{
    const NotasQuery q = March();
    const QList<int> whole = Page(q);
    EXPECT_EQ(Page(q, 0, 1) + Page(q, 2, 3) + Page(q, 4, 5), whole);
    EXPECT_EQ(Page(q, 2, 3), whole.mid(2, 2));
    EXPECT_EQ(Page(q, 4, 500), whole.mid(4));
    EXPECT_EQ(Page(q, 3, 4), whole.mid(3, 2)); // no page ended at row 2: numbered by its place
}

TEST_P(NotasTest, SituationSelectsAuthorisedCancelledOrBoth)
{
    NotasQuery q = March();
    q.situacao = QStringLiteral("A");
    EXPECT_EQ(Page(q), QList<int>({1, 3, 4, 5}));
    q.situacao = QStringLiteral("_C");
    EXPECT_EQ(Page(q), QList<int>({2, 10}));
    q.situacao = QStringLiteral("X");
    EXPECT_THAT(Failure(NotasParams(q, 0, 500)).toStdString(), testing::HasSubstr("Situação da venda inválida"));
}

TEST_P(NotasTest, BranchAndRegisterListsMatchWholeCodesOnly)
{
    NotasQuery q = March();
    q.filial = QStringLiteral("_0001_");
    EXPECT_EQ(Page(q), QList<int>({1, 2, 10, 3}));
    q.filial = QStringLiteral("_00010_"); // holds "0001" and "0010" as substrings, neither as a code
    EXPECT_TRUE(Page(q).isEmpty());
    q.filial = QStringLiteral("_0010__0002_");
    EXPECT_EQ(Page(q), QList<int>({4, 5}));

    q.filial = QStringLiteral("T");
    q.caixa = QStringLiteral("_0002001_"); // branch 0002, register 001: not register 001 of other branches
    EXPECT_EQ(Page(q), QList<int>({4}));
    q.caixa = QStringLiteral("_0001002__0010001_");
    EXPECT_EQ(Page(q), QList<int>({10, 3, 5}));
    // Both lists apply together.
    q.filial = QStringLiteral("_0001_");
    EXPECT_EQ(Page(q), QList<int>({10, 3}));
}

TEST_P(NotasTest, CustomerAndReceiptTypeLists)
{
    NotasQuery q = March();
    q.cliente = QStringLiteral("_C10_");
    EXPECT_EQ(Page(q), QList<int>({2}));
    q.cliente = QStringLiteral("_C1_");
    EXPECT_EQ(Page(q), QList<int>({1, 5}));
    // A widened customer list with thousands of codes still matches exactly.
    QString many;
    for (int i = 0; i < 3000; ++i)
        many += QStringLiteral("_X%1_").arg(i);
    q.cliente = many + QStringLiteral("_C100_");
    EXPECT_EQ(Page(q), QList<int>({3}));
    q.cliente = many + QStringLiteral("_C10");
    EXPECT_THAT(Failure(NotasParams(q, 0, 500)).toStdString(), testing::HasSubstr("Seleção de clientes inválida"));

    q.cliente = QStringLiteral("T");
    q.tipoRece = QStringLiteral("_002_"); // one of the sale's payments is enough
    EXPECT_EQ(Page(q), QList<int>({2, 3}));
    q.tipoRece = QStringLiteral("_010_");
    EXPECT_EQ(Page(q), QList<int>({4}));
    q.tipoRece = QStringLiteral("_001__010_");
    EXPECT_EQ(Page(q), QList<int>({1, 10, 3, 4, 5}));
}

TEST_P(NotasTest, InvoiceNumberIgnoresLeadingZeros)
{
    NotasQuery q = March();
    q.notaFiscal = QStringLiteral("123"); // NFC-e 000000123 and SAT 000123
    EXPECT_EQ(Page(q), QList<int>({1, 3}));
    q.notaFiscal = QStringLiteral("1234");
    EXPECT_EQ(Page(q), QList<int>({4}));
    q.notaFiscal = QStringLiteral("12");
    EXPECT_TRUE(Page(q).isEmpty());
    q.notaFiscal = QStringLiteral("12' OR '1'='1");
    EXPECT_THAT(Failure(NotasParams(q, 0, 500)).toStdString(), testing::HasSubstr("Número da nota fiscal inválido"));
}

TEST_P(NotasTest, RowsCarryTheSaleListFieldsExactly)
{
    TClientDataSet page;
    page.SetData(vnd::rpc::ToPacket(
        CheckResultServ(Prepared().Connection().Call(QStringLiteral("getNotas"), NotasParams(March(), 0, 0)))));
    TClientDataSet expected;
    vnd::server::DefineNotasFields(expected);
    ASSERT_EQ(page.FieldCount(), expected.FieldCount());
    for (int i = 0; i < expected.FieldCount(); ++i) {
        EXPECT_EQ(page.FieldDefs()[i].name, expected.FieldDefs()[i].name);
        EXPECT_EQ(page.FieldDefs()[i].type, expected.FieldDefs()[i].type) << i;
        EXPECT_EQ(page.FieldDefs()[i].size, expected.FieldDefs()[i].size) << i;
    }
    ASSERT_EQ(page.RecordCount(), 1);
    EXPECT_EQ(page.FieldByName(QStringLiteral("IDCHECK")).AsString(), QStringLiteral("N"));
    EXPECT_EQ(page.FieldByName(QStringLiteral("DTENTRVENDA")).AsDateTime(), QDateTime(QDate(2024, 3, 1), QTime(0, 0)));
    EXPECT_EQ(page.FieldByName(QStringLiteral("NRACESSONFCE")).AsString(), FilterDataset()[0].Key());
    EXPECT_EQ(page.FieldByName(QStringLiteral("CDCLIENTE")).AsString(), QStringLiteral("C1"));
    EXPECT_TRUE(page.FieldByName(QStringLiteral("DSARQXMLNFCE")).AsString().contains(QStringLiteral("ação")));
    EXPECT_TRUE(page.FieldByName(QStringLiteral("DTHRPROTOCOCANC")).IsNull());
}

// The server writes its pages without a record set; what it sends must be what a record set holding the
// same rows would send, byte for byte (null dates, accented documents, the tick mark).
TEST_P(NotasTest, ThePageIsThePacketOfTheSameRowsInARecordSet)
{
    const TServerResult answer = Prepared().Connection().Call(QStringLiteral("getNotas"), NotasParams(March(), 0, 500));
    const TDataPacket sent = vnd::rpc::ToPacket(CheckResultServ(answer));
    vnd::server::SaleFilter filter;
    filter.from = March().de;
    filter.to = March().ate;
    const vnd::server::ServerDb db(Prepared().DbUrl());
    TClientDataSet direct;
    vnd::server::QueryNotasPage(db, filter, 0, 500, direct);
    ASSERT_GT(direct.RecordCount(), 2);
    EXPECT_EQ(sent.json, direct.Data().json);
}

TEST_P(NotasTest, PendingAndRejectedNfceOfTheFilter)
{
    auto pending = [&](const NotasQuery &q) {
        TClientDataSet cds;
        cds.SetData(vnd::rpc::ToPacket(
            CheckResultServ(Prepared().Connection().Call(QStringLiteral("getNotasPedRej"), PedRejParams(q)))));
        QList<int> ids;
        for (cds.First(); !cds.Eof(); cds.Next()) {
            ids << cds.FieldByName(QStringLiteral("NRSEQVENDA")).AsString().toInt();
            EXPECT_TRUE(cds.FieldByName(QStringLiteral("DSARQXMLNFCE")).IsNull());
        }
        return ids;
    };
    NotasQuery q = March();
    EXPECT_EQ(pending(q), QList<int>({8, 9}));
    q.filial = QStringLiteral("_0001_");
    EXPECT_EQ(pending(q), QList<int>({8}));
    q.de = q.ate = QDate(2024, 3, 3);
    EXPECT_TRUE(pending(q).isEmpty());
}

TEST_P(NotasTest, ArgumentErrorsNameTheMethodAndParameter)
{
    NotasQuery q = March();
    QVariantList params = NotasParams(q, 0, 500);
    EXPECT_THAT(Failure(params.mid(0, 3)).toStdString(), testing::HasSubstr("O método getNotas espera 16 itens e recebeu 3"));
    QVariantList wrong = params;
    wrong[4] = 12;
    EXPECT_THAT(Failure(wrong).toStdString(), testing::HasSubstr("Parâmetro 5 (data inicial) do método getNotas deve ser uma data"));
    wrong = params;
    wrong[9] = QStringLiteral("false");
    EXPECT_THAT(Failure(wrong).toStdString(), testing::HasSubstr("Parâmetro 10 (reservado) do método getNotas deve ser um booleano"));
    wrong = params;
    wrong[0] = QString();
    wrong[1] = QString(); // a list filter that is neither a list nor "T"
    EXPECT_THAT(Failure(wrong).toStdString(), testing::HasSubstr("Filtro de filiais sem seleção"));
    q.ate = QDate(2024, 2, 1);
    EXPECT_THAT(Failure(NotasParams(q, 0, 500)).toStdString(), testing::HasSubstr("Período inválido"));
    EXPECT_THAT(Failure(NotasParams(March(), 0, 10000000)).toStdString(), testing::HasSubstr("Página grande demais"));
    // The largest row number does not wrap the count around.
    EXPECT_THAT(Failure(NotasParams(March(), 0, std::numeric_limits<qint64>::max())).toStdString(),
                testing::HasSubstr("Página grande demais: 9223372036854775808 linhas"));
    // Dates exactly as specified: a day, or a day and a valid time; nothing around them.
    for (const char *date : {"2024-03-01T10:00:00x", "2024-03-01 10:00:00", "2024-03-01T25:00:00", "2024-03-01T10:00",
                             " 2024-03-01", "2024-03-01Z"}) {
        wrong = params;
        wrong[4] = QString::fromLatin1(date);
        EXPECT_THAT(Failure(wrong).toStdString(), testing::HasSubstr("Parâmetro 5 (data inicial) do método getNotas: \""))
            << date;
    }
    wrong = params;
    wrong[4] = QStringLiteral("2024-03-01T23:59:59");
    EXPECT_TRUE(CheckResultServ(Prepared().Connection().Call(QStringLiteral("getNotas"), wrong)).isValid());
    // A NUL never reaches a statement (PostgreSQL refuses it in text): the argument is named.
    const struct
    {
        int index;
        QString value;
        const char *message;
    } nul[] = {
        {0, QStringLiteral("_0001_") + QChar(0), "Parâmetro 1 (filiais) do método getNotas contém o caractere nulo (NUL)"},
        {6, QStringLiteral("12") + QChar(0), "Parâmetro 7 (nota fiscal) do método getNotas contém o caractere nulo (NUL)"},
        {12, QChar(0) + QStringLiteral("_1_"), "Parâmetro 13 (clientes) do método getNotas contém o caractere nulo (NUL)"},
    };
    for (const auto &c : nul) {
        wrong = params;
        wrong[c.index] = c.value;
        wrong[c.index + 1] = QString();
        EXPECT_THAT(Failure(wrong).toStdString(), testing::HasSubstr(c.message));
    }
    // Hostile selection texts are values: quotes and SQL never reach the statement.
    q = March();
    q.filial = QStringLiteral("_0001') OR ('1'='1_");
    EXPECT_TRUE(Page(q).isEmpty());
    EXPECT_EQ(Page(March()).size(), 6); // nothing was harmed
}

// 12345 sales in one branch, read page by page the way the sale list does: 0..500, 501..1000, …
TEST_P(NotasTest, PagesNeitherSkipNorRepeatRows)
{
    vndtest::ServerFixture &server = Prepared();
    const int total = 12345;
    {
        const vnd::server::ServerDb db(server.DbUrl());
        QSqlQuery q = db.Exec(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE CDFILIAL = '0003'"));
        if (q.next() && q.value(0).toInt() == 0) {
            QList<DatasetSale> sales;
            for (int i = 0; i < total; ++i)
                sales << DatasetSale{100000 + i, QStringLiteral("0003"), i % 3 ? QStringLiteral("001") : QStringLiteral("002"),
                                     QDateTime(QDate(2025, 1, 1), QTime(0, 0)).addSecs(qint64(i) * 97 % 2000000),
                                     false, QStringLiteral("A"), QStringLiteral("000000001"), {}, {QStringLiteral("001")}};
            InsertSales(db, sales);
        }
    }
    NotasQuery q;
    q.de = QDate(2025, 1, 1);
    q.ate = QDate(2025, 1, 31);
    auto fetchAll = [&](int &calls) {
        QList<int> ids;
        calls = 0;
        for (qint64 first = 0, last = 500;; first = last + 1, last += 500) {
            ++calls;
            const QList<int> page = Page(q, first, last);
            EXPECT_LE(page.size(), last - first + 1);
            if (page.isEmpty())
                break;
            ids += page;
        }
        return ids;
    };
    int calls = 0;
    const QList<int> ids = fetchAll(calls);
    EXPECT_EQ(ids.size(), total);
    EXPECT_EQ(QSet<int>(ids.begin(), ids.end()).size(), total);
    EXPECT_EQ(calls, 26); // 501 + 24 × 500 ≥ 12345, then the empty page
    // Stable order: register 001 before 002, then by time.
    for (int i = 1; i < ids.size(); ++i) {
        const auto key = [](int id) {
            const int i = id - 100000;
            return std::make_pair(i % 3 ? 1 : 2, qint64(i) * 97 % 2000000);
        };
        ASSERT_LT(key(ids[i - 1]), key(ids[i])) << "row " << i;
    }
    int again = 0;
    EXPECT_EQ(fetchAll(again), ids); // a second fetch gives the same list

    NotasQuery none = q;
    none.filial = QStringLiteral("_0002_");
    EXPECT_TRUE(Page(none).isEmpty()); // no sales: the first call answers an empty page
}

INSTANTIATE_TEST_SUITE_P(Engines, NotasTest, testing::Values(Engine::SQLite, Engine::PostgreSQL), EngineName);
