#include "host/json.h"

#include "host/errors.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace vnd {

void JsonWriter::Separator()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_first.empty()) {
        if (m_first.back())
            m_first.back() = false;
        else
            m_out.append(',');
    }
}

void JsonWriter::BeginObject()
{
    Separator();
    m_out.append('{');
    m_first.push_back(true);
}

void JsonWriter::EndObject()
{
    m_first.pop_back();
    m_out.append('}');
}

void JsonWriter::BeginArray()
{
    Separator();
    m_out.append('[');
    m_first.push_back(true);
}

void JsonWriter::EndArray()
{
    m_first.pop_back();
    m_out.append(']');
}

void JsonWriter::Key(const char *key)
{
    Separator();
    m_out.append('"').append(key).append("\":");
    m_afterKey = true;
}

namespace {
// Bytes a JSON string must escape: control characters, the quote and the backslash.
struct EscapeTable
{
    bool escape[256] = {};
    constexpr EscapeTable()
    {
        for (int c = 0; c < 0x20; ++c)
            escape[c] = true;
        escape[int('"')] = true;
        escape[int('\\')] = true;
    }
};
constexpr EscapeTable kEscape;

// The first quote or backslash in [p, end), or end. memchr scans many bytes a step; documents hold few
// of either.
const char *NextQuoteOrBackslash(const char *p, const char *end)
{
    const void *q = std::memchr(p, '"', size_t(end - p));
    const char *stop = q ? static_cast<const char *>(q) : end;
    const void *b = std::memchr(p, '\\', size_t(stop - p));
    return b ? static_cast<const char *>(b) : stop;
}
} // namespace

void JsonWriter::String(const QByteArray &utf8)
{
    Separator();
    static const char hex[] = "0123456789abcdef";
    // Grow by doubling: reserving the exact size on every call would copy the whole text again for each
    // string once an estimate is exceeded (a packet's escaped quotes always exceed it).
    const qsizetype needed = m_out.size() + utf8.size() + 16;
    if (m_out.capacity() < needed)
        m_out.reserve(std::max(needed, 2 * m_out.capacity()));
    m_out.append('"');
    const char *p = utf8.constData();
    const char *end = p + utf8.size();
    const char *run = p;
    for (; p < end; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (!kEscape.escape[c])
            continue;
        m_out.append(run, p - run);
        run = p + 1;
        switch (c) {
        case '"': m_out.append("\\\""); break;
        case '\\': m_out.append("\\\\"); break;
        case '\n': m_out.append("\\n"); break;
        case '\r': m_out.append("\\r"); break;
        case '\t': m_out.append("\\t"); break;
        default: {
            const char esc[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            m_out.append(esc, 6);
        }
        }
    }
    m_out.append(run, end - run);
    m_out.append('"');
}

void JsonWriter::Number(double value)
{
    Separator();
    if (!std::isfinite(value)) {
        m_out.append("null");
        return;
    }
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    m_out.append(buf, res.ptr - buf);
}

void JsonWriter::Integer(qint64 value)
{
    Separator();
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    m_out.append(buf, res.ptr - buf);
}

void JsonWriter::Bool(bool value)
{
    Separator();
    m_out.append(value ? "true" : "false");
}

void JsonWriter::Null()
{
    Separator();
    m_out.append("null");
}

void JsonWriter::Raw(const QByteArray &json)
{
    Separator();
    m_out.append(json);
}

JsonReader::JsonReader(const QByteArray &json) : m_json(json), m_p(m_json.constData()), m_len(m_json.size()) {}

void JsonReader::Fail(const char *what) const
{
    throw Exception(QStringLiteral("JSON inválido na posição %1: %2").arg(m_pos).arg(QString::fromUtf8(what)));
}

void JsonReader::SkipSpace()
{
    while (m_pos < m_len) {
        const char c = m_p[m_pos];
        if (c != ' ' && c != '\n' && c != '\r' && c != '\t')
            break;
        ++m_pos;
    }
}

JsonToken JsonReader::Peek()
{
    SkipSpace();
    if (m_pos >= m_len)
        return JsonToken::End;
    switch (m_p[m_pos]) {
    case '{': return JsonToken::ObjectBegin;
    case '}': return JsonToken::ObjectEnd;
    case '[': return JsonToken::ArrayBegin;
    case ']': return JsonToken::ArrayEnd;
    case '"': return JsonToken::String;
    case 't': return JsonToken::True;
    case 'f': return JsonToken::False;
    case 'n': return JsonToken::Null;
    default: return JsonToken::Number;
    }
}

// Deeper nesting than any packet or call needs; a hostile text of brackets would otherwise exhaust the
// stack of the recursive readers.
static constexpr size_t kMaxDepth = 200;

void JsonReader::ExpectObjectBegin()
{
    if (Peek() != JsonToken::ObjectBegin)
        Fail("objeto esperado");
    if (m_first.size() >= kMaxDepth)
        Fail("aninhamento profundo demais");
    ++m_pos;
    m_first.push_back(true);
}

void JsonReader::ExpectArrayBegin()
{
    if (Peek() != JsonToken::ArrayBegin)
        Fail("lista esperada");
    if (m_first.size() >= kMaxDepth)
        Fail("aninhamento profundo demais");
    ++m_pos;
    m_first.push_back(true);
}

bool JsonReader::NextKey(QByteArray &key)
{
    if (m_first.empty())
        Fail("chave fora de objeto");
    SkipSpace();
    if (m_pos < m_len && m_p[m_pos] == '}') {
        ++m_pos;
        m_first.pop_back();
        return false;
    }
    if (!m_first.back()) {
        if (m_pos >= m_len || m_p[m_pos] != ',')
            Fail("',' esperada");
        ++m_pos;
    }
    m_first.back() = false;
    if (Peek() != JsonToken::String)
        Fail("chave esperada");
    key = ReadString();
    SkipSpace();
    if (m_pos >= m_len || m_p[m_pos] != ':')
        Fail("':' esperado");
    ++m_pos;
    return true;
}

bool JsonReader::NextElement()
{
    if (m_first.empty())
        Fail("elemento fora de lista");
    SkipSpace();
    if (m_pos < m_len && m_p[m_pos] == ']') {
        ++m_pos;
        m_first.pop_back();
        return false;
    }
    if (!m_first.back()) {
        if (m_pos >= m_len || m_p[m_pos] != ',')
            Fail("',' esperada");
        ++m_pos;
    }
    m_first.back() = false;
    return true;
}

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

static void AppendUtf8(QByteArray &out, uint cp)
{
    if (cp < 0x80) {
        out.append(char(cp));
    } else if (cp < 0x800) {
        out.append(char(0xC0 | (cp >> 6)));
        out.append(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.append(char(0xE0 | (cp >> 12)));
        out.append(char(0x80 | ((cp >> 6) & 0x3F)));
        out.append(char(0x80 | (cp & 0x3F)));
    } else {
        out.append(char(0xF0 | (cp >> 18)));
        out.append(char(0x80 | ((cp >> 12) & 0x3F)));
        out.append(char(0x80 | ((cp >> 6) & 0x3F)));
        out.append(char(0x80 | (cp & 0x3F)));
    }
}

QByteArray JsonReader::ReadString()
{
    if (Peek() != JsonToken::String)
        Fail("texto esperado");
    ++m_pos;
    const qsizetype start = m_pos;
    // Fast path: no escapes.
    const void *quote = std::memchr(m_p + m_pos, '"', m_len - m_pos);
    if (!quote)
        Fail("texto sem fim");
    const qsizetype qpos = static_cast<const char *>(quote) - m_p;
    if (!std::memchr(m_p + start, '\\', qpos - start)) {
        m_pos = qpos + 1;
        return QByteArray(m_p + start, qpos - start);
    }
    QByteArray out;
    out.reserve(qpos - start + 64);
    while (true) {
        if (m_pos >= m_len)
            Fail("texto sem fim");
        const char c = m_p[m_pos];
        if (c == '"') {
            ++m_pos;
            return out;
        }
        if (c != '\\') {
            // Copy the run up to the next quote or backslash in one go.
            const qsizetype e = NextQuoteOrBackslash(m_p + m_pos, m_p + m_len) - m_p;
            out.append(m_p + m_pos, e - m_pos);
            m_pos = e;
            continue;
        }
        if (++m_pos >= m_len)
            Fail("escape incompleto");
        const char e = m_p[m_pos++];
        switch (e) {
        case '"': out.append('"'); break;
        case '\\': out.append('\\'); break;
        case '/': out.append('/'); break;
        case 'b': out.append('\b'); break;
        case 'f': out.append('\f'); break;
        case 'n': out.append('\n'); break;
        case 'r': out.append('\r'); break;
        case 't': out.append('\t'); break;
        case 'u': {
            auto hex4 = [this]() {
                if (m_pos + 4 > m_len)
                    Fail("escape \\u incompleto");
                int v = 0;
                for (int i = 0; i < 4; ++i) {
                    const int d = HexDigit(m_p[m_pos + i]);
                    if (d < 0)
                        Fail("escape \\u inválido");
                    v = v * 16 + d;
                }
                m_pos += 4;
                return uint(v);
            };
            uint cp = hex4();
            if (cp >= 0xD800 && cp < 0xDC00 && m_pos + 6 <= m_len && m_p[m_pos] == '\\' && m_p[m_pos + 1] == 'u') {
                m_pos += 2;
                const uint lo = hex4();
                if (lo >= 0xDC00 && lo < 0xE000)
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                else {
                    AppendUtf8(out, cp);
                    cp = lo;
                }
            }
            AppendUtf8(out, cp);
            break;
        }
        default: Fail("escape inválido");
        }
    }
}

double JsonReader::ReadNumber()
{
    SkipSpace();
    const char *b = m_p + m_pos;
    double v = 0;
    auto res = std::from_chars(b, m_p + m_len, v);
    if (res.ec != std::errc())
        Fail("número esperado");
    m_pos = res.ptr - m_p;
    return v;
}

qint64 JsonReader::ReadInteger()
{
    SkipSpace();
    const char *b = m_p + m_pos;
    qint64 v = 0;
    auto res = std::from_chars(b, m_p + m_len, v);
    if (res.ec != std::errc() || (res.ptr < m_p + m_len && (*res.ptr == '.' || *res.ptr == 'e' || *res.ptr == 'E'))) {
        const double d = ReadNumber();
        return static_cast<qint64>(d);
    }
    m_pos = res.ptr - m_p;
    return v;
}

bool JsonReader::ReadBool()
{
    const JsonToken t = Peek();
    if (t == JsonToken::True && m_len - m_pos >= 4 && std::memcmp(m_p + m_pos, "true", 4) == 0) {
        m_pos += 4;
        return true;
    }
    if (t == JsonToken::False && m_len - m_pos >= 5 && std::memcmp(m_p + m_pos, "false", 5) == 0) {
        m_pos += 5;
        return false;
    }
    Fail("booleano esperado");
}

bool JsonReader::ReadNullIf()
{
    if (Peek() != JsonToken::Null)
        return false;
    if (m_len - m_pos < 4 || std::memcmp(m_p + m_pos, "null", 4) != 0)
        Fail("null esperado");
    m_pos += 4;
    return true;
}

void JsonReader::SkipValue()
{
    switch (Peek()) {
    case JsonToken::ObjectBegin: {
        ExpectObjectBegin();
        QByteArray key;
        while (NextKey(key))
            SkipValue();
        break;
    }
    case JsonToken::ArrayBegin:
        ExpectArrayBegin();
        while (NextElement())
            SkipValue();
        break;
    case JsonToken::String: SkipString(); break;
    case JsonToken::True:
    case JsonToken::False: ReadBool(); break;
    case JsonToken::Null: ReadNullIf(); break;
    case JsonToken::Number: ReadNumber(); break;
    default: Fail("valor esperado");
    }
}

void JsonReader::SkipString()
{
    ++m_pos; // the opening quote (Peek saw it)
    while (true) {
        const qsizetype at = NextQuoteOrBackslash(m_p + m_pos, m_p + m_len) - m_p;
        if (at >= m_len)
            Fail("texto sem fim");
        if (m_p[at] == '"') {
            m_pos = at + 1;
            return;
        }
        // A backslash takes the next character with it, whatever it is (a quote included).
        if (at + 1 >= m_len)
            Fail("escape incompleto");
        m_pos = at + 2;
    }
}

QByteArray JsonReader::ReadRaw()
{
    SkipSpace();
    const qsizetype start = m_pos;
    SkipValue();
    return m_json.mid(start, m_pos - start);
}

QVariant JsonReader::ReadVariant()
{
    switch (Peek()) {
    case JsonToken::ObjectBegin: {
        QVariantMap map;
        ExpectObjectBegin();
        QByteArray key;
        while (NextKey(key))
            map.insert(QString::fromUtf8(key), ReadVariant());
        return map;
    }
    case JsonToken::ArrayBegin: {
        QVariantList list;
        ExpectArrayBegin();
        while (NextElement())
            list.append(ReadVariant());
        return list;
    }
    case JsonToken::String: return QString::fromUtf8(ReadString());
    case JsonToken::True:
    case JsonToken::False: return ReadBool();
    case JsonToken::Null: ReadNullIf(); return QVariant();
    case JsonToken::Number: return ReadNumber();
    default: Fail("valor esperado");
    }
}

} // namespace vnd
