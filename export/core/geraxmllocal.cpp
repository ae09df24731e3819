#include "export/core/geraxmllocal.h"

#include "export/core/nfceassembly.h"
#include "export/core/zipmaster.h"
#include "host/errors.h"
#include "host/platform.h"
#include "host/recordset.h"

#include <QDir>
#include <QFile>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vnd {

namespace {

constexpr int kFilesPerArchive = 1000;

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

void WriteWholeFile(const QString &path, const QByteArray &content)
{
    // Written beside the target under a temporary name and renamed over it, so a reader never sees half
    // a file. An export can always be made again from the database, so loose files are not synced one by one;
    // archives are, before the loose files they replace are deleted.
    static std::atomic<unsigned> counter{0};
    const QString temp = path + QStringLiteral(".part-%1-%2").arg(::getpid()).arg(counter++);
    QFile f(temp);
    auto fail = [&](const QString &why) {
        f.close();
        QFile::remove(temp);
        throw Exception(QStringLiteral("Não foi possível gravar o arquivo %1: %2").arg(QDir::toNativeSeparators(path), why));
    };
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        fail(f.errorString());
    if (f.write(content) != content.size() || f.write("\r\n", 2) != 2 || !f.flush())
        fail(f.errorString());
    f.close();
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) != 0)
        fail(QString::fromLocal8Bit(std::strerror(errno)));
}

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

QStringList ArchiveFiles(const QString &folder, const QStringList &paths, const QDateTime &start)
{
    struct Job
    {
        QString archive;
        QStringList files;
        QString error;
    };
    std::vector<Job> jobs;
    QDateTime t = start;
    for (qsizetype i = 0; i < paths.size(); i += kFilesPerArchive) {
        QString name;
        // A name taken by an earlier run in the same second would be overwritten: move on to a free one.
        do {
            name = QDir(folder).filePath(QStringLiteral("ArquivosXML_") + t.toString(QStringLiteral("ddMMyyyy HHmmss")) +
                                         QStringLiteral(".zip"));
            t = t.addSecs(1);
        } while (QFile::exists(name));
        jobs.push_back({name, paths.mid(i, kFilesPerArchive), {}});
    }

    // Archives are independent: both cores compress at once. Progress is reported from this thread,
    // which owns the screen.
    std::atomic<size_t> next{0};
    std::atomic<int> done{0};
    std::mutex m;
    std::condition_variable cv;
    auto worker = [&] {
        for (size_t j; (j = next.fetch_add(1)) < jobs.size();) {
            try {
                TZipMaster zip;
                zip.ZipFileName = jobs[j].archive;
                zip.FSpecArgs = jobs[j].files;
                zip.Add();
                zip.Verify();
            } catch (const Exception &e) {
                jobs[j].error = e.Message();
                QFile::remove(jobs[j].archive);
            } catch (const std::exception &e) {
                jobs[j].error = QString::fromUtf8(e.what());
                QFile::remove(jobs[j].archive);
            }
            ++done;
            cv.notify_one();
        }
    };
    const int threads = int(std::min<size_t>(jobs.size(), std::max(1u, std::min(2u, std::thread::hardware_concurrency()))));
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i)
        pool.emplace_back(worker);
    const int total = int(jobs.size());
    for (int shown = -1;;) {
        const int now = done.load();
        if (now != shown) {
            Platform().BusyProgress(QStringLiteral("arquivo compactado %1 de %2").arg(std::min(now + 1, total)).arg(total));
            shown = now;
        }
        if (now == total)
            break;
        std::unique_lock lock(m);
        cv.wait_for(lock, std::chrono::milliseconds(50));
    }
    for (auto &th : pool)
        th.join();

    QStringList archives;
    for (const Job &job : jobs) {
        if (!job.error.isEmpty()) {
            // The archives that did succeed stay; the loose files stay too, so nothing is lost.
            throw Exception(job.error);
        }
        archives << job.archive;
    }
    // The archives must be on disk before the only other copy of their files goes.
    for (const QString &archive : archives)
        SyncFile(archive);
    SyncFile(folder);
    for (const QString &path : paths)
        if (QFile::exists(path) && !QFile::remove(path))
            throw Exception(QStringLiteral("Não foi possível excluir o arquivo %1 após compactá-lo").arg(QDir::toNativeSeparators(path)));
    return archives;
}

bool GeraXmlLocal(TClientDataSet &cdsNotas, const QString &folder, bool compress)
{
    using namespace vnd::assembly;
    FilterGuard guard(cdsNotas);
    QStringList archiveList;
    cdsNotas.SetFiltered(false);
    cdsNotas.SetFilter(QStringLiteral("IDCHECK = 'S'"));
    cdsNotas.SetFiltered(true);
    const int total = cdsNotas.RecordCount();
    int n = 0;
    cdsNotas.First();
    while (!cdsNotas.Eof()) {
        const QByteArray key = cdsNotas.FieldByName(QStringLiteral("NRACESSONFCE")).AsBytes();
        try {
            if (cdsNotas.FieldByName(QStringLiteral("IDCHECK")).AsString() == QLatin1String("S")) {
                Platform().BusyProgress(QStringLiteral("venda %1 de %2").arg(++n).arg(total));
                const SaleRow row = ReadSaleRow(cdsNotas);
                const QString dir = compress ? folder : QDir(folder).filePath(SaleSubFolder(row));
                EnsureFolder(dir);
                auto write = [&](const QString &name, const QByteArray &content) {
                    const QString path = QDir(dir).filePath(name);
                    WriteWholeFile(path, content);
                    if (compress)
                        archiveList << path;
                };
                if (row.IsNfce()) {
                    write(NfceFileName(row), ProcessedNfce(row));
                    if (row.IsCancelled())
                        write(NfceCancelFileName(row), ProcessedCancellation(row));
                } else {
                    if (row.document.trimmed().isEmpty())
                        throw Exception(QStringLiteral("O XML armazenado do CF-e SAT não foi encontrado no banco de dados."));
                    write(SatFileName(row), RemoveCrLf(row.document));
                    if (row.IsCancelled() && !row.cancelDocument.trimmed().isEmpty())
                        write(SatCancelFileName(row), RemoveCrLf(row.cancelDocument));
                }
            }
        } catch (const Exception &e) {
            throw Exception(e.Message() + QStringLiteral(" - ") + QString::fromUtf8(key));
        } catch (const std::exception &e) {
            throw Exception(QString::fromUtf8(e.what()) + QStringLiteral(" - ") + QString::fromUtf8(key));
        }
        cdsNotas.Next();
    }
    if (compress && !archiveList.isEmpty())
        ArchiveFiles(folder, archiveList, QDateTime::currentDateTime());
    return true;
}

} // namespace vnd
