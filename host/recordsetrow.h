#pragma once
// A row of the record set held as one block of bytes (internal to host/recordset*.cpp): a list of a
// million sales keeps a few hundred bytes per row instead of a QVariant and a heap text per field.

#include <QByteArray>
#include <QHash>
#include <QVariant>

#include <cstdint>
#include <vector>

namespace vnd::recordset {

// The short texts that repeat down a column (the branch, the issuer's tax number, the certificate, the
// authority's site), held once for every row of a record set that packs them. A text is pooled the second
// time it is met close to its first: texts met once stay in their rows.
class TextPool
{
public:
    static constexpr qsizetype kLongest = 96;
    static constexpr quint32 kMaxTexts = 1u << 16;

    // The index of the text in the pool, or -1 to keep it in the row.
    qint64 Find(size_t field, const QByteArray &text);
    const QByteArray &At(quint32 index) const { return m_texts.at(index); }
    void Clear();

private:
    std::vector<QByteArray> m_texts;
    QHash<QByteArray, quint32> m_index;
    struct Recent
    {
        QByteArray texts[4];
        int next = 0;
    };
    std::vector<Recent> m_recent; // per field: the last texts seen once
};

class PackedRow
{
public:
    PackedRow() = default;
    // Short texts that repeat go to the pool (none without one); the row is read back with the same pool.
    explicit PackedRow(const std::vector<QVariant> &values, TextPool *pool = nullptr);
    PackedRow(const PackedRow &other);
    PackedRow(PackedRow &&other) noexcept : m_block(other.m_block) { other.m_block = nullptr; }
    PackedRow &operator=(const PackedRow &other);
    PackedRow &operator=(PackedRow &&other) noexcept;
    ~PackedRow();

    // No values at all (a row not packed yet), as opposed to a row of nulls.
    bool Empty() const { return m_block == nullptr; }
    // The value of one field, as it was packed; an invalid QVariant past the last field.
    QVariant At(size_t field, const TextPool *pool = nullptr) const;
    // Every value, `fields` of them (nulls past the packed ones).
    std::vector<QVariant> Unpack(size_t fields, const TextPool *pool = nullptr) const;
    void Unpack(std::vector<QVariant> &values, size_t fields, const TextPool *pool = nullptr) const; // into a vector kept from row to row
    // Walks `fields` values in order without a copy of the texts: Text for a byte string that is not
    // null, Value for anything else (nulls past the packed ones).
    struct Visitor
    {
        virtual void Text(size_t field, const char *utf8, qsizetype size) = 0;
        virtual void Value(size_t field, const QVariant &value) = 0;

    protected:
        ~Visitor() = default;
    };
    void Visit(size_t fields, Visitor &visitor, const TextPool *pool = nullptr) const;
    // The same values packed the same way (a pooled text and the same text in the row differ).
    bool operator==(const PackedRow &other) const;
    bool operator!=(const PackedRow &other) const { return !(*this == other); }

private:
    // [uint32 size][per field: a tag byte and its payload]
    unsigned char *m_block = nullptr;
    uint32_t Size() const;
};

} // namespace vnd::recordset
