#include "export/core/geraxmllocal.h"

#include "export/core/documentsource.h"
#include "export/core/exportreport.h"
#include "export/core/exportrun.h"
#include "export/core/nfceassembly.h"
#include "export/core/zipmaster.h"
#include "host/errors.h"
#include "host/platform.h"
#include "host/recordset.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <optional>

namespace vnd {

namespace {

// Switches the list's filter off whatever happens.
class FilterGuard
{
public:
    explicit FilterGuard(TClientDataSet &cds) : m_cds(cds) {}
    ~FilterGuard()
    {
        try {
            m_cds.SetFiltered(false);
        } catch (...) {
        }
    }

private:
    TClientDataSet &m_cds;
};

void EnsureFolder(const QString &path)
{
    if (!QDir().mkpath(path))
        throw Exception(QStringLiteral("Não foi possível criar a pasta %1").arg(QDir::toNativeSeparators(path)));
}

} // namespace

namespace {

// head then tail into path, whole or not at all.
void WriteFileAtomically(const QString &path, const QByteArray &head, const QByteArray &tail)
{
    // An export can always be made again from the database, so loose files are not synced one by one;
    // archives are, before the loose files they replace are deleted.
    WriteInPlace(path, false, [&](const std::function<void(QByteArrayView)> &write) {
        write(head);
        write(tail);
    });
}

} // namespace

void WriteInPlace(const QString &path, bool sync, const std::function<void(const std::function<void(QByteArrayView)> &)> &content)
{
    // Written beside the target under a temporary name and renamed over it, so a reader never sees half
    // a file.
    const QString temp = TemporaryPath(path);
    QFile f(temp);
    auto fail = [&](const QString &why) {
        f.close();
        QFile::remove(temp);
        throw Exception(QStringLiteral("Não foi possível gravar o arquivo %1: %2").arg(QDir::toNativeSeparators(path), why));
    };
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        fail(f.errorString());
    try {
        content([&](QByteArrayView bytes) {
            if (f.write(bytes.data(), bytes.size()) != bytes.size())
                fail(f.errorString());
        });
    } catch (...) {
        // Whatever stopped the content, nothing of it stays.
        f.close();
        QFile::remove(temp);
        throw;
    }
    if (!f.flush() || (sync && ::fsync(f.handle()) != 0))
        fail(f.errorString());
    f.close();
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) != 0)
        fail(QString::fromLocal8Bit(std::strerror(errno)));
}

void WriteWholeFile(const QString &path, const QByteArray &content) { WriteFileAtomically(path, content, QByteArrayLiteral("\r\n")); }

void SyncFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int err = errno;
        if (fd >= 0)
            ::close(fd);
        throw Exception(QStringLiteral("Não foi possível confirmar a gravação de %1: %2")
                            .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(err))));
    }
    ::close(fd);
}

ArchiveQueue::ArchiveQueue(QString folder, QDateTime start) : m_folder(std::move(folder)), m_next(std::move(start))
{
}

ArchiveQueue::~ArchiveQueue()
{
    if (!m_finished) {
        std::lock_guard lock(m_mutex);
        m_abandoned = true; // the batches not started yet are not compressed at all
    }
    Close();
    if (m_finished)
        return;
    // The run failed before its archives were complete. Files on disk stay loose, so archives holding a
    // part of them would only be copies to confuse the user; files in memory that no verified archive
    // holds are written loose now, so that each one is somewhere, once.
    for (Job &job : m_jobs) {
        // (An archive that also holds files from memory stays: they have no other copy.)
        if (!job.files.isEmpty() && !job.holdsMemory)
            QFile::remove(job.archive);
        if (!job.archived) {
            const QString error = WriteLoose(job);
            if (!error.isEmpty())
                qWarning("%s", qPrintable(error));
        }
    }
    Job rest;
    rest.memoryPaths = m_pendingMemoryPaths;
    rest.memory = m_pendingMemory;
    const QString error = WriteLoose(rest);
    if (!error.isEmpty())
        qWarning("%s", qPrintable(error));
}

QString ArchiveQueue::WriteLoose(Job &job)
{
    QString error;
    for (qsizetype i = 0; i < job.memory.size(); ++i) {
        try {
            WriteFileAtomically(job.memoryPaths[i], job.memory[i].data, {});
        } catch (const Exception &e) {
            if (error.isEmpty())
                error = e.Message();
        }
    }
    job.memory.clear();
    return error;
}

void ArchiveQueue::Add(const QString &path)
{
    m_pending << path;
    m_all << path;
    if (m_pending.size() + m_pendingMemory.size() == kFilesPerArchive)
        QueuePending();
}

void ArchiveQueue::Add(const QString &path, const QByteArray &content)
{
    m_pendingMemoryPaths << path;
    // Exactly the file's size: the assembled text may carry spare capacity, a whole batch of it.
    QByteArray data(content.size() + 2, Qt::Uninitialized);
    std::memcpy(data.data(), content.constData(), size_t(content.size()));
    std::memcpy(data.data() + content.size(), "\r\n", 2);
    m_pendingMemory << TZipMaster::MemoryFile{QFileInfo(path).fileName(), std::move(data)};
    if (m_pending.size() + m_pendingMemory.size() == kFilesPerArchive)
        QueuePending();
}

void ArchiveQueue::QueuePending()
{
    if (m_pending.isEmpty() && m_pendingMemory.isEmpty())
        return;
    QString name;
    // A name taken by an earlier run in the same second would be overwritten: move on to a free one.
    do {
        name = QDir(m_folder).filePath(QStringLiteral("ArquivosXML_") +
                                       m_next.toString(QStringLiteral("ddMMyyyy HHmmss")) + QStringLiteral(".zip"));
        m_next = m_next.addSecs(1);
    } while (QFile::exists(name));
    // Archives are independent: both cores compress at once while the caller goes on.
    const size_t cores = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
    {
        std::unique_lock lock(m_mutex);
        // Batches in memory are a few megabytes each: past one batch waiting behind the workers, wait.
        m_progress.wait(lock, [&] { return m_jobs.size() - m_done <= cores; });
        const bool holdsMemory = !m_pendingMemory.isEmpty();
        m_jobs.push_back({name, std::move(m_pending), std::move(m_pendingMemoryPaths), std::move(m_pendingMemory), holdsMemory, {}});
    }
    m_pending.clear();
    m_pendingMemoryPaths.clear();
    m_pendingMemory.clear();
    m_wake.notify_one();
    if (m_workers.size() < cores)
        m_workers.emplace_back([this] { Work(); });
}

void ArchiveQueue::Work()
{
    std::unique_lock lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_taken < m_jobs.size() || m_closed; });
        if (m_taken == m_jobs.size() || m_abandoned)
            return;
        Job &job = m_jobs[m_taken++]; // a deque: references stay valid while others are added
        lock.unlock();
        QString error;
        // Made, read back and put on disk under a temporary name: an archive under its final name is
        // always whole, whenever the run stops.
        const QString temp = TemporaryPath(job.archive);
        try {
            TZipMaster zip;
            zip.ZipFileName = temp;
            zip.FSpecArgs = job.files;
            zip.FSpecMemory = job.memory;
            zip.Add();
            zip.Verify();
            SyncFile(temp);
            if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(job.archive).constData()) != 0)
                throw Exception(QStringLiteral("Não foi possível gravar o arquivo compactado %1: %2")
                                    .arg(job.archive, QString::fromLocal8Bit(std::strerror(errno))));
        } catch (const Exception &e) {
            error = e.Message().replace(temp, job.archive);
        } catch (const std::exception &e) {
            error = QString::fromUtf8(e.what());
        }
        if (error.isEmpty()) {
            // The archive holds them now; a million sales' paths would otherwise stay to the end.
            job.memory.clear();
            job.memoryPaths.clear();
        } else {
            QFile::remove(temp);
            // The files of the failed archive are written loose instead, so none is lost.
            const QString loose = WriteLoose(job);
            if (!loose.isEmpty())
                error += QStringLiteral(" (e os arquivos não puderam ser gravados soltos: %1)").arg(loose);
        }
        lock.lock();
        job.error = error;
        job.archived = error.isEmpty();
        ++m_done;
        m_progress.notify_all();
    }
}

void ArchiveQueue::Close()
{
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_wake.notify_all();
    for (std::thread &t : m_workers)
        t.join();
    m_workers.clear();
}

QStringList ArchiveQueue::Finish()
{
    QueuePending();
    // Progress is reported from this thread, which owns the screen.
    const size_t total = m_jobs.size();
    for (size_t shown = size_t(-1);;) {
        std::unique_lock lock(m_mutex);
        const size_t now = m_done;
        lock.unlock();
        if (now != shown) {
            Platform().BusyProgress(
                QStringLiteral("arquivo compactado %1 de %2").arg(std::min(now + 1, total)).arg(total));
            shown = now;
        }
        if (now == total)
            break;
        lock.lock();
        m_progress.wait_for(lock, std::chrono::milliseconds(50));
    }
    Close();
    m_finished = true;

    QStringList archives;
    for (const Job &job : m_jobs) {
        if (!job.error.isEmpty()) {
            // The archives that did succeed stay; the loose files stay too, so nothing is lost.
            throw Exception(job.error);
        }
        archives << job.archive;
    }
    // Each archive was synced before its rename; the renames must be on disk too before the only other
    // copy of their files goes.
    if (!archives.isEmpty())
        SyncFile(m_folder);
    if (m_all.isEmpty())
        return archives; // nothing was written loose, nothing is deleted
    for (const QString &path : m_all)
        if (QFile::exists(path) && !QFile::remove(path))
            throw Exception(QStringLiteral("Não foi possível excluir o arquivo %1 após compactá-lo")
                                .arg(QDir::toNativeSeparators(path)));
    return archives;
}

QStringList ArchiveFiles(const QString &folder, const QStringList &paths, const QDateTime &start)
{
    ArchiveQueue queue(folder, start);
    for (const QString &path : paths)
        queue.Add(path);
    return queue.Finish();
}

bool GeraXmlLocal(TClientDataSet &cdsNotas, const QString &folder, bool compress, int *cancelledAfter,
                  ExportSummary *result, bool summaryOnly, DocumentSource *documents)
{
    if (cancelledAfter)
        *cancelledAfter = -1;
    using namespace vnd::assembly;
    FilterGuard guard(cdsNotas);
    cdsNotas.SetFiltered(false);
    cdsNotas.SetFilter(QStringLiteral("IDCHECK = 'S'"));
    cdsNotas.SetFiltered(true);
    const int total = cdsNotas.RecordCount();
    if (total == 0)
        return true; // nothing ticked: nothing written, not even a summary
    if (summaryOnly)
        EnsureFolder(folder);
    RemoveStaleTemporaries(folder); // (the folder itself is made with the first sale's, which names its key)
    // Full batches of files are compressed while the next ones are assembled and written.
    std::optional<ArchiveQueue> archives;
    if (compress && !summaryOnly)
        archives.emplace(folder, QDateTime::currentDateTime());
    std::optional<DocumentFeed> feed;
    if (documents)
        feed.emplace(cdsNotas, *documents);
    ExportSummary summary;
    ExportReport report; // checks signatures and hashes the files beside this thread
    int added = 0;
    int n = 0;
    QString lastFolder;
    QSet<QString> folders; // sub-folders entered (and cleared of an earlier run's temporary files)
    cdsNotas.First();
    while (!cdsNotas.Eof()) {
        // A stop asked for on the busy indicator takes effect between two sales: every file written
        // so far is whole, and the archives are finished as for a complete run.
        if (cancelledAfter && Platform().BusyCancelRequested()) {
            *cancelledAfter = n;
            break;
        }
        const QByteArray key = cdsNotas.FieldByName(QStringLiteral("NRACESSONFCE")).AsBytes();
        try {
            if (cdsNotas.FieldByName(QStringLiteral("IDCHECK")).AsString() == QLatin1String("S")) {
                Platform().BusyProgress(QStringLiteral("venda %1 de %2").arg(++n).arg(total));
                SaleRow row = ReadSaleRow(cdsNotas);
                if (feed)
                    feed->Fill(row);
                const QString sub = compress ? QString() : SaleSubFolder(row);
                const QString dir = compress ? folder : QDir(folder).filePath(sub);
                // The list comes in branch, register and day order: most sales go where the last one went.
                if (!summaryOnly && dir != lastFolder) {
                    EnsureFolder(dir);
                    if (!compress && !folders.contains(dir)) {
                        RemoveStaleTemporaries(dir);
                        folders.insert(dir);
                    }
                    lastFolder = dir;
                }
                for (const SaleFile &file : SaleFiles(row)) {
                    const QString path = QDir(dir).filePath(file.name);
                    if (file.unsignedEvent)
                        summary.unsignedEvents << file.name;
                    // Each archive holds the next kFilesPerArchive files added.
                    report.AddFile(compress ? file.name : sub + QLatin1Char('/') + file.name, file,
                                   compress ? added++ / ArchiveQueue::kFilesPerArchive : -1);
                    if (summaryOnly) {
                        continue;
                    } else if (archives) {
                        archives->Add(path, file.content); // written loose only if its archive cannot be made
                        ++summary.archivedFiles;
                    } else {
                        WriteWholeFile(path, file.content);
                        summary.files << sub + QLatin1Char('/') + file.name;
                    }
                }
                report.AddSale(row);
                ++summary.sales;
            }
        } catch (const Exception &e) {
            throw Exception(e.Message() + QStringLiteral(" - ") + QString::fromUtf8(key));
        } catch (const std::exception &e) {
            throw Exception(QString::fromUtf8(e.what()) + QStringLiteral(" - ") + QString::fromUtf8(key));
        }
        cdsNotas.Next();
    }
    if (archives) {
        for (const QString &archive : archives->Finish()) {
            summary.archives << QFileInfo(archive).fileName();
            report.AddArchive(archive);
        }
    } else if (!summaryOnly) {
        // Loose files are not synced one by one; the summary must not reach the disk before them.
        SyncFileSystem(folder);
    }
    report.Wait();
    summary.invalidSignatures = report.InvalidSignatures();
    summary.invalidSignatureCount = report.InvalidSignatureCount();
    summary.finished = QDateTime::currentDateTime();
    // A run the user stopped did not export what was asked: its files are whole, but no summary says
    // that the export is complete.
    if (!cancelledAfter || *cancelledAfter < 0) {
        Platform().BusyProgress(QStringLiteral("gravando o resumo"));
        summary.summaryFiles = report.Finish(folder, summary.finished);
    }
    if (result)
        *result = summary;
    return true;
}

} // namespace vnd
