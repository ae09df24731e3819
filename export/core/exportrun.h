#pragma once
// What an export leaves in its folder besides the fiscal files: temporary names while files are being
// written, and, last of all, the summary that says the run completed (exportreport.h). A folder without a summary naming
// a file or archive holds the remains of an interrupted run.

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace vnd {

// A temporary name beside path that names this process: "<path>.part-<pid>-<n>".
QString TemporaryPath(const QString &path);

// Removes from folder (not below it) the temporary files that interrupted runs left: names made by
// TemporaryPath (and the zip library's own temporaries beside them) whose process no longer runs, and
// the zip library's temporaries of archives of earlier versions that nobody touched for ten minutes.
// Returns how many were removed; a file that cannot be removed is left for the next run.
int RemoveStaleTemporaries(const QString &folder);

// Forces every file written so far on the folder's file system to disk; Exception naming the folder.
void SyncFileSystem(const QString &folder);

// What a finished export wrote.
struct ExportSummary
{
    QDateTime finished;
    int sales = 0;
    QStringList files;    // relative to the folder, when not compressed
    QStringList archives; // names of the archives, when compressed
    int archivedFiles = 0;
    QStringList unsignedEvents; // cancellation events rebuilt without a signature, by file name
    // "<file>: <reason>" for the first NFC-e, CF-e or stored events written whose signature does not
    // verify (at most ExportReport::kMaxListed), and how many there are in all
    QStringList invalidSignatures;
    int invalidSignatureCount = 0;
    QStringList summaryFiles; // paths of the run's summary (exportreport.h), PDF then CSV; empty when none
};

} // namespace vnd
