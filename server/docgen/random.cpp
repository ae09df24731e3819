#include "server/docgen/random.h"

#include <QByteArray>

namespace vnd::docgen
{

static quint64 SplitMix(quint64 &x)
{
    quint64 z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

static quint64 Rotl(quint64 x, int k)
{
    return (x << k) | (x >> (64 - k));
}

Random::Random(quint64 seed)
{
    for (quint64 &s : m_s)
        s = SplitMix(seed);
}

quint64 Random::Next()
{
    const quint64 result = Rotl(m_s[1] * 5, 7) * 9;
    const quint64 t = m_s[1] << 17;
    m_s[2] ^= m_s[0];
    m_s[3] ^= m_s[1];
    m_s[1] ^= m_s[2];
    m_s[0] ^= m_s[3];
    m_s[2] ^= t;
    m_s[3] = Rotl(m_s[3], 45);
    return result;
}

qint64 Random::Between(qint64 lo, qint64 hi)
{
    Q_ASSERT(lo <= hi);
    const quint64 span = quint64(hi - lo) + 1;
    // The modulo bias over 64 bits is far below anything a demo can show.
    return lo + qint64(span == 0 ? Next() : Next() % span);
}

QString Random::Digits(int n)
{
    QString text;
    text.reserve(n);
    for (int i = 0; i < n; ++i)
        text.append(QChar(u'0' + int(Between(0, 9))));
    return text;
}

QByteArray Random::Bytes(int n)
{
    QByteArray bytes;
    bytes.reserve(n);
    for (int i = 0; i < n; ++i)
        bytes.append(char(Next() >> 56));
    return bytes;
}

} // namespace vnd::docgen
