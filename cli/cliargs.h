#pragma once
// Options of a command line: "--name value", "--name=value" and flags, with the rest as positional
// arguments. Anything not declared is a usage error, so a mistyped option never runs a different job.

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <stdexcept>

namespace vnd::cli
{

// Wrong usage: the program prints the message and exits with status 2.
class EUsage : public std::runtime_error
{
  public:
    explicit EUsage(const QString &message) : std::runtime_error(message.toStdString()), m_message(message) {}
    QString Message() const { return m_message; }

  private:
    QString m_message;
};

class TArgs
{
  public:
    // valued: options that take a value; flags: options that stand alone (names without "--").
    TArgs(const QStringList &valued, const QStringList &flags);
    // Reads the arguments after the command name; EUsage on an unknown option or a missing value.
    void Parse(const QStringList &args);
    bool Has(const QString &name) const { return m_values.contains(name) || m_set.contains(name); }
    // The option's value, or def when it was not given.
    QString Value(const QString &name, const QString &def = {}) const { return m_values.value(name, def); }
    const QStringList &Positional() const { return m_positional; }

  private:
    QSet<QString> m_valued;
    QSet<QString> m_flags;
    QHash<QString, QString> m_values;
    QSet<QString> m_set;
    QStringList m_positional;
};

// The connection options every command takes, besides its own.
QStringList OpcoesConexao();
// The flags every command takes.
QStringList FlagsComuns();

} // namespace vnd::cli
