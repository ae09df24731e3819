#include "host/json.h"

#include "host/errors.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

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
// Strings are scanned sixteen bytes a step: documents are long runs of plain text between quotes.
#ifdef __SSE2__
struct Block
{
    explicit Block(const char *p) : x(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p))) {}
    unsigned Equal(char c) const { return unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8(c)))); }
    unsigned Controls() const // bytes 0x00..0x1F
    {
        const __m128i top = _mm_set1_epi8(0x1F);
        return unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(x, top), top)));
    }
    void Store(char *o) const { _mm_storeu_si128(reinterpret_cast<__m128i *>(o), x); }
    __m128i x;
};
#endif

bool NeedsEscape(unsigned char c) { return c == '"' || c == '\\' || c < 0x20; }

// Writes the escape of a byte that NeedsEscape at o; returns the end.
char *PutEscape(char *o, unsigned char c)
{
    static const char hex[] = "0123456789abcdef";
    *o++ = '\\';
    switch (c) {
    case '"': *o++ = '"'; break;
    case '\\': *o++ = '\\'; break;
    case '\n': *o++ = 'n'; break;
    case '\r': *o++ = 'r'; break;
    case '\t': *o++ = 't'; break;
    default:
        *o++ = 'u';
        *o++ = '0';
        *o++ = '0';
        *o++ = hex[c >> 4];
        *o++ = hex[c & 15];
    }
    return o;
}

// Length of the escaped text of [p, end), quotes around it not counted.
qsizetype EscapedLength(const char *p, const char *end)
{
    qsizetype size = end - p;
#ifdef __SSE2__
    for (; end - p >= 16; p += 16) {
        const Block b(p);
        const unsigned controls = b.Controls();
        const unsigned special = b.Equal('"') | b.Equal('\\') | controls;
        if (!special) // most blocks
            continue;
        const unsigned shortControls = b.Equal('\n') | b.Equal('\r') | b.Equal('\t');
        // Bit by bit: few are set, and a population count is no single instruction on every machine.
        for (unsigned m = special; m; m &= m - 1)
            ++size;
        for (unsigned m = controls & ~shortControls; m; m &= m - 1)
            size += 4;
    }
#endif
    for (; p < end; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (NeedsEscape(c))
            size += (c == '"' || c == '\\' || c == '\n' || c == '\r' || c == '\t') ? 1 : 5;
    }
    return size;
}
} // namespace

void JsonWriter::String(const QByteArray &utf8) { String(utf8.constData(), utf8.size()); }

void JsonWriter::String(const char *p, qsizetype n)
{
    Separator();
    const char *end = p + n;
    // The escaped size first, so the text goes straight into its place: documents hold many quotes, and
    // appending run by run cost more than scanning twice.
    const qsizetype size = EscapedLength(p, end) + 2;
    const qsizetype at = m_out.size();
    // Room for a whole block past the end (blocks are stored before their escapes are known). Grow by
    // doubling: reserving the exact size on every call would copy the whole text again for each string
    // once an estimate is exceeded.
    if (m_out.capacity() < at + size + 16)
        m_out.reserve(std::max(at + size + 16, 2 * m_out.capacity()));
    m_out.resize(at + size);
    char *o = m_out.data() + at;
    *o++ = '"';
#ifdef __SSE2__
    while (end - p >= 16) {
        const Block b(p);
        b.Store(o);
        const unsigned special = b.Equal('"') | b.Equal('\\') | b.Controls();
        if (!special) {
            p += 16;
            o += 16;
            continue;
        }
        const int i = __builtin_ctz(special);
        o = PutEscape(o + i, static_cast<unsigned char>(p[i]));
        p += i + 1;
    }
#endif
    for (; p < end; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (NeedsEscape(c))
            o = PutEscape(o, c);
        else
            *o++ = char(c);
    }
    *o++ = '"';
    *o = '\0'; // a block stored past the end may have covered the terminator
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

// Writes the code point as UTF-8 at o; returns the end.
static char *PutUtf8(char *o, uint cp)
{
    if (cp < 0x80) {
        *o++ = char(cp);
    } else if (cp < 0x800) {
        *o++ = char(0xC0 | (cp >> 6));
        *o++ = char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *o++ = char(0xE0 | (cp >> 12));
        *o++ = char(0x80 | ((cp >> 6) & 0x3F));
        *o++ = char(0x80 | (cp & 0x3F));
    } else {
        *o++ = char(0xF0 | (cp >> 18));
        *o++ = char(0x80 | ((cp >> 12) & 0x3F));
        *o++ = char(0x80 | ((cp >> 6) & 0x3F));
        *o++ = char(0x80 | (cp & 0x3F));
    }
    return o;
}

// Copies [p, first backslash or stop) to o and advances o; returns where it stopped.
static const char *CopyToBackslash(const char *p, const char *stop, char *&o)
{
#ifdef __SSE2__
    for (; stop - p >= 16; p += 16, o += 16) {
        const Block b(p);
        b.Store(o);
        if (const unsigned slash = b.Equal('\\')) {
            const int i = __builtin_ctz(slash);
            o += i;
            return p + i;
        }
    }
#endif
    const void *b = std::memchr(p, '\\', size_t(stop - p));
    const char *q = b ? static_cast<const char *>(b) : stop;
    std::memcpy(o, p, size_t(q - p));
    o += q - p;
    return q;
}

// Where the string that starts at pos (past its opening quote) ends: the offset of its closing quote.
qsizetype JsonReader::StringEnd(qsizetype pos, bool *escapes) const
{
    bool taken = false; // a backslash took the byte at pos
    bool any = false;
#ifdef __SSE2__
    for (; m_len - pos >= 16; pos += 16) {
        const Block b(m_p + pos);
        unsigned special = b.Equal('"') | b.Equal('\\');
        if (taken) {
            special &= ~1u;
            taken = false;
        }
        while (special) {
            const int i = __builtin_ctz(special);
            if (m_p[pos + i] == '"') {
                if (escapes)
                    *escapes = any;
                return pos + i;
            }
            any = true;
            // A backslash takes the next character with it, whatever it is (a quote included).
            if (i == 15) {
                taken = true;
                break;
            }
            special &= ~(3u << i);
        }
    }
#endif
    if (taken)
        ++pos;
    while (true) {
        if (pos >= m_len)
            Fail(taken ? "escape incompleto" : "texto sem fim");
        const char c = m_p[pos];
        if (c == '"') {
            if (escapes)
                *escapes = any;
            return pos;
        }
        if (c == '\\') {
            any = true;
            if (pos + 1 >= m_len)
                Fail("escape incompleto");
            pos += 2;
        } else {
            ++pos;
        }
    }
}

QByteArray JsonReader::ReadString()
{
    if (Peek() != JsonToken::String)
        Fail("texto esperado");
    const qsizetype start = ++m_pos;
    bool escapes = false;
    const qsizetype end = StringEnd(start, &escapes);
    const char *stop = m_p + end;
    const char *p = m_p + start;
    if (!escapes) {
        m_pos = end + 1;
        return QByteArray(p, end - start);
    }
    // Every escape is longer than what it stands for, so the escaped length is room enough, with a block
    // to spare for the block copies.
    QByteArray out(end - start + 16, Qt::Uninitialized);
    char *o = out.data();
    while (true) {
        const char *b = CopyToBackslash(p, stop, o);
        if (b == stop)
            break;
        m_pos = b + 1 - m_p; // StringEnd saw the character after every backslash
        const char e = m_p[m_pos++];
        switch (e) {
        case '"': *o++ = '"'; break;
        case '\\': *o++ = '\\'; break;
        case '/': *o++ = '/'; break;
        case 'b': *o++ = '\b'; break;
        case 'f': *o++ = '\f'; break;
        case 'n': *o++ = '\n'; break;
        case 'r': *o++ = '\r'; break;
        case 't': *o++ = '\t'; break;
        case 'u': {
            auto hex4 = [this, end]() {
                if (m_pos + 4 > end)
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
            if (cp >= 0xD800 && cp < 0xDC00 && m_pos + 6 <= end && m_p[m_pos] == '\\' && m_p[m_pos + 1] == 'u') {
                m_pos += 2;
                const uint lo = hex4();
                if (lo >= 0xDC00 && lo < 0xE000)
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                else {
                    o = PutUtf8(o, cp);
                    cp = lo;
                }
            }
            o = PutUtf8(o, cp);
            break;
        }
        default: Fail("escape inválido");
        }
        p = m_p + m_pos;
    }
    out.truncate(o - out.data());
    m_pos = end + 1;
    return out;
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
    m_pos = StringEnd(m_pos + 1) + 1; // past the opening quote (Peek saw it), then past the closing one
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
