// What the export writes must stand up to the official schemas, and must carry the signed document and
// the protocol of real processed invoices unchanged.
#include "export/core/geraxmllocal.h"
#include "export/core/nfceassembly.h"
#include "export/core/salelist.h"
#include "host/recordset.h"
#include "server/docgen/docgen.h"
#include "tests/support/testutil.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using namespace vnd::docgen;

void AddSale(TClientDataSet &cds, const Sale &s, NfceForm form)
{
    cds.Append();
    auto set = [&](const char *f, const QVariant &v) { cds.FieldByName(QString::fromLatin1(f)).SetValue(v); };
    set("IDCHECK", "S");
    set("CDFILIAL", s.branchCode);
    set("CDCAIXA", s.registerCode);
    set("NRSEQVENDA", s.saleNumber);
    set("DSARQXMLNFCE", s.StoredDocument(form));
    set("DTENTRVENDA", QDateTime(s.issuedAt.date(), QTime(0, 0)));
    set("NRACESSONFCE", s.StoredAccessKey());
    set("IDTPEMISVEND", s.EmissionFlag());
    set("IDSITUVENDA", s.SituationFlag());
    set("NRPROTOCOLONFCE", s.protocolNumber);
    set("DTHRPROTOCONFCE", s.authorizedAt);
    set("IDTPAMBNFCE", s.environment);
    set("IDSTATUSNFCE", s.StatusFlag());
    set("NRINSJURIEST", s.issuerCnpj);
    set("DSRAZAOCANCNFCE", s.cancelReason);
    set("DTHRPROTOCOCANC", s.cancelledAt);
    set("NRPROTOCOLOCANC", s.cancelProtocolNumber);
    set("DSARQXMLCANCNFCE", s.StoredCancellation());
    set("WSSITEUFQRCODENFC", s.qrSiteUrl);
    set("DSQRCODENFCE", s.qrCode);
    set("CDVERSAOXMLNFCE", s.layoutVersion);
    cds.Post();
}

// Runs xmllint on the files; returns its error output (empty when every file validates).
QString Validate(const QString &schema, const QStringList &files)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("xmllint"), QStringList{QStringLiteral("--noout"), QStringLiteral("--schema"), schema} + files);
    p.waitForFinished(120000);
    QStringList bad;
    for (const QString &line : QString::fromUtf8(p.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (!line.endsWith(QLatin1String(" validates")))
            bad << line;
    return bad.join(QLatin1Char('\n'));
}

QStringList FilesMatching(const QString &root, const QString &suffix)
{
    QStringList out;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString f = it.next();
        if (f.endsWith(suffix))
            out << f;
    }
    return out;
}

QByteArray Between(const QByteArray &text, const QByteArray &open, const QByteArray &close)
{
    const qsizetype a = text.indexOf(open);
    const qsizetype b = a < 0 ? -1 : text.indexOf(close, a + open.size());
    return b < 0 ? QByteArray() : text.mid(a + open.size(), b - a - open.size());
}

} // namespace

TEST(AssemblySchema, DemoSalesValidateInEveryStoredForm)
{
    const QString schemas = vndtest::SchemasDir();
    if (schemas.isEmpty())
        GTEST_SKIP() << "official schemas not found beside the checkout";
    Generator gen(2016);
    TClientDataSet cds;
    vnd::DefineCdsNotas(cds);
    const NfceForm forms[] = {NfceForm::BareDeclaration, NfceForm::Utf8Declaration, NfceForm::EnviNFe, NfceForm::Processed};
    int i = 0;
    for (NfceStatus status : {NfceStatus::Authorized, NfceStatus::Cancelled}) {
        for (bool stored : {true, false}) {
            SaleOptions o;
            o.kind = DocKind::Nfce;
            o.status = status;
            o.storeCancelEvent = stored;
            for (const Sale &s : gen.MakeSales(8, o))
                AddSale(cds, s, forms[i++ % 4]);
        }
    }
    QTemporaryDir dir;
    ASSERT_TRUE(vnd::GeraXmlLocal(cds, dir.path(), false));

    const QStringList procs = FilesMatching(dir.path(), QStringLiteral("-pro-rec.xml"));
    ASSERT_EQ(procs.size(), 32);
    EXPECT_EQ(Validate(schemas + QStringLiteral("/nfe310/procNFe_v3.10.xsd"), procs), QString());

    // Stored events validate as they are; the events built here carry no signature (the back office
    // holds no certificate), which is the one thing the schema may miss in them.
    const QStringList events = FilesMatching(dir.path(), QStringLiteral("-pro-can.xml"));
    ASSERT_EQ(events.size(), 16);
    const QString errors = Validate(schemas + QStringLiteral("/event-cancel/procEventoCancNFe_v1.00.xsd"), events);
    for (const QString &line : errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.endsWith(QLatin1String("fails to validate")))
            continue;
        EXPECT_TRUE(line.contains(QLatin1String("Missing child element(s)")) && line.contains(QLatin1String("Signature")))
            << line.toStdString();
    }
}

TEST(AssemblySchema, PublicProcessedInvoicesRoundTrip)
{
    const QString samples = vndtest::SamplesDir();
    const QString schemas = vndtest::SchemasDir();
    if (samples.isEmpty() || schemas.isEmpty())
        GTEST_SKIP() << "public samples or schemas not found beside the checkout";
    const QString schema = schemas + QStringLiteral("/nfe310/procNFe_v3.10.xsd");
    int checked = 0;
    for (const QString &path : FilesMatching(samples + QStringLiteral("/nfe310"), QStringLiteral(".xml"))) {
        if (!path.contains(QLatin1String("nfeProc")) || !Validate(schema, {path}).isEmpty())
            continue;
        const QByteArray original = vndtest::ReadFile(path);
        const qsizetype a = original.indexOf("<NFe");
        const qsizetype b = original.indexOf("</NFe>");
        ASSERT_TRUE(a >= 0 && b > a) << path.toStdString();
        const QByteArray nfe = original.mid(a, b + 6 - a);
        const QByteArray infProt = Between(original, "<infProt", "</infProt>");

        // Stored as its submission batch left it: no supplement is added, so the NFe must come back whole.
        vnd::assembly::SaleRow row;
        row.kind = "N";
        row.document = "<enviNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"3.10\"><idLote>00000000000001</idLote>"
                       "<indSinc>1</indSinc>" +
                       nfe + "</enviNFe>";
        row.accessKey = Between(infProt, "<chNFe>", "</chNFe>");
        row.protocol = Between(infProt, "<nProt>", "</nProt>");
        row.environment = Between(infProt, "<tpAmb>", "</tpAmb>");
        row.version = "3.10";
        const QByteArray dh = Between(infProt, "<dhRecbto>", "</dhRecbto>");
        row.protocolTime = QDateTime::fromString(QString::fromLatin1(dh.left(19)), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        const QByteArray out = vnd::assembly::ProcessedNfce(row);

        QByteArray expectedNfe = nfe;
        expectedNfe.replace("\r\n", "");
        EXPECT_TRUE(out.contains(expectedNfe)) << path.toStdString();
        const QByteArray prot = Between(out, "<infProt", "</infProt>");
        // The protocol written is always the authorisation (cStat 100), whatever the original says later.
        EXPECT_EQ(Between(prot, "<cStat>", "</cStat>"), QByteArray("100"));
        for (const char *tag : {"tpAmb", "chNFe", "nProt", "digVal"}) {
            const QByteArray open = QByteArray("<") + tag + ">", close = QByteArray("</") + tag + ">";
            EXPECT_EQ(Between(prot, open, close), Between(infProt, open, close)) << path.toStdString() << " " << tag;
        }
        EXPECT_EQ(Between(prot, "<dhRecbto>", "</dhRecbto>").left(19), dh.left(19)) << path.toStdString();

        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("out.xml"));
        vndtest::WriteFile(file, out);
        EXPECT_EQ(Validate(schema, {file}), QString()) << path.toStdString();
        ++checked;
    }
    EXPECT_GE(checked, 5);
}
