#pragma once
// File work of the batch import: the folder listing, reading a file as text by its declared encoding,
// and filing a source into the processed or error folder so that it is never lost or cut short.

#include <QString>
#include <QStringList>

namespace vnd {

// The names of the folder's files ending in ".xml" in any case, hidden ones included, sorted by name;
// empty when the folder does not exist.
QStringList ListaArquivosXml(const QString &folder);

// Whether the file's start names a SAT cancellation batch (LoteCFeCanc); a quick look at the bytes,
// used only to order the batch, never to recognise a document.
bool PareceLoteCancelamento(const QString &path);

// The file's text decoded by its byte-order mark or declared encoding, from its first "<" on.
// Exception naming the file when it cannot be read or decoded.
QString LeTextoXml(const QString &path);

// Whether a value may name one folder level under another: empty (no level), or a name without "/",
// "\", control characters, and other than "." and "..".
bool NomePastaSeguro(const QString &name);

// Creates the folder with its parents when missing; Exception naming it when that fails.
void CriaPasta(const QString &folder);

// Moves source into folder under name, replacing a file of that name. Within one file system it is
// one rename; across file systems the file is copied under a temporary name, checked byte for byte,
// renamed into place, and only then is the source deleted. Exception saying why when it fails; the
// source is then still where it was.
void MoveArquivo(const QString &source, const QString &folder, const QString &name);

} // namespace vnd
