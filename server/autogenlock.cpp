// The generation's reservation in the database (see autogenlock.h).
#include "server/autogenlock.h"

#include <QFile>
#include <QSet>
#include <QSqlQuery>
#include <QStringList>

#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace vnd::server
{

namespace
{

// The SQLite row names a process, not a thread: within one process the databases held are kept here.
std::mutex g_heldMutex;
QSet<QString> g_heldHere;

bool HoldHere(const QString &url)
{
    std::lock_guard lock(g_heldMutex);
    if (g_heldHere.contains(url))
        return false;
    g_heldHere.insert(url);
    return true;
}

void ReleaseHere(const QString &url)
{
    std::lock_guard lock(g_heldMutex);
    g_heldHere.remove(url);
}

// Any number that no other advisory lock of this database uses; the schema's migrations use 44004400.
constexpr qint64 kAdvisoryKey = 44004401;

// The start time of a process in clock ticks since boot (field 22 of /proc/PID/stat): with the process
// id it names one process, even after the id was given to another one.
QString StartTime(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray stat = f.readAll();
    // The command name (field 2) may hold blanks and parentheses: count fields after its last ')'.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return {};
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return fields.size() > 19 ? QString::fromLatin1(fields[19]) : QString();
}

QString HostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || !name[0])
        return QStringLiteral("localhost");
    // The holder text is split at ':'.
    return QString::fromLocal8Bit(name).replace(QLatin1Char(':'), QLatin1Char('_'));
}

// A holder on this host whose process is gone (or is another process under the same id).
bool HolderGone(const QString &holder)
{
    const QStringList parts = holder.split(QLatin1Char(':'));
    if (parts.size() != 3 || parts[0] != HostName())
        return false;
    return StartTime(parts[1].toLongLong()) != parts[2];
}

QString DescribeHolder(const QString &holder)
{
    const QStringList parts = holder.split(QLatin1Char(':'));
    if (parts.size() != 3)
        return QStringLiteral("detentor desconhecido");
    return QStringLiteral("servidor %1, processo %2").arg(parts[0], parts[1]);
}

QString StoredHolder(const ServerDb &db, qint64 *until = nullptr)
{
    QSqlQuery q = db.Exec(QStringLiteral("SELECT DSDETENTOR, NRVALIDADE FROM TRAVAGERAXML WHERE IDTRAVA = 1"), {},
                          "ler a reserva da geração automática");
    if (!q.next())
        return {};
    if (until)
        *until = q.value(1).toLongLong();
    return q.value(0).toString();
}

void StoreHolder(const ServerDb &db, const QString &holder)
{
    db.Exec(QStringLiteral("INSERT INTO TRAVAGERAXML (IDTRAVA, DSDETENTOR, NRVALIDADE) VALUES (1, ?, ?) "
                           "ON CONFLICT (IDTRAVA) DO UPDATE SET DSDETENTOR = excluded.DSDETENTOR, "
                           "NRVALIDADE = excluded.NRVALIDADE"),
            {holder, QDateTime::currentSecsSinceEpoch() + GenerationLock::kLeaseSeconds},
            "reservar a geração automática");
}

EGeracaoEmAndamento Busy(const QString &holder)
{
    return EGeracaoEmAndamento(
        QStringLiteral("Outra geração automática está em andamento neste banco de dados (%1); esta não foi "
                       "iniciada.")
            .arg(DescribeHolder(holder)));
}

} // namespace

QString GenerationLock::SelfHolder()
{
    const qint64 pid = ::getpid();
    return QStringLiteral("%1:%2:%3").arg(HostName()).arg(pid).arg(StartTime(pid));
}

GenerationLock::GenerationLock(const ServerDb &db) : m_db(db), m_holder(SelfHolder())
{
    if (db.dialect() == Dialect::PostgreSQL) {
        QSqlQuery q = db.Exec(QStringLiteral("SELECT pg_try_advisory_lock(%1)").arg(kAdvisoryKey), {},
                              "reservar a geração automática");
        if (!q.next() || !q.value(0).toBool())
            throw Busy(StoredHolder(db));
        q.finish();
        // Only for the message a second generation shows: the lock itself is the connection's.
        try {
            db.Write([&] { StoreHolder(db, m_holder); });
        } catch (...) {
            db.Exec(QStringLiteral("SELECT pg_advisory_unlock(%1)").arg(kAdvisoryKey));
            throw;
        }
        return;
    }
    if (!HoldHere(db.Url()))
        throw Busy(m_holder);
    QString other;
    try {
        db.Write([&] {
            other.clear();
            qint64 until = 0;
            const QString holder = StoredHolder(db, &until);
            if (!holder.isEmpty() && holder != m_holder && until > QDateTime::currentSecsSinceEpoch() &&
                !HolderGone(holder)) {
                other = holder;
                return;
            }
            StoreHolder(db, m_holder);
        });
    } catch (...) {
        ReleaseHere(db.Url());
        throw;
    }
    if (!other.isEmpty()) {
        ReleaseHere(db.Url());
        throw Busy(other);
    }
}

GenerationLock::~GenerationLock()
{
    try {
        m_db.Write([&] {
            m_db.Exec(QStringLiteral("DELETE FROM TRAVAGERAXML WHERE IDTRAVA = 1 AND DSDETENTOR = ?"), {m_holder},
                      "liberar a reserva da geração automática");
        });
        if (m_db.dialect() == Dialect::PostgreSQL)
            m_db.Exec(QStringLiteral("SELECT pg_advisory_unlock(%1)").arg(kAdvisoryKey), {},
                      "liberar a reserva da geração automática");
    } catch (const std::exception &e) {
        // A reservation that cannot be given back ends with its lease or its connection.
        std::fprintf(stderr, "geração automática: %s\n", e.what());
    }
    if (m_db.dialect() == Dialect::SQLite)
        ReleaseHere(m_db.Url());
}

void GenerationLock::Confirm() const
{
    bool held = false;
    if (m_db.dialect() == Dialect::PostgreSQL) {
        QSqlQuery q = m_db.Exec(QStringLiteral("SELECT COUNT(*) FROM pg_locks WHERE locktype = 'advisory' AND "
                                               "classid = 0 AND objid = %1 AND objsubid = 1 AND granted AND "
                                               "pid = pg_backend_pid()")
                                    .arg(kAdvisoryKey),
                                {}, "conferir a reserva da geração automática");
        held = q.next() && q.value(0).toInt() > 0;
    } else {
        QSqlQuery q = m_db.Exec(
            QStringLiteral("UPDATE TRAVAGERAXML SET NRVALIDADE = ? WHERE IDTRAVA = 1 AND DSDETENTOR = ?"),
            {QDateTime::currentSecsSinceEpoch() + kLeaseSeconds, m_holder}, "renovar a reserva da geração automática");
        held = q.numRowsAffected() == 1;
    }
    if (!held)
        throw EReservaPerdida(QStringLiteral("A reserva da geração automática foi perdida (a conexão com o banco de dados "
                                       "caiu ou outra geração a tomou); nada mais foi registrado."));
}

void GenerationLock::Renew() const
{
    m_db.Write([&] { Confirm(); });
}

} // namespace vnd::server
