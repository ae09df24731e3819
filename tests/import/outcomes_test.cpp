// What a batch tells and keeps: every payment of both layouts stored, every coupon of a batch sent, the
// counts of what the server stored, every file and folder entry accounted for.
#include "tests/import/importharness.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/testutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlQuery>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace importtest;
using namespace vnd::docgen;
using vndtest::ScopedPlatform;
using Match = vndtest::ScriptedPlatform::Match;

namespace {

// Payment rows stored for a key: "code=value" in order.
QStringList StoredPayments(const QString &key)
{
    QSqlQuery q(Server().Database());
    q.prepare(QStringLiteral("SELECT R.IDPGTO, R.VRPGTO FROM VENDARECE R JOIN VENDA V ON V.IDVENDA = R.IDVENDA "
                             "WHERE V.NRACESSONFCE = ? ORDER BY R.NRSEQRECE"));
    q.addBindValue(key);
    EXPECT_TRUE(q.exec());
    QStringList rows;
    while (q.next())
        rows << q.value(0).toString() + QLatin1Char('=') + QString::number(q.value(1).toDouble(), 'f', 2);
    return rows;
}

QString Money(qint64 cents) { return QString::number(cents / 100.0, 'f', 2); }

// The rows of the viewer's log whose file is name: "kind|key|description".
QStringList LogRows(vnd::TImportacaoXml &import, const QString &name)
{
    QStringList rows;
    TClientDataSet &log = import.cdsPreValidXml;
    for (log.First(); !log.Eof(); log.Next()) {
        if (log.FieldByName(QStringLiteral("NMARQXML")).AsString() != name)
            continue;
        rows << log.FieldByName(QStringLiteral("IDTPVALIDXML")).AsString() + QLatin1Char('|') +
                    log.FieldByName(QStringLiteral("NRACESSONFCE")).AsString() + QLatin1Char('|') +
                    log.FieldByName(QStringLiteral("DSERROXML")).AsString();
    }
    return rows;
}

} // namespace

TEST(ImportOutcomes, PaymentsOfBothLayoutsAreStoredAsWritten)
{
    // 3.10: one pag per payment, tPag and vPag directly inside; 4.00: detPag per payment and vTroco.
    const Sale old = NfceSale(QStringLiteral("3.10"));
    const Sale current = NfceSale(QStringLiteral("4.00"));
    ASSERT_TRUE(old.nfe.contains("<pag><tPag>"));
    ASSERT_TRUE(current.nfe.contains("<detPag>"));
    Batch batch;
    batch.Write(QStringLiteral("a-310.xml"), ProcessedNfce(old));
    batch.Write(QStringLiteral("b-400.xml"), ProcessedNfce(current));
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(2, 2)).ExpectQuestion(kConfLog, false);
        batch.Run();
    }
    for (const Sale *s : {&old, &current}) {
        SCOPED_TRACE(s->layoutVersion.toStdString());
        QStringList expected;
        qint64 paid = 0;
        for (const SalePayment &p : s->payments)
            paid += p.amount;
        if (s->layoutVersion == QLatin1String("3.10")) {
            // What each means paid of the sale: the sum is the total, the change is not written.
            const QStringList stored = StoredPayments(s->accessKey);
            EXPECT_EQ(stored.size(), s->payments.size());
            double sum = 0;
            for (const QString &row : stored)
                sum += row.section(QLatin1Char('='), 1).toDouble();
            EXPECT_EQ(QString::number(sum, 'f', 2), Money(s->total));
        } else {
            for (const SalePayment &p : s->payments)
                expected << p.fiscalCode + QLatin1Char('=') + Money(p.amount);
            if (s->change > 0)
                expected << QStringLiteral("TR=") + Money(s->change);
            EXPECT_EQ(StoredPayments(s->accessKey), expected);
        }
    }
    // No alert that the payments do not cover the sale.
    TClientDataSet &log = batch.import->cdsPreValidXml;
    for (log.First(); !log.Eof(); log.Next())
        EXPECT_FALSE(log.FieldByName(QStringLiteral("DSERROXML")).AsString().contains(QStringLiteral("pagamentos")))
            << log.FieldByName(QStringLiteral("DSERROXML")).AsString().toStdString();
}

TEST(ImportOutcomes, PublicDocumentsOfBothLayoutsGiveTheirPaymentRows)
{
    if (vndtest::SamplesDir().isEmpty())
        GTEST_SKIP() << "public samples folder not found";
    struct Case
    {
        const char *path;
        QStringList rows;
    };
    const std::vector<Case> cases = {
        {"nfe310/spednfe_nfce_com_qrcode_NFe65.xml", {QStringLiteral("01=10.00")}},
        {"nfe310/nfephp_exemploNFCe_nfeProc65_v3.00.xml", {}},
        {"nfe400/spedda_nfce111_nfeProc65.xml", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        const QByteArray bytes = vndtest::ReadFile(vndtest::SamplesDir() + QLatin1Char('/') + QLatin1String(c.path));
        // The rows expected, counted from the text: one per 3.10 pag, one per detPag and vTroco.
        int expected = int(bytes.count("<detPag>") + bytes.count("<vTroco>"));
        if (!bytes.contains("<detPag>"))
            expected += int(bytes.count("<pag>"));
        ASSERT_GT(expected, 0);
        Batch batch;
        batch.Write(QStringLiteral("nota.xml"), bytes);
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(0, 1), Match::Contains).ExpectQuestion(kConfLog, false);
        batch.Run();
        TClientDataSet &pgto = batch.import->cdsMeioPgtoXmlNfce;
        EXPECT_EQ(pgto.RecordCount(), expected);
        if (!c.rows.isEmpty()) {
            QStringList rows;
            for (pgto.First(); !pgto.Eof(); pgto.Next())
                rows << pgto.FieldByName(QStringLiteral("IDPGTO")).AsString() + QLatin1Char('=') +
                            QString::number(pgto.FieldByName(QStringLiteral("VRPGTO")).AsFloat(), 'f', 2);
            EXPECT_EQ(rows, c.rows);
        }
    }
}

TEST(ImportOutcomes, ARefusedCouponLeavesTheRestOfItsBatchStoredAndCanBeImportedAgain)
{
    const QList<Sale> sales = SatSales(3);
    // The middle coupon sells a product the shop never registered: the server refuses it.
    QList<Sale> batchSales = sales;
    const QByteArray product = "<cProd>" + batchSales[1].items.first().productCode.toUtf8() + "</cProd>";
    ASSERT_TRUE(batchSales[1].cfe.contains(product));
    batchSales[1].cfe.replace(product, "<cProd>NOVO-PRODUTO-77</cProd>");
    Batch batch;
    batch.Write(QStringLiteral("lote.xml"), SatBatch(batchSales, QStringLiteral("000000000000001")));
    const QString branch = Sp().code;
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(2, 1) + ComErros(batch, 1)).ExpectQuestion(kConfLog, false);
        batch.Run();
    }
    EXPECT_FALSE(Stored(sales[0].StoredAccessKey()).isEmpty());
    EXPECT_TRUE(Stored(sales[1].StoredAccessKey()).isEmpty());
    EXPECT_FALSE(Stored(sales[2].StoredAccessKey()).isEmpty());
    // The three coupons in one call and one transaction, each answered on its own.
    EXPECT_EQ(batch.calls.value(QStringLiteral("setValidaGravaVendas")), 1);
    // Filed with the errors, so that it is there to be imported again once the cause is fixed.
    EXPECT_EQ(batch.Where(QStringLiteral("lote.xml")), QStringLiteral("Xml Erro/%1/lote.xml").arg(branch));
    const QString log = batch.LogLines(branch, QStringLiteral("lote.xml")).join(QLatin1Char('\n'));
    EXPECT_TRUE(log.contains(sales[1].StoredAccessKey())) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("NOVO-PRODUTO-77"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("1 de 3 cupons"))) << log.toStdString();
    ASSERT_EQ(batch.import->arquivosComErro.size(), 1);
    const QStringList rows = LogRows(*batch.import, QStringLiteral("lote.xml"));
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const QString &r) {
        return r.startsWith(QStringLiteral("E|%1|Não foi gravado: ").arg(sales[1].StoredAccessKey()));
    }))
        << rows.join(QLatin1Char('\n')).toStdString();

    // The product registered, the same file again: the refused coupon is stored, the two others are
    // recognised and counted apart.
    {
        QSqlQuery q(Server().Database());
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO PRODUTO (CDPRODUTO, NMPRODUTO) VALUES ('NOVO-PRODUTO-77', "
                                          "'Produto cadastrado depois')")));
    }
    QFile::rename(batch.Dir() + QStringLiteral("Xml Erro/%1/lote.xml").arg(branch), batch.Dir() + QStringLiteral("lote.xml"));
    {
        ScopedPlatform platform;
        platform
            ->ExpectInfo(XmlProc(1, 1) + JaGravadas(2))
            .ExpectQuestion(kConfLog, false);
        batch.Run();
    }
    EXPECT_FALSE(Stored(sales[1].StoredAccessKey()).isEmpty());
    EXPECT_EQ(batch.import->inQtdeNotasImp, 1);
    EXPECT_EQ(batch.import->inQtdeNotasJaImp, 2);
    EXPECT_TRUE(batch.import->ImportacaoCompleta());
    EXPECT_EQ(batch.Where(QStringLiteral("lote.xml")), QStringLiteral("Xml Processados/%1/lote.xml").arg(branch));
}

TEST(ImportOutcomes, AFileImportedAgainCountsNothingStoredAndFilesKeepEveryVersion)
{
    const QString branch = Sp().code;
    const QByteArray first = ProcessedNfce(NfceSale(QStringLiteral("4.00")));
    Batch batch;
    batch.Write(QStringLiteral("nota.xml"), first);
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(1, 1)).ExpectQuestion(kConfLog, false);
        batch.Run();
    }
    // The same bytes again: the server holds the sale, one copy is kept.
    batch.Write(QStringLiteral("nota.xml"), first);
    {
        ScopedPlatform platform;
        platform
            ->ExpectInfo(XmlProc(0, 1) + JaGravadas(1))
            .ExpectQuestion(kConfLog, false);
        batch.Run();
    }
    const QString folder = batch.Dir() + QStringLiteral("Xml Processados/%1/").arg(branch);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("nota.xml")});
    EXPECT_TRUE(batch.LogLines(branch, QStringLiteral("nota.xml")).isEmpty());

    // Another document under the same name: both are kept and the file's log says so.
    const QByteArray second = ProcessedNfce(NfceSale(QStringLiteral("3.10")));
    batch.Write(QStringLiteral("nota.xml"), second);
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(1, 1)).ExpectQuestion(kConfLog, false);
        batch.Run();
    }
    EXPECT_EQ(vndtest::ReadFile(folder + QStringLiteral("nota.xml")), first);
    EXPECT_EQ(vndtest::ReadFile(folder + QStringLiteral("nota (2).xml")), second);
    const QStringList log = batch.LogLines(branch, QStringLiteral("nota.xml"));
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].contains(QStringLiteral("guardado como \"nota (2).xml\""))) << log[0].toStdString();
    const QStringList rows = LogRows(*batch.import, QStringLiteral("nota.xml"));
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const QString &r) { return r.startsWith(QStringLiteral("A|")); }))
        << rows.join(QLatin1Char('\n')).toStdString();
}

TEST(ImportOutcomes, EntriesThatAreNotRegularFilesAreToldAndLeftInPlace)
{
    Batch batch;
    const QString dir = batch.Dir();
    batch.Write(QStringLiteral("boa.xml"), ProcessedNfce(NfceSale(QStringLiteral("4.00"))));
    QStringList made;
    // A FIFO would hang a blocking open forever; a link to a device would be read without end.
    if (::mkfifo(QFile::encodeName(dir + QStringLiteral("fifo.xml")).constData(), 0600) == 0)
        made << QStringLiteral("fifo.xml");
    if (QFile::link(QStringLiteral("/dev/zero"), dir + QStringLiteral("zero.xml")))
        made << QStringLiteral("zero.xml");
    if (QFile::link(dir + QStringLiteral("nao-existe"), dir + QStringLiteral("quebrado.xml")))
        made << QStringLiteral("quebrado.xml");
    const QByteArray latin1Name = QFile::encodeName(dir) + "S\xe3o.xml";
    {
        const int fd = ::open(latin1Name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) {
            ASSERT_EQ(::write(fd, "<a/>", 4), 4);
            ::close(fd);
            made << QStringLiteral("S\\xe3o.xml");
        }
    }
    if (made.isEmpty())
        GTEST_SKIP() << "this system makes none of the hostile entries";
    {
        ScopedPlatform platform;
        platform
            ->ExpectInfo(XmlProc(1, 1) +
                         QStringLiteral("\n%1 entrada(s) da pasta não foram lidas (links, FIFOs, dispositivos ou nomes "
                                        "fora do UTF-8) e ficaram em %2")
                             .arg(made.size())
                             .arg(dir))
            .ExpectQuestion(kConfLog, false);
        batch.Run();
    }
    QStringList told;
    for (const vnd::EntradaRecusada &e : batch.import->entradasRecusadas) {
        told << e.nome;
        EXPECT_GT(e.motivo.size(), 10) << e.nome.toStdString();
    }
    made.sort();
    told.sort();
    EXPECT_EQ(told, made);
    // Each one is still where it was, and each has its row in the log the user is offered.
    for (const QString &name : made) {
        if (name.startsWith(QLatin1Char('S')))
            continue;
        struct stat st;
        EXPECT_EQ(::lstat(QFile::encodeName(dir + name).constData(), &st), 0) << name.toStdString();
        EXPECT_EQ(LogRows(*batch.import, name).size(), 1) << name.toStdString();
    }
    struct stat st;
    EXPECT_EQ(::lstat(latin1Name.constData(), &st), 0);
    EXPECT_EQ(batch.Where(QStringLiteral("boa.xml")), QStringLiteral("Xml Processados/%1/boa.xml").arg(Sp().code));
    EXPECT_FALSE(batch.import->ImportacaoCompleta());
    // The temporary folder cannot name it either.
    ::unlink(latin1Name.constData());
}

TEST(ImportOutcomes, UtfEightBytesUnderALatinDeclarationAreAnAlert)
{
    // A 4.00 note declared ISO-8859-1 whose issuer name carries the accents given; the viewer's rows.
    auto import = [](const QByteArray &accented) {
        QByteArray bytes = ProcessedNfce(NfceSale(QStringLiteral("4.00")));
        EXPECT_TRUE(bytes.startsWith("<?xml"));
        bytes.replace(bytes.indexOf("encoding=\"UTF-8\""), 16, "encoding=\"ISO-8859-1\"");
        bytes.replace("<xNome>", "<xNome>" + accented + " ");
        Batch batch;
        batch.Write(QStringLiteral("latin.xml"), bytes);
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(1, 1), Match::Contains).ExpectQuestion(kConfLog, false);
        batch.Run();
        return LogRows(*batch.import, QStringLiteral("latin.xml"));
    };
    const QStringList rows = import("São João");
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const QString &r) {
        return r.startsWith(QStringLiteral("A|")) && r.contains(QStringLiteral("ISO-8859-1")) &&
               r.contains(QStringLiteral("UTF-8"));
    })) << rows.join(QLatin1Char('\n')).toStdString();

    // A true Latin-1 file, accents as single bytes, is read without an alert.
    for (const QString &r : import("S\xe3o Jo\xe3o"))
        EXPECT_FALSE(r.contains(QStringLiteral("ISO-8859-1"))) << r.toStdString();
}

TEST(ImportOutcomes, AlphanumericIssuersAndTheTaxGroupsOf2026AreStored)
{
    // The seeded master data holds a company with an alphanumeric CNPJ, made after the rest.
    MasterOptions master;
    master.alphanumericCompanies = 1;
    Generator gen(1, master);
    gen.SetClock(QDateTime(QDate(2026, 8, 3), QTime(9, 0)));
    const Branch &branch = gen.Branches().last();
    ASSERT_TRUE(branch.cnpj.contains(QRegularExpression(QStringLiteral("[A-Z]")))) << branch.cnpj.toStdString();
    SaleOptions o;
    o.kind = DocKind::Nfce;
    o.status = NfceStatus::Authorized;
    o.branchCode = branch.code;
    o.layoutVersion = QStringLiteral("4.00");
    const Sale sale = gen.MakeSale(o);
    ASSERT_EQ(sale.accessKey.mid(6, 14), branch.cnpj);

    // What the 2026 reform adds to a note, and a card group in the payment: nothing the import reads.
    QByteArray doc = ProcessedNfce(sale);
    doc.replace("</imposto>", "<IBSCBS><CST>000</CST><cClassTrib>000001</cClassTrib></IBSCBS></imposto>");
    doc.replace("</ICMSTot>", "</ICMSTot><IBSCBSTot><vBCIBSCBS>0.00</vBCIBSCBS></IBSCBSTot>");
    doc.replace("</vPag>", "</vPag><card><tpIntegra>2</tpIntegra></card>");
    Batch batch;
    batch.Write(QStringLiteral("alfa.xml"), doc);
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(1, 1)).ExpectQuestion(kConfLog, false);
        batch.Run();
    }
    EXPECT_EQ(Stored(sale.accessKey), QStringLiteral("O|%1|%2").arg(branch.code, sale.registerCode));
    EXPECT_EQ(batch.Where(QStringLiteral("alfa.xml")), QStringLiteral("Xml Processados/%1/alfa.xml").arg(branch.code));
    EXPECT_EQ(StoredPayments(sale.accessKey).size(), sale.payments.size() + (sale.change > 0 ? 1 : 0));
}
