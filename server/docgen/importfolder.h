#pragma once
// An import folder as the points of sale leave it: files of every kind the batch import reads, good
// and broken, each with the outcome the import must reach. Tests and the demo use it with the master
// data of the same generator, so every good file names a branch and register that exist.

#include "server/docgen/docgen.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace vnd::docgen
{

// The kind of an import file, as the import recognises it.
enum class ImportKind {
    NfceProcessed,  // nfeProc with NFe and protNFe
    NfceBare,       // NFe as document element
    SatBatch,       // a root holding LoteCFe with CFe coupons
    SatCancelBatch, // a root holding LoteCFeCanc with CFeCanc coupons
    SatCoupon,      // one CFe as document element
    Unknown,        // not a document the import knows (or not XML at all)
};

// One file of the folder and what the import must make of it.
struct ImportCase {
    QString fileName;                      // name inside the folder, as written (case kept)
    ImportKind kind = ImportKind::Unknown; // Unknown also for a file that does not parse
    bool imported = false; // true: the file goes to "Xml Processados"; false: to "Xml Erro" with a log
    int sales = 0;         // notes the server stores from it (the import's counter)
    QString
        branchCode; // branch of a good file; empty for a failed one (filed under the import's last branch)
    QStringList accessKeys; // NRACESSONFCE of every sale in it, as stored (SAT keys with "CFe"); for a
                            // cancellation batch, the keys of the coupons it cancels
    QString description;    // what the file is, in Portuguese, for test messages
    QString errorText;      // a fixed part of the log's error description, when one is known
};

// Options of WriteImportFolder.
struct ImportFolderOptions {
    bool goodFiles = true;   // one file of every good kind and encoding
    bool brokenFiles = true; // the broken ones
    int satBatchSize = 3;    // coupons per LoteCFe batch
};

// Writes the files into folder (created when missing) and returns one case per file, in name order.
// Every sale of a good file comes from gen (so the caller may seed its master data first). Throws
// Exception naming the folder or file that cannot be written.
QList<ImportCase> WriteImportFolder(Generator &gen, const QString &folder,
                                    const ImportFolderOptions &options = {});

// The cases as a tab-separated manifest (file, kind, outcome, sales, branch, keys, description), UTF-8.
QByteArray ImportManifest(const QList<ImportCase> &cases);

} // namespace vnd::docgen
