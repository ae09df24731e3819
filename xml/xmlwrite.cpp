// Serialisation of trees: no indentation, double-quoted attributes, markup escaped. The walk is
// iterative so that a deeply nested tree cannot exhaust the stack.

#include "xml/xmlinternal.h"

#include <QStringDecoder>
#include <algorithm>
#include <cstring>

namespace vnd::xmlimpl
{

namespace
{

enum : unsigned char { kEndOfText = 1, kEscapeInText = 2, kEscapeInAttribute = 4 };

struct EscapeTable {
    unsigned char flags[256] = {};
    EscapeTable()
    {
        flags[0] = kEndOfText;
        for (unsigned char c : {'&', '<', '>', '\r'})
            flags[c] |= kEscapeInText | kEscapeInAttribute;
        // Attribute values are normalised on reading: tabs and line breaks only survive as references.
        for (unsigned char c : {'"', '\t', '\n'})
            flags[c] |= kEscapeInAttribute;
    }
};
const EscapeTable kEscapes;

const char *Reference(char c)
{
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '"':
        return "&quot;";
    case '\t':
        return "&#9;";
    case '\n':
        return "&#10;";
    default:
        return "&#13;";
    }
}

// Appends to a QByteArray through a raw pointer: serialising is mostly many short appends.
class Writer
{
  public:
    explicit Writer(QByteArray &out) : m_out(out), m_length(out.size())
    {
        Reserve(std::max(out.capacity() - m_length, qsizetype(4096)));
    }
    ~Writer() { m_out.truncate(m_length); }
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    void Put(const char *text, qsizetype n)
    {
        if (m_length + n > m_capacity)
            Reserve(n);
        std::memcpy(m_data + m_length, text, size_t(n));
        m_length += n;
    }
    void Put(const char *text) { Put(text, qsizetype(std::strlen(text))); }
    void Put(char c) { Put(&c, 1); }

  private:
    void Reserve(qsizetype n)
    {
        m_capacity = std::max(m_capacity * 2, m_length + n);
        m_out.resize(m_capacity);
        m_data = m_out.data();
    }

    QByteArray &m_out;
    qsizetype m_length;
    qsizetype m_capacity = 0;
    char *m_data = nullptr;
};

void PutEscaped(Writer &out, const char *text, unsigned char escapeFlag)
{
    const unsigned char stop = escapeFlag | kEndOfText;
    const char *run = text;
    for (const char *p = text;; ++p) {
        const unsigned char flags = kEscapes.flags[static_cast<unsigned char>(*p)];
        if (!(flags & stop))
            continue;
        out.Put(run, p - run);
        if (flags & kEndOfText)
            return;
        out.Put(Reference(*p));
        run = p + 1;
    }
}

void PutCData(Writer &out, const char *text)
{
    // "]]>" cannot stand inside a section: it is split across two.
    out.Put("<![CDATA[");
    const char *run = text;
    while (const char *end = std::strstr(run, "]]>")) {
        out.Put(run, end - run + 2);
        out.Put("]]><![CDATA[");
        run = end + 2;
    }
    out.Put(run);
    out.Put("]]>");
}

void PutAttribute(Writer &out, const char *name, const char *value)
{
    out.Put(' ');
    out.Put(name);
    out.Put("=\"", 2);
    PutEscaped(out, value, kEscapeInAttribute);
    out.Put('"');
}

void PutAttributes(Writer &out, pugi::xml_node node)
{
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
        PutAttribute(out, a.name(), a.value());
}

// Writes a node that has no children of its own, or the start tag of an element that has.
void PutOpening(Writer &out, pugi::xml_node node, std::span<const NamespaceDeclaration> extra)
{
    switch (node.type()) {
    case pugi::node_element:
        out.Put('<');
        out.Put(node.name());
        PutAttributes(out, node);
        for (const NamespaceDeclaration &d : extra)
            PutAttribute(out, d.first.constData(), d.second.constData());
        out.Put(node.first_child() ? ">" : "/>");
        break;
    case pugi::node_pcdata:
        PutEscaped(out, node.value(), kEscapeInText);
        break;
    case pugi::node_cdata:
        PutCData(out, node.value());
        break;
    case pugi::node_comment:
        out.Put("<!--");
        out.Put(node.value());
        out.Put("-->");
        break;
    case pugi::node_pi:
        out.Put("<?");
        out.Put(node.name());
        if (*node.value()) {
            out.Put(' ');
            out.Put(node.value());
        }
        out.Put("?>");
        break;
    case pugi::node_declaration:
        out.Put("<?");
        out.Put(node.name());
        PutAttributes(out, node);
        out.Put("?>");
        break;
    default:
        break;
    }
}

void PutClosing(Writer &out, pugi::xml_node element)
{
    out.Put("</", 2);
    out.Put(element.name());
    out.Put('>');
}

void PutSubtree(Writer &out, pugi::xml_node root, std::span<const NamespaceDeclaration> extra)
{
    pugi::xml_node node = root;
    for (;;) {
        PutOpening(out, node, node == root ? extra : std::span<const NamespaceDeclaration>());
        if (node.type() == pugi::node_element && node.first_child()) {
            node = node.first_child();
            continue;
        }
        // Climb until a node with a following sibling, closing the elements left behind.
        while (node != root && !node.next_sibling()) {
            node = node.parent();
            PutClosing(out, node);
        }
        if (node == root)
            return;
        node = node.next_sibling();
    }
}

// pugixml's writer into ours. It buffers and hands over several kilobytes at a time.
class PugixmlSink : public pugi::xml_writer
{
  public:
    explicit PugixmlSink(Writer &out) : m_out(out) {}
    void write(const void *data, size_t size) override { m_out.Put(static_cast<const char *>(data), qsizetype(size)); }

  private:
    Writer &m_out;
};

// pugixml walks its own structures directly, several times faster than a walk through its public
// accessors; it is used whenever it gives the same bytes.
void PutSubtree(Writer &out, pugi::xml_node root, std::span<const NamespaceDeclaration> extra, bool pugixmlWriter)
{
    if (pugixmlWriter && extra.empty()) {
        PugixmlSink sink(out);
        root.print(sink, "", pugi::format_raw, pugi::encoding_utf8);
    } else {
        PutSubtree(out, root, extra);
    }
}

void PutDocument(Writer &out, pugi::xml_node document, pugi::xml_node hidden, bool pugixmlWriter)
{
    bool first = true;
    for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling()) {
        if (node == hidden)
            continue;
        if (!first)
            out.Put("\r\n", 2);
        PutSubtree(out, node, {}, pugixmlWriter);
        first = false;
    }
}

} // namespace

void WriteAttribute(QByteArray &out, const char *name, const char *value)
{
    Writer writer(out);
    PutAttribute(writer, name, value);
}

namespace
{

// pugixml's writer into UTF-16 text, decoding each piece as it comes: no UTF-8 copy of the whole
// document is made. The decoder keeps a character cut between two pieces.
class TextSink : public pugi::xml_writer
{
  public:
    TextSink(QString &out, qsizetype sizeHint) : m_out(out), m_length(out.size())
    {
        m_out.resize(m_length + std::max(sizeHint, qsizetype(4096)));
    }
    ~TextSink() override { m_out.truncate(m_length); }
    TextSink(const TextSink &) = delete;
    TextSink &operator=(const TextSink &) = delete;

    // A UTF-8 byte never becomes more than one UTF-16 unit.
    void write(const void *data, size_t size) override
    {
        const qsizetype n = qsizetype(size);
        if (m_length + n > m_out.size())
            m_out.resize(std::max(m_out.size() * 2, m_length + n));
        QChar *begin = m_out.data() + m_length;
        QChar *end = m_decoder.appendToBuffer(begin, QByteArrayView(static_cast<const char *>(data), n));
        m_length += end - begin;
    }

  private:
    QString &m_out;
    qsizetype m_length;
    QStringDecoder m_decoder{QStringDecoder::Utf8};
};

} // namespace

void WriteDocumentText(QString &out, pugi::xml_node document, pugi::xml_node hidden, qsizetype sizeHint)
{
    TextSink sink(out, sizeHint);
    bool first = true;
    for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling()) {
        if (node == hidden)
            continue;
        if (!first)
            sink.write("\r\n", 2);
        node.print(sink, "", pugi::format_raw, pugi::encoding_utf8);
        first = false;
    }
}

bool PugixmlWritesAlike(const char *utf8, bool attribute)
{
    for (const char *p = utf8; *p; ++p) {
        const char c = *p;
        if (c == '\r' || (attribute && (c == '\t' || c == '\n' || c == '>')))
            return false;
    }
    return true;
}

void WriteSubtree(QByteArray &out, pugi::xml_node root, std::span<const NamespaceDeclaration> extra,
                  bool pugixmlWriter)
{
    Writer writer(out);
    if (root.type() == pugi::node_document)
        PutDocument(writer, root, pugi::xml_node(), pugixmlWriter);
    else
        PutSubtree(writer, root, extra, pugixmlWriter);
}

void WriteDocument(QByteArray &out, pugi::xml_node document, pugi::xml_node hidden, bool pugixmlWriter)
{
    Writer writer(out);
    PutDocument(writer, document, hidden, pugixmlWriter);
}

} // namespace vnd::xmlimpl
