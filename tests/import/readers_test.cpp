// The four readers through the driver and a real server: the record sets they fill, the remote calls
// they make, the branch each sale is stored under.
#include "tests/import/importharness.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/testutil.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace importtest;
using namespace vnd::docgen;
using vndtest::ScopedPlatform;

namespace {

const CashRegister &SatRegister()
{
    for (const CashRegister &r : Gen().CashRegisters())
        if (r.branchCode == Sp().code && !r.satSerial.isEmpty())
            return r;
    throw std::runtime_error("no SAT register");
}

Sale SatSale(NfceStatus status = NfceStatus::Authorized)
{
    SaleOptions o;
    o.kind = DocKind::Sat;
    o.status = status;
    o.branchCode = Sp().code;
    o.registerCode = SatRegister().code;
    return Gen().MakeSale(o);
}

QString Field(TClientDataSet &cds, const char *name) { return cds.FieldByName(QString::fromLatin1(name)).AsString(); }
double Number(TClientDataSet &cds, const char *name) { return cds.FieldByName(QString::fromLatin1(name)).AsFloat(); }

const QByteArray kNfceLiteral =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe Id=\"NFe35150399999999000191650010000001231123456780\" "
    "versao=\"3.10\"><ide><cNF>12345678</cNF><serie>1</serie><nNF>123</nNF>"
    "<dhEmi>2015-03-07T18:45:10-03:00</dhEmi><tpAmb>2</tpAmb></ide>"
    "<emit><CNPJ>99999999000191</CNPJ><xNome>Padaria São João</xNome></emit><dest><CPF>12345678909</CPF></dest>"
    "<det nItem=\"1\"><prod><cProd>P1</cProd><qCom>2.0000</qCom><vUnCom>12.50</vUnCom></prod></det>"
    "<det nItem=\"2\"><prod><cProd>P2</cProd><qCom>1</qCom><vUnCom>3,00</vUnCom><vDesc>0.50</vDesc>"
    "<vOutro>0.25</vOutro></prod></det>"
    "<total><ICMSTot><vNF>27.75</vNF></ICMSTot></total>"
    "<pag><detPag><tPag>01</tPag><vPag>20.00</vPag></detPag><detPag><tPag>03</tPag><vPag>10.00</vPag></detPag>"
    "<vTroco>2.25</vTroco></pag><pag><tPag>01</tPag><vPag>5.00</vPag></pag></infNFe></NFe>";

QByteArray SatCoupon(const QByteArray &serial, const QByteArray &pgto, const QByteArray &dets)
{
    return "<CFe><infCFe Id=\"CFe35150399999999000191590000123450001234567891\" versaoDadosEnt=\"0.07\">"
           "<ide><cNF>123456</cNF><tpAmb>2</tpAmb><nserieSAT>" + serial + "</nserieSAT><nCFe>000123</nCFe>"
           "<dEmi>20150307</dEmi><hEmi>184510</hEmi><numeroCaixa>007</numeroCaixa></ide>"
           "<emit><CNPJ>99999999000191</CNPJ></emit><dest/>" + dets +
           "<total><vCFe>30.20</vCFe></total><pgto>" + pgto + "</pgto></infCFe></CFe>";
}

const QByteArray kTaxes = "<imposto><ICMS><ICMS00/></ICMS><PIS><PISAliq/></PIS><COFINS><COFINSAliq/></COFINS></imposto>";

} // namespace

TEST(ImportReaders, NfceLiteralFillsTheSetsAsWrittenAndWithoutBranchStoresNothing)
{
    Batch batch;
    batch.Write(QStringLiteral("nota.xml"), kNfceLiteral);
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(0, 1) + ComErros(batch, 1)).ExpectQuestion(
            QStringLiteral("Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de erros?"), false,
            vndtest::ScriptedPlatform::Match::Exact);
        batch.Run();
    }
    TClientDataSet &venda = batch.import->cdsVendaXmlNfce;
    ASSERT_EQ(venda.RecordCount(), 1);
    venda.First();
    EXPECT_EQ(Field(venda, "NRACESSONFCE"), QStringLiteral("35150399999999000191650010000001231123456780"));
    EXPECT_EQ(Field(venda, "CDSERIENFCE"), QStringLiteral("001"));
    EXPECT_EQ(Field(venda, "NRNOTAFISCALCE"), QStringLiteral("000000123"));
    EXPECT_EQ(venda.FieldByName(QStringLiteral("DTVENDA")).AsDateTime(), QDateTime(QDate(2015, 3, 7), QTime(18, 45, 10)));
    EXPECT_EQ(Field(venda, "NRLANCTONFCE"), QStringLiteral("0712345678"));
    EXPECT_EQ(Field(venda, "IDTPAMBNFCE "), QStringLiteral("2"));
    EXPECT_EQ(Field(venda, "NRINSCRCONS"), QStringLiteral("12345678909"));
    EXPECT_EQ(Field(venda, "NRINSJURFILI"), QStringLiteral("99999999000191"));
    // A bare NFe has no protocol.
    EXPECT_TRUE(venda.FieldByName(QStringLiteral("DTHRPROTOCONFCE")).IsNull());
    EXPECT_EQ(Field(venda, "NRPROTOCOLONFCE"), QString());
    EXPECT_DOUBLE_EQ(Number(venda, "VRTOTVENDA"), 27.75);
    EXPECT_TRUE(Field(venda, "DSARQXMLNFCE").contains(QStringLiteral("Padaria São João")));

    TClientDataSet &itens = batch.import->cdsItensXmlNfce;
    ASSERT_EQ(itens.RecordCount(), 2);
    itens.First();
    EXPECT_EQ(Field(itens, "NRSEQUITVEND"), QStringLiteral("001"));
    EXPECT_DOUBLE_EQ(Number(itens, "QTPRODVEND"), 2.0);
    EXPECT_DOUBLE_EQ(Number(itens, "VRUNITVEND"), 12.5);
    EXPECT_DOUBLE_EQ(Number(itens, "VRDESITVEND"), 0.0);
    EXPECT_DOUBLE_EQ(Number(itens, "VRACRITVEND"), 0.0);
    itens.Next();
    EXPECT_EQ(Field(itens, "CDPRODUTO"), QStringLiteral("P2"));
    EXPECT_DOUBLE_EQ(Number(itens, "VRUNITVEND"), 3.0);
    EXPECT_DOUBLE_EQ(Number(itens, "VRDESITVEND"), 0.5);
    EXPECT_DOUBLE_EQ(Number(itens, "VRACRITVEND"), 0.25);

    // Two detPag and the change (layout 4.00), then the pag holding tPag and vPag directly (layout 3.10).
    TClientDataSet &pgto = batch.import->cdsMeioPgtoXmlNfce;
    QStringList rows;
    for (pgto.First(); !pgto.Eof(); pgto.Next())
        rows << Field(pgto, "IDPGTO") + QLatin1Char('=') + QString::number(Number(pgto, "VRPGTO"));
    EXPECT_EQ(rows, (QStringList{QStringLiteral("01=20"), QStringLiteral("03=10"), QStringLiteral("TR=2.25"),
                                 QStringLiteral("01=5")}));

    EXPECT_EQ(batch.calls.value(QStringLiteral("getFilialNFce")), 1);
    EXPECT_EQ(batch.calls.value(QStringLiteral("setValidaXml")), 1);
    EXPECT_EQ(batch.calls.value(QStringLiteral("setVendasNfce")), 0);
    EXPECT_EQ(batch.calls.value(QStringLiteral("setValidaGravaVendas")), 0);
    EXPECT_EQ(batch.Where(QStringLiteral("nota.xml")), QStringLiteral("Xml Erro/nota.xml"));
}

TEST(ImportReaders, SatCouponValuesChangeDiscountsAndSurcharges)
{
    Batch batch;
    const QByteArray dets =
        "<det nItem=\"1\"><prod><cProd>P1</cProd><qCom>2.000</qCom><vUnCom>10.00</vUnCom><vDesc>1.00</vDesc>"
        "<vRatDesc>0.50</vRatDesc></prod>" + kTaxes + "</det>"
        "<det nItem=\"2\"><prod><cProd>P2</cProd><qCom>1</qCom><vUnCom>12,50</vUnCom><vRatAcr>0.30</vRatAcr></prod>" +
        kTaxes + "</det>";
    const QByteArray pgto = "<MP><cMP>01</cMP><vMP>30.00</vMP></MP><Outro/><MP><cMP>03</cMP><vMP>5.20</vMP></MP>"
                            "<vTroco>5.00</vTroco>";
    batch.Write(QStringLiteral("AD-cupom.xml"), "<?xml version=\"1.0\"?>" + SatCoupon("900000001", pgto, dets));
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(0, 1) + ComErros(batch, 1)).ExpectQuestion(
            QStringLiteral("Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de erros?"), false);
        batch.Run();
    }
    TClientDataSet &venda = batch.import->cdsVendaXmlSat;
    venda.First();
    EXPECT_EQ(Field(venda, "NRACESSONFCE"), QStringLiteral("CFe35150399999999000191590000123450001234567891"));
    EXPECT_EQ(Field(venda, "NRNOTAFISCALCE"), QStringLiteral("000123"));
    EXPECT_EQ(Field(venda, "CDCAIXA"), QStringLiteral("007"));
    EXPECT_EQ(Field(venda, "NRINSCRCONS"), QString());
    EXPECT_EQ(venda.FieldByName(QStringLiteral("DTVENDA")).AsDateTime(), QDateTime(QDate(2015, 3, 7), QTime(18, 45, 10)));
    EXPECT_TRUE(Field(venda, "DSARQXMLNFCE").startsWith(QStringLiteral("<CFe><infCFe")));
    TClientDataSet &itens = batch.import->cdsItensXmlSat;
    itens.First();
    EXPECT_DOUBLE_EQ(Number(itens, "VRDESITVEND"), 1.5);
    EXPECT_DOUBLE_EQ(Number(itens, "VRACRITVEND"), 0.0);
    itens.Next();
    EXPECT_DOUBLE_EQ(Number(itens, "VRDESITVEND"), 0.0);
    EXPECT_DOUBLE_EQ(Number(itens, "VRACRITVEND"), 0.3);
    EXPECT_DOUBLE_EQ(Number(itens, "VRUNITVEND"), 12.5);
    TClientDataSet &mp = batch.import->cdsMeioPgtoXmlSat;
    ASSERT_EQ(mp.RecordCount(), 3);
    mp.Last();
    EXPECT_EQ(Field(mp, "IDPGTO"), QStringLiteral("00"));
    EXPECT_DOUBLE_EQ(Number(mp, "VRPGTO"), 5.0);
    // Unknown serial and no fallback: looked up, validated, not stored, filed as without branch.
    EXPECT_EQ(batch.calls.value(QStringLiteral("getFilial")), 1);
    EXPECT_EQ(batch.calls.value(QStringLiteral("setValidaXml")), 1);
    EXPECT_EQ(batch.calls.value(QStringLiteral("setVendas")), 0);
    EXPECT_EQ(batch.calls.value(QStringLiteral("setValidaGravaVendas")), 0);
    EXPECT_EQ(batch.Where(QStringLiteral("AD-cupom.xml")), QStringLiteral("Xml Erro/AD-cupom.xml"));

    // No change: only the MP rows.
    Batch again;
    again.Write(QStringLiteral("AD-cupom.xml"),
                SatCoupon("900000001", "<MP><cMP>01</cMP><vMP>30.20</vMP></MP><vTroco>0.00</vTroco>", dets));
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(0, 1) + ComErros(again, 1)).ExpectQuestion(
            QStringLiteral("Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de erros?"), false);
        again.Run();
    }
    EXPECT_EQ(again.import->cdsMeioPgtoXmlSat.RecordCount(), 1);
}

TEST(ImportReaders, SatBatchSendsEachCouponOnceAndLooksUpOncePerSerial)
{
    Batch batch;
    QList<Sale> sales = {SatSale(), SatSale(), SatSale()};
    QByteArray lote = SatBatch(sales, QStringLiteral("000001"));
    // Something that is not a coupon inside the batch is no sale.
    lote.replace("</LoteCFe>", "<Observacao>fim</Observacao></LoteCFe>");
    batch.Write(QStringLiteral("lote.xml"), lote);
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(3, 1)).ExpectQuestion(
            QStringLiteral("Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de erros?"), false);
        batch.Run();
    }
    EXPECT_EQ(batch.calls.value(QStringLiteral("getFilial")), 1);
    // The coupons validated and stored together, in one call.
    EXPECT_EQ(batch.calls.value(QStringLiteral("setValidaGravaVendas")), 1);
    EXPECT_EQ(batch.calls.value(QStringLiteral("setValidaXml")), 0);
    EXPECT_EQ(batch.calls.value(QStringLiteral("setVendas")), 0);
    for (const Sale &s : sales)
        EXPECT_EQ(Stored(s.StoredAccessKey()), QStringLiteral("O|%1|%2").arg(Sp().code, SatRegister().code));
    EXPECT_EQ(batch.Where(QStringLiteral("lote.xml")), QStringLiteral("Xml Processados/%1/lote.xml").arg(Sp().code));
    // The sets hold the last coupon alone, its markup without the batch wrapper.
    EXPECT_EQ(Field(batch.import->cdsVendaXmlSat, "NRACESSONFCE"), sales.last().StoredAccessKey());
    EXPECT_FALSE(Field(batch.import->cdsVendaXmlSat, "DSARQXMLNFCE").contains(QStringLiteral("LoteCFe")));
}

TEST(ImportReaders, NfceBranchIsAskedOncePerIssuerAndSeriesInABatch)
{
    QList<CashRegister> registers;
    for (const CashRegister &r : Gen().CashRegisters())
        if (r.branchCode == Sp().code)
            registers << r;
    ASSERT_GE(registers.size(), 2);
    ASSERT_NE(registers[0].nfceSeries, registers[1].nfceSeries);
    auto nfce = [](const CashRegister &r) {
        SaleOptions o;
        o.kind = DocKind::Nfce;
        o.status = NfceStatus::Authorized;
        o.branchCode = r.branchCode;
        o.registerCode = r.code;
        return Gen().MakeSale(o);
    };
    const Sale a1 = nfce(registers[0]), b = nfce(registers[1]), a2 = nfce(registers[0]);
    Batch batch;
    batch.Write(QStringLiteral("1.xml"), ProcessedNfce(a1));
    batch.Write(QStringLiteral("2.xml"), ProcessedNfce(b));
    batch.Write(QStringLiteral("3.xml"), ProcessedNfce(a2));
    auto run = [&](int notes, int files) {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(notes, files))
            .ExpectQuestion(QStringLiteral("Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de erros?"),
                            false);
        batch.Run();
    };
    run(3, 3);
    EXPECT_EQ(batch.calls.value(QStringLiteral("getFilialNFce")), 2);
    EXPECT_EQ(Stored(a1.StoredAccessKey()), QStringLiteral("O|%1|%2").arg(Sp().code, registers[0].code));
    EXPECT_EQ(Stored(b.StoredAccessKey()), QStringLiteral("O|%1|%2").arg(Sp().code, registers[1].code));
    EXPECT_EQ(Stored(a2.StoredAccessKey()), QStringLiteral("O|%1|%2").arg(Sp().code, registers[0].code));

    // The next batch asks again: a register may have moved in between.
    const Sale a3 = nfce(registers[0]);
    batch.Write(QStringLiteral("4.xml"), ProcessedNfce(a3));
    batch.calls.clear();
    run(1, 1);
    EXPECT_EQ(batch.calls.value(QStringLiteral("getFilialNFce")), 1);
    EXPECT_FALSE(Stored(a3.StoredAccessKey()).isEmpty());
}

TEST(ImportReaders, SatBranchFollowsEachCouponsOwnSerial)
{
    Batch batch;
    const Sale a1 = SatSale(), b = SatSale(), a2 = SatSale();
    QByteArray lote = SatBatch({a1, b, a2}, QStringLiteral("000002"));
    // The middle coupon comes from a SAT the database does not know.
    const QByteArray serial = "<nserieSAT>" + SatRegister().satSerial.toLatin1() + "</nserieSAT>";
    const qsizetype second = lote.indexOf(serial, lote.indexOf(serial, lote.indexOf("<CFe>") ) + 1);
    ASSERT_GT(second, 0);
    lote.replace(second, serial.size(), "<nserieSAT>900000002</nserieSAT>");
    batch.Write(QStringLiteral("lote.xml"), lote);
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(2, 1)).ExpectQuestion(
            QStringLiteral("Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de erros?"), false);
        batch.Run();
    }
    EXPECT_EQ(batch.calls.value(QStringLiteral("getFilial")), 2);
    EXPECT_FALSE(Stored(a1.StoredAccessKey()).isEmpty());
    EXPECT_EQ(Stored(b.StoredAccessKey()), QString());
    // Back to the first serial: its branch again, not the empty one of the stranger.
    EXPECT_EQ(Stored(a2.StoredAccessKey()), QStringLiteral("O|%1|%2").arg(Sp().code, SatRegister().code));
}

TEST(ImportReaders, CouponWithoutSerialNeverTakesThePreviousFilesBranch)
{
    Batch batch;
    SaleOptions o;
    o.kind = DocKind::Nfce;
    o.status = NfceStatus::Authorized;
    o.branchCode = Sp().code;
    batch.Write(QStringLiteral("a.xml"), ProcessedNfce(Gen().MakeSale(o)));
    const Sale coupon = SatSale();
    QByteArray cfe = coupon.cfe;
    cfe.replace("<nserieSAT>" + SatRegister().satSerial.toLatin1() + "</nserieSAT>", "<nserieSAT></nserieSAT>");
    batch.Write(QStringLiteral("b.xml"), cfe);
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(1, 2) + ComErros(batch, 1)).ExpectQuestion(
            QStringLiteral("Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de erros?"), false);
        batch.Run();
    }
    EXPECT_EQ(batch.calls.value(QStringLiteral("getFilial")), 1);
    EXPECT_EQ(Stored(coupon.StoredAccessKey()), QString());
    EXPECT_EQ(batch.Where(QStringLiteral("b.xml")), QStringLiteral("Xml Erro/b.xml"));
    EXPECT_EQ(batch.LogLines(QString(), QStringLiteral("b.xml")).size(), 2);
}

TEST(ImportReaders, FallbackGivesBranchRegisterAndCompany)
{
    Batch batch;
    const Sale coupon = SatSale();
    QByteArray cfe = coupon.cfe;
    cfe.replace("<nserieSAT>" + SatRegister().satSerial.toLatin1() + "</nserieSAT>", "<nserieSAT>900000003</nserieSAT>");
    batch.Write(QStringLiteral("AD.xml"), cfe);
    const QString fallback = Sp().code + SatRegister().code + Sp().companyCode;
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(1, 1)).ExpectQuestion(
            QStringLiteral("Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de erros?"), false);
        batch.Run(fallback);
    }
    EXPECT_EQ(Stored(coupon.StoredAccessKey()), QStringLiteral("O|%1|%2").arg(Sp().code, SatRegister().code));
    EXPECT_EQ(batch.Where(QStringLiteral("AD.xml")), QStringLiteral("Xml Processados/%1/AD.xml").arg(Sp().code));
}

TEST(ImportReaders, SingleCouponGivesTheSamePacketsAsInsideABatch)
{
    const Sale coupon = SatSale();
    Batch single;
    single.Write(QStringLiteral("AD.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + coupon.cfe);
    Batch lote;
    lote.Write(QStringLiteral("lote.xml"), SatBatch({coupon}, QStringLiteral("000003")));
    for (Batch *b : {&single, &lote}) {
        ScopedPlatform platform;
        // The second time the server already holds the coupon: it is counted apart, not as imported.
        platform->ExpectInfo(b == &single ? XmlProc(1, 1) : XmlProc(0, 1) + JaGravadas(1)).ExpectQuestion(
            QStringLiteral("Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de erros?"), false);
        b->Run();
    }
    EXPECT_EQ(single.import->cdsVendaXmlSat.Data().json, lote.import->cdsVendaXmlSat.Data().json);
    EXPECT_EQ(single.import->cdsItensXmlSat.Data().json, lote.import->cdsItensXmlSat.Data().json);
    EXPECT_EQ(single.import->cdsMeioPgtoXmlSat.Data().json, lote.import->cdsMeioPgtoXmlSat.Data().json);
}

TEST(ImportReaders, CancellationBatchCancelsEachCouponWithOneLookup)
{
    const QList<Sale> sales = {SatSale(NfceStatus::Cancelled), SatSale(NfceStatus::Cancelled)};
    Batch batch;
    batch.Write(QStringLiteral("1-lote.xml"), SatBatch(sales, QStringLiteral("000004")));
    QByteArray canc = SatCancelBatch(sales, QStringLiteral("000004"));
    canc.replace("</LoteCFeCanc>", "<Observacao/></LoteCFeCanc>");
    batch.Write(QStringLiteral("0-canc.xml"), canc);
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(4, 2)).ExpectQuestion(
            QStringLiteral("Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de erros?"), false);
        batch.Run();
    }
    EXPECT_EQ(batch.calls.value(QStringLiteral("getFilial")), 2); // one per file
    EXPECT_EQ(batch.calls.value(QStringLiteral("setVendasCanc")), 2);
    for (const Sale &s : sales)
        EXPECT_TRUE(Stored(s.StoredAccessKey()).startsWith(QStringLiteral("C|"))) << s.StoredAccessKey().toStdString();
    TClientDataSet &venda = batch.import->cdsVendaXmlSat;
    EXPECT_EQ(Field(venda, "NRACESSONFCE"), sales.last().StoredAccessKey());
    EXPECT_EQ(Field(venda, "NRACESSOCANC"), QStringLiteral("CFe") + sales.last().cancelAccessKey);
    EXPECT_EQ(venda.FieldByName(QStringLiteral("DTVENDA")).AsDateTime().time(), QTime(0, 0));
    EXPECT_TRUE(Field(venda, "DSARQXMLNFCE").startsWith(QStringLiteral("<CFeCanc")));
    EXPECT_EQ(batch.globals.stCdcaixa, QString());
    EXPECT_EQ(batch.Where(QStringLiteral("0-canc.xml")), QStringLiteral("Xml Processados/%1/0-canc.xml").arg(Sp().code));
}

TEST(ImportReaders, BranchThatWouldLeaveItsFolderCountsAsNone)
{
    Batch batch;
    batch.Write(QStringLiteral("nota.xml"), kNfceLiteral);
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(0, 1) + ComErros(batch, 1)).ExpectQuestion(
            QStringLiteral("Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de erros?"), false);
        batch.Run(QStringLiteral("../a00101"));
    }
    EXPECT_EQ(batch.globals.stFilial, QString());
    EXPECT_EQ(batch.calls.value(QStringLiteral("setVendasNfce")), 0);
    EXPECT_EQ(batch.calls.value(QStringLiteral("setValidaGravaVendas")), 0);
    EXPECT_EQ(batch.Where(QStringLiteral("nota.xml")), QStringLiteral("Xml Erro/nota.xml"));
    EXPECT_EQ(QDir(batch.Dir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("Xml Erro"), QStringLiteral("Xml Processados")}));
    EXPECT_FALSE(QFileInfo::exists(batch.Dir() + QStringLiteral("../a")));
}

TEST(ImportReaders, SatItemNeedsItsTaxGroupsAndAServiceItemItsIssqn)
{
    Batch batch;
    const QByteArray prod = "<prod><cProd>P1</cProd><qCom>1</qCom><vUnCom>30.20</vUnCom></prod>";
    const QByteArray pgto = "<MP><cMP>01</cMP><vMP>30.20</vMP></MP><vTroco>0.00</vTroco>";
    batch.Write(QStringLiteral("a-servico.xml"),
                SatCoupon("900000004", pgto,
                          "<det nItem=\"1\">" + prod +
                              "<imposto><ISSQN><vBC>1</vBC></ISSQN><PIS><PISNT/></PIS><COFINS><COFINSNT/></COFINS>"
                              "</imposto></det>"));
    batch.Write(QStringLiteral("b-sem-icms.xml"),
                SatCoupon("900000004", pgto,
                          "<det nItem=\"1\">" + prod + "<imposto><PIS><PISNT/></PIS><COFINS><COFINSNT/></COFINS></imposto></det>"));
    batch.Write(QStringLiteral("c-icms-vazio.xml"),
                SatCoupon("900000004", pgto, "<det nItem=\"2\">" + prod + "<imposto><ICMS/><PIS><PISNT/></PIS><COFINS>"
                                             "<COFINSNT/></COFINS></imposto></det>"));
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(0, 3) + ComErros(batch, 3)).ExpectQuestion(
            QStringLiteral("Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de erros?"), false);
        batch.Run();
    }
    EXPECT_TRUE(batch.LogLines(QString(), QStringLiteral("a-servico.xml")).value(1).endsWith(
        QStringLiteral("Filial e caixa não encontrados para o CNPJ e a série do arquivo.")));
    EXPECT_TRUE(batch.LogLines(QString(), QStringLiteral("b-sem-icms.xml")).value(1).endsWith(
        QStringLiteral("Item 1 do cupom sem o grupo imposto/ICMS")));
    EXPECT_TRUE(batch.LogLines(QString(), QStringLiteral("c-icms-vazio.xml")).value(1).endsWith(
        QStringLiteral("Item 2 do cupom sem o grupo imposto/ICMS")));
    // Only the coupon whose items were whole reached the server.
    EXPECT_EQ(batch.calls.value(QStringLiteral("setValidaXml")), 1);
}
