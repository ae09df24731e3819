// Parsing of XML text. pugixml is fast and never fetches or expands anything, but it is lenient: it
// keeps unknown entity references as text, accepts control characters, several root elements and
// repeated attributes. Such text would be stored or written back changed, so it is refused here:
// the raw text is scanned before the parse (xmlscan.cpp) and the tree is checked after it.

#include "xml/xmlinternal.h"

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

// A fault found in the parsed tree; its position is turned into line and column from the unparsed text.
struct TreeFault {
    qsizetype offset;
    QString reason;
};

[[noreturn]] void Fail(qsizetype offset, const QString &reason)
{
    throw TreeFault{offset, reason};
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

    const ScanFault fault = ScanText(data, size);
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
