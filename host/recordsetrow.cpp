#include "host/recordsetrow.h"

#include "host/errors.h"

#include <QByteArray>
#include <QDataStream>
#include <QDateTime>
#include <QIODevice>

#include <cstring>
#include <limits>

namespace vnd::recordset {

namespace {

// What a field's value is, in one byte; the payload follows.
enum Tag : unsigned char {
    kNull = 0,     // an invalid QVariant
    kFalse,        // bool
    kTrue,         // bool
    kInteger,      // qint64: zigzag varint
    kDouble,       // double: 8 bytes as in memory
    kLocalTime,    // QDateTime in local time: Julian day (zigzag varint), msecs of the day (varint)
    kUtcTime,      // QDateTime in UTC: msecs since the epoch (zigzag varint)
    kOffsetTime,   // QDateTime at an offset: msecs since the epoch, offset seconds (zigzag varints)
    kInvalidTime,  // a QDateTime that is not valid
    kBytes,        // QByteArray: length (varint), bytes
    kNullBytes,    // a null QByteArray
    kOther,        // anything else: length (varint), QDataStream of the QVariant
    kPooled,       // QByteArray held in the record set's pool: its index (varint)
};

void PutVarint(QByteArray &out, uint64_t v)
{
    while (v >= 0x80) {
        out.append(char((v & 0x7f) | 0x80));
        v >>= 7;
    }
    out.append(char(v));
}

void PutSigned(QByteArray &out, int64_t v) { PutVarint(out, (uint64_t(v) << 1) ^ uint64_t(v >> 63)); }

struct Reader
{
    const unsigned char *p;
    const unsigned char *end;
    const TextPool *pool;

    uint64_t Varint()
    {
        uint64_t v = 0;
        for (int shift = 0; p < end && shift < 64; shift += 7) {
            const unsigned char b = *p++;
            v |= uint64_t(b & 0x7f) << shift;
            if (!(b & 0x80))
                return v;
        }
        throw Exception(QStringLiteral("Linha da tabela em memória danificada"));
    }
    int64_t Signed()
    {
        const uint64_t v = Varint();
        return int64_t(v >> 1) ^ -int64_t(v & 1);
    }
    const unsigned char *Take(uint64_t n)
    {
        if (n > uint64_t(end - p))
            throw Exception(QStringLiteral("Linha da tabela em memória danificada"));
        const unsigned char *at = p;
        p += n;
        return at;
    }

    QVariant Value()
    {
        switch (*Take(1)) {
        case kNull: return {};
        case kFalse: return false;
        case kTrue: return true;
        case kInteger: return qint64(Signed());
        case kDouble: {
            double d;
            std::memcpy(&d, Take(sizeof d), sizeof d);
            return d;
        }
        case kLocalTime: {
            const qint64 day = Signed();
            const int ms = int(Varint());
            return QDateTime(QDate::fromJulianDay(day), QTime::fromMSecsSinceStartOfDay(ms));
        }
        case kUtcTime: return QDateTime::fromMSecsSinceEpoch(Signed(), Qt::UTC);
        case kOffsetTime: {
            const qint64 ms = Signed();
            const int offset = int(Signed());
            return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offset);
        }
        case kInvalidTime: return QDateTime();
        case kBytes: {
            const uint64_t n = Varint();
            return QByteArray(reinterpret_cast<const char *>(Take(n)), qsizetype(n));
        }
        case kNullBytes: return QByteArray();
        case kPooled: return Pooled();
        case kOther: {
            const uint64_t n = Varint();
            const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(Take(n)), qsizetype(n));
            QDataStream in(bytes);
            QVariant v;
            in >> v;
            return v;
        }
        }
        throw Exception(QStringLiteral("Linha da tabela em memória danificada"));
    }

    const QByteArray &Pooled()
    {
        const uint64_t index = Varint();
        if (!pool || index >= TextPool::kMaxTexts)
            throw Exception(QStringLiteral("Linha da tabela em memória danificada"));
        return pool->At(quint32(index));
    }

    void Skip()
    {
        switch (*Take(1)) {
        case kNull:
        case kFalse:
        case kTrue:
        case kInvalidTime:
        case kNullBytes: return;
        case kInteger:
        case kPooled:
        case kUtcTime: Varint(); return;
        case kDouble: Take(sizeof(double)); return;
        case kLocalTime:
        case kOffsetTime:
            Varint();
            Varint();
            return;
        case kBytes:
        case kOther: Take(Varint()); return;
        }
        throw Exception(QStringLiteral("Linha da tabela em memória danificada"));
    }
};

void Put(QByteArray &out, const QVariant &v, size_t field, TextPool *pool)
{
    if (!v.isValid()) {
        out.append(char(kNull));
        return;
    }
    switch (v.typeId()) {
    case QMetaType::Bool: out.append(char(v.toBool() ? kTrue : kFalse)); return;
    case QMetaType::LongLong:
    case QMetaType::Int:
        out.append(char(kInteger));
        PutSigned(out, v.toLongLong());
        return;
    case QMetaType::Double: {
        const double d = v.toDouble();
        out.append(char(kDouble));
        out.append(reinterpret_cast<const char *>(&d), sizeof d);
        return;
    }
    case QMetaType::QByteArray: {
        const QByteArray b = v.toByteArray();
        if (b.isNull()) {
            out.append(char(kNullBytes));
            return;
        }
        if (pool) {
            if (const qint64 index = pool->Find(field, b); index >= 0) {
                out.append(char(kPooled));
                PutVarint(out, uint64_t(index));
                return;
            }
        }
        out.append(char(kBytes));
        PutVarint(out, uint64_t(b.size()));
        out.append(b);
        return;
    }
    case QMetaType::QDateTime: {
        const QDateTime dt = v.toDateTime();
        if (!dt.isValid()) {
            out.append(char(kInvalidTime));
        } else if (dt.timeSpec() == Qt::LocalTime) {
            out.append(char(kLocalTime));
            PutSigned(out, dt.date().toJulianDay());
            PutVarint(out, uint64_t(dt.time().msecsSinceStartOfDay()));
        } else if (dt.timeSpec() == Qt::UTC) {
            out.append(char(kUtcTime));
            PutSigned(out, dt.toMSecsSinceEpoch());
        } else {
            // (a time zone keeps its offset at that moment)
            out.append(char(kOffsetTime));
            PutSigned(out, dt.toMSecsSinceEpoch());
            PutSigned(out, dt.offsetFromUtc());
        }
        return;
    }
    default: break;
    }
    QByteArray bytes;
    {
        QDataStream s(&bytes, QIODevice::WriteOnly);
        s << v;
    }
    out.append(char(kOther));
    PutVarint(out, uint64_t(bytes.size()));
    out.append(bytes);
}

} // namespace

qint64 TextPool::Find(size_t field, const QByteArray &text)
{
    if (text.size() > kLongest)
        return -1;
    if (const auto found = m_index.constFind(text); found != m_index.constEnd())
        return *found;
    if (field >= m_recent.size())
        m_recent.resize(field + 1);
    Recent &recent = m_recent[field];
    for (const QByteArray &seen : recent.texts) {
        if (seen.size() == text.size() && !seen.isNull() && seen == text) {
            if (m_texts.size() >= kMaxTexts)
                return -1;
            m_texts.push_back(text);
            m_index.insert(text, quint32(m_texts.size() - 1));
            return qint64(m_texts.size() - 1);
        }
    }
    recent.texts[recent.next] = text;
    recent.next = (recent.next + 1) % 4;
    return -1;
}

void TextPool::Clear()
{
    m_texts.clear();
    m_index.clear();
    m_recent.clear();
}

PackedRow::PackedRow(const std::vector<QVariant> &values, TextPool *pool)
{
    QByteArray out;
    out.reserve(qsizetype(values.size()) * 4 + 64);
    out.append(4, '\0');
    for (size_t i = 0; i < values.size(); ++i)
        Put(out, values[i], i, pool);
    if (out.size() > std::numeric_limits<uint32_t>::max())
        throw Exception(QStringLiteral("Linha grande demais para a tabela em memória"));
    const uint32_t size = uint32_t(out.size() - 4);
    std::memcpy(out.data(), &size, 4);
    m_block = new unsigned char[size_t(out.size())];
    std::memcpy(m_block, out.constData(), size_t(out.size()));
}

PackedRow::PackedRow(const PackedRow &other)
{
    if (other.m_block) {
        const size_t n = other.Size() + 4u;
        m_block = new unsigned char[n];
        std::memcpy(m_block, other.m_block, n);
    }
}

PackedRow &PackedRow::operator=(const PackedRow &other)
{
    if (this != &other)
        *this = PackedRow(other);
    return *this;
}

PackedRow &PackedRow::operator=(PackedRow &&other) noexcept
{
    if (this != &other) {
        delete[] m_block;
        m_block = other.m_block;
        other.m_block = nullptr;
    }
    return *this;
}

PackedRow::~PackedRow() { delete[] m_block; }

uint32_t PackedRow::Size() const
{
    uint32_t size = 0;
    if (m_block)
        std::memcpy(&size, m_block, 4);
    return size;
}

QVariant PackedRow::At(size_t field, const TextPool *pool) const
{
    Reader r{m_block ? m_block + 4 : nullptr, m_block ? m_block + 4 + Size() : nullptr, pool};
    for (size_t i = 0; i < field; ++i) {
        if (r.p == r.end)
            return {};
        r.Skip();
    }
    return r.p == r.end ? QVariant() : r.Value();
}

std::vector<QVariant> PackedRow::Unpack(size_t fields, const TextPool *pool) const
{
    std::vector<QVariant> values;
    Unpack(values, fields, pool);
    return values;
}

void PackedRow::Unpack(std::vector<QVariant> &values, size_t fields, const TextPool *pool) const
{
    values.assign(fields, QVariant());
    Reader r{m_block ? m_block + 4 : nullptr, m_block ? m_block + 4 + Size() : nullptr, pool};
    for (size_t i = 0; i < fields && r.p != r.end; ++i)
        values[i] = r.Value();
}

void PackedRow::Visit(size_t fields, Visitor &visitor, const TextPool *pool) const
{
    Reader r{m_block ? m_block + 4 : nullptr, m_block ? m_block + 4 + Size() : nullptr, pool};
    for (size_t i = 0; i < fields; ++i) {
        if (r.p != r.end && *r.p == kBytes) {
            ++r.p;
            const uint64_t n = r.Varint();
            visitor.Text(i, reinterpret_cast<const char *>(r.Take(n)), qsizetype(n));
        } else if (r.p != r.end && *r.p == kPooled) {
            ++r.p;
            const QByteArray &text = r.Pooled();
            visitor.Text(i, text.constData(), text.size());
        } else {
            visitor.Value(i, r.p == r.end ? QVariant() : r.Value());
        }
    }
}

bool PackedRow::operator==(const PackedRow &other) const
{
    const uint32_t n = Size();
    return n == other.Size() && (n == 0 || std::memcmp(m_block + 4, other.m_block + 4, n) == 0);
}

} // namespace vnd::recordset
