// One run of the automatic generation: which sales are due, their files through the local export's
// assembly, one sale at a time so that one bad sale never holds the others back, and the record of what
// was generated.
#include "server/autogen.h"

#include "export/core/exportreport.h"
#include "export/core/exportrun.h"
#include "export/core/geraxmllocal.h"
#include "export/core/nfceassembly.h"
#include "host/errors.h"
#include "host/recordset.h"
#include "server/autogenarchive.h"
#include "server/autogenlock.h"
#include "server/exportpath.h"
#include "server/notas.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <optional>

#include <cstdio>

namespace vnd::server
{

namespace
{

// Sales read and written per round: bounds the documents held in memory at once.
constexpr int kChunk = 200;

struct Params {
    QDateTime firstDay;
    QString folder;
    bool compress = false;
};

Params ReadParams(const ServerDb &db)
{
    QSqlQuery q =
        db.Exec(QStringLiteral("SELECT %1, DSDIRARQXML, IDENVARQCMP FROM PARAMGERAL WHERE IDPARAMGERAL = 1")
                    .arg(db.DateTimeColumn(QStringLiteral("DTINIGERAARQXML"))),
                {}, "ler os parâmetros da geração automática");
    if (!q.next())
        throw Exception(QStringLiteral("Geração automática: os parâmetros não estão cadastrados."));
    Params p;
    p.firstDay = ServerDb::ReadDateTime(q.value(0));
    p.folder = q.value(1).toString();
    p.compress = q.value(2).toString() == QLatin1String("S");
    if (!p.firstDay.isValid())
        throw Exception(QStringLiteral(
            "Geração automática: a data inicial de geração não está informada nos parâmetros."));
    if (p.folder.trimmed().isEmpty())
        throw Exception(
            QStringLiteral("Geração automática: o diretório destino dos arquivos XML no servidor não está "
                           "informado nos parâmetros."));
    // The first date counts whole, whatever time of day the row holds.
    p.firstDay = p.firstDay.date().startOfDay();
    return p;
}

struct Due {
    qint64 id;
    QString status;
};

// Authorised and cancelled sales from the first day on, not generated yet or cancelled since they were:
// pending or rejected NFC-e have no protocol to write and wait until they are authorised.
QHash<QString, Due> DueSales(const ServerDb &db, const QDateTime &firstDay, QStringList &order)
{
    QSqlQuery q =
        db.Exec(QStringLiteral("SELECT V.NRACESSONFCE, V.IDVENDA, V.IDSTATUSNFCE FROM VENDA V "
                               "LEFT JOIN VENDAGERAXML G ON G.IDVENDA = V.IDVENDA "
                               "WHERE V.DTENTRVENDA >= %1 AND V.IDSTATUSNFCE IN ('A', 'C') "
                               "AND V.NRACESSONFCE IS NOT NULL "
                               "AND (G.IDVENDA IS NULL OR G.IDSTATUSNFCE <> V.IDSTATUSNFCE) "
                               "ORDER BY V.CDFILIAL, V.CDCAIXA, V.DTENTRVENDA, V.NRSEQVENDA, V.IDVENDA")
                    .arg(db.DateTimeParam()),
                {ServerDb::DateTimeValue(firstDay)}, "ler as vendas a gerar");
    QHash<QString, Due> due;
    while (q.next()) {
        const QString key = q.value(0).toString();
        order << key;
        due.insert(key, Due{q.value(1).toLongLong(), q.value(2).toString()});
    }
    return due;
}

} // namespace

AutoGenReport RunAutoGeneration(const ServerDb &db, const QString &exportRoot, const QDateTime &now)
{
    using namespace vnd::assembly;
    const Params params = ReadParams(db);
    AutoGenReport report;
    report.compressed = params.compress;
    try {
        report.folder = ResolveExportFolder(exportRoot, params.folder);
    } catch (const Exception &e) {
        throw Exception(QStringLiteral("Geração automática: ") + e.Message());
    }
    if (!QDir().mkpath(report.folder))
        throw Exception(
            QStringLiteral("Geração automática: não foi possível criar a pasta %1.").arg(report.folder));

    // One generation at a time per database; what an interrupted one left is made right before anything
    // is chosen.
    const GenerationLock lock(db);
    autogen::Reconcile(db, lock, report.folder, report);

    QStringList order;
    const QHash<QString, Due> due = DueSales(db, params.firstDay, order);
    report.pending = int(order.size());
    if (order.isEmpty())
        return report;

    // Compressed files go from memory into hidden archives that are renamed into place once recorded;
    // loose files are written whole under their final names and recorded after them, a chunk at a time.
    std::optional<autogen::ArchiveWriter> archives;
    if (params.compress)
        archives.emplace(db, lock, report.folder, params.folder, now, report);
    QSet<QString> folders; // sub-folders entered (and cleared of an earlier run's temporary files)
    ExportReport summary;  // written last, when the run is over (exportreport.h)

    for (qsizetype start = 0; start < order.size(); start += kChunk) {
        TClientDataSet rows;
        QueryNotasByKeys(db, order.mid(start, kChunk), rows);
        std::vector<autogen::Generated> written;
        for (int i = 0; i < rows.RowCount(); ++i) {
            rows.SetRecNo(i);
            // Read before anything else moves the list: the error line names this sale.
            const QString key = rows.FieldByName(QStringLiteral("NRACESSONFCE")).AsString();
            const QString branch = rows.FieldByName(QStringLiteral("CDFILIAL")).AsString();
            const QString cashRegister = rows.FieldByName(QStringLiteral("CDCAIXA")).AsString();
            const Due sale = due.value(key);
            const auto fail = [&](const QString &why) {
                report.errors << QStringLiteral("filial %1, caixa %2: %3 - %4").arg(branch, cashRegister, why, key);
                ++report.failed;
            };
            try {
                const SaleRow row = ReadSaleRow(rows);
                const QList<SaleFile> files = SaleFiles(row);
                if (archives) {
                    QList<TZipMaster::MemoryFile> memory;
                    for (const SaleFile &f : files) {
                        memory.append({f.name, f.content + QByteArrayLiteral("\r\n")});
                        summary.AddFile(f.name, f);
                    }
                    archives->Add({sale.id, sale.status}, std::move(memory));
                    summary.AddSale(row);
                    continue;
                }
                const QString dir = QDir(report.folder).filePath(SaleSubFolder(row));
                if (!folders.contains(dir)) {
                    if (!QDir().mkpath(dir))
                        throw Exception(QStringLiteral("Não foi possível criar a pasta %1").arg(dir));
                    report.leftoversRemoved += RemoveStaleTemporaries(dir);
                    folders.insert(dir);
                }
                for (const SaleFile &f : files)
                    WriteWholeFile(QDir(dir).filePath(f.name), f.content);
                for (const SaleFile &f : files)
                    summary.AddFile(SaleSubFolder(row) + QLatin1Char('/') + f.name, f);
                summary.AddSale(row);
                written.push_back({sale.id, sale.status});
            } catch (const EReservaPerdida &) {
                throw;
            } catch (const Exception &e) {
                fail(e.Message());
            } catch (const std::exception &e) {
                fail(QString::fromUtf8(e.what()));
            }
        }
        if (!written.empty()) {
            // On disk before they count as generated: a power cut must not leave a recorded sale without
            // its file.
            SyncFileSystem(report.folder);
            db.Write([&] {
                lock.Confirm();
                autogen::RecordSales(db, written, params.folder, now, 0);
            });
            report.generated += int(written.size());
        } else {
            lock.Renew();
        }
    }
    if (archives)
        archives->Finish();
    for (const QString &archive : report.archives)
        summary.AddArchive(archive);
    for (const QString &error : report.errors)
        summary.AddFailure(QStringLiteral("geração automática"), error);
    summary.Wait();
    report.invalidSignatures = summary.InvalidSignatures();
    report.invalidSignatureCount = summary.InvalidSignatureCount();
    // Last of the run, beside what it wrote; a run that wrote nothing leaves none.
    if (report.generated > 0 || report.failed > 0) {
        try {
            report.summaryFiles = summary.Finish(report.folder, QDateTime::currentDateTime());
        } catch (const Exception &e) {
            report.errors << e.Message();
            ++report.failed;
        }
    }
    return report;
}

AutoGenReport RecoverAutoGeneration(const ServerDb &db, const QString &exportRoot)
{
    AutoGenReport report;
    try {
        report.folder = ResolveExportFolder(exportRoot, ReadParams(db).folder);
    } catch (const Exception &) {
        // Without usable parameters only the recorded archives are looked after.
    }
    const GenerationLock lock(db);
    autogen::Reconcile(db, lock, report.folder, report);
    return report;
}

QString DescribeAutoGen(const AutoGenReport &r)
{
    QString text = QStringLiteral("geração automática em %1: %2 vendas pendentes, %3 geradas, %4 com falha")
                       .arg(r.folder)
                       .arg(r.pending)
                       .arg(r.generated)
                       .arg(r.failed);
    if (!r.archives.isEmpty())
        text += QStringLiteral(", %1 arquivo(s) compactado(s)").arg(r.archives.size());
    if (r.invalidSignatureCount > 0)
        text += QStringLiteral(", %1 com assinatura inválida").arg(r.invalidSignatureCount);
    if (!r.summaryFiles.isEmpty())
        text += QStringLiteral(", resumo %1").arg(QFileInfo(r.summaryFiles.last()).fileName());
    if (r.archivesCompleted > 0 || r.archivesUndone > 0 || r.leftoversRemoved > 0)
        text += QStringLiteral("; da geração interrompida: %1 arquivo(s) compactado(s) concluído(s), %2 "
                               "desfeito(s), %3 temporário(s) removido(s)")
                    .arg(r.archivesCompleted)
                    .arg(r.archivesUndone)
                    .arg(r.leftoversRemoved);
    return text;
}

int RunGenerateCommand(const ServerDb &db, const QString &exportRoot)
{
    if (!QDir().mkpath(exportRoot))
        throw Exception(QStringLiteral("Não foi possível criar a pasta de exportação %1.").arg(exportRoot));
    AutoGenReport report;
    try {
        report = RunAutoGeneration(db, exportRoot);
    } catch (const EGeracaoEmAndamento &e) {
        std::fprintf(stderr, "vnd-server: %s\n", qPrintable(e.Message()));
        return kGenerationBusyStatus;
    }
    for (const QString &error : report.errors)
        std::fprintf(stderr, "geração automática: %s\n", qPrintable(error));
    std::printf("%s\n", qPrintable(DescribeAutoGen(report)));
    return report.failed == 0 ? 0 : 1;
}

} // namespace vnd::server
