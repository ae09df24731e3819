// Sales and their documents read back as a consumer would: totals taken from the XML must add up, the
// stored forms must be cut exactly where the export cuts them, and a seed must give the same bytes.

#include "server/docgen/docgen.h"
#include "server/docgen/fiscalcodes.h"
#include "tests/docgen/docgen_testutil.h"

#include "host/errors.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QStringDecoder>

#include <gtest/gtest.h>

using namespace vnd::docgen;
using docgentest::Cents;
using docgentest::SumCents;

namespace
{

pugi::xml_document Parse(const QByteArray &xml)
{
    pugi::xml_document doc;
    const pugi::xml_parse_result r = doc.load_buffer(xml.constData(), size_t(xml.size()));
    EXPECT_TRUE(r) << r.description() << " at " << r.offset;
    return doc;
}

qint64 Child(const pugi::xml_node &node, const char *path)
{
    return Cents(node.first_element_by_path(path).text().get());
}

QList<Sale> MixedSales(quint64 seed, int count)
{
    Generator gen(seed);
    return gen.MakeSales(count);
}

} // namespace

TEST(DocgenSale, ValuesAddUpInTheSaleAndInItsDocuments)
{
    int nfce = 0, sat = 0, withChange = 0, withRated = 0;
    for (const Sale &s : MixedSales(3, 120)) {
        SCOPED_TRACE(s.StoredAccessKey().toStdString());
        qint64 net = 0, paid = 0;
        for (const SaleItem &it : s.items) {
            EXPECT_EQ(it.gross, RoundDiv(it.quantity * it.unitPrice, 10000));
            EXPECT_EQ(it.net, it.gross - it.discount + it.surcharge - it.ratedDiscount + it.ratedSurcharge);
            EXPECT_GT(it.net, 0);
            net += it.net;
        }
        for (const SalePayment &p : s.payments)
            paid += p.amount;
        EXPECT_EQ(net, s.total);
        EXPECT_EQ(paid - s.change, s.total);
        EXPECT_GE(s.change, 0);
        withChange += s.change > 0;
        EXPECT_TRUE(IsValidAccessKey(s.accessKey));

        if (s.kind == DocKind::Nfce) {
            ++nfce;
            const auto doc = Parse(s.nfe);
            const pugi::xml_node inf = doc.child("NFe").child("infNFe");
            const pugi::xml_node tot = inf.child("total").child("ICMSTot");
            const auto dets = inf.select_nodes("det/prod");
            EXPECT_EQ(SumCents(dets, "vProd"), Child(tot, "vProd"));
            EXPECT_EQ(SumCents(dets, "vDesc"), Child(tot, "vDesc"));
            EXPECT_EQ(SumCents(dets, "vOutro"), Child(tot, "vOutro"));
            EXPECT_EQ(Child(tot, "vProd") - Child(tot, "vDesc") + Child(tot, "vOutro"), Child(tot, "vNF"));
            EXPECT_EQ(Child(tot, "vNF"), s.total);
            EXPECT_EQ(SumCents(inf.select_nodes("det/imposto/ICMS/*"), "vICMS"), Child(tot, "vICMS"));
            EXPECT_EQ(SumCents(inf.select_nodes("det/imposto/PIS/*"), "vPIS"), Child(tot, "vPIS"));
            EXPECT_EQ(SumCents(inf.select_nodes("pag"), "vPag"), s.total); // 3.10 records no change
            EXPECT_EQ(QString::fromUtf8(inf.attribute("Id").value()), QStringLiteral("NFe") + s.accessKey);
            EXPECT_EQ(QString::fromUtf8(inf.child("ide").child_value("cDV")), s.accessKey.right(1));
        } else {
            ++sat;
            const auto doc = Parse(s.cfe);
            const pugi::xml_node inf = doc.child("CFe").child("infCFe");
            const pugi::xml_node total = inf.child("total");
            const auto prods = inf.select_nodes("det/prod");
            const qint64 vCFe = Child(total, "vCFe");
            EXPECT_EQ(SumCents(prods, "vProd"), Child(total, "ICMSTot/vProd"));
            EXPECT_EQ(SumCents(prods, "vItem") - SumCents(prods, "vRatDesc") + SumCents(prods, "vRatAcr"),
                      vCFe);
            const qint64 subDiscount = std::max<qint64>(Child(total, "DescAcrEntr/vDescSubtot"), 0);
            const qint64 subSurcharge = std::max<qint64>(Child(total, "DescAcrEntr/vAcresSubtot"), 0);
            EXPECT_EQ(SumCents(prods, "vRatDesc"), subDiscount);
            EXPECT_EQ(Child(total, "ICMSTot/vProd") - Child(total, "ICMSTot/vDesc") +
                          Child(total, "ICMSTot/vOutro") - subDiscount + subSurcharge,
                      vCFe);
            EXPECT_EQ(SumCents(inf.select_nodes("pgto/MP"), "vMP") - Child(inf, "pgto/vTroco"), vCFe);
            EXPECT_EQ(vCFe, s.total);
            withRated += subDiscount > 0;
            if (s.status == NfceStatus::Cancelled) {
                const auto canc = Parse(s.cfeCanc);
                const pugi::xml_node ci = canc.child("CFeCanc").child("infCFe");
                EXPECT_EQ(QString::fromUtf8(ci.attribute("chCanc").value()), s.StoredAccessKey());
                EXPECT_EQ(QString::fromUtf8(ci.attribute("Id").value()),
                          QStringLiteral("CFe") + s.cancelAccessKey);
                EXPECT_TRUE(IsValidAccessKey(s.cancelAccessKey));
                EXPECT_EQ(QString::fromUtf8(ci.child_value("dEmi")),
                          s.issuedAt.toString(QStringLiteral("yyyyMMdd")));
            }
        }
    }
    // The mix must reach every path the readers have.
    EXPECT_GT(nfce, 20);
    EXPECT_GT(sat, 20);
    EXPECT_GT(withChange, 5);
    EXPECT_GT(withRated, 0);
}

TEST(DocgenSale, StoredFormsCutWhereTheExportCuts)
{
    Generator gen(5);
    SaleOptions o;
    o.kind = DocKind::Nfce;
    o.status = NfceStatus::Authorized;
    for (const Sale &s : gen.MakeSales(6, o)) {
        const QByteArray bare = s.StoredDocument(NfceForm::BareDeclaration);
        EXPECT_TRUE(bare.startsWith("<?xml version=\"1.0\"?><NFe "));
        EXPECT_EQ(bare.count("<infNFeSupl>"), 1);

        const QByteArray utf8 = s.StoredDocument(NfceForm::Utf8Declaration);
        EXPECT_EQ(utf8.left(38), QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
        EXPECT_FALSE(utf8.contains("infNFeSupl"));
        EXPECT_EQ(utf8.count("</infNFe>"), 1);
        Parse(utf8);

        const QByteArray batch = s.StoredDocument(NfceForm::EnviNFe);
        EXPECT_TRUE(batch.startsWith("<enviNFe"));
        EXPECT_EQ(batch.indexOf("<NFe"), kEnviNFeHeadLength);
        EXPECT_EQ(batch.right(kEnviNFeTailLength), QByteArray("</enviNFe>"));
        EXPECT_EQ(batch.mid(kEnviNFeHeadLength, batch.size() - kEnviNFeHeadLength - kEnviNFeTailLength),
                  s.nfe);

        const QByteArray processed = s.StoredDocument(NfceForm::Processed);
        EXPECT_EQ(processed.count("<nfeProc"), 1);
        const auto doc = Parse(processed);
        const pugi::xml_node prot = doc.child("nfeProc").child("protNFe").child("infProt");
        EXPECT_EQ(QString::fromUtf8(prot.child_value("nProt")), s.protocolNumber);
        EXPECT_EQ(QString::fromUtf8(prot.child_value("chNFe")), s.accessKey);
        EXPECT_EQ(QString::fromUtf8(prot.child_value("cStat")), QStringLiteral("100"));
        // The export takes the 28 characters after the first <DigestValue> as digVal.
        const qsizetype at = s.nfe.indexOf("<DigestValue>") + 13;
        EXPECT_EQ(QString::fromLatin1(s.nfe.mid(at, 28)), s.digestValue);
        EXPECT_EQ(QString::fromUtf8(prot.child_value("digVal")), s.digestValue);
        EXPECT_EQ(QByteArray::fromBase64(s.digestValue.toLatin1()).size(), 20);
    }
}

TEST(DocgenSale, QrCodeCarriesTheDocumentAndItsHash)
{
    Generator gen(8);
    SaleOptions o;
    o.kind = DocKind::Nfce;
    o.withCustomer = true;
    const Sale s = gen.MakeSale(o);
    const Branch &b = gen.BranchByCode(s.branchCode);
    const QString qr = s.qrCode;
    ASSERT_TRUE(qr.startsWith(b.qrCodeUrl + u'?'));
    const QString params = qr.mid(b.qrCodeUrl.size() + 1).section(QStringLiteral("&cHashQRCode="), 0, 0);
    const QString hash = qr.section(QStringLiteral("&cHashQRCode="), 1);
    EXPECT_EQ(
        hash,
        QString::fromLatin1(
            QCryptographicHash::hash((params + b.csc).toUtf8(), QCryptographicHash::Sha1).toHex().toUpper()));
    EXPECT_TRUE(params.contains(QStringLiteral("&cDest=") + s.customerCpf));
    EXPECT_TRUE(params.contains(QStringLiteral("&vNF=") + Money(s.total) + u'&'));
    EXPECT_TRUE(
        params.contains(QStringLiteral("&digVal=") + QString::fromLatin1(s.digestValue.toLatin1().toHex())));
    EXPECT_TRUE(params.contains(QStringLiteral("&dhEmi=") +
                                QString::fromLatin1(FiscalDateTime(s.issuedAt).toLatin1().toHex())));
    EXPECT_TRUE(s.nfe.contains("<qrCode><![CDATA[" + qr.toUtf8() + "]]></qrCode>"));
    EXPECT_EQ(s.qrSiteUrl, b.consultUrl);
}

TEST(DocgenSale, StatusesFillTheirColumns)
{
    Generator gen(9);
    SaleOptions o;
    o.kind = DocKind::Nfce;
    o.status = NfceStatus::Pending;
    const Sale pending = gen.MakeSale(o);
    EXPECT_TRUE(pending.protocolNumber.isEmpty());
    EXPECT_FALSE(pending.authorizedAt.isValid());
    EXPECT_EQ(pending.accessKey.at(34), u'9'); // issued offline, in contingency
    EXPECT_EQ(pending.StatusFlag(), QStringLiteral("P"));
    EXPECT_THROW(ProcessedNfce(pending), Exception);

    o.status = NfceStatus::Rejected;
    const Sale rejected = gen.MakeSale(o);
    EXPECT_TRUE(rejected.protocolNumber.isEmpty());
    EXPECT_EQ(rejected.statusCode.size(), 3);
    EXPECT_TRUE(rejected.statusText.startsWith(QStringLiteral("Rejeição: ")));

    o.status = NfceStatus::Cancelled;
    o.storeCancelEvent = false;
    const Sale cancelled = gen.MakeSale(o);
    EXPECT_EQ(cancelled.protocolNumber.size(), 15);
    EXPECT_EQ(cancelled.cancelProtocolNumber.size(), 15);
    EXPECT_GE(cancelled.cancelReason.size(), 15);
    EXPECT_GT(cancelled.cancelledAt, cancelled.authorizedAt);
    EXPECT_GT(cancelled.authorizedAt, cancelled.issuedAt);
    EXPECT_TRUE(cancelled.StoredCancellation().isEmpty());
    EXPECT_EQ(cancelled.SituationFlag(), QStringLiteral("C"));
    o.storeCancelEvent = true;
    const Sale withEvent = gen.MakeSale(o);
    EXPECT_EQ(withEvent.StoredCancellation(), CancellationEvent(withEvent));

    o.kind = DocKind::Sat;
    o.storeCancelEvent.reset();
    const Sale sat = gen.MakeSale(o);
    EXPECT_EQ(sat.StoredAccessKey(), QStringLiteral("CFe") + sat.accessKey);
    EXPECT_EQ(sat.StoredCancellation(), sat.cfeCanc);
    EXPECT_EQ(sat.EmissionFlag(), QStringLiteral("S"));
    EXPECT_THROW(StoredNfce(sat, NfceForm::Processed), Exception);
}

TEST(DocgenSale, SameSeedSameBytesOtherSeedOtherBytes)
{
    auto digestOf = [](quint64 seed) {
        QCryptographicHash h(QCryptographicHash::Sha256);
        for (const Sale &s : MixedSales(seed, 40)) {
            h.addData(s.StoredDocument(NfceForm::BareDeclaration));
            h.addData(s.StoredCancellation());
            h.addData((s.saleNumber + s.issuedAt.toString(Qt::ISODate) + s.customerCode).toUtf8());
        }
        return h.result();
    };
    EXPECT_EQ(digestOf(21), digestOf(21));
    EXPECT_NE(digestOf(21), digestOf(22));

    // The sequence is fixed by the seed alone, whatever else the program generated before.
    Generator a(30), b(30);
    Generator(99).MakeSales(5);
    EXPECT_EQ(a.MakeSale().StoredDocument(), b.MakeSale().StoredDocument());
}

TEST(DocgenSale, AccentedTextsAreValidUtf8AndEscaped)
{
    MasterOptions options;
    options.companies = 8;
    options.branchesPerCompany = 1;
    Generator gen(12, options);
    QByteArray all;
    for (int i = 0; i < 60; ++i) {
        const Sale s = gen.MakeSale();
        all += s.nfe + s.cfe + s.cfeCanc + s.cancelEvent;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(all);
    EXPECT_FALSE(decoder.hasError());
    for (const char *word : {"São Paulo", "Pão", "Açaí &amp; Cia", "ção"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(word))) << word;
    EXPECT_FALSE(all.contains("Açaí & Cia")); // the ampersand is always escaped
    // Schema texts admit only characters up to U+00FF.
    for (QChar c : text)
        ASSERT_LE(c.unicode(), 0xFF) << "character outside Latin-1 in a fiscal text";
}

TEST(DocgenSale, OptionsThatCannotBeMetAreRefusedByName)
{
    Generator gen(4);
    SaleOptions o;
    o.branchCode = QStringLiteral("9999");
    try {
        gen.MakeSale(o);
        FAIL() << "an unknown branch was accepted";
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("9999")));
    }
    o.branchCode = gen.Branches().first().code;
    o.registerCode = QStringLiteral("777");
    EXPECT_THROW(gen.MakeSale(o), Exception);
    o.registerCode.clear();
    o.kind = DocKind::Sat;
    o.status = NfceStatus::Pending;
    EXPECT_THROW(gen.MakeSale(o), Exception);
    o.status.reset();
    o.minItems = 0;
    EXPECT_THROW(gen.MakeSale(o), Exception);

    MasterOptions many;
    many.companies = 4;
    Generator chain(4, many);
    int outsideSaoPaulo = 0;
    for (const Branch &b : chain.Branches()) {
        SaleOptions sat;
        sat.kind = DocKind::Sat;
        sat.branchCode = b.code;
        if (b.IssuesSat()) {
            EXPECT_EQ(chain.MakeSale(sat).kind, DocKind::Sat);
        } else {
            ++outsideSaoPaulo;
            EXPECT_THROW(chain.MakeSale(sat), Exception);
        }
    }
    EXPECT_GT(outsideSaoPaulo, 0);
    EXPECT_THROW(SatBatch({}, QStringLiteral("1")), Exception);
    EXPECT_THROW(SatBatch(chain.MakeSales(1, SaleOptions{.kind = DocKind::Sat}), QStringLiteral("12a")),
                 Exception);
}
