#include "server/docgen/xmlnode.h"

#include <algorithm>
#include <cstring>

namespace vnd::docgen
{

XmlNode &XmlNode::Add(const char *name)
{
    m_children.push_back(std::make_unique<XmlNode>(QByteArray(name)));
    return *m_children.back();
}

XmlNode &XmlNode::Text(const char *name, const QString &text)
{
    Add(name).m_text = text.toUtf8();
    return *this;
}

XmlNode &XmlNode::Cdata(const char *name, const QString &text)
{
    XmlNode &child = Add(name);
    child.m_text = text.toUtf8();
    child.m_cdata = true;
    return *this;
}

XmlNode &XmlNode::Append(std::unique_ptr<XmlNode> child)
{
    m_children.push_back(std::move(child));
    return *this;
}

XmlNode &XmlNode::Attr(const char *name, const QString &value)
{
    m_attrs.append({QByteArray(name), value.toUtf8()});
    return *this;
}

XmlNode *XmlNode::Child(const char *name)
{
    for (auto &child : m_children)
        if (child->m_name == name)
            return child.get();
    return nullptr;
}

void XmlNode::RemoveChildren(const char *name)
{
    std::erase_if(m_children, [name](const std::unique_ptr<XmlNode> &c) { return c->m_name == name; });
}

static bool NeedsEscape(const QByteArray &utf8, const char *specials)
{
    for (char c : utf8)
        if (std::strchr(specials, c) && c != '\0')
            return true;
    return false;
}

QByteArray EscapeText(const QByteArray &utf8)
{
    if (!NeedsEscape(utf8, "&<>\r"))
        return utf8;
    QByteArray out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '\r':
            out += "&#xD;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

QByteArray EscapeAttr(const QByteArray &utf8)
{
    if (!NeedsEscape(utf8, "&<\"\t\n\r"))
        return utf8;
    QByteArray out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\t':
            out += "&#x9;";
            break;
        case '\n':
            out += "&#xA;";
            break;
        case '\r':
            out += "&#xD;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

QByteArray XmlNode::Markup() const
{
    QByteArray out;
    Write(out, false, {}, {});
    return out;
}

QByteArray XmlNode::Canonical(const QByteArray &defaultNs) const
{
    QByteArray out;
    Write(out, true, defaultNs, {});
    return out;
}

void XmlNode::Write(QByteArray &out, bool canonical, const QByteArray &parentNs,
                    const QByteArray &renderedNs) const
{
    out += '<';
    out += m_name;
    QList<QPair<QByteArray, QByteArray>> sorted;
    QByteArray inScope = parentNs;
    if (canonical) {
        sorted = m_attrs;
        auto &attrs = sorted;
        // C14N writes the default namespace declaration first, and only where it differs from the one
        // the nearest written ancestor declared; the other attributes follow sorted by name.
        for (const auto &a : attrs)
            if (a.first == "xmlns")
                inScope = a.second;
        attrs.removeIf([](const auto &a) { return a.first == "xmlns"; });
        std::sort(attrs.begin(), attrs.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        if (inScope != renderedNs)
            attrs.prepend({"xmlns", inScope});
    }
    for (const auto &a : canonical ? sorted : m_attrs) {
        out += ' ';
        out += a.first;
        out += "=\"";
        out += EscapeAttr(a.second);
        out += '"';
    }
    if (!canonical && m_children.empty() && m_text.isEmpty()) {
        out += "/>";
        return;
    }
    out += '>';
    if (m_cdata && !canonical) {
        out += "<![CDATA[";
        out += m_text;
        out += "]]>";
    } else {
        out += EscapeText(m_text);
    }
    for (const auto &child : m_children)
        child->Write(out, canonical, inScope, inScope);
    out += "</";
    out += m_name;
    out += '>';
}

} // namespace vnd::docgen
