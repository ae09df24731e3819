#pragma once
// A row of the record set held as one block of bytes (internal to host/recordset*.cpp): a list of a
// million sales keeps a few hundred bytes per row instead of a QVariant and a heap text per field.

#include <QVariant>

#include <cstdint>
#include <vector>

namespace vnd::recordset {

class PackedRow
{
public:
    PackedRow() = default;
    explicit PackedRow(const std::vector<QVariant> &values);
    PackedRow(const PackedRow &other);
    PackedRow(PackedRow &&other) noexcept : m_block(other.m_block) { other.m_block = nullptr; }
    PackedRow &operator=(const PackedRow &other);
    PackedRow &operator=(PackedRow &&other) noexcept;
    ~PackedRow();

    // No values at all (a row not packed yet), as opposed to a row of nulls.
    bool Empty() const { return m_block == nullptr; }
    // The value of one field, as it was packed; an invalid QVariant past the last field.
    QVariant At(size_t field) const;
    // Every value, `fields` of them (nulls past the packed ones).
    std::vector<QVariant> Unpack(size_t fields) const;
    void Unpack(std::vector<QVariant> &values, size_t fields) const; // into a vector kept from row to row
    // Walks `fields` values in order without a copy of the texts: Text for a byte string that is not
    // null, Value for anything else (nulls past the packed ones).
    struct Visitor
    {
        virtual void Text(size_t field, const char *utf8, qsizetype size) = 0;
        virtual void Value(size_t field, const QVariant &value) = 0;

    protected:
        ~Visitor() = default;
    };
    void Visit(size_t fields, Visitor &visitor) const;
    // The same values packed the same way.
    bool operator==(const PackedRow &other) const;
    bool operator!=(const PackedRow &other) const { return !(*this == other); }

private:
    // [uint32 size][per field: a tag byte and its payload]
    unsigned char *m_block = nullptr;
    uint32_t Size() const;
};

} // namespace vnd::recordset
