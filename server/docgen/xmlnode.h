#pragma once
// A small element tree for writing fiscal documents byte for byte: compact (no indentation), attributes
// in the order given, and the canonical form (XML-C14N) of any element, over which signatures digest.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <memory>
#include <vector>

namespace vnd::docgen
{

class XmlNode
{
  public:
    // An element named name (ASCII).
    explicit XmlNode(QByteArray name) : m_name(std::move(name)) {}

    // Appends an empty child element and returns it.
    XmlNode &Add(const char *name);
    // Appends a child element holding text and returns this element, so siblings chain.
    XmlNode &Text(const char *name, const QString &text);
    // Appends a child whose text is written as a CDATA section and returns this element.
    XmlNode &Cdata(const char *name, const QString &text);
    // Appends a child already made.
    XmlNode &Append(std::unique_ptr<XmlNode> child);
    // Sets an attribute (kept in insertion order) and returns this element.
    XmlNode &Attr(const char *name, const QString &value);

    const QByteArray &Name() const { return m_name; }
    // The first child of that name, or nullptr.
    XmlNode *Child(const char *name);
    // Removes the children of that name.
    void RemoveChildren(const char *name);
    // Replaces the text of this element.
    void SetText(const QString &text) { m_text = text.toUtf8(); }

    // The element as written in a document: empty elements self-closed, CDATA kept.
    QByteArray Markup() const;
    // The canonical form of the element as a document subset whose ancestors declare defaultNs.
    QByteArray Canonical(const QByteArray &defaultNs = {}) const;

  private:
    void Write(QByteArray &out, bool canonical, const QByteArray &parentNs,
               const QByteArray &renderedNs) const;

    QByteArray m_name;
    QList<QPair<QByteArray, QByteArray>> m_attrs;
    QByteArray m_text;
    bool m_cdata = false;
    std::vector<std::unique_ptr<XmlNode>> m_children;
};

// Text escaped for element content (&, <, >, and CR as C14N writes it).
QByteArray EscapeText(const QByteArray &utf8);
// Text escaped for a double-quoted attribute value.
QByteArray EscapeAttr(const QByteArray &utf8);

} // namespace vnd::docgen
