// The check of raw XML text before pugixml reads it: what the parser would accept but XML forbids, and
// what it would keep changed (an unknown entity stays as text and is written back as "&amp;...").

#include "xml/xmlinternal.h"

#include <algorithm>
#include <bit>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace vnd::xmlimpl
{

namespace
{

bool IsXmlChar(uint32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A byte below 0x20 other than tab, line feed and carriage return: XML has no such character.
bool IsControl(char c)
{
    return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

// The bytes a search stops at: the wanted ones and the control characters.
template <char... Wanted> struct StopSet {
    bool stop[256] = {};
    constexpr StopSet()
    {
        for (int c = 0; c < 0x20; ++c)
            stop[c] = c != '\t' && c != '\n' && c != '\r';
        ((stop[static_cast<unsigned char>(Wanted)] = true), ...);
    }
};
template <char... Wanted> inline constexpr StopSet<Wanted...> kStops;

// First byte at or after p that is one of Wanted or a control character, or end. Most runs between
// such bytes are short (a tag name, a number), so the first bytes are looked at one by one; longer
// runs (names, codes, signatures) are searched sixteen bytes at a time.
template <char... Wanted> const char *Find(const char *p, const char *end)
{
    const bool *stop = kStops<Wanted...>.stop;
    auto at = [&](int i) { return stop[static_cast<unsigned char>(p[i])]; };
    if (end - p >= 16) {
        // Four bytes per test: one branch instead of four.
        for (int n = 0; n < 4; ++n, p += 4) {
            if (at(0) | at(1) | at(2) | at(3))
                return p + (at(0) ? 0 : at(1) ? 1 : at(2) ? 2 : 3);
        }
    }
#if defined(__SSE2__)
    const __m128i below = _mm_set1_epi8(0x1F);
    const __m128i tab = _mm_set1_epi8('\t'), lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    while (end - p >= 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        // Bytes up to 0x1F, less the three white-space ones, and the wanted ones.
        __m128i hit = _mm_cmpeq_epi8(_mm_max_epu8(x, below), below);
        hit = _mm_andnot_si128(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, tab), _mm_cmpeq_epi8(x, lf)), _mm_cmpeq_epi8(x, cr)), hit);
        ((hit = _mm_or_si128(hit, _mm_cmpeq_epi8(x, _mm_set1_epi8(Wanted)))), ...);
        if (const int mask = _mm_movemask_epi8(hit))
            return p + std::countr_zero(unsigned(mask));
        p += 16;
    }
#endif
    while (p < end && !stop[static_cast<unsigned char>(*p)])
        ++p;
    return p;
}

// Reads the raw text the way the parser will and stops at what the parser would let through: an
// undefined entity, a bad character reference, a control character, "<" in an attribute value, a
// DOCTYPE. Markup errors (tags, nesting) are left to the parser, which reports them better.
// On the way it follows the structure and notes the first fault of a tree that the parser builds
// without complaint (several roots, text outside the root, a misplaced declaration, a repeated
// attribute, too deep a nesting); that one counts only once the parser has accepted the text.
class Scanner
{
  public:
    Scanner(const char *text, qsizetype size) : m_base(text), m_end(text + size) {}

    ScanResult Run()
    {
        TopLevelText(m_base);
        for (const char *p = m_base; p && p < m_end;) {
            p = Find<'<', '&'>(p, m_end);
            if (p == m_end)
                break;
            if (*p == '&') {
                p = Reference(p);
            } else if (*p == '<') {
                p = Markup(p);
                m_started = true;
                if (m_open == 0 && p)
                    TopLevelText(p);
            } else {
                p = Control(p);
            }
        }
        if (m_roots == 0)
            Defer(m_end, QStringLiteral("documento sem elemento raiz"));
        return m_result;
    }

  private:
    // Records a fault; returns nullptr so that callers can stop with "return Stop(...)".
    const char *Stop(const char *at, const QString &reason)
    {
        m_result.offset = at - m_base;
        m_result.reason = reason;
        return nullptr;
    }

    // Notes a fault of the tree; the first one in the text is kept.
    void Defer(const char *at, const QString &reason)
    {
        if (m_result.treeOffset < 0) {
            m_result.treeOffset = at - m_base;
            m_result.treeReason = reason;
        }
    }

    // Outside the root only white space may stand between markup.
    void TopLevelText(const char *p)
    {
        for (const char *q = p; q < m_end && *q != '<'; ++q) {
            if (!IsSpace(*q)) {
                Defer(p, QStringLiteral("texto fora do elemento raiz"));
                m_started = true;
                return;
            }
        }
    }

    const char *Control(const char *p)
    {
        return Stop(p, QStringLiteral("caractere de controle 0x%1 não permitido em XML")
                           .arg(static_cast<unsigned char>(*p), 2, 16, QLatin1Char('0')));
    }

    bool StartsWith(const char *p, const char *prefix) const
    {
        const qsizetype n = qsizetype(std::strlen(prefix));
        return m_end - p >= n && std::memcmp(p, prefix, size_t(n)) == 0;
    }

    QString Excerpt(const char *p) const
    {
        qsizetype n = 0;
        while (p + n < m_end && n < 24 && p[n] != ';' && p[n] != '<' && p[n] != '\n')
            ++n;
        if (p + n < m_end && p[n] == ';')
            ++n;
        return QString::fromUtf8(p, n);
    }

    // A character that a reference puts into a value: the writers differ on some of them.
    void NoteDecoded(uint32_t c)
    {
        if (c < 0x20 || (c == '>' && m_inAttribute))
            m_result.pugixmlWriter = false;
    }

    // p[0] == '&': past the reference, or nullptr when it is not one the parser decodes.
    const char *Reference(const char *p)
    {
        const char *q = p + 1;
        if (q < m_end && *q == '#') {
            ++q;
            const bool hex = q < m_end && *q == 'x';
            if (hex)
                ++q;
            uint32_t value = 0;
            const char *digits = q;
            for (; q < m_end && q - digits < 8; ++q) {
                const char c = *q;
                int d;
                if (c >= '0' && c <= '9')
                    d = c - '0';
                else if (hex && c >= 'a' && c <= 'f')
                    d = c - 'a' + 10;
                else if (hex && c >= 'A' && c <= 'F')
                    d = c - 'A' + 10;
                else
                    break;
                value = value * (hex ? 16 : 10) + uint32_t(d);
            }
            if (q > digits && q < m_end && *q == ';' && IsXmlChar(value)) {
                NoteDecoded(value);
                return q + 1;
            }
            return Stop(p, QStringLiteral("referência de caractere inválida \"%1\"").arg(Excerpt(p)));
        }
        for (const char *name : {"amp;", "lt;", "gt;", "quot;", "apos;"}) {
            if (StartsWith(q, name)) {
                if (name[0] == 'g')
                    NoteDecoded('>');
                return q + std::strlen(name);
            }
        }
        if (q < m_end && *q != ' ' && *q != '<')
            return Stop(p, QStringLiteral("entidade não definida \"%1\"").arg(Excerpt(p)));
        return Stop(p, QStringLiteral("caractere \"&\" sem referência (use &amp;)"));
    }

    // p[0] == '<'.
    const char *Markup(const char *p)
    {
        const char *next = p + 1;
        if (next == m_end)
            return next;
        if (*next == '?') {
            if (IsDeclaration(p + 2) && m_started)
                Defer(p + 2, QStringLiteral("declaração XML fora do início do documento"));
            return Section(p, "?>", 2);
        }
        if (*next == '!') {
            if (StartsWith(p, "<!--"))
                return Section(p, "-->", 4);
            if (StartsWith(p, "<![CDATA[")) {
                if (m_open == 0)
                    Defer(p + 9, QStringLiteral("texto fora do elemento raiz"));
                return Section(p, "]]>", 9);
            }
            if (StartsWith(p, "<!DOCTYPE"))
                return Stop(p, QStringLiteral("declaração DOCTYPE não é aceita"));
            return next;
        }
        if (*next == '/')
            return EndTag(next + 1);
        return Tag(next);
    }

    // Whether a processing instruction's target at p is "xml", which the parser takes as a declaration.
    bool IsDeclaration(const char *p) const
    {
        if (m_end - p < 4 || (p[0] | 0x20) != 'x' || (p[1] | 0x20) != 'm' || (p[2] | 0x20) != 'l')
            return false;
        return p[3] == '?' || IsSpace(p[3]);
    }

    // The rest of an end tag, p just after "</". Inside the root the scan simply goes on as in text:
    // a name holds neither "<" nor "&", and the parser checks the name and the ">". The end of the root
    // is read to its ">", for what follows is checked as text outside the root.
    const char *EndTag(const char *p)
    {
        if (m_open > 1) {
            --m_open;
            return p;
        }
        m_open = 0;
        p = Find<'>', '<'>(p, m_end);
        if (p == m_end || *p == '<')
            return p;
        return *p == '>' ? p + 1 : Control(p);
    }

    // A comment, CDATA section or processing instruction: its content is not markup, but control
    // characters are faults there too. Unterminated, the scan goes on and the parser reports it.
    const char *Section(const char *p, const char *terminator, qsizetype opening)
    {
        const qsizetype n = qsizetype(std::strlen(terminator));
        const void *found = memmem(p + opening, size_t(m_end - p - opening), terminator, size_t(n));
        if (!found)
            return p + 1;
        const char *stop = static_cast<const char *>(found);
        const char *control = Find<>(p + opening, stop);
        return control < stop ? Control(control) : stop + n;
    }

    // The inside of a start tag, p just after "<": its attribute values are checked like text, and
    // may not hold "<" (the parser would take it as a character).
    const char *Tag(const char *p)
    {
        const char *name = p;
        if (m_open == 0 && ++m_roots > 1)
            Defer(name, QStringLiteral("mais de um elemento raiz"));
        if (m_open + 1 > vnd::kMaxXmlDepth)
            Defer(name, QStringLiteral("elementos aninhados em mais de %1 níveis").arg(vnd::kMaxXmlDepth));
        m_attributes.clear();
        for (;;) {
            p = Find<'>', '"', '\'', '<'>(p, m_end);
            if (p == m_end || *p == '<')
                return p;
            const char c = *p;
            if (c == '>') {
                if (p[-1] != '/')
                    ++m_open;
                return p + 1;
            }
            if (IsControl(c))
                return Control(p);
            NoteAttribute(name, p);
            p = Value(p + 1, c);
            if (!p || p == m_end)
                return p;
            ++p;
        }
    }

    // An attribute value after its opening quote: at its closing quote (or the end of the text), or
    // nullptr after a fault.
    const char *Value(const char *p, char quote)
    {
        for (;;) {
            p = quote == '"' ? Find<'"', '<', '&', '>'>(p, m_end) : Find<'\'', '<', '&', '>'>(p, m_end);
            if (p == m_end || *p == quote)
                return p;
            switch (*p) {
            case '>':
                m_result.pugixmlWriter = false;
                ++p;
                break;
            case '<':
                return Stop(p, QStringLiteral("caractere \"<\" dentro do valor de um atributo"));
            case '&':
                m_inAttribute = true;
                p = Reference(p);
                m_inAttribute = false;
                if (!p)
                    return nullptr;
                break;
            default:
                return Control(p);
            }
        }
    }

    // The attribute whose value opens with the quote at `quote`, in the start tag whose element name is at
    // `element`: noted when the element already has an attribute of that name. The name is read back
    // from the quote over "=" and white space; in a malformed tag the parser reports the fault.
    void NoteAttribute(const char *element, const char *quote)
    {
        const char *e = quote;
        while (e > element && IsSpace(e[-1]))
            --e;
        if (e == element || e[-1] != '=')
            return;
        --e;
        while (e > element && IsSpace(e[-1]))
            --e;
        const char *nameEnd = e;
        while (e > element && !IsSpace(e[-1]) && e[-1] != '"' && e[-1] != '\'')
            --e;
        const std::string_view attribute(e, size_t(nameEnd - e));
        // Elements carry a handful of attributes: comparing each pair costs less than hashing.
        bool repeated;
        if (m_attributes.size() < 64) {
            repeated = std::find(m_attributes.begin(), m_attributes.end(), attribute) != m_attributes.end();
        } else {
            if (m_attributeSetFor != element) {
                m_attributeSet = std::unordered_set<std::string_view>(m_attributes.begin(), m_attributes.end());
                m_attributeSetFor = element;
            }
            repeated = !m_attributeSet.insert(attribute).second;
        }
        m_attributes.push_back(attribute);
        if (repeated) {
            const char *elementEnd = element;
            while (elementEnd < m_end && !IsSpace(*elementEnd) && *elementEnd != '/' && *elementEnd != '>')
                ++elementEnd;
            Defer(element, QStringLiteral("atributo \"%1\" repetido no elemento \"%2\"")
                               .arg(QString::fromUtf8(attribute.data(), qsizetype(attribute.size())),
                                    QString::fromUtf8(element, elementEnd - element)));
        }
    }

    const char *m_base;
    const char *m_end;
    ScanResult m_result;
    bool m_inAttribute = false;
    // Open elements, root elements seen, and whether anything but white space came yet.
    int m_open = 0;
    int m_roots = 0;
    bool m_started = false;
    // The attribute names of the start tag being read; a set once there are very many of them.
    std::vector<std::string_view> m_attributes;
    std::unordered_set<std::string_view> m_attributeSet;
    const char *m_attributeSetFor = nullptr;
};

} // namespace

ScanResult ScanText(const char *text, qsizetype size)
{
    return Scanner(text, size).Run();
}

} // namespace vnd::xmlimpl
