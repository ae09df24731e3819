#pragma once
// Document services: an XML document, its nodes and node lists, over pugixml.
//
// A document owns its tree. Nodes and node lists are cheap reference-counted handles; each keeps its
// document alive, so a node returned from a routine that made the document stays usable. Text crosses
// the interface as QString; inside, the tree is UTF-8.
//
// Behaviour callers rely on:
// - Looking a child element up by name (ChildNodes()->Nodes("x")) creates it empty when it is missing,
//   so a missing element reads as the empty string; FindNode("x") returns nullptr instead.
// - Whitespace-only text between elements is not kept, so child lists hold the elements of an
//   indented document exactly as of a compact one.
// - XML() writes the declaration (when the document has one), CR LF, then the tree without
//   indentation, attributes in double quotes, & < > escaped in texts and & < > " in attributes.
// - LoadFromXML replaces the whole tree. Text that is not well-formed raises EXMLParseError with the
//   reason, line and column; the document is then left empty. Entities other than the five predefined
//   ones are errors (a DOCTYPE is refused), as are control characters, "<" in attribute values,
//   several root elements, text outside the root, repeated attributes and nesting deeper than
//   kMaxXmlDepth. A text larger than kMaxXmlBytes is refused (Exception) before it is parsed.
// - A declaration loaded with another encoding than UTF-8 is rewritten to name UTF-8: the loaded
//   text is already characters, and every 8-bit form this system writes is UTF-8.
// - Handles taken before a LoadFromXML raise an error when used afterwards, instead of reaching freed
//   memory. Nodes taken out of the tree (NodeValue on an element with child elements) stay readable.

#include "host/errors.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <pugixml.hpp>
#include <span>

class TXMLDocument;
class TXMLNode;
class TXMLNodeList;

using IXMLDocument = std::shared_ptr<TXMLDocument>;
using IXMLNode = std::shared_ptr<TXMLNode>;
using IXMLNodeList = std::shared_ptr<TXMLNodeList>;

namespace vnd
{
// Largest XML text accepted, in UTF-8 bytes; fiscal documents are far below it.
inline constexpr qsizetype kMaxXmlBytes = qsizetype(100) * 1024 * 1024;
// Deepest element nesting accepted on load; fiscal documents nest about a dozen levels.
inline constexpr int kMaxXmlDepth = 1000;
} // namespace vnd

// A text that is not well-formed XML, with the parser's reason and where it was found (from 1); the
// message names the file when one is given.
class EXMLParseError : public Exception
{
  public:
    EXMLParseError(const QString &reason, int line, int column, const QString &fileName = QString());
    QString Reason() const { return m_reason; }
    int Line() const { return m_line; }
    int Column() const { return m_column; }

  private:
    QString m_reason;
    int m_line;
    int m_column;
};

enum class TNodeType { ntElement, ntAttribute, ntText, ntCData, ntComment, ntProcessingInstr, ntDocument };

// What a node handle is made of; bindings pass it on to their base class unchanged.
struct TXMLNodeInit {
    std::shared_ptr<TXMLDocument> doc;
    pugi::xml_node node;
};

// Makes the node object of a typed binding class for an element.
using TXMLNodeFactory = IXMLNode (*)(const TXMLNodeInit &);

// A child element name registered with the class its nodes are made of, and the namespace a missing
// child is created in (nullptr: the parent's).
struct TXMLChildClass {
    const char *name;
    TXMLNodeFactory factory;
    const char *namespaceURI;
};

// The factory of binding class T.
template <class T> IXMLNode NodeFactory(const TXMLNodeInit &init)
{
    return std::make_shared<T>(init);
}

// An XML document. Make one with Create(); it starts empty and active.
class TXMLDocument : public std::enable_shared_from_this<TXMLDocument>
{
    struct Private {
        explicit Private() = default;
    };

  public:
    explicit TXMLDocument(Private);
    ~TXMLDocument();
    TXMLDocument(const TXMLDocument &) = delete;
    TXMLDocument &operator=(const TXMLDocument &) = delete;

    // A new empty document.
    static IXMLDocument Create();

    // Always true: a document is usable from creation.
    bool Active() const { return true; }
    // Active(false) empties the document (as a failed load does); Active(true) does nothing.
    void Active(bool value);

    // Replaces the whole tree by the parsed text; a leading declaration is kept but its encoding is
    // not applied (the text is already characters). Raises EXMLParseError and leaves the document
    // empty when the text is not well-formed.
    void LoadFromXML(const QString &xml);
    // As LoadFromXML, from UTF-8 bytes (invalid UTF-8 is an error naming its line and column).
    void LoadFromUtf8(const QByteArray &utf8);

    // The whole document: declaration (if any), CR LF, the tree without indentation.
    QString XML() const;
    // XML() as UTF-8 bytes, without the round trip through QString.
    QByteArray XMLUtf8() const;

    // The root element, or nullptr for an empty document.
    IXMLNode DocumentElement();
    // The top-level nodes: declaration, comments, processing instructions and the root element.
    IXMLNodeList ChildNodes();
    // Creates the root element; an error when the document already has one.
    IXMLNode AddChild(const QString &name);
    // Creates the root element declaring namespaceURI as its default namespace (when not empty).
    IXMLNode AddChild(const QString &name, const QString &namespaceURI);

    // The declaration's encoding, or empty when there is none.
    QString Encoding() const;
    // Sets the declaration's encoding, adding a version 1.0 declaration when there is none.
    void Encoding(const QString &value);
    // The declaration's version, or empty when there is none.
    QString Version() const;
    // Sets the declaration's version, adding the declaration when there is none.
    void Version(const QString &value);

    // Binds the root element of that name and namespace to a typed class: DocumentElement() and the
    // root made by AddChild come back as that class.
    void RegisterDocBinding(const TXMLChildClass &binding);

  private:
    friend class TXMLNode;
    friend class TXMLNodeList;
    friend class TXMLNodeCollection;

    // Empties the document; handles on the old tree refuse to work from then on.
    void Clear();
    // Records a value put into the tree (see m_pugixmlWriter).
    void NoteValue(const QByteArray &utf8, bool attribute);
    void CheckLoadable(qsizetype utf8Size) const;
    void ParseInto(QByteArray utf8, const std::function<QByteArray()> &pristine);
    pugi::xml_node Declaration(bool create);
    pugi::xml_node RootElement() const;
    pugi::xml_node AppendRoot(const QByteArray &name, const char *namespaceURI);
    pugi::xml_node RemovedHolder();
    pugi::xml_node ChildElement(pugi::xml_node parent, const char *name, const char *namespaceURI,
                                bool create);
    void SetElementText(pugi::xml_node element, const QByteArray &utf8);
    TXMLNodeInit InitFor(pugi::xml_node node);
    IXMLNode MakeRoot(pugi::xml_node root);

    std::unique_ptr<pugi::xml_document> m_tree;
    // The loaded text: pugixml parses in place, so names and values of a loaded tree point into it.
    QByteArray m_buffer;
    // Bumped when the tree is replaced: handles of the old tree refuse to work.
    uint64_t m_generation = 1;
    // Bumped when nodes are added or moved, so node lists drop their position caches.
    uint64_t m_structure = 0;
    // Whether pugixml's writer gives the bytes of ours for every value in the tree; false from the first
    // value where they differ until the tree is replaced.
    bool m_pugixmlWriter = true;
    // Hidden top-level element that keeps nodes taken out of the tree alive until the next load.
    pugi::xml_node m_removed;
    TXMLChildClass m_binding{nullptr, nullptr, nullptr};
};

// A node of a document: an element, an attribute, a text, a CDATA section, a comment or a
// processing instruction. Typed binding classes derive from it.
class TXMLNode
{
  public:
    // Name of the interface, shown when a cast to a typed interface fails; each binding class has its own.
    static constexpr const char IID[] = "IXMLNode";

    explicit TXMLNode(const TXMLNodeInit &init);
    // A handle on the attribute of an element; an empty attr stands for a missing attribute named attrName.
    TXMLNode(const TXMLNodeInit &init, pugi::xml_attribute attr, const QByteArray &attrName);
    virtual ~TXMLNode();
    TXMLNode(const TXMLNode &) = delete;
    TXMLNode &operator=(const TXMLNode &) = delete;

    // The name as written (with its prefix); "#text", "#cdata-section" or "#comment" for those nodes.
    QString NodeName() const;
    // The name without its prefix.
    QString LocalName() const;
    // The prefix of the name, or empty.
    QString Prefix() const;
    // The namespace of an element or attribute, resolved through the xmlns declarations in scope.
    QString NamespaceURI() const;
    TNodeType NodeType() const;
    // The document that holds the node.
    IXMLDocument OwnerDocument() const;

    // The child nodes, in document order (empty for anything but an element).
    IXMLNodeList ChildNodes();
    // The attributes of an element, in document order.
    IXMLNodeList AttributeNodes();
    bool HasChildNodes() const;
    // True for an element without content or with a single text node.
    bool IsTextElement() const;

    // The value of the element's single text node ("" without content); for other nodes their value.
    // An element holding anything else raises "Element does not contain a single text node".
    QString Text() const;
    // Same as NodeValue(value).
    void Text(const QString &value);
    // An element's Text(); the value of any other node.
    QString NodeValue() const;
    // An element's content becomes one text node with that value; other nodes take the value.
    void NodeValue(const QString &value);

    // The node with its subtree, without indentation (an attribute as name="value"). An element inside
    // another also declares the namespaces it inherits and uses, so that its markup stands alone.
    QString XML() const;
    QByteArray XMLUtf8() const;

    // Appends an element as the last child, in this element's namespace, with no declaration of its own.
    IXMLNode AddChild(const QString &name);
    // Appends an element in the given namespace, declaring it when it differs from the one in scope.
    IXMLNode AddChild(const QString &name, const QString &namespaceURI);
    // Adds the attribute or replaces its value; "xmlns" is written as given.
    void SetAttribute(const QString &name, const QString &value);

  protected:
    // Called once after the object is made; binding classes create their collections here.
    virtual void AfterConstruction() {}
    // The classes of registered child elements; binding classes return their table.
    virtual std::span<const TXMLChildClass> ChildNodeClasses() const { return {}; }

    // Shortcuts of the binding accessors, same behaviour as through ChildNodes()/AttributeNodes().
    QString ChildText(const char *name);
    void SetChildText(const char *name, const QString &value);
    IXMLNode ChildNode(const char *name);
    QString AttributeText(const char *name) const;
    void SetAttributeText(const char *name, const QString &value);
    // What a node object on the same element is made of (for collections over it).
    TXMLNodeInit Init() const;

  private:
    friend class TXMLNodeList;
    friend class TXMLDocument;
    friend class TXMLNodeCollection;
    friend IXMLNode MakeNode(const TXMLChildClass *cls, const TXMLNodeInit &init);

    void CheckAlive() const;
    pugi::xml_node Element(const char *operation) const;
    const TXMLChildClass *ChildClass(const char *name) const;
    IXMLNode ChildByName(const char *name, bool create);
    IXMLNode AppendElement(const QByteArray &name, const char *namespaceURI);
    QByteArray NamespaceOf(const QByteArray &prefix) const;

    std::shared_ptr<TXMLDocument> m_doc;
    pugi::xml_node m_node;
    pugi::xml_attribute m_attr;
    QByteArray m_attrName;
    uint64_t m_generation;
    bool m_isAttribute = false;
};

// Makes the node object for an element: the registered class when cls has one, else TXMLNode.
IXMLNode MakeNode(const TXMLChildClass *cls, const TXMLNodeInit &init);

// The child nodes or the attributes of one node, indexed from 0.
class TXMLNodeList
{
  public:
    TXMLNodeList(const TXMLNodeInit &owner, std::span<const TXMLChildClass> classes, bool attributes);

    int Count() const;
    // The node at that position; an index outside the list raises an error.
    IXMLNode Nodes(int index) const;
    // The first node of that name; a missing element is created empty at the end of the owner's
    // children. A missing attribute comes back as an empty attribute node that is not added
    // to the element until a value is set on it.
    IXMLNode Nodes(const QString &name) const;
    IXMLNode Nodes(const char *name) const;
    // The first node of that name, or nullptr.
    IXMLNode FindNode(const QString &name) const;
    IXMLNode FindNode(const char *name) const;
    IXMLNode operator[](int index) const { return Nodes(index); }
    IXMLNode operator[](const char *name) const { return Nodes(name); }

  private:
    void CheckAlive() const;
    bool Visible(pugi::xml_node node) const;
    pugi::xml_node At(int index) const;
    IXMLNode Wrap(pugi::xml_node node) const;
    IXMLNode WrapAttribute(pugi::xml_attribute attr, const QByteArray &name) const;
    IXMLNode Find(const char *name, bool create) const;

    TXMLNodeInit m_owner;
    std::span<const TXMLChildClass> m_classes;
    uint64_t m_generation;
    bool m_attributes;
    // Last position reached, so walking the list by index stays linear.
    mutable uint64_t m_cacheStructure = ~uint64_t(0);
    mutable int m_cacheIndex = -1;
    mutable pugi::xml_node m_cacheNode;
    mutable pugi::xml_attribute m_cacheAttr;
    mutable int m_cacheCount = -1;
};

// Repeating child elements of one name, read and added as typed items. A collection is either a view
// of the repeating children of its owner element or the element itself when it holds only those items.
class TXMLNodeCollection : public TXMLNode
{
  public:
    TXMLNodeCollection(const TXMLNodeInit &init, const char *itemTag, TXMLNodeFactory itemFactory,
                       const char *itemNamespace);

    // Number of items.
    int Count();
    const char *ItemTag() const { return m_itemTag; }

  protected:
    // The item at that position (from 0); outside the list an error.
    IXMLNode ItemNode(int index);
    // A new item appended after the last child of the element.
    IXMLNode AddItem();
    // A new item inserted before the item at that position (at the end when index is Count()).
    IXMLNode InsertItem(int index);

  private:
    pugi::xml_node ItemAt(int index);
    IXMLNode MakeItem(pugi::xml_node node);

    const char *m_itemTag;
    TXMLChildClass m_itemClass;
};

namespace vnd
{
// The node as typed interface I (a std::shared_ptr of a binding class); nullptr stays nullptr.
// A node of another class raises an error naming both.
template <class I> I XmlCast(const IXMLNode &node)
{
    if (!node)
        return nullptr;
    auto typed = std::dynamic_pointer_cast<typename I::element_type>(node);
    if (!typed)
        throw Exception(QStringLiteral("O nó \"%1\" não implementa a interface %2")
                            .arg(node->NodeName(), QLatin1String(I::element_type::IID)));
    return typed;
}
} // namespace vnd
