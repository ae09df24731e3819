// Every document kind against the official schemas, through xmllint, over a mix of sales wide enough
// to reach each tax regime, status, payment and discount path of the writers.

#include "server/docgen/docgen.h"
#include "tests/docgen/docgen_testutil.h"
#include "tests/support/testutil.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vnd::docgen;
using docgentest::Validate;

namespace
{

using Documents = QList<QPair<QString, QByteArray>>;

class DocgenSchema : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        MasterOptions options;
        options.companies = 3; // both tax regimes and several states
        Generator gen(2024, options);
        s_sales = new QList<Sale>(gen.MakeSales(90));
        SaleOptions cancelled;
        cancelled.status = NfceStatus::Cancelled;
        cancelled.storeCancelEvent = true;
        cancelled.kind = DocKind::Nfce;
        s_sales->append(gen.MakeSales(4, cancelled));
        cancelled.kind = DocKind::Sat;
        s_sales->append(gen.MakeSales(4, cancelled));
    }
    static void TearDownTestSuite()
    {
        delete s_sales;
        s_sales = nullptr;
    }
    void SetUp() override
    {
        const QString reason = docgentest::SchemaSkipReason();
        if (!reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
    }

    static QList<Sale> Of(DocKind kind)
    {
        QList<Sale> out;
        for (const Sale &s : *s_sales)
            if (s.kind == kind)
                out.append(s);
        return out;
    }

    static QList<Sale> *s_sales;
};

QList<Sale> *DocgenSchema::s_sales = nullptr;

QString Name(const Sale &s, const char *suffix)
{
    return s.accessKey + QString::fromLatin1(suffix);
}

} // namespace

TEST_F(DocgenSchema, NfceStoredFormsValidate)
{
    Documents bare, batches, processed;
    for (const Sale &s : Of(DocKind::Nfce)) {
        bare.append({Name(s, "-bare.xml"), s.StoredDocument(NfceForm::BareDeclaration)});
        bare.append({Name(s, "-utf8.xml"), s.StoredDocument(NfceForm::Utf8Declaration)});
        batches.append({Name(s, "-envi.xml"), s.StoredDocument(NfceForm::EnviNFe)});
        if (!s.protocolNumber.isEmpty())
            processed.append({Name(s, "-proc.xml"), s.StoredDocument(NfceForm::Processed)});
    }
    ASSERT_GT(processed.size(), 20);
    // The check itself must be able to fail: a document with a broken value is refused.
    QByteArray broken = bare.first().second;
    broken.replace("<mod>65</mod>", "<mod>66</mod>");
    EXPECT_NE(Validate(QStringLiteral("nfe310/nfe_v3.10.xsd"), {{QStringLiteral("broken.xml"), broken}}),
              QString());
    EXPECT_EQ(Validate(QStringLiteral("nfe310/nfe_v3.10.xsd"), bare), QString());
    EXPECT_EQ(Validate(QStringLiteral("nfe310/enviNFe_v3.10.xsd"), batches), QString());
    EXPECT_EQ(Validate(QStringLiteral("nfe310/procNFe_v3.10.xsd"), processed), QString());
}

TEST_F(DocgenSchema, CancellationEventsValidate)
{
    Documents events;
    for (const Sale &s : Of(DocKind::Nfce))
        if (s.status == NfceStatus::Cancelled)
            events.append({Name(s, "-can.xml"), CancellationEvent(s)});
    ASSERT_GE(events.size(), 4);
    EXPECT_EQ(Validate(QStringLiteral("event-cancel/procEventoCancNFe_v1.00.xsd"), events), QString());
}

TEST_F(DocgenSchema, SatCouponsAndBatchesValidate)
{
    const QList<Sale> sat = Of(DocKind::Sat);
    Documents coupons;
    QList<Sale> cancelled;
    for (const Sale &s : sat) {
        coupons.append({Name(s, "-cfe.xml"), s.cfe});
        if (s.status == NfceStatus::Cancelled)
            cancelled.append(s);
    }
    ASSERT_GT(coupons.size(), 20);
    ASSERT_GE(cancelled.size(), 4);
    EXPECT_EQ(Validate(QStringLiteral("sat/CfeDadosVendaSAT_0007.xsd"), coupons), QString());
    // The tax authority's batch schemas hold each coupon whole, so they check the cancellations too.
    const Documents batches = {
        {QStringLiteral("lote.xml"), SatBatch(sat.mid(0, 50), QStringLiteral("1"))},
        {QStringLiteral("lote1.xml"), SatBatch(sat.mid(0, 1), QStringLiteral("123456789012345"))}};
    EXPECT_EQ(Validate(QStringLiteral("sat/20150203_CfeRecepcaoValidador_0006.noanchor.xsd"), batches),
              QString());
    const Documents cancelBatches = {
        {QStringLiteral("canc.xml"), SatCancelBatch(cancelled, QStringLiteral("77"))}};
    EXPECT_EQ(Validate(QStringLiteral("sat/CfeCancelamento_0006ER2114_V1.1.noanchor.xsd"), cancelBatches),
              QString());
}

TEST_F(DocgenSchema, LayoutFourHundredValidatesInEveryStoredForm)
{
    // Layout 4.00 against the package in force, over both tax regimes, statuses, customers and changes.
    MasterOptions options;
    options.companies = 3;
    Generator gen(40, options);
    SaleOptions o;
    o.kind = DocKind::Nfce;
    o.layoutVersion = QStringLiteral("4.00");
    Documents bare, batches, processed;
    for (const Sale &s : gen.MakeSales(60, o)) {
        bare.append({Name(s, "-bare.xml"), s.StoredDocument(NfceForm::BareDeclaration)});
        bare.append({Name(s, "-utf8.xml"), s.StoredDocument(NfceForm::Utf8Declaration)});
        batches.append({Name(s, "-envi.xml"), s.StoredDocument(NfceForm::EnviNFe)});
        if (!s.protocolNumber.isEmpty())
            processed.append({Name(s, "-proc.xml"), s.StoredDocument(NfceForm::Processed)});
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_buffer(s.nfe.constData(), size_t(s.nfe.size())));
        const pugi::xml_node inf = doc.child("NFe").child("infNFe");
        EXPECT_EQ(inf.select_nodes("pag/detPag").size(), size_t(s.payments.size()));
        EXPECT_EQ(bool(inf.child("pag").child("vTroco")), s.change > 0);
        EXPECT_TRUE(doc.child("NFe").child("infNFeSupl").child("urlChave"));
    }
    ASSERT_GT(processed.size(), 20);
    EXPECT_EQ(Validate(QStringLiteral("nfe400/nfe_v4.00.xsd"), bare).toStdString(), "");
    EXPECT_EQ(Validate(QStringLiteral("nfe400/enviNFe_v4.00.xsd"), batches).toStdString(), "");
    EXPECT_EQ(Validate(QStringLiteral("nfe400/procNFe_v4.00.xsd"), processed).toStdString(), "");
}

namespace
{

// The signed element cut out of xmllint's canonical form of the whole document, with the default
// namespace that a document subset inherits written on it.
QByteArray CanonicalElement(const QByteArray &document, const QByteArray &tag, const QByteArray &inheritedNs)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("doc.xml"));
    vndtest::WriteFile(path, document);
    QProcess lint;
    lint.start(QStringLiteral("xmllint"), {QStringLiteral("--c14n"), path});
    lint.waitForFinished(60000);
    const QByteArray canonical = lint.readAllStandardOutput();
    const qsizetype from = canonical.indexOf("<" + tag + " ");
    const qsizetype to = canonical.indexOf("</" + tag + ">", from);
    QByteArray element = canonical.mid(from, to + tag.size() + 3 - from);
    if (!inheritedNs.isEmpty())
        element.insert(tag.size() + 1, " xmlns=\"" + inheritedNs + "\"");
    return element;
}

QByteArray DigestOf(const QByteArray &document)
{
    const qsizetype at = document.indexOf("<DigestValue>") + 13;
    return document.mid(at, document.indexOf("</DigestValue>", at) - at);
}

} // namespace

TEST(DocgenSignature, DigestsAreOfTheCanonicalSignedElement)
{
    if (QStandardPaths::findExecutable(QStringLiteral("xmllint")).isEmpty())
        GTEST_SKIP() << "xmllint is not installed";
    Generator gen(55);
    SaleOptions o;
    o.status = NfceStatus::Cancelled;
    o.storeCancelEvent = true;
    const QByteArray nfeNs = "http://www.portalfiscal.inf.br/nfe";
    for (int i = 0; i < 4; ++i) {
        o.kind = DocKind::Nfce;
        const Sale s = gen.MakeSale(o);
        EXPECT_EQ(QCryptographicHash::hash(CanonicalElement(s.nfe, "infNFe", nfeNs), QCryptographicHash::Sha1)
                      .toBase64(),
                  s.digestValue.toLatin1());
        EXPECT_EQ(QCryptographicHash::hash(CanonicalElement(s.cancelEvent, "infEvento", nfeNs),
                                           QCryptographicHash::Sha1)
                      .toBase64(),
                  DigestOf(s.cancelEvent));
        o.kind = DocKind::Sat;
        const Sale t = gen.MakeSale(o);
        EXPECT_EQ(QCryptographicHash::hash(CanonicalElement(t.cfe, "infCFe", {}), QCryptographicHash::Sha256)
                      .toBase64(),
                  DigestOf(t.cfe));
        EXPECT_EQ(
            QCryptographicHash::hash(CanonicalElement(t.cfeCanc, "infCFe", {}), QCryptographicHash::Sha256)
                .toBase64(),
            DigestOf(t.cfeCanc));
    }
}
