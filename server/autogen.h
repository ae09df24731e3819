#pragma once
// The server's automatic generation: the XML files of every sale from the parameter row's first date on
// that has not been generated yet, written by the local export's file assembly into the parameter row's
// folder (inside the export root), packed into archives when the row asks for compression. A sale counts
// as generated once its files are on disk (in an archive, when compressing); one that fails is logged and
// taken again by the next run. It runs on demand ("vnd-server generate") or on a schedule of the server,
// one run at a time per database, and a run killed at any moment is made right by the next one.

#include "server/serverdb.h"

#include <QDateTime>
#include <QStringList>
#include <QTime>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace vnd::server
{

// The automatic generation's part of the command line.
struct AutoGenOptions {
    bool generateCommand = false; // "generate": one run, then exit
    QTime dailyAt;                // --auto-generate HH:MM: once a day at that time
    int everyMinutes = 0;         // --auto-generate-every N: at start, then every N minutes
    bool Scheduled() const { return dailyAt.isValid() || everyMinutes > 0; }
};

// Takes the "generate" command (first argument) and the two schedule options out of args, leaving the
// rest for ParseOptions. Exception naming a malformed value, or both schedules given, or a schedule with
// "generate".
AutoGenOptions TakeAutoGenOptions(QStringList &args);
// The usage lines of these options.
QString AutoGenUsage();

// What one run did.
struct AutoGenReport {
    QString folder; // the resolved target folder
    bool compressed = false;
    int pending = 0;   // sales that were due
    int generated = 0; // sales written and recorded
    int failed = 0;    // sales left for the next run
    QStringList archives;
    QStringList errors; // one line per failure, naming the sale's branch, register and access key
    QStringList invalidSignatures; // "<file>: <reason>" of the first files written whose signature fails
    int invalidSignatureCount = 0; // all of them
    QStringList summaryFiles;      // the run's summary (PDF, CSV), written last; empty when none
    // What the run found of an interrupted one: archives recorded but not yet in place that it put in
    // place, ones whose file was gone (their sales generated again), temporary files removed.
    int archivesCompleted = 0;
    int archivesUndone = 0;
    int leftoversRemoved = 0;
};

// One run over the database, writing below exportRoot. Exception, with nothing written, when the
// parameter row lacks the first date or the folder, or the folder resolves outside the export root;
// EGeracaoEmAndamento (autogenlock.h) when another generation runs on the same database. Failures of
// single sales (or of an archive) are in the report, not raised.
AutoGenReport RunAutoGeneration(const ServerDb &db, const QString &exportRoot,
                                const QDateTime &now = QDateTime::currentDateTime());

// Only what a killed run left made right (autogenarchive.h), for a server that starts with a daily
// schedule: its next run may be hours away. EGeracaoEmAndamento when a generation runs, which does it.
AutoGenReport RecoverAutoGeneration(const ServerDb &db, const QString &exportRoot);

// One line summing a report up, for the log and the command's output.
QString DescribeAutoGen(const AutoGenReport &report);

// The exit status of "vnd-server generate" when another generation is running.
inline constexpr int kGenerationBusyStatus = 3;

// "vnd-server generate": one run; the summary on standard output, each failure on standard error.
// Returns 0 when every due sale was written, 1 otherwise, kGenerationBusyStatus when another generation
// holds the database.
int RunGenerateCommand(const ServerDb &db, const QString &exportRoot);

// Runs the generation on its own thread on the options' schedule while the server serves, logging each
// run on standard error; a run due while another generation holds the database waits for it (trying
// again every few seconds). Nothing runs when the options hold no schedule. Stops (waiting for a run in
// progress to end) when destroyed.
class AutoGenScheduler
{
  public:
    AutoGenScheduler(const ServerDb &db, QString exportRoot, AutoGenOptions options);
    ~AutoGenScheduler();
    AutoGenScheduler(const AutoGenScheduler &) = delete;
    AutoGenScheduler &operator=(const AutoGenScheduler &) = delete;

    // The first run at or after from for a daily schedule; from + N minutes for a periodic one.
    static QDateTime NextRun(const AutoGenOptions &options, const QDateTime &from);

  private:
    void Loop();

    const ServerDb &m_db;
    QString m_root;
    AutoGenOptions m_options;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace vnd::server
