// What the export writes must stand up to the official schemas, and must carry the signed document and
// the protocol of real processed invoices unchanged.
#include "export/core/geraxmllocal.h"
#include "export/core/nfceassembly.h"
#include "export/core/salelist.h"
#include "host/recordset.h"
#include "server/docgen/docgen.h"
#include "tests/support/salerow.h"
#include "tests/support/testutil.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using namespace vnd::docgen;

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

// The versao of the nfeProc a file holds.
QByteArray LayoutOf(const QString &file)
{
    const QByteArray text = vndtest::ReadFile(file);
    return Between(Between(text, "<nfeProc", ">"), "versao=\"", "\"");
}

TEST(AssemblySchema, DemoSalesOfBothLayoutsValidateInEveryStoredForm)
{
    const QString schemas = vndtest::SchemasDir();
    if (schemas.isEmpty())
        GTEST_SKIP() << "official schemas not found beside the checkout";
    // A company with an alphanumeric CNPJ beside the others, as shops are from July 2026.
    MasterOptions master;
    master.alphanumericCompanies = 1;
    Generator gen(2016, master);
    TClientDataSet cds;
    vnd::DefineCdsNotas(cds);
    const NfceForm forms[] = {NfceForm::BareDeclaration, NfceForm::Utf8Declaration, NfceForm::EnviNFe, NfceForm::Processed};
    int i = 0, alphanumeric = 0;
    for (const QString &layout : {QStringLiteral("3.10"), QStringLiteral("4.00")}) {
        for (NfceStatus status : {NfceStatus::Authorized, NfceStatus::Cancelled}) {
            for (bool stored : {true, false}) {
                SaleOptions o;
                o.kind = DocKind::Nfce;
                o.status = status;
                o.storeCancelEvent = stored;
                o.layoutVersion = layout;
                for (const Sale &s : gen.MakeSales(8, o)) {
                    vndtest::AppendSaleRow(cds, s, forms[i++ % 4]);
                    alphanumeric += s.accessKey.mid(6, 14).contains(QRegularExpression(QStringLiteral("[A-Z]"))) ? 1 : 0;
                }
            }
        }
    }
    ASSERT_GT(alphanumeric, 0) << "no sale of the alphanumeric company was drawn";
    QTemporaryDir dir;
    ASSERT_TRUE(vnd::GeraXmlLocal(cds, dir.path(), false));

    QStringList v310, v400;
    for (const QString &f : FilesMatching(dir.path(), QStringLiteral("-pro-rec.xml")))
        (LayoutOf(f) == "4.00" ? v400 : v310) << f;
    // The alphanumeric company issues 4.00 only.
    ASSERT_EQ(v310.size() + v400.size(), 64);
    ASSERT_GT(v310.size(), 20);
    EXPECT_EQ(Validate(schemas + QStringLiteral("/nfe310/procNFe_v3.10.xsd"), v310).toStdString(), "");
    EXPECT_EQ(Validate(schemas + QStringLiteral("/nfe400/procNFe_v4.00.xsd"), v400).toStdString(), "");

    // Stored events validate as they are; the events built here carry no signature (the back office
    // holds no certificate), which is the one thing the schema may miss in them.
    // The cancellation event package at hand (1.00, types 1.03) predates the alphanumeric CNPJ: the
    // events of that company are left out of this check; their keys are those of valid 4.00 notes.
    QStringList events;
    for (const QString &f : FilesMatching(dir.path(), QStringLiteral("-pro-can.xml")))
        if (!QFileInfo(f).fileName().mid(10, 12).contains(QRegularExpression(QStringLiteral("[A-Z]"))))
            events << f;
    ASSERT_GT(events.size(), 20);
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
    int checked = 0;
    for (const QString &layout : {QStringLiteral("3.10"), QStringLiteral("4.00")}) {
        const QString folder = layout == QLatin1String("3.10") ? QStringLiteral("nfe310") : QStringLiteral("nfe400");
        const QString schema = schemas + QStringLiteral("/%1/procNFe_v%2.xsd").arg(folder, layout);
        int checkedOfLayout = 0;
        for (const QString &path : FilesMatching(samples + QLatin1Char('/') + folder, QStringLiteral(".xml"))) {
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
            row.document = "<enviNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"" + layout.toLatin1() +
                           "\"><idLote>00000000000001</idLote><indSinc>1</indSinc>" + nfe + "</enviNFe>";
            row.accessKey = Between(infProt, "<chNFe>", "</chNFe>");
            row.protocol = Between(infProt, "<nProt>", "</nProt>");
            row.environment = Between(infProt, "<tpAmb>", "</tpAmb>");
            row.version = layout.toLatin1();
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
            EXPECT_EQ(Validate(schema, {file}).toStdString(), "") << path.toStdString();
            ++checked;
            ++checkedOfLayout;
        }
        EXPECT_GE(checkedOfLayout, 1) << layout.toStdString();
    }
    EXPECT_GE(checked, 6);
}

TEST(AssemblySchema, LayoutFourHundredGivesTheGoldenFilesInEveryStoredForm)
{
    // A 4.00 note of the alphanumeric company, cancelled, in each stored form; a change that alters these
    // files on purpose rewrites them with VND_UPDATE_GOLDEN=1 and shows in review.
    MasterOptions master;
    master.alphanumericCompanies = 1;
    Generator gen(400, master);
    const Branch *alnum = nullptr;
    for (const Branch &b : gen.Branches())
        if (b.cnpj.contains(QRegularExpression(QStringLiteral("[A-Z]"))))
            alnum = &b;
    ASSERT_TRUE(alnum);
    SaleOptions o;
    o.kind = DocKind::Nfce;
    o.status = NfceStatus::Cancelled;
    o.storeCancelEvent = false;
    o.layoutVersion = QStringLiteral("4.00");
    o.branchCode = alnum->code;
    const Sale s = gen.MakeSale(o);
    const QList<QPair<QString, NfceForm>> forms = {{QStringLiteral("bare"), NfceForm::BareDeclaration},
                                                   {QStringLiteral("utf8"), NfceForm::Utf8Declaration},
                                                   {QStringLiteral("enviNFe"), NfceForm::EnviNFe},
                                                   {QStringLiteral("nfeProc"), NfceForm::Processed}};
    const QDir dir(vndtest::DataDir() + QStringLiteral("/export"));
    const bool update = qEnvironmentVariableIsSet("VND_UPDATE_GOLDEN");
    QList<QPair<QString, QByteArray>> files;
    for (const auto &[name, form] : forms) {
        TClientDataSet cds;
        vnd::DefineCdsNotas(cds);
        vndtest::AppendSaleRow(cds, s, form);
        cds.First();
        files.append({QStringLiteral("v400-%1-pro-rec.xml").arg(name), vnd::assembly::ProcessedNfce(vnd::assembly::ReadSaleRow(cds))});
        if (form == NfceForm::BareDeclaration)
            files.append({QStringLiteral("v400-built-pro-can.xml"), vnd::assembly::ProcessedCancellation(vnd::assembly::ReadSaleRow(cds))});
    }
    for (const auto &[name, bytes] : files) {
        SCOPED_TRACE(name.toStdString());
        const QString path = dir.filePath(name);
        if (update) {
            QDir().mkpath(dir.path());
            vndtest::WriteFile(path, bytes);
        }
        ASSERT_TRUE(QFileInfo::exists(path)) << "missing golden file; run once with VND_UPDATE_GOLDEN=1";
        EXPECT_TRUE(vndtest::ReadFile(path) == bytes) << "the 4.00 files changed";
    }
    const QString schemas = vndtest::SchemasDir();
    if (schemas.isEmpty())
        return;
    QTemporaryDir tmp;
    QStringList procs;
    for (const auto &[name, bytes] : files) {
        if (!name.endsWith(QLatin1String("-pro-rec.xml")))
            continue;
        vndtest::WriteFile(tmp.filePath(name), bytes);
        procs << tmp.filePath(name);
    }
    EXPECT_EQ(Validate(schemas + QStringLiteral("/nfe400/procNFe_v4.00.xsd"), procs).toStdString(), "");
}
