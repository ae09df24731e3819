#include "server/token.h"

#include "host/errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vnd::server {

namespace {

QString ReadToken(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Não foi possível ler o arquivo de token %1: %2").arg(path, f.errorString()));
    const QString token = QString::fromUtf8(f.read(4096)).trimmed();
    if (token.isEmpty())
        throw Exception(QStringLiteral("O arquivo de token %1 está vazio.").arg(path));
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)))
        std::fprintf(stderr, "aviso: o arquivo de token %s pode ser lido por outros usuários (use chmod 600)\n",
                     QFile::encodeName(path).constData());
    return token;
}

} // namespace

QString LoadOrCreateToken(const QString &path)
{
    if (QFileInfo::exists(path))
        return ReadToken(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    const QByteArray token = QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex();
    // O_EXCL: when two servers start at once, the second reads the file the first wrote.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST)
            return ReadToken(path);
        throw Exception(QStringLiteral("Não foi possível criar o arquivo de token %1: %2")
                            .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    }
    const QByteArray line = token + '\n';
    const bool written = ::write(fd, line.constData(), size_t(line.size())) == line.size();
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        QFile::remove(path);
        throw Exception(QStringLiteral("Não foi possível gravar o arquivo de token %1.").arg(path));
    }
    return QString::fromLatin1(token);
}

} // namespace vnd::server
