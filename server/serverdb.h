#pragma once
// The central database as the server's workers see it: one Qt Sql connection per thread (Qt connections
// must stay on the thread that opened them), the dialect differences of SQLite and PostgreSQL in one
// place, and write transactions that wait for each other instead of failing.

#include "host/errors.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <functional>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace vnd::server {

enum class Dialect { SQLite, PostgreSQL };

// A failed statement that another writer caused (SQLite busy/locked, PostgreSQL serialisation or deadlock):
// the whole transaction may be run again.
class EDatabaseBusy : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The transaction of a write is gone: the database rolled it back by itself (a full disk, an I/O error)
// or a failed part of it could not be taken back. Nothing of it may be committed, so the whole write
// fails; a caller that goes on after a part's failure lets this one through.
class ETransactionLost : public Exception
{
public:
    using Exception::Exception;
};

struct QueuedWrite;

class ServerDb
{
public:
    // Checks the URL ("sqlite:FILE" or "postgresql://user@host:port/db"); connections open on first use.
    explicit ServerDb(const QString &url);
    ~ServerDb();
    ServerDb(const ServerDb &) = delete;
    ServerDb &operator=(const ServerDb &) = delete;

    const QString &Url() const { return m_url; }
    Dialect dialect() const { return m_dialect; }
    // The calling thread's connection, opened when needed; Exception naming the URL when it cannot open.
    QSqlDatabase Connection() const;

    // Prepares, binds positionally ("?") and runs a statement; Exception with the action and the driver's
    // text on failure, EDatabaseBusy when another writer is in the way.
    QSqlQuery Exec(const QString &sql, const QVariantList &binds = {}, const char *action = nullptr) const;
    // A statement prepared once on this thread's connection and run many times with Run (a sale's items).
    QSqlQuery Prepare(const QString &sql, const char *action = nullptr) const;
    // Like Prepare, but kept for the thread's later calls with the same text: on PostgreSQL every prepare
    // is a round trip. Only for statements whose results are read before the same text runs again
    // (inserts); the reference stays valid while the thread lives.
    QSqlQuery &Cached(const QString &sql, const char *action = nullptr) const;
    void Run(QSqlQuery &query, const QVariantList &binds, const char *action = nullptr) const;
    // A read run on a statement kept for the thread (see Cached): the checks of an imported sale run the
    // same few lookups for every sale, and preparing them cost more than running them. The statement is
    // reset when the handle goes, so no read snapshot outlives its caller.
    class CachedRead
    {
    public:
        explicit CachedRead(QSqlQuery &query) : m_query(&query) {}
        // SQLite: the engine's own statement, without Qt's copies of every value (the checks of an
        // imported sale run a dozen of these for each sale).
        CachedRead(sqlite3_stmt *statement, const char *action) : m_statement(statement), m_action(action) {}
        ~CachedRead();
        CachedRead(const CachedRead &) = delete;
        CachedRead &operator=(const CachedRead &) = delete;
        bool next();
        QVariant value(int column) const;

    private:
        QSqlQuery *m_query = nullptr;
        sqlite3_stmt *m_statement = nullptr;
        const char *m_action = nullptr;
    };
    // One statement text per call site: texts built from varying values would fill the cache.
    CachedRead Read(const QString &sql, const QVariantList &binds, const char *action = nullptr) const;
    // Runs fn inside a write transaction; commits when fn returns, rolls back when it throws (fn's own
    // exception then comes out of Write). A busy failure reruns the whole of fn a few times before it is
    // reported. SQLite: the server's writers take turns (BEGIN IMMEDIATE), and the writer whose turn
    // comes carries the work of those waiting behind it in the same transaction, each under its own
    // savepoint; Write returns once the transaction that carried fn is committed. fn may therefore run
    // on another server thread, with that thread's connection: it reaches the database only through
    // this object, and calls no Write of its own.
    void Write(const std::function<void()> &fn) const;
    // Like Write, for records that the next full commit makes durable along with it: their commit does
    // not wait for the disk. The validation log of a sale being imported is written just before the
    // sale's own commit, which flushes the log's records too (SQLite's journal and PostgreSQL's are written
    // in order); a power cut between the two loses a log line of a sale that was not stored either.
    void WriteDeferredSync(const std::function<void()> &fn) const;
    // Inside Write: runs fn under a savepoint, so that a failure takes back fn's rows alone and the
    // transaction goes on (PostgreSQL would refuse every later statement). Rethrows fn's exception, or
    // ETransactionLost when fn's rows cannot be taken back alone.
    void Savepoint(const std::function<void()> &fn) const;
    // SQLite only: the engine's handle of this thread's connection.
    sqlite3 *SqliteHandle(const char *action = nullptr) const;
    // SQLite only: runs a read with the engine's own interface and hands each row to fn, which reads its
    // columns in place (a page of documents is megabytes; Qt would copy each value twice); fn returning
    // false stops. Values are bound as Exec binds them. Exception as Exec's on failure.
    void ForEachSqliteRow(const QString &sql, const QVariantList &binds, const char *action,
                          const std::function<bool(sqlite3_stmt *)> &fn) const;
    // Runs fn's reads on one snapshot. On SQLite that also takes the read lock once instead of once per
    // statement, which a dozen small lookups notice; PostgreSQL runs them as they come.
    void ReadTogether(const std::function<void()> &fn) const;

    // Dialect pieces: a date-time column read as "yyyy-MM-ddTHH:mm:ss" text, and a bound date-time.
    QString DateTimeColumn(const QString &column) const;
    QString DateTimeParam() const;
    // The value to bind for a date-time (null stays null).
    static QVariant DateTimeValue(const QDateTime &value);
    // A date-time read through DateTimeColumn (empty or malformed text gives an invalid QDateTime).
    static QDateTime ReadDateTime(const QVariant &value);

private:
    // SQLite's Write: fn queued behind the transaction under way, or leading the next one, which carries
    // the queued writes of the same durability (deferred: WriteDeferredSync's, on a connection set so).
    void WriteQueued(const std::function<void()> &fn, bool deferred) const;
    // One transaction carrying every queued write of group; each one's error is left in it.
    void RunWrites(const std::vector<QueuedWrite *> &group) const;

    QString m_url;
    Dialect m_dialect;
    quint64 m_id;
};

} // namespace vnd::server
