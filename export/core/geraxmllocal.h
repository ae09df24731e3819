#pragma once
// Writing the fiscal files of the ticked sales of a sale list into a folder, optionally packed into zip
// archives of at most 1000 files. Needs no screen: the main screen, the command line and the server's
// generation all call it.

#include "export/core/exportrun.h"
#include "export/core/zipmaster.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class TClientDataSet;

namespace vnd {

class DocumentSource;

// Writes the files of every row of cdsNotas whose IDCHECK is "S" below folder (per branch, register and
// day; directly into folder when compressing, then archived and the loose files removed), then, last,
// the run's summary (exportrun.h), so that a run that stopped half-way is recognisable. Temporary files
// that earlier interrupted runs left in the folders it writes into are removed first. Returns true.
// Any failure stops the run and raises an Exception whose message ends in " - " and the row's access key.
// The list ends unfiltered; ticks are unchanged. Progress goes to the platform's busy indicator.
// With cancelledAfter, the run may be stopped from the busy indicator before any sale: it then ends as a
// complete run would (archives made) and cancelledAfter holds the number of sales written; -1 when it
// ran to the end. With result, it receives what the run wrote (its summary). Every NFC-e and CF-e
// written has its signature checked: one that fails is written all the same and named in the summary.
// With summaryOnly, the files are assembled, checked and hashed but not written: only the summary is,
// into folder, for a check before the real export.
// With documents, the stored documents of the sales are read from it by access key, a batch at a time
// (documentsource.h), and not from the list, which may then hold its rows without them.
bool GeraXmlLocal(TClientDataSet &cdsNotas, const QString &folder, bool compress, int *cancelledAfter = nullptr,
                  ExportSummary *result = nullptr, bool summaryOnly = false, DocumentSource *documents = nullptr);

// Writes content plus CR LF to path, whole or not at all (temporary file, then rename).
void WriteWholeFile(const QString &path, const QByteArray &content);
// Writes what content hands to its writer under a temporary name beside path, then renames it into
// place (after an fsync when sync): a file under its final name is always whole.
void WriteInPlace(const QString &path, bool sync, const std::function<void(const std::function<void(QByteArrayView)> &)> &content);

// Flushes one file (or folder) to disk; Exception naming it when that fails.
void SyncFile(const QString &path);

// Packs the paths into archives "ArquivosXML_DDMMYYYY HHNNSS.zip" in folder, 1000 files each, the time
// stamp starting at start and advancing one second per archive (and past names already taken). Each
// archive is made under a temporary name, read back, synced and only then renamed, before any loose file
// is deleted; on failure the loose files stay and the error
// names the archive. Returns the archive paths.
QStringList ArchiveFiles(const QString &folder, const QStringList &paths, const QDateTime &start);

// ArchiveFiles for files that are still being made: every kFilesPerArchive files added make an archive
// that is compressed and read back on a worker thread (both cores) while the caller makes the next ones.
// Finish archives the rest, waits with progress ("arquivo compactado N de M"), reports the first failure
// as ArchiveFiles does, and deletes the loose files only when every archive is verified and on disk.
// Destroyed without Finish (the run failed), it waits for its workers and removes the archives it made of
// files on disk; the loose files stay.
//
// Files added with their content are never written loose unless they must: each one ends up whole either
// in a verified archive or, when its archive fails or the run stops first, as a loose file at its path.
// At most a few batches wait in memory; Add waits for the workers beyond that.
class ArchiveQueue
{
public:
    static constexpr int kFilesPerArchive = 1000;

    ArchiveQueue(QString folder, QDateTime start);
    ~ArchiveQueue();
    ArchiveQueue(const ArchiveQueue &) = delete;
    ArchiveQueue &operator=(const ArchiveQueue &) = delete;

    // A file already written at path.
    void Add(const QString &path);
    // A file not written yet: content is its text without the final CR LF, as WriteWholeFile takes it.
    void Add(const QString &path, const QByteArray &content);
    QStringList Finish();

private:
    struct Job
    {
        QString archive;
        QStringList files;       // on disk
        QStringList memoryPaths; // where the files held in memory go if they must be written loose
        QList<TZipMaster::MemoryFile> memory;
        bool holdsMemory = false; // some of its files had no other copy (memoryPaths go once archived)
        QString error;
        bool archived = false;
    };
    void QueuePending();
    static QString WriteLoose(Job &job);
    void Work();
    void Close();

    const QString m_folder;
    QDateTime m_next;
    QStringList m_pending, m_all, m_pendingMemoryPaths;
    QList<TZipMaster::MemoryFile> m_pendingMemory;
    std::deque<Job> m_jobs; // guarded by m_mutex while workers run
    size_t m_taken = 0, m_done = 0;
    bool m_closed = false, m_abandoned = false, m_finished = false;
    std::mutex m_mutex;
    std::condition_variable m_wake, m_progress;
    std::vector<std::thread> m_workers;
};

} // namespace vnd
