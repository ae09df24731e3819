// The check of raw XML text before pugixml reads it: what the parser would accept but XML forbids, and
// what it would keep changed (an unknown entity stays as text and is written back as "&amp;...").

#include "xml/xmlinternal.h"

#include <bit>
#include <cstring>

namespace vnd::xmlimpl
{

namespace
{

enum : unsigned char { kPlain, kControl, kAmpersand, kLess };

struct ByteClasses {
    unsigned char cls[256] = {};
    ByteClasses()
    {
        for (int c = 0; c < 0x20; ++c)
            cls[c] = kControl;
        cls['\t'] = cls['\n'] = cls['\r'] = kPlain;
        cls['&'] = kAmpersand;
        cls['<'] = kLess;
    }
};
const ByteClasses kClasses;

bool IsXmlChar(uint32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// First byte at or after p that is "<", "&" or below 0x20. Eight bytes are tested at a time: almost
// every byte of a document is plain text.
const char *SkipPlain(const char *p, const char *end)
{
    if constexpr (std::endian::native == std::endian::little) {
        constexpr uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
        while (end - p >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            const uint64_t lt = w ^ (ones * '<'), amp = w ^ (ones * '&');
            // Each term marks the bytes equal to zero (or below 0x20); the lowest mark is exact.
            const uint64_t hit =
                (((lt - ones) & ~lt) | ((amp - ones) & ~amp) | ((w - ones * 0x20) & ~w)) & highs;
            if (hit)
                return p + std::countr_zero(hit) / 8;
            p += 8;
        }
    }
    while (p < end && kClasses.cls[static_cast<unsigned char>(*p)] == kPlain)
        ++p;
    return p;
}

bool IsControl(char c)
{
    return kClasses.cls[static_cast<unsigned char>(c)] == kControl;
}

// Reads the raw text the way the parser will and stops at what the parser would let through: an
// undefined entity, a bad character reference, a control character, "<" in an attribute value, a
// DOCTYPE. Markup errors (tags, nesting) are left to the parser, which reports them better.
class Scanner
{
  public:
    Scanner(const char *text, qsizetype size) : m_base(text), m_end(text + size) {}

    ScanFault Run()
    {
        for (const char *p = m_base; p && p < m_end;) {
            p = SkipPlain(p, m_end);
            if (p == m_end)
                break;
            switch (kClasses.cls[static_cast<unsigned char>(*p)]) {
            case kPlain: // a tab or a line break
                ++p;
                break;
            case kControl:
                p = Control(p);
                break;
            case kAmpersand:
                p = Reference(p);
                break;
            default:
                p = Markup(p);
                break;
            }
        }
        return m_fault;
    }

  private:
    // Records a fault; returns nullptr so that callers can stop with "return Stop(...)".
    const char *Stop(const char *at, const QString &reason)
    {
        m_fault.offset = at - m_base;
        m_fault.reason = reason;
        return nullptr;
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
            if (q > digits && q < m_end && *q == ';' && IsXmlChar(value))
                return q + 1;
            return Stop(p, QStringLiteral("referência de caractere inválida \"%1\"").arg(Excerpt(p)));
        }
        for (const char *name : {"amp;", "lt;", "gt;", "quot;", "apos;"}) {
            if (StartsWith(q, name))
                return q + std::strlen(name);
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
        if (*next == '?')
            return Section(p, "?>", 2);
        if (*next == '!') {
            if (StartsWith(p, "<!--"))
                return Section(p, "-->", 4);
            if (StartsWith(p, "<![CDATA["))
                return Section(p, "]]>", 9);
            if (StartsWith(p, "<!DOCTYPE"))
                return Stop(p, QStringLiteral("declaração DOCTYPE não é aceita"));
            return next;
        }
        if (*next == '/')
            return next;
        return Tag(next);
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
        for (const char *c = p + opening; c < stop; ++c) {
            if (IsControl(*c))
                return Control(c);
        }
        return stop + n;
    }

    // The inside of a start tag, p just after "<": its attribute values are checked like text, and
    // may not hold "<" (the parser would take it as a character).
    const char *Tag(const char *p)
    {
        while (p < m_end) {
            const char c = *p;
            if (c == '>')
                return p + 1;
            if (c == '<')
                return p;
            if (IsControl(c))
                return Control(p);
            if (c != '"' && c != '\'') {
                ++p;
                continue;
            }
            for (++p; p < m_end && *p != c;) {
                if (*p == '<')
                    return Stop(p, QStringLiteral("caractere \"<\" dentro do valor de um atributo"));
                if (*p == '&') {
                    p = Reference(p);
                    if (!p)
                        return nullptr;
                    continue;
                }
                if (IsControl(*p))
                    return Control(p);
                ++p;
            }
            if (p < m_end)
                ++p;
        }
        return p;
    }

    const char *m_base;
    const char *m_end;
    ScanFault m_fault;
};

} // namespace

ScanFault ScanText(const char *text, qsizetype size)
{
    return Scanner(text, size).Run();
}

} // namespace vnd::xmlimpl
