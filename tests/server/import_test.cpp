// The import's remote methods with generated sales: branch lookups, validation log, store, cancellation.
#include "server/docgen/docgen.h"
#include "server/notas.h"
#include "server/rpcargs.h"
#include "server/salearray.h"
#include "server/salestore.h"
#include "tests/server/dataset.h"
#include "server/docgen/salepackets.h"
#include "tests/server/servertest.h"

#include <QSqlQuery>

using namespace servertest;
using namespace vnd::docgen;

namespace {

constexpr quint64 kSeed = 7;

struct LogRow
{
    QString type, product, description;
};

class ImportTest : public EngineTest
{
protected:
    vndtest::ServerFixture &Prepared()
    {
        return Server([](vndtest::ServerFixture &s) { s.Seed({QStringLiteral("--sales"), QStringLiteral("0"),
                                                               QStringLiteral("--seed"), QString::number(kSeed)}); });
    }
    TNetConnection &Net() { return Prepared().Connection(); }
    static Generator &Gen()
    {
        static Generator gen(kSeed);
        return gen;
    }
    static Sale Make(DocKind kind, NfceStatus status = NfceStatus::Authorized)
    {
        SaleOptions o;
        o.kind = kind;
        o.status = status;
        o.branchCode = Gen().Branches().first().code; // São Paulo: NFC-e and SAT
        return Gen().MakeSale(o);
    }
    static ArrayOptions Found(const Sale &s, const QString &batch)
    {
        ArrayOptions o;
        o.branch = s.branchCode;
        o.company = s.companyCode;
        o.registerCode = s.kind == DocKind::Nfce ? s.registerCode : QString();
        o.batch = batch;
        return o;
    }
    QString NewBatch() { return CheckResultServ(Net().Call(QStringLiteral("getPrxPreValidXml"))).toString(); }
    TServerResult Send(const char *method, const QVariantList &array)
    {
        return Net().Call(QString::fromLatin1(method), {QVariant(array)});
    }
    QList<LogRow> Log(const QString &batch)
    {
        TClientDataSet cds;
        cds.SetData(vnd::rpc::ToPacket(CheckResultServ(Net().Call(QStringLiteral("getPreValidXml"), {batch}))));
        QList<LogRow> rows;
        int n = 0;
        for (cds.First(); !cds.Eof(); cds.Next()) {
            EXPECT_EQ(cds.FieldByName(QStringLiteral("NRSEQVALIDXML")).AsString(), batch);
            EXPECT_EQ(cds.FieldByName(QStringLiteral("NRSEQERROXML")).AsString(), QString::number(++n));
            rows << LogRow{cds.FieldByName(QStringLiteral("IDTPVALIDXML")).AsString(),
                           cds.FieldByName(QStringLiteral("CDPRODUTO")).AsString(),
                           cds.FieldByName(QStringLiteral("DSERROXML")).AsString()};
        }
        return rows;
    }
    static bool Has(const QList<LogRow> &rows, const char *type, const char *text)
    {
        for (const LogRow &r : rows)
            if (r.type == QLatin1String(type) && r.description.contains(QString::fromUtf8(text)))
                return true;
        return false;
    }
    int Count(const QString &sql, const QVariantList &binds = {})
    {
        const vnd::server::ServerDb db(Prepared().DbUrl());
        QSqlQuery q = db.Exec(sql, binds);
        return q.next() ? q.value(0).toInt() : -1;
    }
    // The stored row of a key, as the sale list reads it.
    void Stored(const QString &key, TClientDataSet &row)
    {
        const vnd::server::ServerDb db(Prepared().DbUrl());
        vnd::server::QueryNotasByKeys(db, {key}, row);
    }
};

} // namespace

TEST_P(ImportTest, BranchLookupsByIssuerAndSeries)
{
    const Sale nfce = Make(DocKind::Nfce);
    EXPECT_EQ(CheckResultServ(Net().Call(QStringLiteral("getFilialNFce"), {QVariant::fromValue(SalePacket(nfce))})).toString(),
              nfce.branchCode + nfce.registerCode + nfce.companyCode);
    const Sale sat = Make(DocKind::Sat);
    EXPECT_EQ(CheckResultServ(Net().Call(QStringLiteral("getFilial"), {QVariant::fromValue(SalePacket(sat))})).toString(),
              sat.branchCode + sat.companyCode);

    // Another issuer, or a series no register uses: an empty answer, never another branch.
    const QVariantList foreign = WithSaleField(SaleArray(nfce, {}), QStringLiteral("NRINSJURFILI"), QStringLiteral("99999999000191"));
    EXPECT_EQ(CheckResultServ(Net().Call(QStringLiteral("getFilialNFce"), {foreign[0]})).toString(), QString());
    const QVariantList series = WithSaleField(SaleArray(nfce, {}), QStringLiteral("CDSERIENFCE"), QStringLiteral("987"));
    EXPECT_EQ(CheckResultServ(Net().Call(QStringLiteral("getFilialNFce"), {series[0]})).toString(), QString());
    const QVariantList serial = WithSaleField(SaleArray(sat, {}), QStringLiteral("CDSERIESAT"), QStringLiteral("000000001"));
    EXPECT_EQ(CheckResultServ(Net().Call(QStringLiteral("getFilial"), {serial[0]})).toString(), QString());
    const TServerResult notPacket = Net().Call(QStringLiteral("getFilial"), {QStringLiteral("abc")});
    EXPECT_THAT(notPacket.error.toStdString(), testing::HasSubstr("Parâmetro 1 (pacote da venda) do método getFilial deve ser um pacote de dados"));
}

TEST_P(ImportTest, StoresAnNfceWithItsItemsPaymentsAndDocumentOnce)
{
    Sale sale = Make(DocKind::Nfce);
    for (int i = 0; i < 50 && sale.customerCode.isEmpty(); ++i)
        sale = Make(DocKind::Nfce);
    const QString batch = NewBatch();
    const QVariantList array = SaleArray(sale, Found(sale, batch));
    CheckResultServ(Send("setValidaXml", array));
    const QList<LogRow> log = Log(batch);
    for (const LogRow &r : log)
        EXPECT_EQ(r.type, QStringLiteral("A")) << r.description.toStdString();
    EXPECT_TRUE(Has(log, "A", "homologação")); // the generator issues in the test environment
    CheckResultServ(Send("setVendasNfce", array));

    TClientDataSet row;
    Stored(sale.accessKey, row);
    ASSERT_EQ(row.RecordCount(), 1);
    EXPECT_EQ(row.FieldByName(QStringLiteral("CDFILIAL")).AsString(), sale.branchCode);
    EXPECT_EQ(row.FieldByName(QStringLiteral("CDCAIXA")).AsString(), sale.registerCode);
    EXPECT_EQ(row.FieldByName(QStringLiteral("IDTPEMISVEND")).AsString(), QStringLiteral("N"));
    EXPECT_EQ(row.FieldByName(QStringLiteral("IDSTATUSNFCE")).AsString(), QStringLiteral("A"));
    EXPECT_EQ(row.FieldByName(QStringLiteral("IDSITUVENDA")).AsString(), QStringLiteral("O"));
    EXPECT_EQ(row.FieldByName(QStringLiteral("DTENTRVENDA")).AsDateTime(), sale.issuedAt);
    EXPECT_EQ(row.FieldByName(QStringLiteral("DTHRPROTOCONFCE")).AsDateTime(), sale.authorizedAt);
    EXPECT_EQ(row.FieldByName(QStringLiteral("NRPROTOCOLONFCE")).AsString(), sale.protocolNumber);
    EXPECT_EQ(row.FieldByName(QStringLiteral("NRINSJURIEST")).AsString(), sale.issuerCnpj);
    EXPECT_EQ(row.FieldByName(QStringLiteral("CDVERSAOXMLNFCE")).AsString(), sale.layoutVersion);
    EXPECT_EQ(row.FieldByName(QStringLiteral("DSQRCODENFCE")).AsString(), sale.qrCode);
    EXPECT_EQ(row.FieldByName(QStringLiteral("CDCLIENTE")).AsString(), sale.customerCode);
    EXPECT_EQ(row.FieldByName(QStringLiteral("DSARQXMLNFCE")).AsBytes(), ProcessedNfce(sale));
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDAITEM I JOIN VENDA V ON V.IDVENDA = I.IDVENDA WHERE "
                                   "V.NRACESSONFCE = ?"),
                    {sale.accessKey}),
              sale.items.size());
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDARECE R JOIN VENDA V ON V.IDVENDA = R.IDVENDA WHERE "
                                   "V.NRACESSONFCE = ? AND R.IDTROCO = 'N' AND R.CDTIPORECE IS NOT NULL"),
                    {sale.accessKey}),
              sale.payments.size());

    // The same file again: success, nothing doubled, and the log says why.
    CheckResultServ(Send("setVendasNfce", array));
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSONFCE = ?"), {sale.accessKey}), 1);
    const QString again = NewBatch();
    CheckResultServ(Send("setValidaXml", SaleArray(sale, Found(sale, again))));
    EXPECT_TRUE(Has(Log(again), "A", "já importada"));
}

// A connection is served by one server thread, which keeps its lookups prepared: a sale stored through
// another connection meanwhile must still be seen by the next check on this one.
TEST_P(ImportTest, ChecksSeeSalesStoredByAnotherConnection)
{
    const Sale sale = Make(DocKind::Nfce);
    const QString first = NewBatch();
    CheckResultServ(Send("setValidaXml", SaleArray(sale, Found(sale, first))));
    EXPECT_FALSE(Has(Log(first), "A", "já importada"));

    const std::unique_ptr<TNetConnection> other = Prepared().Connect();
    CheckResultServ(other->Call(QStringLiteral("setVendasNfce"), {QVariant(SaleArray(sale, Found(sale, first)))}));

    const QString second = NewBatch();
    CheckResultServ(Send("setValidaXml", SaleArray(sale, Found(sale, second))));
    EXPECT_TRUE(Has(Log(second), "A", "já importada"));
}

TEST_P(ImportTest, ErrorsAreLoggedAndRefuseTheStore)
{
    const Sale sale = Make(DocKind::Nfce);
    const QString batch = NewBatch();
    const QVariantList good = SaleArray(sale, Found(sale, batch));
    struct Case
    {
        const char *name;
        QVariantList array;
        const char *message;
    };
    const Case cases[] = {
        {"produto", WithItemField(good, 0, QStringLiteral("CDPRODUTO"), QStringLiteral("NAOEXISTE")),
         "Produto NAOEXISTE não cadastrado"},
        {"filial", SaleArray(sale, [&] { ArrayOptions o = Found(sale, batch); o.branch.clear(); return o; }()),
         "Filial e caixa não encontrados para o CNPJ"},
        {"filial desconhecida", SaleArray(sale, [&] { ArrayOptions o = Found(sale, batch); o.branch = QStringLiteral("9999"); return o; }()),
         "Filial 9999 não cadastrada"},
        {"chave", WithSaleField(good, QStringLiteral("NRACESSONFCE"), QStringLiteral("123")), "Chave de acesso inválida"},
        {"outra chave", WithSaleField(good, QStringLiteral("NRACESSONFCE"), QString(sale.accessKey).replace(43, 1, QLatin1Char(sale.accessKey.endsWith(QLatin1Char('1')) ? '2' : '1'))),
         "não confere com a do XML"},
        {"xml", WithSaleField(good, QStringLiteral("DSARQXMLNFCE"), QStringLiteral("<nfeProc><NFe>")), "XML do documento mal formado"},
        {"quantidade", WithItemField(good, 0, QStringLiteral("QTPRODVEND"), 0.0), "quantidade inválida"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString own = NewBatch();
        QVariantList array = c.array;
        array[9] = own;
        CheckResultServ(Send("setValidaXml", array));
        const QList<LogRow> log = Log(own);
        EXPECT_TRUE(Has(log, "E", c.message));
        if (QByteArray(c.name) == "produto") {
            EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const LogRow &r) { return r.product == QLatin1String("NAOEXISTE"); }));
        }
        const TServerResult store = Send("setVendasNfce", array);
        EXPECT_FALSE(store.ok);
        EXPECT_THAT(store.error.toStdString(), testing::HasSubstr(c.message));
    }
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSONFCE = ?"), {sale.accessKey}), 0);
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSONFCE = '123'")), 0);
    EXPECT_TRUE(Log(batch).isEmpty()); // each case logged under its own batch only
}

TEST_P(ImportTest, AlertsKeepTheSaleButFlagTheFigures)
{
    const Sale sale = Make(DocKind::Nfce);
    const QString batch = NewBatch();
    QVariantList array = SaleArray(sale, Found(sale, batch));
    array = WithSaleField(array, QStringLiteral("VRTOTVENDA"), sale.total / 100.0 + 50.0);
    CheckResultServ(Send("setValidaXml", array));
    const QList<LogRow> log = Log(batch);
    EXPECT_TRUE(Has(log, "A", "A soma dos itens"));
    EXPECT_TRUE(Has(log, "A", "não cobrem o total"));
    EXPECT_FALSE(Has(log, "E", ""));
    CheckResultServ(Send("setVendasNfce", array));
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSONFCE = ?"), {sale.accessKey}), 1);

    // Deleting the batch's log leaves other batches alone.
    const QString other = NewBatch();
    CheckResultServ(Send("setValidaXml", SaleArray(sale, Found(sale, other))));
    CheckResultServ(Net().Call(QStringLiteral("setDelPreValidXml"), {batch}));
    EXPECT_TRUE(Log(batch).isEmpty());
    EXPECT_FALSE(Log(other).isEmpty());
    EXPECT_THAT(Net().Call(QStringLiteral("getPreValidXml"), {QStringLiteral("abc")}).error.toStdString(),
                testing::HasSubstr("Número de lote de validação inválido"));
}

TEST_P(ImportTest, PendingNfceIsStoredForTheWarningOnly)
{
    const Sale sale = Make(DocKind::Nfce, NfceStatus::Pending);
    const QString batch = NewBatch();
    const QVariantList array = SaleArray(sale, Found(sale, batch));
    CheckResultServ(Send("setValidaXml", array));
    EXPECT_TRUE(Has(Log(batch), "A", "pendente de transmissão"));
    CheckResultServ(Send("setVendasNfce", array));
    TClientDataSet row;
    Stored(sale.accessKey, row);
    EXPECT_EQ(row.FieldByName(QStringLiteral("IDSTATUSNFCE")).AsString(), QStringLiteral("P"));
    NotasQuery q;
    q.de = q.ate = sale.issuedAt.date();
    TClientDataSet pending;
    pending.SetData(vnd::rpc::ToPacket(CheckResultServ(Net().Call(QStringLiteral("getNotasPedRej"), PedRejParams(q)))));
    EXPECT_GE(pending.RecordCount(), 1);
}

TEST_P(ImportTest, SatSaleAndItsCancellation)
{
    const Sale sale = Make(DocKind::Sat, NfceStatus::Cancelled);
    ASSERT_FALSE(sale.cfeCanc.isEmpty());
    const QString batch = NewBatch();
    const QVariantList array = SaleArray(sale, Found(sale, batch));
    CheckResultServ(Send("setValidaXml", array));
    EXPECT_FALSE(Has(Log(batch), "E", ""));
    CheckResultServ(Send("setVendas", array));
    // A SAT array sent to the NFC-e store is a client error, said as such.
    EXPECT_THAT(Send("setVendasNfce", array).error.toStdString(), testing::HasSubstr("setVendasNfce recebe NFC-e"));

    CheckResultServ(Net().Call(QStringLiteral("setVendasCanc"), {QVariant(CancelArray(sale, sale.branchCode))}));
    TClientDataSet row;
    Stored(sale.StoredAccessKey(), row);
    ASSERT_EQ(row.RecordCount(), 1);
    EXPECT_EQ(row.FieldByName(QStringLiteral("CDCAIXA")).AsString(), sale.registerCode); // found by the SAT serial
    EXPECT_EQ(row.FieldByName(QStringLiteral("IDSITUVENDA")).AsString(), QStringLiteral("C"));
    EXPECT_EQ(row.FieldByName(QStringLiteral("IDSTATUSNFCE")).AsString(), QStringLiteral("C"));
    EXPECT_EQ(row.FieldByName(QStringLiteral("DSARQXMLCANCNFCE")).AsBytes(), sale.cfeCanc);
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSOCANC = ?"),
                    {QStringLiteral("CFe") + sale.cancelAccessKey}),
              1);

    const Sale unknown = Make(DocKind::Sat, NfceStatus::Cancelled);
    const TServerResult r = Net().Call(QStringLiteral("setVendasCanc"), {QVariant(CancelArray(unknown, unknown.branchCode))});
    EXPECT_FALSE(r.ok);
    EXPECT_THAT(r.error.toStdString(), testing::HasSubstr(unknown.StoredAccessKey().toStdString()));
    const TServerResult shortArray = Net().Call(QStringLiteral("setVendasCanc"), {QVariant(QVariantList{1})});
    EXPECT_THAT(shortArray.error.toStdString(), testing::HasSubstr("espera 3 itens"));
}

INSTANTIATE_TEST_SUITE_P(Engines, ImportTest, testing::Values(Engine::SQLite, Engine::PostgreSQL), EngineName);

TEST_P(ImportTest, StoresAnswerWhatTheyStoredAndAbandonedLogsGoAway)
{
    const Sale sale = Make(DocKind::Nfce);
    const QString batch = NewBatch();
    const QVariantList array = SaleArray(sale, Found(sale, batch));
    // 1 for the sale stored, 0 when it is sent again: the import counts what the server stored.
    EXPECT_EQ(CheckResultServ(Send("setVendasNfce", array)).toInt(), 1);
    EXPECT_EQ(CheckResultServ(Send("setVendasNfce", array)).toInt(), 0);

    // A batch whose client died before reading its log: its rows are older than a day.
    CheckResultServ(Send("setValidaXml", array));
    ASSERT_FALSE(Log(batch).isEmpty());
    const QString recent = NewBatch();
    CheckResultServ(Send("setValidaXml", SaleArray(sale, Found(sale, recent))));
    {
        const vnd::server::ServerDb db(Prepared().DbUrl());
        db.Write([&] {
            db.Exec(QStringLiteral("UPDATE PREVALIDXML SET DTHRREGISTRO = %1 WHERE NRSEQVALIDXML = ?").arg(db.DateTimeParam()),
                    {vnd::server::ServerDb::DateTimeValue(QDateTime::currentDateTime().addSecs(-25 * 3600)),
                     batch.toLongLong()});
        });
    }
    NewBatch();
    EXPECT_TRUE(Log(batch).isEmpty());
    EXPECT_FALSE(Log(recent).isEmpty());
}

TEST_P(ImportTest, ValidationAndStoreInOneCallAnswerAsTheTwoCalls)
{
    // A sale with alerts: the same log rows as setValidaXml, stored as setVendasNfce stores it.
    const Sale sale = Make(DocKind::Nfce);
    const QVariantList alerts = WithSaleField(SaleArray(sale, Found(sale, QString())), QStringLiteral("VRTOTVENDA"),
                                              sale.total / 100.0 + 50.0);
    auto descriptions = [](const QList<LogRow> &rows) {
        QStringList out;
        for (const LogRow &r : rows)
            out << r.type + QLatin1Char('|') + r.product + QLatin1Char('|') + r.description;
        return out;
    };
    QVariantList apart = alerts, together = alerts;
    apart[9] = NewBatch();
    together[9] = NewBatch();
    CheckResultServ(Send("setValidaXml", apart));
    EXPECT_EQ(CheckResultServ(Send("setValidaGravaVenda", together)).toInt(), 1);
    const QList<LogRow> logged = Log(together[9].toString());
    EXPECT_TRUE(Has(logged, "A", "A soma dos itens"));
    EXPECT_EQ(descriptions(logged), descriptions(Log(apart[9].toString())));
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSONFCE = ?"), {sale.accessKey}), 1);
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDAITEM I JOIN VENDA V ON V.IDVENDA = I.IDVENDA WHERE "
                                   "V.NRACESSONFCE = ?"),
                    {sale.accessKey}),
              int(sale.items.size()));
    // Sent again: 0, and the log says why it was not stored again.
    together[9] = NewBatch();
    EXPECT_EQ(CheckResultServ(Send("setValidaGravaVenda", together)).toInt(), 0);
    EXPECT_TRUE(Has(Log(together[9].toString()), "A", "Venda já importada anteriormente"));
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSONFCE = ?"), {sale.accessKey}), 1);

    // A SAT coupon goes the same way, by the kind of item 9.
    const Sale coupon = Make(DocKind::Sat);
    EXPECT_EQ(CheckResultServ(Send("setValidaGravaVenda", SaleArray(coupon, Found(coupon, NewBatch())))).toInt(), 1);
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSONFCE = ? AND IDTPEMISVEND = 'S'"),
                    {coupon.StoredAccessKey()}),
              1);
}

TEST_P(ImportTest, SalesSentTogetherAreAnsweredOneByOneInOneTransaction)
{
    const QString batch = NewBatch();
    const Sale first = Make(DocKind::Nfce), refused = Make(DocKind::Nfce), coupon = Make(DocKind::Sat);
    const Sale broken = [] {
        SaleOptions o;
        o.kind = DocKind::Nfce;
        o.branchCode = Gen().Branches().first().code;
        o.minItems = 2;
        return Gen().MakeSale(o);
    }();
    const QVariantList good = SaleArray(first, Found(first, batch));
    const QVariantList unknownProduct =
        WithItemField(SaleArray(refused, Found(refused, batch)), 0, QStringLiteral("CDPRODUTO"), QStringLiteral("NAOEXISTE"));
    // A sale the checks pass and the database refuses in the middle, after its VENDA row went in: a
    // trigger of the test's own fails its second item.
    ASSERT_GE(broken.items.size(), 2u);
    {
        const vnd::server::ServerDb db(Prepared().DbUrl());
        const QString key = broken.accessKey;
        db.Write([&] {
            if (GetParam() == Engine::PostgreSQL) {
                db.Exec(QStringLiteral("CREATE OR REPLACE FUNCTION TESTE_RECUSA() RETURNS trigger AS $$ BEGIN "
                                       "IF NEW.NRSEQUITVEND <> '001' AND EXISTS (SELECT 1 FROM VENDA WHERE IDVENDA = "
                                       "NEW.IDVENDA AND NRACESSONFCE = '%1') THEN RAISE EXCEPTION 'recusado pelo banco'; "
                                       "END IF; RETURN NEW; END $$ LANGUAGE plpgsql")
                            .arg(key));
                db.Exec(QStringLiteral("CREATE TRIGGER TESTE_RECUSA BEFORE INSERT ON VENDAITEM FOR EACH ROW EXECUTE "
                                       "FUNCTION TESTE_RECUSA()"));
            } else {
                db.Exec(QStringLiteral("CREATE TRIGGER TESTE_RECUSA BEFORE INSERT ON VENDAITEM WHEN NEW.NRSEQUITVEND <> "
                                       "'001' AND EXISTS (SELECT 1 FROM VENDA WHERE IDVENDA = NEW.IDVENDA AND "
                                       "NRACESSONFCE = '%1') BEGIN SELECT RAISE(ABORT, 'recusado pelo banco'); END")
                            .arg(key));
            }
        });
    }
    const QVariantList failing = SaleArray(broken, Found(broken, batch));
    const QVariantList list{QVariant(good), QVariant(unknownProduct), QVariant(failing),
                            QVariant(SaleArray(coupon, Found(coupon, batch))), QVariant(good)};
    const QVariantList answer = CheckResultServ(Send("setValidaGravaVendas", list)).toList();
    ASSERT_EQ(answer.size(), 5);
    EXPECT_EQ(answer[0].toInt(), 1);
    EXPECT_EQ(answer[0].typeId() == QMetaType::QString, false);
    // Refused with the message the one-sale call gives.
    EXPECT_THAT(answer[1].toString().toStdString(), testing::HasSubstr("Produto NAOEXISTE não cadastrado"));
    EXPECT_THAT(answer[1].toString().toStdString(), testing::HasSubstr("não foi gravada"));
    EXPECT_THAT(answer[2].toString().toStdString(), testing::HasSubstr("recusado pelo banco"));
    // The sales after a failed one are stored (PostgreSQL goes on past the failed statement).
    EXPECT_EQ(answer[3].toInt(), 1);
    EXPECT_NE(answer[3].typeId(), QMetaType::QString);
    EXPECT_EQ(answer[4].toInt(), 0); // the first one again: already held
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSONFCE = ?"), {first.accessKey}), 1);
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSONFCE IN (?, ?)"),
                    {refused.accessKey, broken.accessKey}),
              0);
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSONFCE = ?"), {coupon.StoredAccessKey()}), 1);
    // Nothing of the failed sale stayed behind, and the refused one's problem is in the batch's log.
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDAITEM WHERE IDVENDA NOT IN (SELECT IDVENDA FROM VENDA)"), {}), 0);
    EXPECT_TRUE(Has(Log(batch), "E", "Produto NAOEXISTE não cadastrado"));
    {
        const vnd::server::ServerDb db(Prepared().DbUrl());
        db.Write([&] { db.Exec(QStringLiteral("DROP TRIGGER TESTE_RECUSA%1").arg(GetParam() == Engine::PostgreSQL ? QStringLiteral(" ON VENDAITEM") : QString())); });
    }

    // A list that cannot be read is refused whole, before anything is written.
    const Sale unsent = Make(DocKind::Nfce);
    QVariantList noBatch = SaleArray(unsent, Found(unsent, batch));
    noBatch[9] = QString();
    const TServerResult refusedWhole =
        Send("setValidaGravaVendas", {QVariant(SaleArray(unsent, Found(unsent, batch))), QVariant(noBatch)});
    EXPECT_FALSE(refusedWhole.ok);
    EXPECT_THAT(refusedWhole.error.toStdString(), testing::HasSubstr("vetor da venda 2"));
    EXPECT_FALSE(Send("setValidaGravaVendas", QVariantList(501, QVariant(good))).ok);
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSONFCE = ?"), {unsent.accessKey}), 0);
    EXPECT_EQ(CheckResultServ(Send("setValidaGravaVendas", {})).toList().size(), 0);
}

TEST_P(ImportTest, RefusedSaleInOneCallKeepsItsLogAndTheStoresMessage)
{
    const Sale sale = Make(DocKind::Nfce);
    const QVariantList good = SaleArray(sale, Found(sale, NewBatch()));
    const struct
    {
        const char *name;
        QVariantList array;
        const char *message;
    } cases[] = {
        {"produto", WithItemField(good, 0, QStringLiteral("CDPRODUTO"), QStringLiteral("NAOEXISTE")),
         "Produto NAOEXISTE não cadastrado"},
        {"filial desconhecida",
         SaleArray(sale, [&] { ArrayOptions o = Found(sale, QStringLiteral("1")); o.branch = QStringLiteral("9999"); return o; }()),
         "Filial 9999 não cadastrada"},
        {"chave", WithSaleField(good, QStringLiteral("NRACESSONFCE"), QStringLiteral("123")), "Chave de acesso inválida"},
        {"xml", WithSaleField(good, QStringLiteral("DSARQXMLNFCE"), QStringLiteral("<nfeProc><NFe>")),
         "XML do documento mal formado"},
        {"produto hostil", WithItemField(good, 0, QStringLiteral("CDPRODUTO"), QStringLiteral("'; DROP TABLE VENDA; --")),
         "Produto '; DROP TABLE VENDA; -- não cadastrado"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QVariantList array = c.array;
        array[9] = NewBatch();
        const TServerResult before = Send("setVendasNfce", array);
        const TServerResult together = Send("setValidaGravaVenda", array);
        ASSERT_FALSE(before.ok);
        ASSERT_FALSE(together.ok);
        // Told exactly as the store told it, and the problems are in the batch's log all the same.
        EXPECT_EQ(together.error, before.error);
        EXPECT_THAT(together.error.toStdString(), testing::HasSubstr(c.message));
        EXPECT_THAT(together.error.toStdString(), testing::HasSubstr("não foi gravada"));
        EXPECT_TRUE(Has(Log(array[9].toString()), "E", c.message));
    }
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSONFCE IN (?, '123')"), {sale.accessKey}), 0);

    // Arrays the call cannot take are refused before anything is checked or written.
    QVariantList noBatch = good;
    noBatch[9] = QString();
    EXPECT_THAT(Send("setValidaGravaVenda", noBatch).error.toStdString(),
                testing::HasSubstr("Lote de validação não informado"));
    const TServerResult shortArray = Send("setValidaGravaVenda", {QVariant(1)});
    EXPECT_FALSE(shortArray.ok);
    EXPECT_FALSE(shortArray.error.isEmpty());
    EXPECT_FALSE(Net().Call(QStringLiteral("setValidaGravaVenda"), {}).ok);
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSONFCE = ?"), {sale.accessKey}), 0);
}

// The database drops the transaction under a list of sales (as SQLite does on a full disk): the list
// fails whole. Before, the loop took the failure as the one sale's, reported the earlier sales as
// stored although they went with the transaction, and stored the later ones outside any transaction.
TEST_P(ImportTest, SalesSentTogetherFailWholeWhenTheDatabaseDropsTheirTransaction)
{
    const QString batch = NewBatch();
    std::vector<vnd::server::ImportedSale> sales;
    QStringList keys;
    for (int i = 0; i < 3; ++i) {
        const Sale s = Make(DocKind::Nfce);
        keys << s.accessKey;
        sales.push_back(vnd::server::ReadSaleArray(
            vnd::server::Args::ForMethod(QStringLiteral("setValidaGravaVendas"), SaleArray(s, Found(s, batch)))));
    }
    const vnd::server::ServerDb db(Prepared().DbUrl());
    int logged = 0;
    auto dropsTheTransaction = [&](const vnd::server::ImportedSale &, const vnd::server::SaleResolution &) {
        if (++logged == 2) {
            db.Exec(QStringLiteral("ROLLBACK"));
            throw Exception(QStringLiteral("disco cheio"));
        }
    };
    try {
        vnd::server::StoreImportedSales(db, sales, dropsTheTransaction);
        ADD_FAILURE() << "the list was answered as if its sales had been stored";
    } catch (const vnd::server::ETransactionLost &e) {
        EXPECT_THAT(e.Message().toStdString(), testing::HasSubstr("nada dela foi gravado"));
    }
    EXPECT_EQ(logged, 2); // the third sale was not tried
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSONFCE IN (?, ?, ?)"),
                    {keys[0], keys[1], keys[2]}),
              0);

    // The same sales sent again are stored, each once.
    const std::vector<vnd::server::StoreOutcome> again =
        vnd::server::StoreImportedSales(db, sales, [](const vnd::server::ImportedSale &, const vnd::server::SaleResolution &) {});
    ASSERT_EQ(again.size(), 3u);
    for (const vnd::server::StoreOutcome &o : again) {
        EXPECT_TRUE(o.stored);
        EXPECT_EQ(o.error, QString());
    }
    EXPECT_EQ(Count(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSONFCE IN (?, ?, ?)"),
                    {keys[0], keys[1], keys[2]}),
              3);
}
