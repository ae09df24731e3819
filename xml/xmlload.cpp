// Parsing of XML text. pugixml is fast and never fetches or expands anything, but it is lenient: it
// keeps unknown entity references as text, accepts control characters, several root elements and
// repeated attributes. Such text would be stored or written back changed, so it is refused here:
// the raw text is scanned before the parse (xmlscan.cpp), which also notes the faults of the tree
// it describes; those are reported only when the parser accepts the text, so that a markup error,
// which the parser describes best, comes first.

#include "xml/xmlinternal.h"

#include <cstring>
#include <functional>
#include <future>
#include <system_error>

namespace vnd::xmlimpl
{

namespace
{

constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_wconv_attribute |
                                   pugi::parse_eol | pugi::parse_declaration | pugi::parse_comments |
                                   pugi::parse_pi | pugi::parse_fragment;

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

// Texts of this size and more are scanned on a second thread while pugixml parses them, so that the
// checks take no time of their own; the thread and the copy it reads cost less than the scan from here
// on. Up to the second bound only, so that the copy never doubles the memory of a huge text.
constexpr qsizetype kScannedAlongsideFrom = 256 * 1024;
constexpr qsizetype kScannedAlongsideUpTo = 32 * 1024 * 1024;

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

void ParseTree(pugi::xml_document &doc, QByteArray &utf8, const std::function<QByteArray()> &pristine,
               bool *pugixmlWriter)
{
    // A byte-order mark carried into the text is not content.
    const qsizetype skip = utf8.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    char *data = utf8.data() + skip;
    const qsizetype size = utf8.size() - skip;
    // Positions are relative to the text after the mark, before the parser rewrote it in place.
    auto raise = [&](qsizetype offset, const QString &reason) {
        doc.reset();
        const QByteArray text = pristine();
        const auto [line, column] = LineColumn(text.constData() + skip, text.size() - skip, offset);
        throw EXMLParseError(reason, line, column);
    };

    ScanResult scan;
    pugi::xml_parse_result result;
    // The copy outlives the task reading it: a future of std::async waits for its task when destroyed.
    QByteArray copy;
    std::future<ScanResult> scanning;
    if (size >= kScannedAlongsideFrom && size <= kScannedAlongsideUpTo) {
        // pugixml rewrites the text as it parses it, so the scan reads a copy of its own.
        copy = QByteArray(data, size);
        try {
            scanning = std::async(std::launch::async, [&copy] { return ScanText(copy.constData(), copy.size()); });
        } catch (const std::system_error &) {
            // No thread to be had: the scan runs here, before the parse.
        }
    }
    if (scanning.valid()) {
        result = doc.load_buffer_inplace(data, size_t(size), kParseOptions, pugi::encoding_utf8);
        scan = scanning.get();
    } else {
        scan = ScanText(data, size);
        if (scan.offset < 0)
            result = doc.load_buffer_inplace(data, size_t(size), kParseOptions, pugi::encoding_utf8);
    }
    // The scan's faults come first, then the parser's, then those of the tree, whichever was found first.
    if (scan.offset >= 0)
        raise(scan.offset, scan.reason);
    *pugixmlWriter = scan.pugixmlWriter;
    if (!result)
        raise(qsizetype(result.offset), StatusReason(result));
    if (scan.treeOffset >= 0)
        raise(scan.treeOffset, scan.treeReason);

    pugi::xml_node declaration = doc.first_child();
    if (declaration.type() == pugi::node_declaration) {
        pugi::xml_attribute encoding = declaration.attribute("encoding");
        if (encoding && !IsUtf8Label(encoding.value()))
            encoding.set_value("UTF-8");
    }
}

} // namespace vnd::xmlimpl
