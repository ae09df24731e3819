#pragma once
// "vnd04400 import": the import filter's checks, then the batch import of a folder, its summary and
// the server's validation log of the batch.

#include <QString>
#include <QStringList>

class TClientDataSet;

namespace vnd::cli
{

// The fallback branch + register + company of the import filter: both given or both empty, each
// adjusted and looked up in the host database. Empty when both are empty; EUsage with the filter's
// messages otherwise.
QString FilialCaixaPadrao(const QString &filial, const QString &caixa);

// The validation log (cds) as text: "table" (aligned columns) or "csv" (";" separated, quoted as needed).
QString FormataLog(TClientDataSet &cds, const QString &formato);

// Runs the command; returns the exit status (0, or 1 when a file went to the error folder).
int ComandoImport(const QStringList &args);

// The command's help text.
QString AjudaImport();

} // namespace vnd::cli
