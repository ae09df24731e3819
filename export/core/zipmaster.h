#pragma once
// TZipMaster: the archive component of the export. Collects paths, then writes them into one zip archive
// at deflate level 9, each entry named by the file name alone.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class TZipMaster
{
public:
    // Archive to write.
    QString ZipFileName;
    // Paths waiting to be added.
    QStringList FSpecArgs;
    // Files that exist only in memory, added under their names like the paths above: an export that
    // compresses needs no loose copy of what it archives.
    struct MemoryFile
    {
        QString name;
        QByteArray data;
    };
    QList<MemoryFile> FSpecMemory;

    // Writes every listed path into ZipFileName (created anew; libzip writes a temporary file and renames
    // it, so a failed archive never replaces a good one). Exception naming the archive on failure.
    void Add();
    // Empties the list.
    void Clear()
    {
        FSpecArgs.clear();
        FSpecMemory.clear();
    }

    // Reads the archive back: the entry count must equal the listed paths and memory files, and every entry
    // must inflate to the bytes of its file (CRC and size). Exception naming the archive and the entry on a mismatch.
    void Verify() const;
};
