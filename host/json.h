#pragma once
// A small JSON writer and pull reader over UTF-8 bytes. Data packets and remote calls are the only users;
// they need speed on multi-megabyte texts and the raw bytes of nested values, which a DOM does not give.

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace vnd {

class JsonWriter
{
public:
    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    void Key(const char *key);
    void String(const QByteArray &utf8);
    void String(const char *utf8, qsizetype size);
    void String(const QString &text) { String(text.toUtf8()); }
    void Number(double value);
    void Integer(qint64 value);
    void Bool(bool value);
    void Null();
    // Inserts an already serialised JSON value as is.
    void Raw(const QByteArray &json);

    const QByteArray &Bytes() const { return m_out; }
    QByteArray Take() { return std::move(m_out); }
    void Reserve(qsizetype n) { m_out.reserve(n); }

private:
    void Separator();
    QByteArray m_out;
    // One flag per open container: true until its first member was written.
    std::vector<bool> m_first;
    bool m_afterKey = false;
};

enum class JsonToken { ObjectBegin, ObjectEnd, ArrayBegin, ArrayEnd, String, Number, True, False, Null, End };

// Pull reader. Errors (malformed text, unexpected token) raise Exception with the byte offset.
class JsonReader
{
public:
    explicit JsonReader(const QByteArray &json);

    JsonToken Peek();
    void ExpectObjectBegin();
    void ExpectArrayBegin();
    // Inside an object: the next key, or false at the end of the object (which is consumed).
    bool NextKey(QByteArray &key);
    // Inside an array: true when another element follows; false at the end (consumed).
    bool NextElement();
    QByteArray ReadString();
    double ReadNumber();
    qint64 ReadInteger();
    bool ReadBool();
    // Reads a null and returns true, or returns false without consuming.
    bool ReadNullIf();
    // Skips one value and returns its raw text.
    QByteArray ReadRaw();
    // Skips one value without copying it; Offset() before (after Peek) and after bound its text.
    void Skip() { SkipValue(); }
    // A scalar or container as a QVariant: strings as QString, numbers as double, objects as QVariantMap,
    // arrays as QVariantList.
    QVariant ReadVariant();
    qsizetype Offset() const { return m_pos; }
    [[noreturn]] void Fail(const char *what) const;

private:
    void SkipSpace();
    void SkipValue();
    // Past a string without building it: skipping a data packet should cost a scan, not a copy.
    void SkipString();
    // The offset of the closing quote of the string whose text starts at pos; escapes: whether it has any.
    qsizetype StringEnd(qsizetype pos, bool *escapes = nullptr) const;
    const QByteArray m_json;
    const char *m_p;
    qsizetype m_pos = 0;
    qsizetype m_len;
    // Per open container: whether its first element/member was read.
    std::vector<bool> m_first;
};

} // namespace vnd
