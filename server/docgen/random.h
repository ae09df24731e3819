#pragma once
// The generator's pseudo-random source: xoshiro256** seeded through splitmix64. Its sequence is fixed by
// the algorithm alone, unlike the standard distributions, so a seed gives the same data everywhere.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace vnd::docgen
{

class Random
{
  public:
    // A source whose whole sequence follows from seed.
    explicit Random(quint64 seed);
    // The next 64 random bits.
    quint64 Next();
    // A number from lo to hi, both included (lo <= hi).
    qint64 Between(qint64 lo, qint64 hi);
    // True with the given chance in percent.
    bool Chance(int percent) { return Between(0, 99) < percent; }
    // n random decimal digits.
    QString Digits(int n);
    // n random bytes.
    QByteArray Bytes(int n);
    // A random element of a non-empty list.
    template <typename T> const T &Pick(const QList<T> &list) { return list.at(Between(0, list.size() - 1)); }

  private:
    quint64 m_s[4];
};

} // namespace vnd::docgen
