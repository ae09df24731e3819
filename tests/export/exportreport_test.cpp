// The run's summary: a month of generated sales with numbering gaps, cancelled notes and one document
// altered after signing, exported loose, compressed and as a summary alone; the CSV read back and the
// PDF read through pdftotext.
#include "export/core/exportreport.h"
#include "export/core/geraxmllocal.h"
#include "export/core/salelist.h"
#include "host/recordset.h"
#include "server/docgen/docgen.h"
#include "tests/sign/assinador.h"
#include "tests/support/salerow.h"
#include "tests/support/testutil.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>

namespace {

using vnd::docgen::Sale;

struct Month
{
    TClientDataSet cds;
    int authorised = 0, cancelled = 0;
    qint64 cents = 0;
    QString altered;             // file name of the document altered after signing
    QStringList gaps;            // "branch|register|model|series|first|last"
    QStringList rebuiltEvents;   // file names
};

// NFC-e of two registers over three days and SAT coupons of a third, every document signed; numbers
// left out of each series, cancelled notes (some events stored, some to be rebuilt) and one NFC-e altered
// after signing.
void MakeMonth(Month &m)
{
    using namespace vnd::docgen;
    vnd::DefineCdsNotas(m.cds);
    Generator gen(1903);
    const Branch &sp = gen.Branches().first();
    QStringList registers;
    for (const CashRegister &r : gen.CashRegisters())
        if (r.branchCode == sp.code)
            registers << r.code;
    EXPECT_GE(registers.size(), 2);
    gen.SetClock(QDateTime(QDate(2026, 11, 3), QTime(8, 0)));
    struct Plan
    {
        QString reg;
        DocKind kind;
        int count;
        QList<int> skipped; // positions of the sequence left out of the list
    };
    const Plan plans[] = {{registers[0], DocKind::Nfce, 36, {4, 9, 10, 11}},
                          {registers[1], DocKind::Sat, 12, {6}}};
    for (const Plan &plan : plans) {
        QList<Sale> sales;
        for (int i = 0; i < plan.count; ++i) {
            SaleOptions o;
            o.kind = plan.kind;
            o.branchCode = sp.code;
            o.registerCode = plan.reg;
            o.layoutVersion = i % 2 ? QStringLiteral("4.00") : QStringLiteral("3.10");
            o.status = plan.kind == DocKind::Nfce && i % 7 == 3 ? NfceStatus::Cancelled : NfceStatus::Authorized;
            o.storeCancelEvent = false;
            o.issuedAt = QDateTime(QDate(2026, 11, 3 + i / 13), QTime(9, 0).addSecs(i * 60));
            sales << gen.MakeSale(o);
        }
        for (int i = 0; i < sales.size(); ++i) {
            Sale s = sales[i];
            if (plan.skipped.contains(i))
                continue;
            if (s.kind == DocKind::Nfce) {
                s.nfe = vndtest::Assina(s.nfe, QStringLiteral("NFe") + s.accessKey);
                if (i == 20) {
                    s.nfe = vndtest::Troca(s.nfe, "<xProd>", "<xProd>Z");
                    m.altered = QStringLiteral("NFCe%1-pro-rec.xml").arg(s.accessKey);
                }
                if (s.status == NfceStatus::Cancelled)
                    m.rebuiltEvents << QStringLiteral("NFCe%1-pro-can.xml").arg(s.accessKey);
            } else {
                s.cfe = vndtest::Assina(s.cfe, s.StoredAccessKey());
            }
            (s.status == NfceStatus::Cancelled ? m.cancelled : m.authorised) += 1;
            m.cents += s.total;
            vndtest::AppendSaleRow(m.cds, s);
        }
        // The gaps, as runs of consecutive left-out positions.
        const QString model = plan.kind == DocKind::Nfce ? QStringLiteral("65") : QStringLiteral("59");
        for (int k = 0; k < plan.skipped.size(); ++k) {
            const int first = plan.skipped[k];
            int last = first;
            while (k + 1 < plan.skipped.size() && plan.skipped[k + 1] == last + 1)
                last = plan.skipped[++k];
            m.gaps << QStringList{sp.code, plan.reg, model, sales[first].series, QString::number(sales[first].number),
                                  QString::number(sales[last].number)}
                          .join(QLatin1Char('|'));
        }
    }
}

Month &TheMonth()
{
    static Month m;
    static const bool made = (MakeMonth(m), true);
    (void)made;
    return m;
}

// The CSV of the summary in folder, as rows of named fields.
struct Csv
{
    QString path;
    QStringList header;
    std::vector<QStringList> rows;
    QString Field(const QStringList &row, const char *name) const { return row.value(header.indexOf(QLatin1String(name))); }
    std::vector<QStringList> Of(const QString &type) const
    {
        std::vector<QStringList> out;
        for (const QStringList &r : rows)
            if (Field(r, "tipo") == type)
                out.push_back(r);
        return out;
    }
};

Csv ReadCsv(const QString &folder)
{
    Csv csv;
    const QStringList found = QDir(folder).entryList({QStringLiteral("resumo-*.csv")}, QDir::Files);
    EXPECT_EQ(found.size(), 1) << folder.toStdString();
    if (found.isEmpty())
        return csv;
    csv.path = QDir(folder).filePath(found.first());
    const QString text = QString::fromUtf8(vndtest::ReadFile(csv.path));
    EXPECT_TRUE(text.endsWith(QLatin1String("\r\n")));
    // RFC 4180: fields in quotes may hold the separator, doubled quotes and line breaks.
    std::vector<QStringList> rows(1);
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"'))
                field += c, ++i;
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                field += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(';')) {
            rows.back() << field;
            field.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) {
            rows.back() << field;
            field.clear();
            rows.emplace_back();
            ++i;
        } else {
            field += c;
        }
    }
    rows.pop_back(); // after the last CR LF
    csv.header = rows.front();
    csv.rows.assign(rows.begin() + 1, rows.end());
    for (const QStringList &r : csv.rows)
        EXPECT_EQ(r.size(), csv.header.size()) << r.join(';').toStdString();
    return csv;
}

QByteArray Sha256(const QByteArray &bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex(); }

// What the summary must say of the month whatever the destination.
void CheckContents(const Csv &csv, const Month &m)
{
    int authorised = 0, cancelled = 0;
    qint64 cents = 0;
    for (const QStringList &r : csv.Of(QStringLiteral("movimento"))) {
        authorised += csv.Field(r, "autorizadas").toInt();
        cancelled += csv.Field(r, "canceladas").toInt();
        cents += qRound64(csv.Field(r, "valor_total").toDouble() * 100);
        EXPECT_LE(csv.Field(r, "numero_inicial").toLongLong(), csv.Field(r, "numero_final").toLongLong());
    }
    EXPECT_EQ(authorised, m.authorised);
    EXPECT_EQ(cancelled, m.cancelled);
    EXPECT_EQ(cents, m.cents);
    // The NFC-e register's three days and the SAT register's one.
    EXPECT_EQ(csv.Of(QStringLiteral("movimento")).size(), 4u);

    QStringList gaps;
    for (const QStringList &r : csv.Of(QStringLiteral("lacuna")))
        gaps << QStringList{csv.Field(r, "filial"), csv.Field(r, "caixa"), csv.Field(r, "modelo"), csv.Field(r, "serie"),
                            csv.Field(r, "numero_inicial"), csv.Field(r, "numero_final")}
                    .join(QLatin1Char('|'));
    EXPECT_EQ(gaps, m.gaps);

    const auto invalid = csv.Of(QStringLiteral("assinatura inválida"));
    ASSERT_EQ(invalid.size(), 1u);
    EXPECT_EQ(QFileInfo(csv.Field(invalid[0], "arquivo")).fileName(), m.altered);
    EXPECT_TRUE(csv.Field(invalid[0], "detalhe").contains(QLatin1String("digest"))) << csv.Field(invalid[0], "detalhe").toStdString();

    QStringList events;
    for (const QStringList &r : csv.Of(QStringLiteral("evento sem assinatura")))
        events << QFileInfo(csv.Field(r, "arquivo")).fileName();
    EXPECT_EQ(events, m.rebuiltEvents);
    const auto total = csv.Of(QStringLiteral("total"));
    ASSERT_EQ(total.size(), 1u);
    EXPECT_EQ(csv.Field(total[0], "autorizadas").toInt(), m.authorised);
}

QString PdfText(const QString &folder)
{
    const QStringList found = QDir(folder).entryList({QStringLiteral("resumo-*.pdf")}, QDir::Files);
    EXPECT_EQ(found.size(), 1);
    if (found.isEmpty())
        return {};
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), QDir(folder).filePath(found.first()), QStringLiteral("-")});
    EXPECT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

TEST(ExportSummary, NumberGapsAreTheMissingRunsBetweenFirstAndLast)
{
    const auto gaps = vnd::NumberGaps({17, 12, 10, 12, 11, 15, 20});
    ASSERT_EQ(gaps.size(), 3u);
    EXPECT_EQ(gaps[0].first, 13);
    EXPECT_EQ(gaps[0].last, 14);
    EXPECT_EQ(gaps[1].first, 16);
    EXPECT_EQ(gaps[1].last, 16);
    EXPECT_EQ(gaps[2].first, 18);
    EXPECT_EQ(gaps[2].last, 19);
    EXPECT_TRUE(vnd::NumberGaps({}).empty());
    EXPECT_TRUE(vnd::NumberGaps({5, 5}).empty());

    // Without the list's columns the access key tells: NFC-e series and number, SAT serial and coupon.
    vnd::assembly::SaleRow nfce;
    nfce.kind = "N";
    nfce.accessKey = "35261199999999000191650070000123451123456781";
    const vnd::SaleNumbering n = vnd::NumberingOf(nfce);
    EXPECT_EQ(n.model, QStringLiteral("65"));
    EXPECT_EQ(n.series, QStringLiteral("7"));
    EXPECT_EQ(n.number, 12345);
    vnd::assembly::SaleRow sat;
    sat.kind = "S";
    sat.accessKey = "CFe35261199999999000191599000040190001231234564";
    const vnd::SaleNumbering c = vnd::NumberingOf(sat);
    EXPECT_EQ(c.model, QStringLiteral("59"));
    EXPECT_EQ(c.series, QStringLiteral("900004019"));
    EXPECT_EQ(c.number, 123);
    // A key that is no key and no number column: the number is unknown, never a made-up one.
    vnd::assembly::SaleRow hostile;
    hostile.kind = "N";
    hostile.accessKey = "35;\"=cmd|' /C calc'!A0";
    EXPECT_EQ(vnd::NumberingOf(hostile).number, -1);
}

TEST(ExportSummary, ALooseExportListsEveryFileGapAndTheAlteredDocument)
{
    Month &m = TheMonth();
    QTemporaryDir dir;
    vnd::ExportSummary result;
    ASSERT_TRUE(vnd::GeraXmlLocal(m.cds, dir.path(), false, nullptr, &result));
    ASSERT_EQ(result.invalidSignatures.size(), 1) << result.invalidSignatures.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(result.invalidSignatures.first().startsWith(m.altered + QStringLiteral(": ")));
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("resumo-*.txt")}, QDir::Files).isEmpty());
    ASSERT_EQ(result.summaryFiles.size(), 2);

    const Csv csv = ReadCsv(dir.path());
    CheckContents(csv, m);
    // Every file on disk is listed once, with its size and digest, and nothing else is.
    std::map<QString, QStringList> listed;
    for (const QStringList &r : csv.Of(QStringLiteral("arquivo")))
        listed[csv.Field(r, "arquivo")] = r;
    int onDisk = 0;
    QDirIterator it(dir.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileName().startsWith(QLatin1String("resumo-")))
            continue;
        ++onDisk;
        const QString rel = QDir(dir.path()).relativeFilePath(path);
        ASSERT_TRUE(listed.count(rel)) << rel.toStdString();
        const QByteArray bytes = vndtest::ReadFile(path);
        EXPECT_EQ(csv.Field(listed[rel], "tamanho").toLongLong(), bytes.size());
        EXPECT_EQ(csv.Field(listed[rel], "sha256").toLatin1(), Sha256(bytes)) << rel.toStdString();
    }
    EXPECT_EQ(size_t(onDisk), listed.size());

    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) not found: the PDF's text is not checked";
    const QString text = PdfText(dir.path());
    for (const QString &expected :
         {QStringLiteral("Resumo da exportação de arquivos XML"), QStringLiteral("Total da filial"), QStringLiteral("Total geral"),
          QStringLiteral("Notas por dia - Filial"), QStringLiteral("Lacunas de numeração"), QStringLiteral("assinatura inválida"),
          QStringLiteral("evento sem assinatura"), QStringLiteral("NFC-e 65"), QStringLiteral("SAT 59"),
          QStringLiteral("%1 venda(s)").arg(m.authorised + m.cancelled), QStringLiteral("1 assinatura(s) inválida(s)")})
        EXPECT_TRUE(text.contains(expected)) << expected.toStdString();
    for (const QString &gap : m.gaps) {
        const QStringList f = gap.split(QLatin1Char('|'));
        const QString range = f[4] == f[5] ? QStringLiteral("lacuna: %1").arg(f[4]) : QStringLiteral("lacuna: %1 a %2").arg(f[4], f[5]);
        EXPECT_TRUE(text.contains(range)) << range.toStdString();
    }
    // A digest, small as it is set, reads back whole.
    EXPECT_TRUE(text.contains(csv.Field(listed.begin()->second, "sha256")));
}

TEST(ExportSummary, ACompressedExportKeepsTheSummaryBesideTheArchives)
{
    Month &m = TheMonth();
    QTemporaryDir dir;
    vnd::ExportSummary result;
    ASSERT_TRUE(vnd::GeraXmlLocal(m.cds, dir.path(), true, nullptr, &result));
    EXPECT_EQ(result.invalidSignatures.size(), 1);
    const Csv csv = ReadCsv(dir.path());
    CheckContents(csv, m);
    const auto archives = csv.Of(QStringLiteral("arquivo compactado"));
    ASSERT_EQ(archives.size(), 1u);
    const QString archive = csv.Field(archives[0], "arquivo");
    EXPECT_EQ(result.archives, QStringList{archive});
    EXPECT_EQ(csv.Field(archives[0], "sha256").toLatin1(), Sha256(vndtest::ReadFile(QDir(dir.path()).filePath(archive))));
    EXPECT_EQ(csv.Field(archives[0], "quantidade").toInt(), result.archivedFiles);
    for (const QStringList &r : csv.Of(QStringLiteral("arquivo")))
        EXPECT_EQ(csv.Field(r, "arquivo_compactado"), archive);
    // Nothing but the archive and the summary.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 3) << QDir(dir.path()).entryList(QDir::Files).join(' ').toStdString();
}

TEST(ExportSummary, SummaryOnlyWritesTheSummaryAndNoFiscalFile)
{
    Month &m = TheMonth();
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("conferencia"));
    vnd::ExportSummary result;
    ASSERT_TRUE(vnd::GeraXmlLocal(m.cds, folder, true, nullptr, &result, true));
    EXPECT_EQ(result.invalidSignatures.size(), 1);
    QStringList all;
    QDirIterator it(folder, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        all << QDir(folder).relativeFilePath(it.next());
    ASSERT_EQ(all.size(), 2) << all.join(' ').toStdString();
    for (const QString &f : all)
        EXPECT_TRUE(f.startsWith(QLatin1String("resumo-"))) << f.toStdString();
    const Csv csv = ReadCsv(folder);
    CheckContents(csv, m);
    EXPECT_TRUE(csv.Of(QStringLiteral("arquivo compactado")).empty());
}

// A run where most files fail their check (a copy of a database whose documents were edited): the
// result names the first ones and counts all, the PDF stays a few pages, the CSV names every file.
TEST(ExportSummary, ManyInvalidSignaturesAreCountedAndTheCsvNamesThemAll)
{
    const int files = 1003;
    QTemporaryDir dir;
    QStringList paths;
    {
        vnd::ExportReport report;
        for (int i = 0; i < files; ++i) {
            vnd::assembly::SaleFile file;
            file.name = QStringLiteral("nota%1-nfce.xml").arg(i, 4, 10, QLatin1Char('0'));
            file.content = "<NFe><infNFe Id=\"NFe" + QByteArray::number(i) + "\"/></NFe>";
            report.AddFile(file.name, file);
        }
        report.Wait();
        EXPECT_EQ(report.InvalidSignatureCount(), files);
        EXPECT_EQ(report.InvalidSignatures().size(), vnd::ExportReport::kMaxListed);
        const QStringList two = report.InvalidSignatures(2);
        ASSERT_EQ(two.size(), 2);
        EXPECT_TRUE(two[1].startsWith(QLatin1String("nota0001-nfce.xml: "))) << two[1].toStdString();
        paths = report.Finish(dir.path(), QDateTime(QDate(2026, 12, 1), QTime(10, 0)));
    }
    ASSERT_EQ(paths.size(), 2);
    const Csv csv = ReadCsv(dir.path());
    EXPECT_EQ(csv.Of(QStringLiteral("assinatura inválida")).size(), size_t(files));
    for (const QStringList &r : csv.Of(QStringLiteral("arquivo")))
        EXPECT_TRUE(csv.Field(r, "detalhe").startsWith(QStringLiteral("assinatura inválida: "))) << r.join(';').toStdString();
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) not found: the PDF's text is not checked";
    const QString text = PdfText(dir.path());
    EXPECT_TRUE(text.contains(QStringLiteral("e mais 3 arquivo(s), todos no resumo CSV")));
    EXPECT_TRUE(text.contains(QStringLiteral("nota0999-nfce.xml")));
    EXPECT_FALSE(text.contains(QStringLiteral("nota1000-nfce.xml")));
}
