// The crash-safe hand-over of the automatic generation (see autogenarchive.h and server/README.md).
#include "server/autogenarchive.h"

#include "export/core/exportrun.h"
#include "export/core/geraxmllocal.h"
#include "host/errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vnd::server::autogen
{

namespace
{

// Every name the generation writes before a file is in place starts with this: the hidden archive,
// the zip library's temporary beside it, and the staging folders of earlier versions.
const QString kHiddenPrefix = QStringLiteral(".geracao-");

QString HiddenPath(const QString &path)
{
    const QFileInfo info(path);
    return info.dir().filePath(kHiddenPrefix + info.fileName());
}

void Rename(const QString &from, const QString &to)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw Exception(QStringLiteral("Não foi possível renomear %1 para %2: %3")
                            .arg(from, to, QString::fromLocal8Bit(std::strerror(errno))));
}

void MarkPlaced(const ServerDb &db, qint64 archiveId)
{
    db.Write([&] {
        db.Exec(QStringLiteral("UPDATE ARQGERAXML SET IDSITUACAO = 'G' WHERE IDARQGERAXML = ?"), {archiveId},
                "registrar o arquivo compactado da geração automática");
    });
}

int RemoveHidden(const QString &folder)
{
    int removed = 0;
    const QFileInfoList entries =
        QDir(folder).entryInfoList({kHiddenPrefix + QLatin1Char('*')}, QDir::Files | QDir::Dirs | QDir::Hidden |
                                                                           QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        const bool gone = entry.isDir() && !entry.isSymLink() ? QDir(entry.filePath()).removeRecursively()
                                                              : QFile::remove(entry.filePath());
        if (gone)
            ++removed;
        else
            std::fprintf(stderr, "geração automática: não foi possível remover %s\n", qPrintable(entry.filePath()));
    }
    return removed;
}

// Compresses, reads back and syncs one archive under its hidden name; the error text, or empty.
QString Compress(const QString &hidden, const QList<TZipMaster::MemoryFile> &files)
{
    try {
        TZipMaster zip;
        zip.ZipFileName = hidden;
        zip.FSpecMemory = files;
        zip.Add();
        zip.Verify();
        SyncFile(hidden);
        return {};
    } catch (const Exception &e) {
        return e.Message();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
}

} // namespace

void RecordSales(const ServerDb &db, const std::vector<Generated> &sales, const QString &folderText,
                 const QDateTime &now, qint64 archiveId)
{
    QSqlQuery q = db.Prepare(
        QStringLiteral("INSERT INTO VENDAGERAXML (IDVENDA, IDSTATUSNFCE, DTHRGERACAO, DSDIRARQXML, IDARQGERAXML) "
                       "VALUES (?, ?, %1, ?, ?) ON CONFLICT (IDVENDA) DO UPDATE SET "
                       "IDSTATUSNFCE = excluded.IDSTATUSNFCE, DTHRGERACAO = excluded.DTHRGERACAO, "
                       "DSDIRARQXML = excluded.DSDIRARQXML, IDARQGERAXML = excluded.IDARQGERAXML")
            .arg(db.DateTimeParam()),
        "registrar a geração automática");
    const QVariant archive = archiveId > 0 ? QVariant(archiveId) : QVariant(QMetaType(QMetaType::LongLong));
    for (const Generated &g : sales)
        db.Run(q, {g.id, g.status, ServerDb::DateTimeValue(now), folderText.left(100), archive},
               "registrar a geração automática");
}

void Reconcile(const ServerDb &db, const GenerationLock &lock, const QString &folder, AutoGenReport &report)
{
    struct Pending {
        qint64 id;
        QString path;
    };
    std::vector<Pending> pending;
    {
        QSqlQuery q = db.Exec(QStringLiteral("SELECT IDARQGERAXML, DSCAMINHO FROM ARQGERAXML WHERE IDSITUACAO = 'P' "
                                             "ORDER BY IDARQGERAXML"),
                              {}, "ler os arquivos compactados pendentes");
        while (q.next())
            pending.push_back({q.value(0).toLongLong(), q.value(1).toString()});
    }
    QSet<QString> folders;
    if (!folder.isEmpty())
        folders.insert(folder);
    for (const Pending &p : pending) {
        const QString hidden = HiddenPath(p.path);
        folders.insert(QFileInfo(p.path).absolutePath());
        if (QFileInfo::exists(p.path)) {
            // Renamed before the crash; only its mark was missing.
            QFile::remove(hidden);
        } else if (QFileInfo(hidden).isFile()) {
            // Whole and on disk before it was recorded: it only needs its final name.
            Rename(hidden, p.path);
            SyncFile(QFileInfo(p.path).absolutePath());
        } else {
            // Its file is gone: its sales are due again and go into a new archive.
            db.Write([&] {
                lock.Confirm();
                db.Exec(QStringLiteral("DELETE FROM VENDAGERAXML WHERE IDARQGERAXML = ?"), {p.id},
                        "desfazer o registro de um arquivo compactado perdido");
                db.Exec(QStringLiteral("DELETE FROM ARQGERAXML WHERE IDARQGERAXML = ?"), {p.id},
                        "desfazer o registro de um arquivo compactado perdido");
            });
            ++report.archivesUndone;
            report.errors << QStringLiteral("o arquivo compactado %1 registrado por uma geração interrompida não "
                                            "foi encontrado; suas vendas serão geradas de novo")
                                 .arg(p.path);
            continue;
        }
        MarkPlaced(db, p.id);
        ++report.archivesCompleted;
    }
    // Also the temporary files of a run killed while writing (its summary, say), whatever the next run has
    // left to write.
    for (const QString &f : folders)
        report.leftoversRemoved += RemoveHidden(f) + RemoveStaleTemporaries(f);
}

ArchiveWriter::ArchiveWriter(const ServerDb &db, const GenerationLock &lock, QString folder, QString folderText,
                             QDateTime now, AutoGenReport &report)
    : m_db(db), m_lock(lock), m_folder(std::move(folder)), m_folderText(std::move(folderText)), m_now(now),
      m_next(now), m_report(report)
{
}

ArchiveWriter::~ArchiveWriter()
{
    if (m_running && m_running->work.valid()) {
        m_running->work.wait();
        QFile::remove(m_running->hidden);
    }
}

void ArchiveWriter::Add(const Generated &sale, QList<TZipMaster::MemoryFile> files)
{
    if (m_filling.files.size() + files.size() > ArchiveQueue::kFilesPerArchive)
        Start();
    m_filling.files.append(std::move(files));
    m_filling.sales.push_back(sale);
}

void ArchiveWriter::Finish()
{
    Start();
    if (m_running) {
        Complete(*m_running);
        m_running.reset();
    }
}

QString ArchiveWriter::FreeName()
{
    // A name taken by a file, a hidden archive or a recorded archive moves on by one second.
    for (;;) {
        const QString path = QDir(m_folder).filePath(QStringLiteral("ArquivosXML_") +
                                                     m_next.toString(QStringLiteral("ddMMyyyy HHmmss")) +
                                                     QStringLiteral(".zip"));
        m_next = m_next.addSecs(1);
        if (QFileInfo::exists(path) || QFileInfo::exists(HiddenPath(path)))
            continue;
        QSqlQuery q = m_db.Exec(QStringLiteral("SELECT COUNT(*) FROM ARQGERAXML WHERE DSCAMINHO = ?"), {path},
                                "conferir o nome do arquivo compactado");
        if (q.next() && q.value(0).toInt() == 0)
            return path;
    }
}

void ArchiveWriter::Start()
{
    if (m_filling.files.isEmpty())
        return;
    auto batch = std::make_unique<Batch>(std::move(m_filling));
    m_filling = Batch{};
    batch->path = FreeName();
    batch->hidden = HiddenPath(batch->path);
    // One archive compresses while the next fills; the one before must be recorded first.
    if (m_running) {
        Complete(*m_running);
        m_running.reset();
    }
    m_lock.Renew();
    Batch *b = batch.get();
    b->work = std::async(std::launch::async, [b] { return Compress(b->hidden, b->files); });
    m_running = std::move(batch);
}

void ArchiveWriter::Complete(Batch &batch)
{
    QString error = batch.work.get();
    batch.files.clear();
    qint64 id = 0;
    if (error.isEmpty()) {
        try {
            m_db.Write([&] {
                m_lock.Confirm();
                m_db.Exec(QStringLiteral("INSERT INTO ARQGERAXML (DSCAMINHO, IDSITUACAO, DTHRGERACAO, QTVENDA) "
                                         "VALUES (?, 'P', %1, ?)")
                              .arg(m_db.DateTimeParam()),
                          {batch.path, ServerDb::DateTimeValue(m_now), qint64(batch.sales.size())},
                          "registrar o arquivo compactado da geração automática");
                QSqlQuery q = m_db.Exec(QStringLiteral("SELECT IDARQGERAXML FROM ARQGERAXML WHERE DSCAMINHO = ?"),
                                        {batch.path}, "registrar o arquivo compactado da geração automática");
                id = q.next() ? q.value(0).toLongLong() : 0;
                q.finish();
                RecordSales(m_db, batch.sales, m_folderText, m_now, id);
            });
        } catch (const EReservaPerdida &) {
            QFile::remove(batch.hidden);
            throw;
        } catch (const Exception &e) {
            error = e.Message();
        }
    }
    if (error.isEmpty()) {
        // Recorded: from here on a crash is finished by the next run's reconciliation, and so is a failed
        // rename, which keeps the hidden file for it.
        try {
            Rename(batch.hidden, batch.path);
            SyncFile(m_folder);
        } catch (const Exception &e) {
            m_report.errors << QStringLiteral("arquivo compactado de %1 vendas, registrado: %2; a próxima geração "
                                              "o coloca no lugar")
                                   .arg(batch.sales.size())
                                   .arg(e.Message());
            m_report.failed += int(batch.sales.size());
            return;
        }
        m_report.archives << batch.path;
        m_report.generated += int(batch.sales.size());
        try {
            MarkPlaced(m_db, id);
        } catch (const Exception &e) {
            // In place and recorded; the next run only confirms the mark.
            m_report.errors << e.Message();
        }
        return;
    }
    // Nothing of it was recorded: the sales are taken again by the next run.
    QFile::remove(batch.hidden);
    m_report.errors << QStringLiteral("arquivo compactado de %1 vendas: %2").arg(batch.sales.size()).arg(error);
    m_report.failed += int(batch.sales.size());
}

} // namespace vnd::server::autogen
