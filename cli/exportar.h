#pragma once
// "vnd04400 export": the export filter as options, the sale list fetched page by page, the rows ticked
// and their files written here or by the server, as the main screen does it.

#include <QStringList>

class TClientDataSet;

namespace vnd::cli
{

class TArgs;

// The filter record's one row from the options, with the filter screen's checks and messages (EUsage).
void PreencheFiltroExport(const TArgs &args, TClientDataSet &cdsDadosFiltro);

// Ticks the rows whose access key is listed (one a line; blank lines and "#" comments skipped); an
// unreadable file or a key missing from the list is an Exception naming it, nothing ticked. Returns the
// count ticked.
int MarcaChaves(TClientDataSet &cdsNotas, const QString &arquivoChaves);

// Runs the command; returns the exit status (0, 1); EUsage for wrong usage.
int ComandoExport(const QStringList &args);

// The command's help text.
QString AjudaExport();

} // namespace vnd::cli
