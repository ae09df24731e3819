#include "import/importfiles.h"

#include "host/errors.h"
#include "xml/xmlencoding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace vnd {

namespace {

QString SystemError(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

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

} // namespace

QStringList ListaArquivosXml(const QString &folder)
{
    QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return {};
    QStringList names;
    const QStringList entries =
        dir.entryList({QStringLiteral("*.xml")}, QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort);
    for (const QString &name : entries) {
        if (name.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive))
            names << name;
    }
    // Plain code-unit order: the same on every machine and locale.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return a.compare(b) < 0; });
    return names;
}

bool PareceLoteCancelamento(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The batch element follows the root and its few header elements.
    return file.read(64 * 1024).contains("LoteCFeCanc");
}

QString LeTextoXml(const QString &path) { return ReadXmlFile(path, XmlLeadingBytes::Skip).text; }

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

void MoveArquivo(const QString &source, const QString &folder, const QString &name)
{
    CriaPasta(folder);
    const QString target = QDir(folder).filePath(name);
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(target);
    if (std::rename(from.constData(), to.constData()) == 0)
        return;
    const int error = errno;
    if (error != EXDEV)
        throw Exception(QStringLiteral("Não foi possível mover o arquivo \"%1\" para \"%2\": %3")
                            .arg(source, target, SystemError(error)));

    // Another file system: the copy is made under a name the listing never takes for a document and
    // takes the final name only when it is whole.
    const QString partial = QDir(folder).filePath(QStringLiteral(".%1.%2.parcial").arg(name).arg(::getpid()));
    try {
        CopiaVerificada(source, partial);
    } catch (...) {
        QFile::remove(partial);
        throw;
    }
    if (std::rename(QFile::encodeName(partial).constData(), to.constData()) != 0) {
        const int renameError = errno;
        QFile::remove(partial);
        throw Exception(QStringLiteral("Não foi possível mover o arquivo \"%1\" para \"%2\": %3")
                            .arg(source, target, SystemError(renameError)));
    }
    if (!QFile::remove(source))
        throw Exception(QStringLiteral("O arquivo \"%1\" foi copiado para \"%2\", mas não pôde ser removido da "
                                       "pasta de importação")
                            .arg(source, target));
}

} // namespace vnd
