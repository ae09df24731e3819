#pragma once
// File work of the batch import: the folder listing, reading a file as text by its declared encoding,
// and filing a source into the processed or error folder so that it is never lost or cut short.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace vnd {

// An entry of the import folder that looks like an XML file but is not imported, and why: a link, a
// FIFO, a device, a folder, or a name that is not valid UTF-8. Such entries stay where they are.
struct EntradaRecusada
{
    QString nome;   // as it can be shown (bytes that do not decode as "\xNN")
    QString motivo; // Portuguese, complete sentence
};

// The names of the folder's regular files ending in ".xml" in any case, hidden ones included, sorted by
// name; empty when the folder does not exist. Other entries ending in ".xml" go into recusadas when given.
QStringList ListaArquivosXml(const QString &folder, QList<EntradaRecusada> *recusadas = nullptr);

// Whether the file's start names a SAT cancellation batch (LoteCFeCanc); a quick look at the bytes,
// used only to order the batch, never to recognise a document. Reads nothing but a regular file.
bool PareceLoteCancelamento(const QString &path);

// The bytes of a regular file, read without following a link and without blocking on a FIFO or a
// device, refused above maxBytes before anything is read. Exception naming the file otherwise.
QByteArray LeArquivoComum(const QString &path, qsizetype maxBytes);

// A file of the batch as text: decoded by its byte-order mark or declared encoding, from its first "<" on.
struct TextoXmlImportado
{
    QString text;
    // Set when the file declares an 8-bit encoding but its bytes form valid multi-byte UTF-8: the text
    // read is then not what the issuer wrote (the warning says so, in Portuguese).
    QString aviso;
    // The file's bytes from the document's start (leading junk dropped), for the signature check, which
    // must see what the issuer signed rather than text decoded and parsed again.
    QByteArray bytes;
};
TextoXmlImportado LeXmlImportacao(const QString &path);
// LeXmlImportacao(path).text.
QString LeTextoXml(const QString &path);

// Whether a value may name one folder level under another: empty (no level), or a name without "/",
// "\", control characters, and other than "." and "..".
bool NomePastaSeguro(const QString &name);

// Creates the folder with its parents when missing; Exception naming it when that fails.
void CriaPasta(const QString &folder);

// Moves source into folder under name and answers the name it got there. A file of that name with the
// same bytes is replaced; one with other bytes is kept, and the source takes the first free name with a
// numeric suffix ("nota (2).xml"). Within one file system it is one rename; across file systems the file
// is copied under a temporary name, checked byte for byte, renamed into place, and only then is the
// source deleted. Exception saying why when it fails; the source is then still where it was.
QString MoveArquivo(const QString &source, const QString &folder, const QString &name);

} // namespace vnd
