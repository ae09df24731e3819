// The files accountants receive: byte-exact assembly of each stored form, the cancellation event,
// SAT names, folders and archives.
#include "export/core/geraxmllocal.h"
#include "export/core/nfceassembly.h"
#include "host/errors.h"
#include "host/recordset.h"
#include "export/core/salelist.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <zip.h>

using namespace vnd::assembly;

namespace {

const QByteArray kKey = "35161012345678000190650010000001231000001234";
const QByteArray kSig = "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo><Reference URI=\"#NFe" + kKey +
                        "\"><DigestValue>abcdefghijklmnopqrstuvwxyz0=</DigestValue></Reference></SignedInfo></Signature>";
const QByteArray kInf = "<infNFe Id=\"NFe" + kKey + "\" versao=\"3.10\"><ide><cUF>35</cUF></ide></infNFe>";
const QByteArray kNfe = "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\">" + kInf + "KEEP" + kSig + "</NFe>";

SaleRow Row(const QByteArray &document)
{
    SaleRow r;
    r.branch = "0001";
    r.cashRegister = "001";
    r.saleDateText = "10/05/2016";
    r.kind = "N";
    r.accessKey = kKey;
    r.document = document;
    r.qrCode = "https://nfce.example/qr?chNFe=" + kKey + "&nVersao=100";
    r.qrSite = "https://nfce.example/consulta";
    r.version = "3.10";
    r.protocol = "135160000000001";
    r.protocolTime = QDateTime(QDate(2016, 5, 10), QTime(14, 3, 22));
    r.environment = "1";
    r.issuerCnpj = "12345678000190";
    return r;
}

// Layout 3.10 has no urlChave; the site goes into the block from 4.00 on.
QByteArray Supplement(const QByteArray &qr, const QByteArray &site)
{
    return "<infNFeSupl><qrCode><![CDATA[" + qr + "]]></qrCode>" + (site.isEmpty() ? QByteArray() : "<urlChave>" + site + "</urlChave>") +
           "</infNFeSupl>";
}

QByteArray Expected(const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><nfeProc versao=\"3.10\" xmlns=\"http://www.portalfiscal.inf.br/nfe\">" +
           body +
           "<protNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"3.10\" ><infProt Id=\"ID135160000000001\">"
           "<tpAmb>1</tpAmb><verAplic>3.10</verAplic><chNFe>" +
           kKey +
           "</chNFe><dhRecbto>2016-05-10T14:03:22-03:00</dhRecbto><nProt>135160000000001</nProt>"
           "<digVal>abcdefghijklmnopqrstuvwxyz0=</digVal><cStat>100</cStat><xMotivo>Autorizado o uso da NF-e</xMotivo>"
           "</infProt></protNFe></nfeProc>";
}

QByteArray WithSupplement(const QByteArray &qr, const QByteArray &site)
{
    QByteArray nfe = kNfe;
    return nfe.replace("</infNFe>KEEP", "</infNFe>" + Supplement(qr, site) + "KEEP");
}

} // namespace

TEST(NfceAssembly, EachStoredFormGivesTheProcessedDocument)
{
    const SaleRow base = Row({});
    const QByteArray fresh = WithSupplement(base.qrCode, {});

    // Bare declaration: declaration and stored supplement go, a new supplement comes from the columns.
    SaleRow bare = Row({});
    {
        // The stored block sits right after </infNFe>, as the terminals write it.
        QByteArray doc = kNfe;
        doc.replace("</infNFe>KEEP", "</infNFe><infNFeSupl><qrCode><![CDATA[old]]></qrCode></infNFeSupl>KEEP");
        bare.document = "<?xml version=\"1.0\"?>" + doc;
    }
    EXPECT_EQ(ProcessedNfce(bare), Expected(fresh));

    // UTF-8 declaration: dropped from the document, only the nfeProc declaration remains.
    EXPECT_EQ(ProcessedNfce(Row("<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + kNfe)), Expected(fresh));

    // Inside its submission batch: unwrapped by the fixed head, no new supplement.
    const QByteArray head = "<enviNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"3.10\"><idLote>00000000000001</idLote>"
                            "<indSinc>1</indSinc>";
    ASSERT_EQ(head.size(), 117);
    const QByteArray inBatch = WithSupplement("stored", "stored");
    EXPECT_EQ(ProcessedNfce(Row(head + inBatch + "</enviNFe>")), Expected(inBatch));

    // Already processed: written unchanged but for the CR LF pairs, without a second protocol.
    const QByteArray proc = "<nfeProc versao=\"3.10\">\r\n" + kNfe + "\r\n<protNFe/>\n</nfeProc>";
    EXPECT_EQ(ProcessedNfce(Row(proc)), "<nfeProc versao=\"3.10\">" + kNfe + "<protNFe/>\n</nfeProc>");
}

TEST(NfceAssembly, LineBreakPairsAreRemovedFromTheResult)
{
    QByteArray doc = kNfe;
    doc.replace("<ide>", "\r\n<ide>\r\n");
    const QByteArray out = ProcessedNfce(Row(doc));
    EXPECT_FALSE(out.contains("\r\n"));
    EXPECT_EQ(out, Expected(WithSupplement(Row({}).qrCode, {})));
    // Only the pairs: a lone CR or LF stays, and a CR before a pair keeps its place.
    EXPECT_EQ(RemoveCrLf("a\rb\nc\r\r\nd\r\n\r"), QByteArray("a\rb\nc\rd\r"));
    EXPECT_EQ(RemoveCrLf("\r\n\r\n"), QByteArray());
}

TEST(NfceAssembly, MarkupInColumnsIsEscapedOutsideCData)
{
    SaleRow r = Row(kNfe);
    r.version = "4.00";
    r.qrCode = "a]]>b&c";
    r.qrSite = "https://x.example/?a=1&b=<2>";
    const QByteArray out = ProcessedNfce(r);
    EXPECT_TRUE(out.contains("<qrCode><![CDATA[a]]]]><![CDATA[>b&c]]></qrCode>"));
    EXPECT_TRUE(out.contains("<urlChave>https://x.example/?a=1&amp;b=&lt;2&gt;</urlChave>"));
}

TEST(NfceAssembly, DocumentsThatDoNotFitTheCutsAreRefused)
{
    auto message = [](const SaleRow &r) {
        try {
            ProcessedNfce(r);
        } catch (const Exception &e) {
            return e.Message();
        }
        return QString();
    };
    QByteArray noDigest = kNfe;
    noDigest.replace("DigestValue", "Digest");
    EXPECT_TRUE(message(Row(noDigest)).contains(QStringLiteral("DigestValue")));
    EXPECT_TRUE(message(Row("<?xml version=\"1.0\"?>" + kNfe)).contains(QStringLiteral("infNFeSupl")));
    EXPECT_TRUE(message(Row("<enviNFe><idLote>1</idLote>" + kNfe + "</enviNFe>")).contains(QStringLiteral("117")));
    EXPECT_TRUE(message(Row({})).contains(QStringLiteral("não foi encontrado")));
    QByteArray otherKey = kNfe;
    otherKey.replace("NFe" + kKey, "NFe" + QByteArray(44, '9'));
    EXPECT_TRUE(message(Row(otherKey)).contains(QString(44, QLatin1Char('9'))));
    QByteArray broken = kNfe;
    broken.replace("</ide>", "");
    EXPECT_FALSE(message(Row(broken)).isEmpty());
    SaleRow noProtocol = Row(kNfe);
    noProtocol.protocol.clear();
    EXPECT_TRUE(message(noProtocol).contains(QStringLiteral("protocolo")));
}

TEST(NfceAssembly, BuiltCancellationEventIsExact)
{
    SaleRow r = Row(kNfe);
    r.status = "C";
    r.cancelReason = "Cliente desistiu da compra & pediu estorno";
    r.cancelTime = QDateTime(QDate(2016, 5, 10), QTime(15, 0, 1));
    r.cancelProtocol = "135160000000002";
    const QByteArray ns = "http://www.portalfiscal.inf.br/nfe";
    const QByteArray expected =
        "<procEventoNFe versao=\"1.00\" xmlns=\"" + ns + "\"><evento versao=\"1.00\" xmlns=\"" + ns + "\">" +
        "<infEvento Id=\"ID110111" + kKey + "01\"><cOrgao>35</cOrgao><tpAmb>1</tpAmb><CNPJ>12345678000190</CNPJ><chNFe>" +
        kKey +
        "</chNFe><dhEvento>2016-05-10T15:00:01-03:00</dhEvento><tpEvento>110111</tpEvento><nSeqEvento>1</nSeqEvento>"
        "<verEvento>1.00</verEvento><detEvento versao=\"1.00\"><descEvento>Cancelamento</descEvento>"
        "<nProt>135160000000001</nProt><xJust>Cliente desistiu da compra &amp; pediu estorno</xJust></detEvento>"
        "</infEvento></evento><retEvento versao=\"1.00\" xmlns=\"" +
        ns +
        "\"><infEvento><tpAmb>1</tpAmb><verAplic>SEFAZ</verAplic><cOrgao>35</cOrgao><cStat>135</cStat>"
        "<xMotivo>Evento registrado e vinculado a NF-e</xMotivo><chNFe>" +
        kKey +
        "</chNFe><tpEvento>110111</tpEvento><xEvento>Cancelamento</xEvento><nSeqEvento>1</nSeqEvento>"
        "<dhRegEvento>2016-05-10T15:00:01-03:00</dhRegEvento><nProt>135160000000002</nProt></infEvento></retEvento>"
        "</procEventoNFe>";
    EXPECT_EQ(ProcessedCancellation(r), expected);

    r.cancelDocument = "<procEventoNFe>\r\nstored\r\n</procEventoNFe>";
    EXPECT_EQ(ProcessedCancellation(r), "<procEventoNFe>stored</procEventoNFe>");
}

TEST(NfceAssembly, NamesAndFoldersCannotLeaveTheChosenFolder)
{
    SaleRow r = Row(kNfe);
    EXPECT_EQ(SaleSubFolder(r), QStringLiteral("0001/001/2016-05-10"));
    EXPECT_EQ(NfceFileName(r), QStringLiteral("NFCe") + QString::fromLatin1(kKey) + QStringLiteral("-pro-rec.xml"));
    r.accessKey = "CFe" + kKey;
    EXPECT_EQ(SatFileName(r), QStringLiteral("AD") + QString::fromLatin1(kKey) + QStringLiteral(".xml"));
    EXPECT_EQ(SatCancelFileName(r), QStringLiteral("ADC") + QString::fromLatin1(kKey) + QStringLiteral(".xml"));
    for (const QByteArray &bad : {QByteArray(".."), QByteArray("../x"), QByteArray("a/b"), QByteArray("a\\b"),
                                  QByteArray("a\nb"), QByteArray()}) {
        SaleRow b = Row(kNfe);
        b.branch = bad;
        EXPECT_THROW(SaleSubFolder(b), Exception) << bad.constData();
        b = Row(kNfe);
        b.accessKey = bad;
        EXPECT_THROW(NfceFileName(b), Exception) << bad.constData();
    }
}

TEST(NfceAssembly, RebuiltTimesCarryTheOffsetOfTheNote)
{
    // A shop in Manaus issues at -04:00: its protocol and cancellation times are its local times too.
    QByteArray amazonas = kNfe;
    amazonas.replace("<ide><cUF>35</cUF></ide>", "<ide><cUF>13</cUF><dhEmi>2016-05-10T13:59:01-04:00</dhEmi></ide>");
    SaleRow r = Row(amazonas);
    r.status = "C";
    r.cancelReason = "Cliente desistiu da compra";
    r.cancelTime = QDateTime(QDate(2016, 5, 10), QTime(15, 0, 1));
    r.cancelProtocol = "135160000000002";
    EXPECT_TRUE(ProcessedNfce(r).contains("<dhRecbto>2016-05-10T14:03:22-04:00</dhRecbto>"));
    const QByteArray event = ProcessedCancellation(r);
    EXPECT_TRUE(event.contains("<dhEvento>2016-05-10T15:00:01-04:00</dhEvento>")) << event.constData();
    EXPECT_TRUE(event.contains("<dhRegEvento>2016-05-10T15:00:01-04:00</dhRegEvento>")) << event.constData();

    // Only a well-formed offset counts; otherwise the time stays at -03:00.
    EXPECT_EQ(DocumentOffset("<dhEmi>2016-05-10T13:59:01+00:00</dhEmi>"), QByteArray("+00:00"));
    EXPECT_EQ(DocumentOffset("<dhEmi>2016-05-10T13:59:01-05:00</dhEmi>"), QByteArray("-05:00"));
    for (const QByteArray &doc : {QByteArray(), QByteArray("<dhEmi>2016-05-10T13:59:01</dhEmi>"),
                                 QByteArray("<dhEmi>2016-05-10T13:59:01-0400x</dhEmi>"),
                                 QByteArray("<dhEmi>2016-05-10T13:59:01-44:00</dhEmi>"), QByteArray("<dhEmi>")})
        EXPECT_EQ(DocumentOffset(doc), QByteArray("-03:00")) << doc.constData();
    EXPECT_TRUE(ProcessedNfce(Row(kNfe)).contains("<dhRecbto>2016-05-10T14:03:22-03:00</dhRecbto>"));
}

TEST(NfceAssembly, AByteOrderMarkGoesInEveryStoredForm)
{
    const QByteArray bom = "\xEF\xBB\xBF";
    const QByteArray head = "<enviNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"3.10\"><idLote>00000000000001</idLote>"
                            "<indSinc>1</indSinc>";
    QByteArray withBlock = kNfe;
    withBlock.replace("</infNFe>KEEP", "</infNFe><infNFeSupl><qrCode><![CDATA[old]]></qrCode></infNFeSupl>KEEP");
    const QList<QByteArray> forms = {"<?xml version=\"1.0\"?>" + withBlock,
                                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + kNfe, kNfe,
                                     head + WithSupplement("stored", "stored") + "</enviNFe>",
                                     "<nfeProc versao=\"3.10\">" + kNfe + "<protNFe/></nfeProc>"};
    for (const QByteArray &form : forms) {
        SCOPED_TRACE(form.left(40).constData());
        const QByteArray out = ProcessedNfce(Row(bom + form));
        EXPECT_EQ(out, ProcessedNfce(Row(form)));
        EXPECT_FALSE(out.contains(bom));
        EXPECT_EQ(out.count("<?xml"), form.contains("<nfeProc") ? 0 : 1);
    }
    SaleRow r = Row(kNfe);
    r.status = "C";
    r.cancelDocument = bom + "<procEventoNFe>stored</procEventoNFe>";
    EXPECT_EQ(ProcessedCancellation(r), "<procEventoNFe>stored</procEventoNFe>");
}
