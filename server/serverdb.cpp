#include "server/serverdb.h"

#include "host/errors.h"
#include "host/hostutil.h"
#include "host/query.h"

#include <QSqlDriver>
#include <QSqlError>
#include <sqlite3.h>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <chrono>
#include <mutex>
#include <thread>
#include <memory>
#include <unordered_map>
#include <vector>

namespace vnd::server {

namespace {

std::atomic<quint64> g_nextId{1};

// The connections this thread opened, closed when the thread ends.
struct FinalizeStatement
{
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using SqliteStatement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

struct ThreadConnections
{
    std::unordered_map<quint64, QString> names;
    std::unordered_map<quint64, std::unordered_map<QString, QSqlQuery>> statements;
    // SQLite statements prepared with the engine's interface on the same connections.
    std::unordered_map<quint64, std::unordered_map<QString, SqliteStatement>> sqliteStatements;
    void Forget(quint64 id)
    {
        sqliteStatements.erase(id);
        statements.erase(id);
    }
    ~ThreadConnections()
    {
        sqliteStatements.clear(); // before their connections go
        statements.clear();
        for (const auto &entry : names) {
            {
                QSqlDatabase db = QSqlDatabase::database(entry.second, false);
                if (db.isValid())
                    db.close();
            }
            QSqlDatabase::removeDatabase(entry.second);
        }
    }
};
thread_local ThreadConnections t_connections;

bool IsBusy(const QSqlError &error, Dialect dialect)
{
    const QString code = error.nativeErrorCode();
    if (dialect == Dialect::SQLite) {
        bool ok = false;
        const int primary = code.toInt(&ok) & 0xff;
        return ok && (primary == 5 || primary == 6); // SQLITE_BUSY, SQLITE_LOCKED
    }
    return code == QLatin1String("40001") || code == QLatin1String("40P01");
}

[[noreturn]] void Fail(const QSqlError &error, Dialect dialect, const char *action)
{
    const QString what = action ? QString::fromUtf8(action) : QStringLiteral("executar o comando");
    if (IsBusy(error, dialect))
        throw EDatabaseBusy(QStringLiteral("Banco de dados ocupado ao %1: %2").arg(what, error.text()).toStdString());
    throw Exception(QStringLiteral("Erro no banco de dados ao %1: %2").arg(what, error.text()));
}

} // namespace

namespace {

QString ActionText(const char *action)
{
    return action ? QString::fromUtf8(action) : QStringLiteral("executar o comando");
}

[[noreturn]] void FailSqlite(sqlite3 *db, int code, const char *action)
{
    const QString text = QString::fromUtf8(sqlite3_errmsg(db));
    if ((code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED)
        throw EDatabaseBusy(QStringLiteral("Banco de dados ocupado ao %1: %2").arg(ActionText(action), text).toStdString());
    throw Exception(QStringLiteral("Erro no banco de dados ao %1: %2").arg(ActionText(action), text));
}

// Binds the values as Exec binds them (text, integers, reals, NULL).
void BindSqlite(sqlite3_stmt *statement, const QVariantList &binds, const char *action)
{
    for (int i = 0; i < binds.size(); ++i) {
        const QVariant &v = binds[i];
        int rc = SQLITE_OK;
        if (v.isNull())
            rc = sqlite3_bind_null(statement, i + 1);
        else if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::UInt ||
                 v.typeId() == QMetaType::ULongLong || v.typeId() == QMetaType::Bool)
            rc = sqlite3_bind_int64(statement, i + 1, v.toLongLong());
        else if (v.typeId() == QMetaType::Double)
            rc = sqlite3_bind_double(statement, i + 1, v.toDouble());
        else if (v.typeId() == QMetaType::QString) {
            const QByteArray utf8 = v.toString().toUtf8();
            rc = sqlite3_bind_text(statement, i + 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        } else
            throw Exception(QStringLiteral("Erro no banco de dados ao %1: valor de tipo %2 não suportado")
                                .arg(ActionText(action), QString::fromLatin1(v.typeName())));
        if (rc != SQLITE_OK)
            FailSqlite(sqlite3_db_handle(statement), rc, action);
    }
}

} // namespace

ServerDb::ServerDb(const QString &url) : m_url(url), m_id(g_nextId++)
{
    if (url.startsWith(QLatin1String("sqlite:")) && url.size() > 7)
        m_dialect = Dialect::SQLite;
    else if (url.startsWith(QLatin1String("postgresql://")) || url.startsWith(QLatin1String("postgres://")))
        m_dialect = Dialect::PostgreSQL;
    else
        throw Exception(QStringLiteral("Endereço de banco de dados não suportado: %1 (use sqlite:ARQUIVO ou "
                                       "postgresql://usuario@maquina:porta/banco)")
                            .arg(url));
}

ServerDb::~ServerDb()
{
    // Connections of other threads close when those threads end; this thread's goes now.
    auto it = t_connections.names.find(m_id);
    if (it == t_connections.names.end())
        return;
    t_connections.Forget(m_id);
    const QString name = it->second;
    t_connections.names.erase(it);
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

QSqlDatabase ServerDb::Connection() const
{
    auto it = t_connections.names.find(m_id);
    if (it != t_connections.names.end()) {
        QSqlDatabase db = QSqlDatabase::database(it->second, false);
        if (db.isOpen())
            return db;
        t_connections.Forget(m_id); // prepared on the connection that closed
        if (db.open())
            return db;
        throw Exception(QStringLiteral("Não foi possível reabrir o banco de dados %1: %2").arg(m_url, db.lastError().text()));
    }
    const QString name =
        QStringLiteral("vnd_server_%1_%2").arg(m_id).arg(quintptr(QThread::currentThreadId()), 0, 16);
    QSqlDatabase db = vnd::OpenDatabaseUrl(m_url, name);
    t_connections.names.emplace(m_id, name);
    if (m_dialect == Dialect::SQLite) {
        // WAL and the busy timeout come with the URL; FULL keeps every committed sale on disk through a
        // power cut, which a fiscal store needs more than the last bit of speed.
        QSqlQuery q(db);
        q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
        // Pages of documents are read through the map instead of copied by read(); sorts stay in memory.
        q.exec(QStringLiteral("PRAGMA mmap_size=268435456"));
        q.exec(QStringLiteral("PRAGMA cache_size=-8000"));
        q.exec(QStringLiteral("PRAGMA temp_store=MEMORY"));
    }
    return db;
}

void ServerDb::Savepoint(const std::function<void()> &fn) const
{
    Exec(QStringLiteral("SAVEPOINT vnd_parte"), {}, "abrir o ponto de retorno da transação");
    try {
        fn();
    } catch (...) {
        // Where the savepoint is gone the database has dropped the whole transaction, or its state is
        // unknown: going on would commit later parts on their own, without the earlier ones.
        try {
            Exec(QStringLiteral("ROLLBACK TO SAVEPOINT vnd_parte"), {}, "desfazer a parte da transação");
            Exec(QStringLiteral("RELEASE SAVEPOINT vnd_parte"), {}, "desfazer a parte da transação");
        } catch (const std::exception &e) {
            throw ETransactionLost(QStringLiteral("A transação foi desfeita pelo banco de dados; nada dela foi "
                                                  "gravado. (%1)")
                                       .arg(QString::fromUtf8(e.what())));
        }
        throw;
    }
    Exec(QStringLiteral("RELEASE SAVEPOINT vnd_parte"), {}, "confirmar a parte da transação");
}

QSqlQuery ServerDb::Exec(const QString &sql, const QVariantList &binds, const char *action) const
{
    if (binds.isEmpty()) {
        // PostgreSQL cannot prepare DDL; a statement without values needs no preparing anyway.
        QSqlQuery q(Connection());
        q.setForwardOnly(true);
        if (!q.exec(sql))
            Fail(q.lastError(), m_dialect, action);
        return q;
    }
    QSqlQuery q = Prepare(sql, action);
    Run(q, binds, action);
    return q;
}

QSqlQuery ServerDb::Prepare(const QString &sql, const char *action) const
{
    QSqlQuery q(Connection());
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        Fail(q.lastError(), m_dialect, action);
    return q;
}

QSqlQuery &ServerDb::Cached(const QString &sql, const char *action) const
{
    Connection(); // drops the statements of a connection that had to be reopened
    auto &mine = t_connections.statements[m_id];
    auto it = mine.find(sql);
    if (it == mine.end())
        it = mine.emplace(sql, Prepare(sql, action)).first;
    return it->second;
}

ServerDb::CachedRead ServerDb::Read(const QString &sql, const QVariantList &binds, const char *action) const
{
    if (m_dialect == Dialect::SQLite) {
        sqlite3 *db = SqliteHandle(action); // also drops the statements of a connection that had to be reopened
        auto &mine = t_connections.sqliteStatements[m_id];
        auto it = mine.find(sql);
        if (it == mine.end()) {
            sqlite3_stmt *statement = nullptr;
            const QByteArray text = sql.toUtf8();
            if (const int rc = sqlite3_prepare_v3(db, text.constData(), int(text.size()), SQLITE_PREPARE_PERSISTENT,
                                                  &statement, nullptr);
                rc != SQLITE_OK)
                FailSqlite(db, rc, action);
            it = mine.emplace(sql, SqliteStatement(statement)).first;
        }
        sqlite3_stmt *statement = it->second.get();
        sqlite3_reset(statement);
        BindSqlite(statement, binds, action);
        return CachedRead(statement, action);
    }
    QSqlQuery &q = Cached(sql, action);
    Run(q, binds, action);
    return CachedRead(q);
}

void ServerDb::Run(QSqlQuery &query, const QVariantList &binds, const char *action) const
{
    for (int i = 0; i < binds.size(); ++i)
        query.bindValue(i, binds[i]);
    if (!query.exec())
        Fail(query.lastError(), m_dialect, action);
}

struct QueuedWrite
{
    quint64 database;
    const std::function<void()> *fn;
    bool deferred; // from WriteDeferredSync: carried only with others of its kind, on a connection set for it
    std::exception_ptr error;
    bool done = false;
};

namespace {

// SQLite takes one writer at a time. The server's own writers queue here instead of in SQLite's busy
// handler, which sleeps and polls (with tens of clients storing at once that sleeping alone made them
// slower together than one alone). The writer whose turn comes runs, in one transaction, its own work
// and that of every writer queued behind it on the same database, each under a savepoint of its own:
// a failure takes back that writer's rows alone, and one disk sync commits them all. Each writer is
// answered only after the commit (or the failure) of the transaction that carried its work.
struct SqliteWriters
{
    std::mutex mutex;
    std::condition_variable turn;
    std::deque<QueuedWrite *> queue;
    bool leading = false; // a transaction of the server's writers is under way
};

SqliteWriters &Writers()
{
    static SqliteWriters writers;
    return writers;
}

// A transaction carries at most this many writers' work: the last of them waits for all of it.
constexpr size_t kMaxGroupedWrites = 64;
constexpr int kWriteAttempts = 6;

} // namespace

void ServerDb::Write(const std::function<void()> &fn) const
{
    if (m_dialect == Dialect::SQLite)
        return WriteQueued(fn, false);
    QSqlDatabase db = Connection();
    for (int attempt = 1;; ++attempt) {
        const bool begun = db.transaction();
        try {
            if (!begun)
                Fail(db.lastError(), m_dialect, "iniciar a transação");
            fn();
            if (!db.commit())
                Fail(db.lastError(), m_dialect, "confirmar a transação");
            return;
        } catch (const EDatabaseBusy &busy) {
            if (begun)
                db.rollback();
            if (attempt >= kWriteAttempts)
                throw Exception(QStringLiteral("O banco de dados continua ocupado por outras gravações; tente de "
                                               "novo em instantes. (%1)")
                                    .arg(QString::fromStdString(busy.what())));
            std::this_thread::sleep_for(std::chrono::milliseconds(20 * attempt * attempt));
        } catch (...) {
            if (begun)
                db.rollback();
            throw;
        }
    }
}

void ServerDb::WriteQueued(const std::function<void()> &fn, bool deferred) const
{
    SqliteWriters &w = Writers();
    QueuedWrite me{m_id, &fn, deferred, {}};
    std::vector<QueuedWrite *> group;
    {
        std::unique_lock lock(w.mutex);
        w.queue.push_back(&me);
        w.turn.wait(lock, [&] { return me.done || !w.leading; });
        if (!me.done) {
            // This writer's turn: its own work first, then whatever waits on the same database with the
            // same durability (a commit that does not wait for the disk must carry no one else's sale).
            w.leading = true;
            w.queue.erase(std::find(w.queue.begin(), w.queue.end(), &me));
            group.push_back(&me);
            for (auto it = w.queue.begin(); it != w.queue.end() && group.size() < kMaxGroupedWrites;) {
                if ((*it)->database == m_id && (*it)->deferred == deferred) {
                    group.push_back(*it);
                    it = w.queue.erase(it);
                } else {
                    ++it;
                }
            }
        }
    }
    if (!group.empty()) {
        RunWrites(group);
        {
            std::lock_guard lock(w.mutex);
            for (QueuedWrite *q : group)
                q->done = true;
            w.leading = false;
        }
        w.turn.notify_all();
    }
    if (me.error)
        std::rethrow_exception(me.error);
}

void ServerDb::RunWrites(const std::vector<QueuedWrite *> &group) const
{
    auto failAll = [&](const std::exception_ptr &error) {
        for (QueuedWrite *q : group)
            q->error = error;
    };
    QSqlDatabase db;
    try {
        db = Connection();
    } catch (...) {
        return failAll(std::current_exception());
    }
    for (int attempt = 1;; ++attempt) {
        for (QueuedWrite *q : group)
            q->error = nullptr;
        QSqlQuery control(db);
        const bool begun = control.exec(QStringLiteral("BEGIN IMMEDIATE"));
        try {
            if (!begun)
                Fail(control.lastError(), m_dialect, "iniciar a transação");
            if (group.size() == 1) {
                (*group.front()->fn)();
            } else {
                // Savepoints of its own rather than Savepoint(): a failed piece keeps its own exception
                // even when taking its rows back then fails the group (through the outer handler).
                for (QueuedWrite *q : group) {
                    Exec(QStringLiteral("SAVEPOINT vnd_escrita"), {}, "abrir o ponto de retorno da gravação");
                    try {
                        (*q->fn)();
                        Exec(QStringLiteral("RELEASE SAVEPOINT vnd_escrita"), {}, "confirmar a parte da gravação");
                    } catch (const EDatabaseBusy &) {
                        throw; // the whole transaction runs again
                    } catch (...) {
                        q->error = std::current_exception();
                        Exec(QStringLiteral("ROLLBACK TO SAVEPOINT vnd_escrita"), {}, "desfazer a parte da gravação");
                        Exec(QStringLiteral("RELEASE SAVEPOINT vnd_escrita"), {}, "desfazer a parte da gravação");
                    }
                    // An error that SQLite answers by rolling back the whole transaction (a full disk, an
                    // I/O error) must not let the next writers' work commit on its own.
                    if (sqlite3_get_autocommit(SqliteHandle("gravar")))
                        throw ETransactionLost(QStringLiteral("A transação de gravação foi desfeita pelo banco de dados; "
                                                              "nada dela foi gravado."));
                }
            }
            if (!control.exec(QStringLiteral("COMMIT")))
                Fail(control.lastError(), m_dialect, "confirmar a transação");
            return;
        } catch (const EDatabaseBusy &busy) {
            if (begun)
                control.exec(QStringLiteral("ROLLBACK"));
            if (attempt >= kWriteAttempts)
                return failAll(std::make_exception_ptr(
                    Exception(QStringLiteral("O banco de dados continua ocupado por outras gravações; tente de "
                                             "novo em instantes. (%1)")
                                  .arg(QString::fromStdString(busy.what())))));
            std::this_thread::sleep_for(std::chrono::milliseconds(20 * attempt * attempt));
        } catch (...) {
            if (begun)
                control.exec(QStringLiteral("ROLLBACK"));
            // Nothing of the transaction stays: a writer whose own work failed keeps its own error.
            const std::exception_ptr error = std::current_exception();
            for (QueuedWrite *q : group)
                if (!q->error)
                    q->error = error;
            return;
        }
    }
}

sqlite3 *ServerDb::SqliteHandle(const char *action) const
{
    const QVariant handle = Connection().driver()->handle();
    if (m_dialect != Dialect::SQLite || !handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        throw Exception(QStringLiteral("Erro no banco de dados ao %1: leitura direta disponível só no SQLite").arg(ActionText(action)));
    return *static_cast<sqlite3 *const *>(handle.constData());
}

void ServerDb::ForEachSqliteRow(const QString &sql, const QVariantList &binds, const char *action,
                                const std::function<bool(sqlite3_stmt *)> &fn) const
{
    sqlite3 *db = SqliteHandle(action);
    sqlite3_stmt *statement = nullptr;
    const QByteArray text = sql.toUtf8();
    if (const int rc = sqlite3_prepare_v2(db, text.constData(), int(text.size()), &statement, nullptr); rc != SQLITE_OK)
        FailSqlite(db, rc, action);
    const SqliteStatement owner(statement);
    BindSqlite(statement, binds, action);
    while (true) {
        const int rc = sqlite3_step(statement);
        if (rc == SQLITE_DONE)
            return;
        if (rc != SQLITE_ROW)
            FailSqlite(db, rc, action);
        if (!fn(statement))
            return;
    }
}

ServerDb::CachedRead::~CachedRead()
{
    if (m_query)
        m_query->finish();
    else
        sqlite3_reset(m_statement);
}

bool ServerDb::CachedRead::next()
{
    if (m_query)
        return m_query->next();
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        FailSqlite(sqlite3_db_handle(m_statement), rc, m_action);
    return false;
}

QVariant ServerDb::CachedRead::value(int column) const
{
    if (m_query)
        return m_query->value(column);
    // The values Qt's driver gives for the same columns.
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_INTEGER: return qlonglong(sqlite3_column_int64(m_statement, column));
    case SQLITE_FLOAT: return sqlite3_column_double(m_statement, column);
    case SQLITE_NULL: return QVariant(QMetaType(QMetaType::QString));
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(m_statement, column)),
                          sqlite3_column_bytes(m_statement, column));
    default:
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column)),
                                 sqlite3_column_bytes(m_statement, column));
    }
}

void ServerDb::ReadTogether(const std::function<void()> &fn) const
{
    if (m_dialect == Dialect::PostgreSQL) {
        fn();
        return;
    }
    QSqlQuery control(Connection());
    if (!control.exec(QStringLiteral("BEGIN")))
        Fail(control.lastError(), m_dialect, "iniciar a leitura");
    try {
        fn();
    } catch (...) {
        control.exec(QStringLiteral("ROLLBACK"));
        throw;
    }
    // Nothing was written: ending the transaction cannot lose anything, only release the snapshot.
    if (!control.exec(QStringLiteral("COMMIT")))
        control.exec(QStringLiteral("ROLLBACK"));
}

void ServerDb::WriteDeferredSync(const std::function<void()> &fn) const
{
    if (m_dialect == Dialect::PostgreSQL) {
        Write([&] {
            Exec(QStringLiteral("SET LOCAL synchronous_commit TO OFF"), {}, "adiar a gravação em disco");
            fn();
        });
        return;
    }
    // Per connection, outside a transaction; put back whatever happens. Run as text each time, not
    // kept prepared: SQLite applies this pragma when the statement is prepared, so a prepared one run
    // again changes nothing (two of them prepared one after the other left the connection at FULL).
    Exec(QStringLiteral("PRAGMA synchronous=NORMAL"), {}, "adiar a gravação em disco");
    struct Restore {
        const ServerDb &db;
        ~Restore()
        {
            try {
                db.Exec(QStringLiteral("PRAGMA synchronous=FULL"), {}, "confirmar a gravação em disco");
            } catch (...) {
                // The connection could not take it back: closed, so that the next use opens it anew, at
                // SQLite's own FULL.
                try {
                    db.Connection().close();
                } catch (...) {
                }
            }
        }
    } restore{*this};
    WriteQueued(fn, true); // carrying only other deferred work: the rest must reach the disk at its commit
}

QString ServerDb::DateTimeColumn(const QString &column) const
{
    if (m_dialect == Dialect::PostgreSQL)
        return QStringLiteral("TO_CHAR(%1, 'YYYY-MM-DD\"T\"HH24:MI:SS')").arg(column);
    return column;
}

QString ServerDb::DateTimeParam() const
{
    return m_dialect == Dialect::PostgreSQL ? QStringLiteral("CAST(? AS TIMESTAMP)") : QStringLiteral("?");
}

QVariant ServerDb::DateTimeValue(const QDateTime &value)
{
    // Bound as text in both dialects: the driver's own date-time binding goes through UTC and would move
    // a sale's wall-clock time by the server's offset.
    if (!value.isValid())
        return QVariant(QMetaType(QMetaType::QString));
    return value.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

QDateTime ServerDb::ReadDateTime(const QVariant &value)
{
    if (value.isNull())
        return {};
    return vnd::ReadFixedDateTime(value.toString());
}

} // namespace vnd::server
