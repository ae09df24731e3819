// Parsing of XML text. pugixml is fast and never fetches or expands anything, but it is lenient: it
// keeps unknown entity references as text, accepts control characters, several root elements and
// repeated attributes. Such text would be stored or written back changed, so it is refused here
// before and after the parse.

#include "xml/xmlinternal.h"

#include <cstring>
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

[[noreturn]] void Raise(const QByteArray &text, qsizetype offset, const QString &reason)
{
    const auto [line, column] = LineColumn(text.constData(), text.size(), offset);
    throw EXMLParseError(reason, line, column);
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

QString Excerpt(const char *p, const char *end)
{
    qsizetype n = 0;
    while (p + n < end && n < 24 && p[n] != ';' && p[n] != '<' && p[n] != '\n')
        ++n;
    if (p + n < end && p[n] == ';')
        ++n;
    return QString::fromUtf8(p, n);
}

// Checks the reference at p (p[0] == '&'); returns its length or sets fault.
qsizetype CheckReference(const char *p, const char *end, Fault &fault)
{
    const char *q = p + 1;
    if (q < end && *q == '#') {
        ++q;
        const bool hex = q < end && *q == 'x';
        if (hex)
            ++q;
        uint32_t value = 0;
        const char *digits = q;
        while (q < end && q - digits < 8) {
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
            value = value * (hex ? 16 : 10) + d;
            ++q;
        }
        if (q > digits && q < end && *q == ';' && IsXmlChar(value))
            return q + 1 - p;
        fault.reason = QStringLiteral("referência de caractere inválida \"%1\"").arg(Excerpt(p, end));
        return 0;
    }
    for (const char *name : {"amp;", "lt;", "gt;", "quot;", "apos;"}) {
        const qsizetype n = qsizetype(std::strlen(name));
        if (end - q >= n && std::memcmp(q, name, n) == 0)
            return n + 1;
    }
    fault.reason = q < end && *q != ' ' && *q != '<'
                       ? QStringLiteral("entidade não definida \"%1\"").arg(Excerpt(p, end))
                       : QStringLiteral("caractere \"&\" sem referência (use &amp;)");
    return 0;
}

// Skips a comment, CDATA section or processing instruction starting at p; returns where it ends, or
// nullptr when unterminated (pugixml then reports it). Control characters inside are faults too.
const char *SkipSection(const char *p, const char *end, const char *terminator, Fault &fault,
                        const char *base)
{
    const qsizetype n = qsizetype(std::strlen(terminator));
    const void *found = memmem(p, end - p, terminator, n);
    if (!found)
        return nullptr;
    const char *stop = static_cast<const char *>(found);
    for (const char *c = p; c < stop; ++c) {
        if (kClasses.cls[static_cast<unsigned char>(*c)] == kControl) {
            fault.offset = c - base;
            fault.reason = QStringLiteral("caractere de controle 0x%1 não permitido em XML")
                               .arg(static_cast<unsigned char>(*c), 2, 16, QLatin1Char('0'));
            return nullptr;
        }
    }
    return stop + n;
}

bool StartsWith(const char *p, const char *end, const char *prefix)
{
    const qsizetype n = qsizetype(std::strlen(prefix));
    return end - p >= n && std::memcmp(p, prefix, n) == 0;
}

Fault Scan(const char *base, qsizetype size)
{
    Fault fault;
    const char *p = base;
    const char *end = base + size;
    while (p < end) {
        while (p < end && kClasses.cls[static_cast<unsigned char>(*p)] == kPlain)
            ++p;
        if (p == end)
            break;
        switch (kClasses.cls[static_cast<unsigned char>(*p)]) {
        case kControl:
            fault.offset = p - base;
            fault.reason = QStringLiteral("caractere de controle 0x%1 não permitido em XML")
                               .arg(static_cast<unsigned char>(*p), 2, 16, QLatin1Char('0'));
            return fault;
        case kAmpersand: {
            const qsizetype n = CheckReference(p, end, fault);
            if (n == 0) {
                fault.offset = p - base;
                return fault;
            }
            p += n;
            break;
        }
        default: {
            const char *next = p + 1;
            if (StartsWith(p, end, "<!--"))
                next = SkipSection(p + 4, end, "-->", fault, base);
            else if (StartsWith(p, end, "<![CDATA["))
                next = SkipSection(p + 9, end, "]]>", fault, base);
            else if (StartsWith(p, end, "<?"))
                next = SkipSection(p + 2, end, "?>", fault, base);
            else if (StartsWith(p, end, "<!DOCTYPE")) {
                fault.offset = p - base;
                fault.reason = QStringLiteral("declaração DOCTYPE não é aceita");
                return fault;
            }
            if (!next)
                return fault;
            p = next;
        }
        }
    }
    return fault;
}

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

// Checks one element: its attributes are distinct.
void CheckAttributes(const QByteArray &text, pugi::xml_node element)
{
    pugi::xml_attribute first = element.first_attribute();
    if (!first || !first.next_attribute())
        return;
    std::unordered_set<std::string_view> seen;
    for (pugi::xml_attribute a = first; a; a = a.next_attribute()) {
        if (!seen.insert(a.name()).second)
            Raise(text, OffsetOf(element, 0),
                  QStringLiteral("atributo \"%1\" repetido no elemento \"%2\"")
                      .arg(QString::fromUtf8(a.name()), QString::fromUtf8(element.name())));
    }
}

void CheckTopLevel(const QByteArray &text, const pugi::xml_document &doc)
{
    int roots = 0;
    for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling()) {
        switch (node.type()) {
        case pugi::node_declaration:
            if (node != doc.first_child())
                Raise(text, OffsetOf(node, 0), QStringLiteral("declaração XML fora do início do documento"));
            break;
        case pugi::node_element:
            if (++roots > 1)
                Raise(text, OffsetOf(node, 0), QStringLiteral("mais de um elemento raiz"));
            break;
        case pugi::node_pcdata:
        case pugi::node_cdata:
            Raise(text, OffsetOf(node, 0), QStringLiteral("texto fora do elemento raiz"));
        default:
            break;
        }
    }
    if (roots == 0)
        Raise(text, text.size(), QStringLiteral("documento sem elemento raiz"));
}

void CheckTree(const QByteArray &text, const pugi::xml_document &doc)
{
    CheckTopLevel(text, doc);
    pugi::xml_node root = doc.document_element();
    pugi::xml_node node = root;
    int depth = 1;
    for (;;) {
        if (node.type() == pugi::node_element) {
            if (depth > vnd::kMaxXmlDepth)
                Raise(text, OffsetOf(node, 0),
                      QStringLiteral("elementos aninhados em mais de %1 níveis").arg(vnd::kMaxXmlDepth));
            CheckAttributes(text, node);
        } else if (node.type() == pugi::node_declaration) {
            Raise(text, OffsetOf(node, 0), QStringLiteral("declaração XML fora do início do documento"));
        }
        if (node.first_child()) {
            node = node.first_child();
            ++depth;
            continue;
        }
        while (node != root && !node.next_sibling()) {
            node = node.parent();
            --depth;
        }
        if (node == root)
            return;
        node = node.next_sibling();
    }
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

std::unique_ptr<pugi::xml_document> ParseTree(const QByteArray &utf8)
{
    // A byte-order mark carried into the text is not content.
    const qsizetype skip = utf8.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    const char *data = utf8.constData() + skip;
    const qsizetype size = utf8.size() - skip;

    // Offsets from the parser and the checks are relative to the text after the mark.
    const QByteArray text = QByteArray::fromRawData(data, size);

    const Fault fault = Scan(data, size);
    if (fault.offset >= 0)
        Raise(text, fault.offset, fault.reason);

    auto doc = std::make_unique<pugi::xml_document>();
    const pugi::xml_parse_result result =
        doc->load_buffer(data, size_t(size), kParseOptions, pugi::encoding_utf8);
    if (!result)
        Raise(text, qsizetype(result.offset), StatusReason(result));
    CheckTree(text, *doc);

    pugi::xml_node declaration = doc->first_child();
    if (declaration.type() == pugi::node_declaration) {
        pugi::xml_attribute encoding = declaration.attribute("encoding");
        if (encoding && !IsUtf8Label(encoding.value()))
            encoding.set_value("UTF-8");
    }
    return doc;
}

} // namespace vnd::xmlimpl
