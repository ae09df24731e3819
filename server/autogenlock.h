#pragma once
// The reservation that lets only one automatic generation run at a time per database, across processes
// and machines. On PostgreSQL it is a session advisory lock of the generating connection, which the
// database drops with the connection of a process that dies. On SQLite it is the one row of TRAVAGERAXML:
// its holder (host, process and that process's start time) and a lease. A holder whose lease ran out, or
// whose process no longer runs on this host, has lost it.

#include "host/errors.h"
#include "server/serverdb.h"

#include <QString>

namespace vnd::server
{

// Another generation holds the reservation; the message names its holder.
class EGeracaoEmAndamento : public Exception
{
  public:
    using Exception::Exception;
};

// The reservation was lost while the run held it (its connection dropped, or its lease ran out and
// another run took it): the run stops, recording nothing more.
class EReservaPerdida : public Exception
{
  public:
    using Exception::Exception;
};

class GenerationLock
{
  public:
    // Seconds a SQLite holder keeps the reservation without renewing it.
    static constexpr int kLeaseSeconds = 120;

    // Takes the reservation for the calling thread's connection; EGeracaoEmAndamento when another
    // generation holds it.
    explicit GenerationLock(const ServerDb &db);
    // Gives the reservation back (nothing happens when it was lost).
    ~GenerationLock();
    GenerationLock(const GenerationLock &) = delete;
    GenerationLock &operator=(const GenerationLock &) = delete;

    // Inside a write transaction of the same thread: proves the reservation is still held (and renews
    // the SQLite lease), so that nothing is recorded by a generation that lost it. Exception otherwise.
    void Confirm() const;
    // Renews the lease outside any transaction (long steps between records).
    void Renew() const;

    // "host, processo N" of this process.
    static QString SelfHolder();

  private:
    const ServerDb &m_db;
    QString m_holder;
};

} // namespace vnd::server
