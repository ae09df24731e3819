// Parsing of XML text. pugixml is fast and never fetches or expands anything, but it is lenient: it
// keeps unknown entity references as text, accepts control characters, several root elements and
// repeated attributes. Such text would be stored or written back changed, so it is refused here
// before and after the parse.

#include "xml/xmlinternal.h"

#include <bit>
#include <cstring>
#include <functional>
#include <string_view>
#include <unordered_set>

namespace vnd::xmlimpl
{

namespace
{

constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_wconv_attribute |
                                   pugi::parse_eol | pugi::parse_declaration | pugi::parse_comments |
                                   pugi::parse_pi | pugi::parse_fragment;

struct Fault {
    qsizetype offset = -1;
    QString reason;
};

// A fault found in the parsed tree; its position is turned into line and column from the unparsed text.
struct TreeFault {
    qsizetype offset;
    QString reason;
};

[[noreturn]] void Fail(qsizetype offset, const QString &reason)
{
    throw TreeFault{offset, reason};
}

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

    Fault Run()
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
    Fault m_fault;
};

QString StatusReason(const pugi::xml_parse_result &result)
{
    switch (result.status) {
    case pugi::status_out_of_memory:
        return QStringLiteral("memória insuficiente para o documento");
    case pugi::status_unrecognized_tag:
        return QStringLiteral("marcação não reconhecida");
    case pugi::status_bad_pi:
        return QStringLiteral("declaração XML ou instrução de processamento mal formada");
    case pugi::status_bad_comment:
        return QStringLiteral("comentário mal formado");
    case pugi::status_bad_cdata:
        return QStringLiteral("seção CDATA mal formada");
    case pugi::status_bad_doctype:
        return QStringLiteral("declaração DOCTYPE mal formada");
    case pugi::status_bad_pcdata:
        return QStringLiteral("texto mal formado");
    case pugi::status_bad_start_element:
        return QStringLiteral("marca de início de elemento mal formada");
    case pugi::status_bad_attribute:
        return QStringLiteral("atributo mal formado");
    case pugi::status_bad_end_element:
        return QStringLiteral("marca de fim de elemento mal formada");
    case pugi::status_end_element_mismatch:
        return QStringLiteral("marca de fim ausente ou diferente da marca de início");
    case pugi::status_no_document_element:
        return QStringLiteral("documento sem elemento raiz");
    default:
        return QStringLiteral("erro do analisador XML (%1)").arg(QString::fromUtf8(result.description()));
    }
}

qsizetype OffsetOf(pugi::xml_node node, qsizetype fallback)
{
    const ptrdiff_t offset = node.offset_debug();
    return offset >= 0 ? qsizetype(offset) : fallback;
}

// Checks an element with very many attributes, where comparing each pair would be quadratic.
void CheckManyAttributes(pugi::xml_node element)
{
    std::unordered_set<std::string_view> seen;
    for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) {
        if (!seen.insert(a.name()).second)
            Fail(OffsetOf(element, 0),
                 QStringLiteral("atributo \"%1\" repetido no elemento \"%2\"")
                     .arg(QString::fromUtf8(a.name()), QString::fromUtf8(element.name())));
    }
}

// Checks one element: its attributes are distinct.
void CheckAttributes(pugi::xml_node element)
{
    pugi::xml_attribute first = element.first_attribute();
    if (!first || !first.next_attribute())
        return;
    const char *seen[64];
    int count = 0;
    for (pugi::xml_attribute a = first; a; a = a.next_attribute()) {
        const char *name = a.name();
        // Elements carry a handful of attributes: comparing each pair costs less than hashing.
        for (int i = 0; i < count; ++i) {
            if (std::strcmp(seen[i], name) == 0)
                Fail(OffsetOf(element, 0),
                     QStringLiteral("atributo \"%1\" repetido no elemento \"%2\"")
                         .arg(QString::fromUtf8(name), QString::fromUtf8(element.name())));
        }
        if (count == 64) {
            CheckManyAttributes(element);
            return;
        }
        seen[count++] = name;
    }
}

void CheckTopLevel(const pugi::xml_document &doc, qsizetype size)
{
    int roots = 0;
    for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling()) {
        switch (node.type()) {
        case pugi::node_declaration:
            if (node != doc.first_child())
                Fail(OffsetOf(node, 0), QStringLiteral("declaração XML fora do início do documento"));
            break;
        case pugi::node_element:
            if (++roots > 1)
                Fail(OffsetOf(node, 0), QStringLiteral("mais de um elemento raiz"));
            break;
        case pugi::node_pcdata:
        case pugi::node_cdata:
            Fail(OffsetOf(node, 0), QStringLiteral("texto fora do elemento raiz"));
        default:
            break;
        }
    }
    if (roots == 0)
        Fail(size, QStringLiteral("documento sem elemento raiz"));
}

// Visits every node inside the root; pugixml walks the tree without recursion and counts the depth.
class TreeCheck : public pugi::xml_tree_walker
{
  public:
    bool for_each(pugi::xml_node &node) override
    {
        const pugi::xml_node_type type = node.type();
        if (type == pugi::node_element) {
            // The walker's depth counts from 0 for the children of the root.
            if (depth() + 2 > vnd::kMaxXmlDepth)
                Fail(OffsetOf(node, 0),
                     QStringLiteral("elementos aninhados em mais de %1 níveis").arg(vnd::kMaxXmlDepth));
            CheckAttributes(node);
        } else if (type == pugi::node_declaration) {
            Fail(OffsetOf(node, 0), QStringLiteral("declaração XML fora do início do documento"));
        }
        return true;
    }
};

void CheckTree(const pugi::xml_document &doc, qsizetype size)
{
    CheckTopLevel(doc, size);
    pugi::xml_node root = doc.document_element();
    CheckAttributes(root);
    TreeCheck check;
    root.traverse(check);
}

bool IsUtf8Label(const char *encoding)
{
    return qstricmp(encoding, "UTF-8") == 0 || qstricmp(encoding, "UTF8") == 0;
}

} // namespace

std::pair<int, int> LineColumn(const char *text, qsizetype size, qsizetype offset)
{
    offset = qBound(qsizetype(0), offset, size);
    int line = 1;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    int column = 1;
    for (qsizetype i = lineStart; i < offset; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            ++column;
    }
    return {line, column};
}

std::unique_ptr<pugi::xml_document> ParseTree(QByteArray &utf8, const std::function<QByteArray()> &pristine)
{
    // A byte-order mark carried into the text is not content.
    const qsizetype skip = utf8.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    char *data = utf8.data() + skip;
    const qsizetype size = utf8.size() - skip;
    // Positions are relative to the text after the mark, before the parser rewrote it in place.
    auto raise = [&](qsizetype offset, const QString &reason) {
        const QByteArray text = pristine();
        const auto [line, column] = LineColumn(text.constData() + skip, text.size() - skip, offset);
        throw EXMLParseError(reason, line, column);
    };

    const Fault fault = Scanner(data, size).Run();
    if (fault.offset >= 0)
        raise(fault.offset, fault.reason);

    auto doc = std::make_unique<pugi::xml_document>();
    const pugi::xml_parse_result result =
        doc->load_buffer_inplace(data, size_t(size), kParseOptions, pugi::encoding_utf8);
    if (!result)
        raise(qsizetype(result.offset), StatusReason(result));
    try {
        CheckTree(*doc, size);
    } catch (const TreeFault &f) {
        raise(f.offset, f.reason);
    }

    pugi::xml_node declaration = doc->first_child();
    if (declaration.type() == pugi::node_declaration) {
        pugi::xml_attribute encoding = declaration.attribute("encoding");
        if (encoding && !IsUtf8Label(encoding.value()))
            encoding.set_value("UTF-8");
    }
    return doc;
}

} // namespace vnd::xmlimpl
