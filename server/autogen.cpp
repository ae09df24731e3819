// One run of the automatic generation: which sales are due, their files through the local export's
// assembly, one sale at a time so that one bad sale never holds the others back, and the record of what
// was generated.
#include "server/autogen.h"

#include "export/core/geraxmllocal.h"
#include "host/errors.h"
#include "host/recordset.h"
#include "server/exportpath.h"
#include "server/notas.h"

#include <QDir>
#include <QDirIterator>
#include <QHash>
#include <QTemporaryDir>

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

struct Generated {
    qint64 id;
    QString status;
};

void Record(const ServerDb &db, const std::vector<Generated> &sales, const QString &folderText,
            const QDateTime &now)
{
    if (sales.empty())
        return;
    db.Write([&] {
        QSqlQuery q = db.Prepare(
            QStringLiteral("INSERT INTO VENDAGERAXML (IDVENDA, IDSTATUSNFCE, DTHRGERACAO, DSDIRARQXML) "
                           "VALUES (?, ?, %1, ?) ON CONFLICT (IDVENDA) DO UPDATE SET "
                           "IDSTATUSNFCE = excluded.IDSTATUSNFCE, DTHRGERACAO = excluded.DTHRGERACAO, "
                           "DSDIRARQXML = excluded.DSDIRARQXML")
                .arg(db.DateTimeParam()),
            "registrar a geração automática");
        for (const Generated &g : sales)
            db.Run(q, {g.id, g.status, ServerDb::DateTimeValue(now), folderText.left(100)},
                   "registrar a geração automática");
    });
}

void Tick(TClientDataSet &rows, int row, const char *flag)
{
    rows.SetRecNo(row);
    rows.Edit();
    rows.FieldByName(QStringLiteral("IDCHECK")).SetAsString(QString::fromLatin1(flag));
    rows.Post();
}

QStringList FilesUnder(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

} // namespace

AutoGenReport RunAutoGeneration(const ServerDb &db, const QString &exportRoot, const QDateTime &now)
{
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

    QStringList order;
    const QHash<QString, Due> due = DueSales(db, params.firstDay, order);
    report.pending = int(order.size());
    if (order.isEmpty())
        return report;

    // Compressed files are assembled apart, each sale in a folder of its own, and only reach the target
    // folder inside a verified archive.
    std::unique_ptr<QTemporaryDir> staging;
    if (params.compress) {
        staging =
            std::make_unique<QTemporaryDir>(QDir(report.folder).filePath(QStringLiteral(".geracao-XXXXXX")));
        if (!staging->isValid())
            throw Exception(
                QStringLiteral("Geração automática: não foi possível criar a pasta temporária em %1: %2.")
                    .arg(report.folder, staging->errorString()));
    }
    std::vector<Generated> staged;
    QStringList stagedFiles;

    for (qsizetype start = 0; start < order.size(); start += kChunk) {
        TClientDataSet rows;
        QueryNotasByKeys(db, order.mid(start, kChunk), rows);
        std::vector<Generated> written;
        for (int i = 0; i < rows.RowCount(); ++i) {
            rows.SetRecNo(i);
            const QString key = rows.FieldByName(QStringLiteral("NRACESSONFCE")).AsString();
            const Due sale = due.value(key);
            const QString target = staging ? staging->filePath(QString::number(sale.id)) : report.folder;
            Tick(rows, i, "S");
            const auto fail = [&](const QString &why) {
                // The assembly's message already ends in the sale's access key.
                report.errors << QStringLiteral("filial %1, caixa %2: %3")
                                     .arg(rows.FieldByName(QStringLiteral("CDFILIAL")).AsString(),
                                          rows.FieldByName(QStringLiteral("CDCAIXA")).AsString(), why);
                ++report.failed;
                if (staging)
                    QDir(target).removeRecursively();
            };
            try {
                GeraXmlLocal(rows, target, false);
                if (staging) {
                    staged.push_back({sale.id, sale.status});
                    stagedFiles << FilesUnder(target);
                } else {
                    written.push_back({sale.id, sale.status});
                }
            } catch (const Exception &e) {
                fail(e.Message());
            } catch (const std::exception &e) {
                fail(QString::fromUtf8(e.what()) + QStringLiteral(" - ") + key);
            }
            Tick(rows, i, "N");
        }
        Record(db, written, params.folder, now);
        report.generated += int(written.size());
    }

    if (staging && !staged.empty()) {
        try {
            report.archives = ArchiveFiles(report.folder, stagedFiles, now);
            Record(db, staged, params.folder, now);
            report.generated += int(staged.size());
        } catch (const Exception &e) {
            report.errors
                << QStringLiteral("arquivo compactado de %1 vendas: %2").arg(staged.size()).arg(e.Message());
            report.failed += int(staged.size());
        }
    }
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
    return text;
}

int RunGenerateCommand(const ServerDb &db, const QString &exportRoot)
{
    if (!QDir().mkpath(exportRoot))
        throw Exception(QStringLiteral("Não foi possível criar a pasta de exportação %1.").arg(exportRoot));
    const AutoGenReport report = RunAutoGeneration(db, exportRoot);
    for (const QString &error : report.errors)
        std::fprintf(stderr, "geração automática: %s\n", qPrintable(error));
    std::printf("%s\n", qPrintable(DescribeAutoGen(report)));
    return report.failed == 0 ? 0 : 1;
}

} // namespace vnd::server
