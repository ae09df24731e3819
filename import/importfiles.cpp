#include "import/importfiles.h"

#include "host/errors.h"
#include "xml/xmldoc.h"
#include "xml/xmlencoding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace vnd {

namespace {

QString SystemError(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

// A descriptor closed on every way out.
struct Fd
{
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Opens a regular file for reading: a link is not followed, and a FIFO or a device is never waited on.
int AbreComum(const QString &path, struct stat &st)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ELOOP)
            throw Exception(QStringLiteral("O arquivo \"%1\" é um link simbólico e não foi lido.").arg(path));
        throw Exception(QStringLiteral("Não foi possível ler o arquivo \"%1\": %2").arg(path, SystemError(error)));
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw Exception(QStringLiteral("\"%1\" não é um arquivo comum e não foi lido.").arg(path));
    }
    return fd;
}

// What kind of entry other than a regular file stands under a name.
QString TipoDaEntrada(int dirFd, const char *name, const struct stat &st)
{
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        if (::fstatat(dirFd, name, &target, 0) != 0)
            return QStringLiteral("é um link simbólico sem destino");
        return QStringLiteral("é um link simbólico (só arquivos comuns são importados)");
    }
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("é um FIFO (pipe nomeado), não um arquivo");
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return QStringLiteral("é um dispositivo, não um arquivo");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("é um socket, não um arquivo");
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("é uma pasta, não um arquivo");
    return QStringLiteral("não é um arquivo comum");
}

// A name as it can be shown: bytes that are not UTF-8 appear as "\xNN".
QString NomeLegivel(const QByteArray &raw)
{
    QString shown;
    for (qsizetype i = 0; i < raw.size();) {
        // The longest run that decodes cleanly goes through as text.
        qsizetype j = i;
        while (j < raw.size() && uchar(raw[j]) < 0x80)
            ++j;
        if (j > i) {
            shown += QString::fromLatin1(raw.mid(i, j - i));
            i = j;
            continue;
        }
        const uchar lead = uchar(raw[i]);
        const int len = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        const QByteArray seq = raw.mid(i, len);
        QStringDecoder one(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = one(seq);
        if (len > 1 && seq.size() == len && !one.hasError()) {
            shown += decoded;
            i += len;
        } else {
            shown += QStringLiteral("\\x%1").arg(lead, 2, 16, QLatin1Char('0'));
            ++i;
        }
    }
    return shown;
}

bool EndsWithXml(const QByteArray &raw)
{
    return raw.size() >= 4 && raw.right(4).toLower() == ".xml";
}

// Whether two files hold the same bytes.
bool MesmoConteudo(const QString &a, const QString &b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    constexpr qint64 kChunk = 1 << 20;
    while (!fa.atEnd()) {
        if (fa.read(kChunk) != fb.read(kChunk))
            return false;
    }
    return true;
}

// "nota.xml", then "nota (2).xml", "nota (3).xml", ...
QString NomeComSufixo(const QString &name, int n)
{
    if (n <= 1)
        return name;
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return QStringLiteral("%1 (%2)").arg(name).arg(n);
    return QStringLiteral("%1 (%2)%3").arg(name.left(dot)).arg(n).arg(name.mid(dot));
}

// Renames from to to without ever replacing a file there: false (errno EEXIST) when to exists.
bool RenomeiaSemSubstituir(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: a hard link cannot replace either.
    if (::link(from.constData(), to.constData()) != 0)
        return false;
    ::unlink(from.constData());
    return true;
}

// Copies source to target byte for byte and makes the target durable before it is renamed into place.
void CopiaVerificada(const QString &source, const QString &target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Não foi possível ler o arquivo \"%1\": %2").arg(source, in.errorString()));
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw Exception(QStringLiteral("Não foi possível criar o arquivo \"%1\": %2").arg(target, out.errorString()));
    constexpr qint64 kChunk = 1 << 20;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(kChunk);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError)
            throw Exception(QStringLiteral("Erro ao ler o arquivo \"%1\": %2").arg(source, in.errorString()));
        if (out.write(chunk) != chunk.size())
            throw Exception(QStringLiteral("Erro ao gravar o arquivo \"%1\": %2").arg(target, out.errorString()));
    }
    if (!out.flush() || ::fsync(out.handle()) != 0)
        throw Exception(QStringLiteral("Erro ao gravar o arquivo \"%1\": %2").arg(target, out.errorString()));
    out.close();

    // Read both back: a short write or a full disk must not pass for a copy.
    in.seek(0);
    QFile check(target);
    if (!check.open(QIODevice::ReadOnly) || check.size() != in.size())
        throw Exception(QStringLiteral("A cópia \"%1\" não confere com o arquivo \"%2\"").arg(target, source));
    while (!in.atEnd()) {
        if (in.read(kChunk) != check.read(kChunk))
            throw Exception(QStringLiteral("A cópia \"%1\" não confere com o arquivo \"%2\"").arg(target, source));
    }
}

// Puts from into folder under name, or under the first free suffixed name when a file with other bytes
// holds it. Answers the name taken, or an empty text with error set (EXDEV across file systems).
QString Coloca(const QString &from, const QString &folder, const QString &name, int &error)
{
    const QByteArray fromBytes = QFile::encodeName(from);
    for (int n = 1; n < 10000; ++n) {
        const QString candidate = NomeComSufixo(name, n);
        const QString target = QDir(folder).filePath(candidate);
        const QByteArray targetBytes = QFile::encodeName(target);
        if (RenomeiaSemSubstituir(fromBytes, targetBytes))
            return candidate;
        error = errno;
        if (error != EEXIST)
            return {};
        struct stat st;
        if (::lstat(targetBytes.constData(), &st) == 0 && S_ISREG(st.st_mode) && MesmoConteudo(from, target)) {
            // The same document filed before: one copy is enough.
            if (std::rename(fromBytes.constData(), targetBytes.constData()) == 0)
                return candidate;
            error = errno;
            return {};
        }
    }
    error = EEXIST;
    return {};
}

} // namespace

QStringList ListaArquivosXml(const QString &folder, QList<EntradaRecusada> *recusadas)
{
    if (folder.isEmpty())
        return {};
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return {};
    QStringList names;
    const int dirFd = ::dirfd(dir);
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray raw(entry->d_name);
        if (!EndsWithXml(raw))
            continue;
        const QString name = QFile::decodeName(raw);
        // A name that does not survive decoding could never be opened again by its text.
        if (QFile::encodeName(name) != raw) {
            if (recusadas)
                *recusadas << EntradaRecusada{NomeLegivel(raw),
                                              QStringLiteral("o nome do arquivo não está em UTF-8; renomeie-o e "
                                                             "importe de novo")};
            continue;
        }
        struct stat st;
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone since it was listed
        if (S_ISREG(st.st_mode)) {
            names << name;
        } else if (recusadas) {
            *recusadas << EntradaRecusada{name, TipoDaEntrada(dirFd, entry->d_name, st)};
        }
    }
    ::closedir(dir);
    // Plain code-unit order: the same on every machine and locale.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return a.compare(b) < 0; });
    if (recusadas)
        std::sort(recusadas->begin(), recusadas->end(),
                  [](const EntradaRecusada &a, const EntradaRecusada &b) { return a.nome.compare(b.nome) < 0; });
    return names;
}

bool PareceLoteCancelamento(const QString &path)
{
    struct stat st;
    Fd file;
    try {
        file.fd = AbreComum(path, st);
    } catch (const Exception &) {
        return false;
    }
    // The batch element follows the root and its few header elements.
    QByteArray head(64 * 1024, Qt::Uninitialized);
    const ssize_t n = ::read(file.fd, head.data(), size_t(head.size()));
    return n > 0 && head.left(n).contains("LoteCFeCanc");
}

QByteArray LeArquivoComum(const QString &path, qsizetype maxBytes)
{
    struct stat st;
    Fd file;
    file.fd = AbreComum(path, st);
    if (st.st_size > maxBytes)
        throw Exception(QStringLiteral("Arquivo \"%1\" grande demais para um XML: %2 MB (limite %3 MB)")
                            .arg(path)
                            .arg(qint64(st.st_size) / (1024 * 1024))
                            .arg(qint64(maxBytes) / (1024 * 1024)));
    QByteArray bytes;
    try {
        // One byte more than the size tells a file that grew since it was looked at.
        bytes.resize(qsizetype(st.st_size) + 1);
        qsizetype have = 0;
        for (;;) {
            if (have == bytes.size()) {
                if (bytes.size() > maxBytes)
                    throw Exception(QStringLiteral("Arquivo \"%1\" cresceu além do limite de um XML (%2 MB)")
                                        .arg(path)
                                        .arg(qint64(maxBytes) / (1024 * 1024)));
                bytes.resize(std::min<qsizetype>(bytes.size() * 2, maxBytes + 1));
            }
            const ssize_t n = ::read(file.fd, bytes.data() + have, size_t(bytes.size() - have));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                throw Exception(QStringLiteral("Não foi possível ler o arquivo \"%1\": %2").arg(path, SystemError(errno)));
            }
            if (n == 0)
                break;
            have += n;
        }
        bytes.truncate(have);
    } catch (const std::bad_alloc &) {
        throw Exception(QStringLiteral("Memória insuficiente para ler o arquivo \"%1\" (%2 MB)")
                            .arg(path)
                            .arg(qint64(st.st_size) / (1024 * 1024)));
    }
    return bytes;
}

TextoXmlImportado LeXmlImportacao(const QString &path)
{
    const QByteArray bytes = LeArquivoComum(path, 2 * kMaxXmlBytes);
    DecodedXml decoded;
    try {
        decoded = DecodeXml(bytes, XmlLeadingBytes::Skip);
    } catch (const Exception &e) {
        throw Exception(QStringLiteral("Arquivo \"%1\": %2").arg(path, e.Message()));
    }
    TextoXmlImportado result{std::move(decoded.text), {}, {}};
    // Junk ahead of a document without a byte-order mark is dropped for the signature check as well.
    result.bytes = decoded.skippedBytes > 0 && !decoded.byteOrderMark ? bytes.mid(decoded.skippedBytes) : bytes;
    if (decoded.encoding == QLatin1String("ISO-8859-1") || decoded.encoding == QLatin1String("windows-1252")) {
        const bool highBytes = std::any_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) >= 0x80; });
        if (highBytes) {
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString asUtf8 = utf8(bytes);
            Q_UNUSED(asUtf8) // decoded only to learn whether the bytes are UTF-8
            if (!utf8.hasError())
                result.aviso = QStringLiteral("O arquivo declara a codificação %1, mas seus bytes formam texto UTF-8 "
                                              "válido: o texto lido (acentos como \"Ã£\") não é o do documento "
                                              "emitido. Confira o arquivo com quem o gerou.")
                                   .arg(decoded.encoding);
        }
    }
    return result;
}

QString LeTextoXml(const QString &path) { return LeXmlImportacao(path).text; }

bool NomePastaSeguro(const QString &name)
{
    if (name.isEmpty())
        return true;
    if (name == QLatin1String(".") || name == QLatin1String("..") || name.trimmed().isEmpty())
        return false;
    return std::none_of(name.begin(), name.end(), [](QChar c) {
        return c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 || c.unicode() == 0x7F;
    });
}

void CriaPasta(const QString &folder)
{
    if (QFileInfo(folder).isDir())
        return;
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        throw Exception(QStringLiteral("Não foi possível criar a pasta \"%1\"").arg(folder));
}

QString MoveArquivo(const QString &source, const QString &folder, const QString &name)
{
    CriaPasta(folder);
    int error = 0;
    QString taken = Coloca(source, folder, name, error);
    if (!taken.isEmpty())
        return taken;
    if (error != EXDEV)
        throw Exception(QStringLiteral("Não foi possível mover o arquivo \"%1\" para \"%2\": %3")
                            .arg(source, QDir(folder).filePath(name), SystemError(error)));

    // Another file system: the copy is made under a name the listing never takes for a document and
    // takes its final name only when it is whole.
    const QString partial = QDir(folder).filePath(QStringLiteral(".%1.%2.parcial").arg(name).arg(::getpid()));
    try {
        CopiaVerificada(source, partial);
    } catch (...) {
        QFile::remove(partial);
        throw;
    }
    taken = Coloca(partial, folder, name, error);
    if (taken.isEmpty()) {
        QFile::remove(partial);
        throw Exception(QStringLiteral("Não foi possível mover o arquivo \"%1\" para \"%2\": %3")
                            .arg(source, QDir(folder).filePath(name), SystemError(error)));
    }
    if (!QFile::remove(source))
        throw Exception(QStringLiteral("O arquivo \"%1\" foi copiado para \"%2\", mas não pôde ser removido da "
                                       "pasta de importação")
                            .arg(source, QDir(folder).filePath(taken)));
    return taken;
}

} // namespace vnd
