// Serialisation of trees: no indentation, double-quoted attributes, markup escaped. The walk is
// iterative so that a deeply nested tree cannot exhaust the stack.

#include "xml/xmlinternal.h"

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

void AppendEscaped(QByteArray &out, const char *text, unsigned char escapeFlag)
{
    const unsigned char stop = escapeFlag | kEndOfText;
    const char *run = text;
    for (const char *p = text;; ++p) {
        const unsigned char flags = kEscapes.flags[static_cast<unsigned char>(*p)];
        if (!(flags & stop))
            continue;
        out.append(run, p - run);
        if (flags & kEndOfText)
            return;
        out.append(Reference(*p));
        run = p + 1;
    }
}

void AppendCData(QByteArray &out, const char *text)
{
    // "]]>" cannot stand inside a section: it is split across two.
    out.append("<![CDATA[");
    const char *run = text;
    while (const char *end = std::strstr(run, "]]>")) {
        out.append(run, end - run + 2);
        out.append("]]><![CDATA[");
        run = end + 2;
    }
    out.append(run);
    out.append("]]>");
}

void AppendAttributes(QByteArray &out, pugi::xml_node node)
{
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
        WriteAttribute(out, a.name(), a.value());
}

// Writes a node that has no children of its own, or the start tag of an element that has.
void WriteOpening(QByteArray &out, pugi::xml_node node)
{
    switch (node.type()) {
    case pugi::node_element:
        out.append('<');
        out.append(node.name());
        AppendAttributes(out, node);
        out.append(node.first_child() ? ">" : "/>");
        break;
    case pugi::node_pcdata:
        AppendEscaped(out, node.value(), kEscapeInText);
        break;
    case pugi::node_cdata:
        AppendCData(out, node.value());
        break;
    case pugi::node_comment:
        out.append("<!--");
        out.append(node.value());
        out.append("-->");
        break;
    case pugi::node_pi:
        out.append("<?");
        out.append(node.name());
        if (*node.value()) {
            out.append(' ');
            out.append(node.value());
        }
        out.append("?>");
        break;
    case pugi::node_declaration:
        out.append("<?");
        out.append(node.name());
        AppendAttributes(out, node);
        out.append("?>");
        break;
    default:
        break;
    }
}

void WriteClosing(QByteArray &out, pugi::xml_node element)
{
    out.append("</");
    out.append(element.name());
    out.append('>');
}

} // namespace

void WriteAttribute(QByteArray &out, const char *name, const char *value)
{
    out.append(' ');
    out.append(name);
    out.append("=\"");
    AppendEscaped(out, value, kEscapeInAttribute);
    out.append('"');
}

void WriteSubtree(QByteArray &out, pugi::xml_node root, std::span<const NamespaceDeclaration> extra)
{
    if (root.type() == pugi::node_document) {
        WriteDocument(out, root, pugi::xml_node());
        return;
    }
    pugi::xml_node node = root;
    for (;;) {
        if (node == root && !extra.empty()) {
            out.append('<');
            out.append(node.name());
            AppendAttributes(out, node);
            for (const NamespaceDeclaration &d : extra)
                WriteAttribute(out, d.first.constData(), d.second.constData());
            out.append(node.first_child() ? ">" : "/>");
        } else {
            WriteOpening(out, node);
        }
        if (node.type() == pugi::node_element && node.first_child()) {
            node = node.first_child();
            continue;
        }
        // Climb until a node with a following sibling, closing the elements left behind.
        while (node != root && !node.next_sibling()) {
            node = node.parent();
            WriteClosing(out, node);
        }
        if (node == root)
            return;
        node = node.next_sibling();
    }
}

void WriteDocument(QByteArray &out, pugi::xml_node document, pugi::xml_node hidden)
{
    bool first = true;
    for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling()) {
        if (node == hidden)
            continue;
        if (!first)
            out.append("\r\n");
        WriteSubtree(out, node);
        first = false;
    }
}

} // namespace vnd::xmlimpl
