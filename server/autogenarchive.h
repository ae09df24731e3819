#pragma once
// The hand-over of the automatic generation's files to the target folder, made so that a crash at any
// moment leaves every sale once in the folder and in the record (server/README.md, "Automatic
// generation: crashes and concurrent runs").

#include "export/core/zipmaster.h"
#include "server/autogen.h"
#include "server/autogenlock.h"

#include <QDateTime>
#include <QList>

#include <future>
#include <memory>
#include <vector>

namespace vnd::server::autogen
{

// A sale whose files were written, with the status they were written in.
struct Generated {
    qint64 id;
    QString status;
};

// Records sales as generated (into archive archiveId, or loose when 0) inside the current transaction.
void RecordSales(const ServerDb &db, const std::vector<Generated> &sales, const QString &folderText,
                 const QDateTime &now, qint64 archiveId);

// What a crash left, made right before a run: recorded archives not yet under their final name are
// renamed into place, or, when their file is gone, un-recorded so that their sales are due again; the
// generation's temporary files and folders in the target folder are removed. Under the reservation.
void Reconcile(const ServerDb &db, const GenerationLock &lock, const QString &folder, AutoGenReport &report);

// Packs assembled files into archives of at most 1000 files, never splitting a sale: each archive is
// compressed and verified under a hidden name on a second thread while the next one fills, then recorded
// with its sales in one transaction and renamed into place.
class ArchiveWriter
{
  public:
    ArchiveWriter(const ServerDb &db, const GenerationLock &lock, QString folder, QString folderText,
                  QDateTime now, AutoGenReport &report);
    // Waits for an archive being compressed; its sales stay unrecorded.
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter &) = delete;
    ArchiveWriter &operator=(const ArchiveWriter &) = delete;

    void Add(const Generated &sale, QList<TZipMaster::MemoryFile> files);
    void Finish();

  private:
    struct Batch {
        QList<TZipMaster::MemoryFile> files;
        std::vector<Generated> sales;
        QString path, hidden;
        std::future<QString> work; // the compression's error text, empty when verified and on disk
    };
    void Start();
    void Complete(Batch &batch);
    QString FreeName();

    const ServerDb &m_db;
    const GenerationLock &m_lock;
    const QString m_folder, m_folderText;
    const QDateTime m_now;
    QDateTime m_next;
    AutoGenReport &m_report;
    Batch m_filling;
    std::unique_ptr<Batch> m_running;
};

} // namespace vnd::server::autogen
