// The summary's PDF: movements, gaps, problems and files through the report layer (A4, headings,
// subtotals, a chart per branch).
#include "export/core/exportreport.h"
#include "export/core/exportreportformat.h"

#include "host/errors.h"
#include "host/recordset.h"
#include "host/ui/reportpdf.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>

#include <map>
#include <mutex>
#include <vector>

namespace vnd {

using reportformat::ModelName;
using reportformat::Money;

namespace {
// Beyond this many files the PDF lists the archives or folders and leaves each file to the CSV.
constexpr int kMaxPdfFiles = 1000;
} // namespace

void ExportReport::WritePdf(const QString &path, const QDateTime &finished, const std::vector<Archive> &archives) const
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        throw Exception(QStringLiteral("Não foi possível gravar o resumo %1: o programa foi iniciado sem o "
                                       "suporte a gráficos (QGuiApplication) que o PDF exige.")
                            .arg(QDir::toNativeSeparators(path)));
    using F = TReportFormat;
    auto table = [](TClientDataSet &cds, std::initializer_list<std::pair<const char *, TFieldType>> fields) {
        for (const auto &[name, type] : fields)
            cds.AddField(QString::fromLatin1(name), type, type == TFieldType::String ? 255 : 0);
        cds.CreateDataSet();
    };
    auto row = [](TClientDataSet &cds, const std::vector<QVariant> &values) {
        cds.Append();
        for (size_t i = 0; i < values.size(); ++i)
            cds.Fields(int(i)).SetValue(values[i]);
        cds.Post();
    };
    std::vector<TReportSection> sections;

    // Movement per branch, with a chart of each branch's days.
    TReportDef movement;
    movement.name = QStringLiteral("Resumo da exportação de arquivos XML");
    movement.layout.columns = {{QStringLiteral("CDCAIXA"), QStringLiteral("Caixa"), 40},
                               {QStringLiteral("DSMODELO"), QStringLiteral("Modelo"), 55},
                               {QStringLiteral("CDSERIE"), QStringLiteral("Série"), 60},
                               {QStringLiteral("DTDIA"), QStringLiteral("Dia"), 55, F::Date},
                               {QStringLiteral("QTAUTORIZADA"), QStringLiteral("Autori-\nzadas"), 45, F::Integer, true},
                               {QStringLiteral("QTCANCELADA"), QStringLiteral("Cance-\nladas"), 45, F::Integer, true},
                               {QStringLiteral("VRTOTAL"), QStringLiteral("Valor total"), 75, F::Money, true},
                               {QStringLiteral("NRPRIMEIRA"), QStringLiteral("Primeira\nnota"), 74, F::Text},
                               {QStringLiteral("NRULTIMA"), QStringLiteral("Última\nnota"), 74, F::Text}};
    movement.layout.groupField = QStringLiteral("CDFILIAL");
    movement.layout.groupCaption = QStringLiteral("Filial %1");
    movement.layout.groupCaptionFields = {QStringLiteral("CDFILIAL")};
    movement.layout.subtotalCaption = QStringLiteral("Total da filial %1");
    movement.layout.totalCaption = QStringLiteral("Total geral");
    movement.layout.chart = TReportChart{QStringLiteral("Notas por dia"), QStringLiteral("DTDIA"), F::Date,
                                         {QStringLiteral("QTAUTORIZADA"), QStringLiteral("QTCANCELADA")},
                                         {QStringLiteral("Autorizadas"), QStringLiteral("Canceladas")}, true};
    TClientDataSet moves;
    table(moves, {{"CDFILIAL", TFieldType::String}, {"CDCAIXA", TFieldType::String}, {"DSMODELO", TFieldType::String},
                  {"CDSERIE", TFieldType::String}, {"DTDIA", TFieldType::String}, {"QTAUTORIZADA", TFieldType::Integer},
                  {"QTCANCELADA", TFieldType::Integer}, {"VRTOTAL", TFieldType::Float}, {"NRPRIMEIRA", TFieldType::String},
                  {"NRULTIMA", TFieldType::String}});
    for (const auto &[key, m] : m_movements) {
        const auto &[branch, reg, model, series, day] = key;
        row(moves, {branch, reg, ModelName(model), series, day, m.authorised, m.cancelled, double(m.cents) / 100.0,
                    m.first < 0 ? QString() : QString::number(m.first), m.last < 0 ? QString() : QString::number(m.last)});
    }
    sections.push_back({&movement, &moves});

    // Gaps in the numbering.
    TReportDef gapsDef;
    gapsDef.name = QStringLiteral("Lacunas de numeração");
    gapsDef.layout.columns = {{QStringLiteral("CDFILIAL"), QStringLiteral("Filial"), 45},
                              {QStringLiteral("CDCAIXA"), QStringLiteral("Caixa"), 40},
                              {QStringLiteral("DSMODELO"), QStringLiteral("Modelo"), 55},
                              {QStringLiteral("CDSERIE"), QStringLiteral("Série"), 60},
                              {QStringLiteral("DSLACUNA"), QStringLiteral("Números sem nota"), 263},
                              {QStringLiteral("QTLACUNA"), QStringLiteral("Quantidade"), 60, F::Integer, true}};
    gapsDef.layout.totalCaption = QStringLiteral("Total de números sem nota");
    TClientDataSet gaps;
    table(gaps, {{"CDFILIAL", TFieldType::String}, {"CDCAIXA", TFieldType::String}, {"DSMODELO", TFieldType::String},
                 {"CDSERIE", TFieldType::String}, {"DSLACUNA", TFieldType::String}, {"QTLACUNA", TFieldType::Integer}});
    for (const auto &[key, numbers] : m_numbers) {
        const auto &[branch, reg, model, series] = key;
        for (const NumberGap &g : NumberGaps(numbers))
            row(gaps, {branch, reg, ModelName(model), series,
                       g.first == g.last ? QStringLiteral("lacuna: %1").arg(g.first)
                                         : QStringLiteral("lacuna: %1 a %2").arg(g.first).arg(g.last),
                       g.last - g.first + 1});
    }
    sections.push_back({&gapsDef, &gaps});

    // Files whose signature fails, events without one, sales not written.
    TReportDef problemsDef;
    problemsDef.name = QStringLiteral("Assinaturas e ocorrências");
    problemsDef.layout.columns = {{QStringLiteral("DSTIPO"), QStringLiteral("Ocorrência"), 110},
                                  {QStringLiteral("NMARQUIVO"), QStringLiteral("Arquivo"), 233, F::Text, false, 6.5},
                                  {QStringLiteral("DSMOTIVO"), QStringLiteral("Motivo"), 180, F::Text, false, 7}};
    TClientDataSet problems;
    table(problems, {{"DSTIPO", TFieldType::String}, {"NMARQUIVO", TFieldType::String}, {"DSMOTIVO", TFieldType::String}});
    // Each kind up to kMaxPdfFiles lines, then one that counts the rest: the CSV names every file.
    int listed = 0, left = 0;
    const auto more = [&](const QString &kind) {
        if (left > 0)
            row(problems, {kind, QString(), QStringLiteral("e mais %1 arquivo(s), todos no resumo CSV").arg(left)});
        listed = left = 0;
    };
    ForEachFile([&](const File &f, const QString &path) {
        if (!f.reason)
            return;
        if (listed++ < kMaxPdfFiles)
            row(problems, {QStringLiteral("assinatura inválida"), QFileInfo(path).fileName(), Reason(f)});
        else
            ++left;
    });
    more(QStringLiteral("assinatura inválida"));
    int unsignedEvents = 0;
    ForEachFile([&](const File &f, const QString &path) {
        if (!f.unsignedEvent)
            return;
        ++unsignedEvents;
        if (listed++ < kMaxPdfFiles)
            row(problems, {QStringLiteral("evento sem assinatura"), QFileInfo(path).fileName(),
                           QStringLiteral("reconstruído sem o certificado do emitente")});
        else
            ++left;
    });
    more(QStringLiteral("evento sem assinatura"));
    for (const QString &failure : m_failures)
        row(problems, {QStringLiteral("falha"), QString(), failure});
    sections.push_back({&problemsDef, &problems});

    // What was written: every file when they are few, else the archives or the folders.
    TReportDef filesDef;
    filesDef.layout.totalCaption = QStringLiteral("Total");
    TClientDataSet written;
    const bool each = m_fileCount <= size_t(kMaxPdfFiles);
    if (each) {
        filesDef.name = QStringLiteral("Arquivos gravados");
        filesDef.layout.columns = {{QStringLiteral("NMARQUIVO"), QStringLiteral("Arquivo"), 215, F::Text, false, 6},
                                   {QStringLiteral("QTTAMANHO"), QStringLiteral("Bytes"), 48, F::Integer, true, 7},
                                   {QStringLiteral("DSSHA256"), QStringLiteral("SHA-256"), 260, F::Text, false, 5.5}};
        table(written, {{"NMARQUIVO", TFieldType::String}, {"QTTAMANHO", TFieldType::Integer}, {"DSSHA256", TFieldType::String}});
        for (const Archive &a : archives)
            row(written, {a.name, a.size, QString::fromLatin1(a.sha256)});
        ForEachFile([&](const File &f, const QString &path) {
            row(written, {f.archive >= 0 && size_t(f.archive) < archives.size()
                              ? archives[f.archive].name + QLatin1Char('/') + path
                              : path,
                          f.size, f.Sha256Hex()});
        });
    } else {
        filesDef.name = archives.empty() ? QStringLiteral("Arquivos gravados por pasta (cada arquivo com seu SHA-256 no CSV)")
                                         : QStringLiteral("Arquivos compactados (cada arquivo com seu SHA-256 no CSV)");
        filesDef.layout.columns = {{QStringLiteral("NMARQUIVO"), QStringLiteral("Arquivo ou pasta"), 175, F::Text, false, 6.5},
                                   {QStringLiteral("QTARQUIVOS"), QStringLiteral("Arquivos"), 40, F::Integer, true, 7},
                                   {QStringLiteral("QTTAMANHO"), QStringLiteral("Bytes"), 55, F::Integer, true, 7},
                                   {QStringLiteral("DSSHA256"), QStringLiteral("SHA-256"), 253, F::Text, false, 5.5}};
        table(written, {{"NMARQUIVO", TFieldType::String}, {"QTARQUIVOS", TFieldType::Integer},
                        {"QTTAMANHO", TFieldType::Integer}, {"DSSHA256", TFieldType::String}});
        if (!archives.empty()) {
            for (const Archive &a : archives)
                row(written, {a.name, a.files, a.size, QString::fromLatin1(a.sha256)});
        } else {
            std::map<QString, std::pair<int, qint64>> folders;
            ForEachFile([&](const File &f, const QString &path) {
                auto &[count, bytes] = folders[QFileInfo(path).path()];
                ++count;
                bytes += f.size;
            });
            for (const auto &[name, totals] : folders)
                row(written, {name, totals.first, totals.second, QString()});
        }
    }
    sections.push_back({&filesDef, &written});

    const qint64 invalid = qint64(m_invalidCount);
    qint64 gapCount = 0;
    for (gaps.First(); !gaps.Eof(); gaps.Next())
        gapCount += gaps.FieldByName(QStringLiteral("QTLACUNA")).Value().toLongLong();
    TReportHeading heading;
    heading.reportCode = QStringLiteral("VND04400");
    heading.printedAt = finished;
    heading.criteria = QStringLiteral("%1 venda(s), %2 arquivo(s); %3 número(s) sem nota; %4 assinatura(s) inválida(s); "
                                      "%5 evento(s) sem assinatura")
                           .arg(m_sales)
                           .arg(m_fileCount)
                           .arg(gapCount)
                           .arg(invalid)
                           .arg(unsignedEvents);
    heading.footer = QFileInfo(path).fileName().section(QStringLiteral(".part-"), 0, 0);
    // One PDF at a time in the process: the server writes them from its request threads.
    static std::mutex painting;
    std::lock_guard lock(painting);
    WriteReportPdf(LayoutReportSections(movement.name, sections, heading), path);
}

} // namespace vnd
