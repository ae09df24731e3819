#pragma once
// Writing the fiscal files of the ticked sales of a sale list into a folder, optionally packed into zip
// archives of at most 1000 files. Needs no screen: the main screen, the command line and the server's
// generation all call it.

#include <QDateTime>
#include <QString>
#include <QStringList>

class TClientDataSet;

namespace vnd {

// Writes the files of every row of cdsNotas whose IDCHECK is "S" below folder (per branch, register and
// day; directly into folder when compressing, then archived and the loose files removed). Returns true.
// Any failure stops the run and raises an Exception whose message ends in " - " and the row's access key.
// The list ends unfiltered; ticks are unchanged. Progress goes to the platform's busy indicator.
bool GeraXmlLocal(TClientDataSet &cdsNotas, const QString &folder, bool compress);

// Writes content plus CR LF to path, whole or not at all (temporary file, then rename).
void WriteWholeFile(const QString &path, const QByteArray &content);

// Flushes one file (or folder) to disk; Exception naming it when that fails.
void SyncFile(const QString &path);

// Packs the paths into archives "ArquivosXML_DDMMYYYY HHNNSS.zip" in folder, 1000 files each, the time
// stamp starting at start and advancing one second per archive (and past names already taken). Each
// archive is read back before any loose file is deleted; on failure the loose files stay and the error
// names the archive. Returns the archive paths.
QStringList ArchiveFiles(const QString &folder, const QStringList &paths, const QDateTime &start);

} // namespace vnd
