#include "export/core/exportrun.h"

#include "export/core/geraxmllocal.h"
#include "host/errors.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vnd {

namespace {

bool ProcessRuns(qint64 pid)
{
    if (pid <= 0)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace

QString TemporaryPath(const QString &path)
{
    static std::atomic<unsigned> counter{0};
    return path + QStringLiteral(".part-%1-%2").arg(::getpid()).arg(counter++);
}

int RemoveStaleTemporaries(const QString &folder)
{
    // Ours: "<name>.part-<pid>-<n>", and the zip library's "<that>.XXXXXX" while it writes an archive.
    static const QRegularExpression ours(QStringLiteral("\\.part-(\\d+)-\\d+(\\.[A-Za-z0-9]{6})?$"));
    // Earlier versions let the zip library write beside the archive's final name.
    static const QRegularExpression older(QStringLiteral("^ArquivosXML_\\d{8} \\d{6}\\.zip\\.[A-Za-z0-9]{6}$"));
    const QDateTime idle = QDateTime::currentDateTime().addSecs(-600);
    int removed = 0;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo &entry : entries) {
        if (entry.isSymLink() || !entry.isFile())
            continue; // only regular files are ever written under these names
        const QString name = entry.fileName();
        const QRegularExpressionMatch m = ours.match(name);
        const bool stale = m.hasMatch() ? !ProcessRuns(m.captured(1).toLongLong())
                                        : older.match(name).hasMatch() && entry.lastModified() < idle;
        if (stale && QFile::remove(entry.filePath()))
            ++removed;
    }
    return removed;
}

void SyncFileSystem(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0 || ::syncfs(fd) != 0) {
        const int err = errno;
        if (fd >= 0)
            ::close(fd);
        throw Exception(QStringLiteral("Não foi possível confirmar a gravação dos arquivos em %1: %2")
                            .arg(QDir::toNativeSeparators(folder), QString::fromLocal8Bit(std::strerror(err))));
    }
    ::close(fd);
}

} // namespace vnd
