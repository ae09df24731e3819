#pragma once
// The summary of an export for whoever receives the files (the accountant): per branch, register, model
// and day the authorised and cancelled notes, their value and first and last numbers; the gaps in the
// numbering of each series; every file written with its size and SHA-256; the files whose signature does
// not verify and the cancellation events rebuilt without one. Written last of a run, as
// "resumo-<yyyyMMdd-HHmmss>.csv" (one row per item, UTF-8) and ".pdf" beside it, so that their presence
// means the run completed.
//
// When the files are compressed the summary goes beside the archives, not inside them: it names the
// archives themselves with their digests, which no archive can hold of itself, it covers every archive of
// the run at once, and it is written only once they are all verified on disk.
//
// The facts of each sale come from its list row; the signatures are checked and the digests computed on
// worker threads while the caller goes on writing.

#include "export/core/nfceassembly.h"

#include <QByteArray>
#include <QIODevice>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

#include <array>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

namespace vnd {

// The number, series and model of a sale: the list's columns, else what its access key holds
// (NFC-e: model, series and number; CF-e: model, SAT serial and coupon number).
struct SaleNumbering
{
    QString model;  // "65" NFC-e, "59" SAT
    QString series; // NFC-e series, or the SAT equipment's serial
    qint64 number = -1; // -1: unknown
};
SaleNumbering NumberingOf(const assembly::SaleRow &row);

// A run of missing numbers in a series: first..last, both missing.
struct NumberGap
{
    qint64 first, last;
};
// The gaps between the smallest and the largest of numbers (any order, repeats allowed).
std::vector<NumberGap> NumberGaps(std::vector<qint64> numbers);

class ExportReport
{
public:
    // Files named one by one in a run's result (the screen, the command line); the summary names all.
    static constexpr int kMaxListed = 200;

    ExportReport();
    ~ExportReport();
    ExportReport(const ExportReport &) = delete;
    ExportReport &operator=(const ExportReport &) = delete;

    // A sale whose files were all written (or handed to an archive).
    void AddSale(const assembly::SaleRow &row);
    // One of its files, by its path relative to the export folder (its name when it goes into an archive;
    // archive is then the position of the archive, 0 for the first). The digest covers the file as it is
    // written (content and the final CR LF); the signature of every NFC-e and CF-e (not of the NFC-e
    // cancellation events) is checked.
    void AddFile(const QString &path, const assembly::SaleFile &file, int archive = -1);
    // An archive the run made, in order; read back for its size and digest when the summary is written.
    void AddArchive(const QString &path);
    // A sale the run could not write (the server's generation goes on past it).
    void AddFailure(const QString &key, const QString &reason);

    // Waits for the checks of the files added so far.
    void Wait();
    // After Wait: "<file>: <reason>" for the first `max` files whose signature does not verify, in the
    // order added (the summary names every one), and how many there are in all.
    QStringList InvalidSignatures(int max = kMaxListed) const;
    int InvalidSignatureCount() const;

    // Waits, then writes the PDF and, last, the CSV into folder, each whole and on disk; returns their
    // paths. Exception naming the file that could not be written (nothing half-written stays).
    QStringList Finish(const QString &folder, const QDateTime &finished);

private:
    // One per file written. Held while its check runs, then kept in a temporary file to the end of the
    // run: a million of them would otherwise stay in memory.
    struct File
    {
        QByteArray path; // UTF-8, relative to the folder or to the archive
        qint64 size = 0;
        std::array<unsigned char, 32> sha256{};
        int archive = -1;
        quint32 reason = 0; // 1 + its index in m_reasons when the signature fails, else 0
        bool unsignedEvent = false, checked = false, done = false;
        QString Sha256Hex() const;
        // Its record in the temporary file, and back: false when the file ends before a whole record.
        void AppendRecord(QByteArray &out) const;
        bool ReadRecord(QIODevice &in);
    };
    struct Job
    {
        size_t index;
        QByteArray content;
        bool verify;
    };
    struct Movement
    {
        int authorised = 0, cancelled = 0;
        qint64 cents = 0;
        qint64 first = -1, last = -1;
    };
    // branch, register, model, series, day (yyyy-MM-dd)
    using MovementKey = std::tuple<QString, QString, QString, QString, QString>;
    using SeriesKey = std::tuple<QString, QString, QString, QString>;
    struct Archive
    {
        QString name;
        qint64 size = 0;
        QByteArray sha256;
        int files = 0;
    };

    void Work();
    QString Reason(const File &f) const; // why its signature failed; empty when it did not
    // Under m_mutex: the checked files at the front of the window go to the temporary file.
    void Retire();
    // After Wait: every file in the order added, read back from the temporary file.
    void ForEachFile(const std::function<void(const File &, const QString &path)> &fn) const;
    // Every row of the CSV, header first, handed to row in order.
    void Csv(const QDateTime &finished, const std::vector<Archive> &archives,
             const std::function<void(const QString &)> &row) const;
    void WritePdf(const QString &path, const QDateTime &finished, const std::vector<Archive> &archives) const;

    std::map<MovementKey, Movement> m_movements;
    std::map<SeriesKey, std::vector<qint64>> m_numbers;
    QStringList m_unknownNumbers; // keys of sales whose number could not be told
    std::deque<File> m_window;    // files added and not yet in m_spool, in order; guarded by m_mutex
    size_t m_retired = 0;         // files before the window (in m_spool)
    size_t m_fileCount = 0, m_invalidCount = 0;
    std::unique_ptr<QTemporaryFile> m_spool;
    mutable QString m_spoolError;
    QStringList m_archives;
    QStringList m_failures;
    QStringList m_reasons;            // the distinct reasons of failed signatures, shared by the files
    QHash<QString, quint32> m_reasonIndex;
    int m_sales = 0;

    std::deque<Job> m_jobs;
    size_t m_busy = 0; // jobs taken by the workers and not yet recorded
    size_t m_idle = 0; // workers waiting for a job
    bool m_stop = false;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake, m_done;
    std::vector<std::thread> m_workers;
};

} // namespace vnd
