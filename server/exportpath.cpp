#include "server/exportpath.h"

#include "host/errors.h"

#include <QDir>
#include <QFileInfo>

namespace vnd::server {

namespace {

bool Inside(const QString &path, const QString &root)
{
    return path == root || path.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/'));
}

} // namespace

QString ResolveExportFolder(const QString &root, const QString &folder)
{
    const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
    if (canonicalRoot.isEmpty())
        throw Exception(QStringLiteral("A pasta raiz de exportação do servidor não existe: %1.").arg(root));
    QString text = folder.trimmed();
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (text.isEmpty())
        throw Exception(QStringLiteral("Pasta de destino dos arquivos não informada."));
    const auto refuse = [&]() -> Exception {
        return Exception(QStringLiteral("A pasta \"%1\" fica fora da pasta de exportação do servidor (%2); informe "
                                        "uma pasta dentro dela.")
                             .arg(folder.left(300), canonicalRoot));
    };
    if (text.contains(QChar(0)) || (text.size() >= 2 && text[1] == QLatin1Char(':') && text[0].isLetter()))
        throw refuse();
    const QString candidate = QDir::cleanPath(QDir::isAbsolutePath(text) ? text : canonicalRoot + QLatin1Char('/') + text);
    if (!Inside(candidate, canonicalRoot))
        throw refuse();
    // The part that exists is resolved through its links; what is still to be created hangs below it.
    QString existing = candidate;
    QString rest;
    // A dangling link counts as existing, so that it is refused rather than created through.
    while (!QFileInfo::exists(existing) && !QFileInfo(existing).isSymLink() && existing != canonicalRoot) {
        const int slash = int(existing.lastIndexOf(QLatin1Char('/')));
        rest = existing.mid(slash) + rest;
        existing = existing.left(slash);
    }
    const QFileInfo info(existing);
    const QString resolved = info.canonicalFilePath();
    if (resolved.isEmpty() || !Inside(resolved, canonicalRoot))
        throw refuse();
    if (!info.isDir())
        throw Exception(QStringLiteral("\"%1\" é um arquivo, não uma pasta.").arg(folder.left(300)));
    return resolved + rest;
}

} // namespace vnd::server
