// Nodes of the document services.

#include "xml/xmlinternal.h"

#include <cstring>

using namespace vnd::xmlimpl;

namespace
{

QString NodeNameOf(pugi::xml_node node)
{
    switch (node.type()) {
    case pugi::node_pcdata:
        return QStringLiteral("#text");
    case pugi::node_cdata:
        return QStringLiteral("#cdata-section");
    case pugi::node_comment:
        return QStringLiteral("#comment");
    case pugi::node_document:
        return QStringLiteral("#document");
    default:
        return QString::fromUtf8(node.name());
    }
}

} // namespace

IXMLNode MakeNode(const TXMLChildClass *cls, const TXMLNodeInit &init)
{
    IXMLNode node = cls && cls->factory ? cls->factory(init) : std::make_shared<TXMLNode>(init);
    node->AfterConstruction();
    return node;
}

TXMLNode::TXMLNode(const TXMLNodeInit &init)
    : m_doc(init.doc), m_node(init.node), m_generation(init.doc->m_generation)
{
}

TXMLNode::TXMLNode(const TXMLNodeInit &init, pugi::xml_attribute attr, const QByteArray &attrName)
    : m_doc(init.doc), m_node(init.node), m_attr(attr), m_attrName(attrName),
      m_generation(init.doc->m_generation), m_isAttribute(true)
{
}

TXMLNode::~TXMLNode() = default;

void TXMLNode::CheckAlive() const
{
    if (m_generation != m_doc->m_generation)
        throw Exception(
            QStringLiteral("Nó XML inválido: o documento foi recarregado depois que o nó foi obtido"));
}

pugi::xml_node TXMLNode::Element(const char *operation) const
{
    CheckAlive();
    if (m_isAttribute || m_node.type() != pugi::node_element)
        throw Exception(QStringLiteral("%1 só se aplica a elementos, não a \"%2\"")
                            .arg(QLatin1String(operation), NodeName()));
    return m_node;
}

TXMLNodeInit TXMLNode::Init() const
{
    return TXMLNodeInit{m_doc, m_node};
}

QString TXMLNode::NodeName() const
{
    CheckAlive();
    if (m_isAttribute)
        return QString::fromUtf8(m_attr ? QByteArray(m_attr.name()) : m_attrName);
    return NodeNameOf(m_node);
}

QString TXMLNode::LocalName() const
{
    const QString name = NodeName();
    const qsizetype colon = name.indexOf(QLatin1Char(':'));
    return colon < 0 || name.startsWith(QLatin1Char('#')) ? name : name.mid(colon + 1);
}

QString TXMLNode::Prefix() const
{
    const QString name = NodeName();
    const qsizetype colon = name.indexOf(QLatin1Char(':'));
    return colon < 0 ? QString() : name.left(colon);
}

QByteArray TXMLNode::NamespaceOf(const QByteArray &prefix) const
{
    return NamespaceInScope(m_node, prefix);
}

QString TXMLNode::NamespaceURI() const
{
    CheckAlive();
    const QString prefix = Prefix();
    if (m_isAttribute) {
        const QString name = NodeName();
        if (name == QLatin1String("xmlns") || prefix == QLatin1String("xmlns"))
            return QStringLiteral("http://www.w3.org/2000/xmlns/");
        return prefix.isEmpty() ? QString() : QString::fromUtf8(NamespaceOf(prefix.toUtf8()));
    }
    if (m_node.type() != pugi::node_element)
        return QString();
    return QString::fromUtf8(NamespaceOf(prefix.toUtf8()));
}

TNodeType TXMLNode::NodeType() const
{
    CheckAlive();
    if (m_isAttribute)
        return TNodeType::ntAttribute;
    switch (m_node.type()) {
    case pugi::node_element:
        return TNodeType::ntElement;
    case pugi::node_pcdata:
        return TNodeType::ntText;
    case pugi::node_cdata:
        return TNodeType::ntCData;
    case pugi::node_comment:
        return TNodeType::ntComment;
    case pugi::node_document:
        return TNodeType::ntDocument;
    default:
        return TNodeType::ntProcessingInstr;
    }
}

IXMLDocument TXMLNode::OwnerDocument() const
{
    return m_doc;
}

IXMLNodeList TXMLNode::ChildNodes()
{
    CheckAlive();
    const bool hasChildren = !m_isAttribute && m_node.type() == pugi::node_element;
    return std::make_shared<TXMLNodeList>(TXMLNodeInit{m_doc, hasChildren ? m_node : pugi::xml_node()},
                                          ChildNodeClasses(), false);
}

IXMLNodeList TXMLNode::AttributeNodes()
{
    CheckAlive();
    const bool hasAttributes = !m_isAttribute && m_node.type() == pugi::node_element;
    return std::make_shared<TXMLNodeList>(TXMLNodeInit{m_doc, hasAttributes ? m_node : pugi::xml_node()},
                                          std::span<const TXMLChildClass>(), true);
}

bool TXMLNode::HasChildNodes() const
{
    CheckAlive();
    return !m_isAttribute && m_node.type() == pugi::node_element && m_node.first_child();
}

bool TXMLNode::IsTextElement() const
{
    CheckAlive();
    if (m_isAttribute || m_node.type() != pugi::node_element)
        return false;
    const pugi::xml_node first = m_node.first_child();
    return !first || (!first.next_sibling() && first.type() == pugi::node_pcdata);
}

QString TXMLNode::Text() const
{
    CheckAlive();
    if (m_isAttribute)
        return m_attr ? QString::fromUtf8(m_attr.value()) : QString();
    if (m_node.type() == pugi::node_element)
        return ElementText(m_node);
    return QString::fromUtf8(m_node.value());
}

void TXMLNode::Text(const QString &value)
{
    NodeValue(value);
}

QString TXMLNode::NodeValue() const
{
    return Text();
}

void TXMLNode::NodeValue(const QString &value)
{
    CheckAlive();
    const QByteArray name = NodeName().toUtf8();
    const QByteArray utf8 = CheckedValue(value, name.constData());
    if (m_isAttribute) {
        if (!m_attr)
            m_attr = m_node.attribute(m_attrName.constData());
        if (!m_attr) {
            m_attr = m_node.append_attribute(m_attrName.constData());
            ++m_doc->m_structure;
        }
        m_doc->NoteValue(utf8, true);
        m_attr.set_value(utf8.constData());
        return;
    }
    switch (m_node.type()) {
    case pugi::node_element:
        m_doc->SetElementText(m_node, utf8);
        return;
    case pugi::node_comment:
        if (utf8.contains("--") || utf8.endsWith('-'))
            throw Exception(QStringLiteral("Um comentário XML não pode conter \"--\""));
        break;
    case pugi::node_pi:
    case pugi::node_declaration:
        if (utf8.contains("?>"))
            throw Exception(QStringLiteral("Uma instrução de processamento não pode conter \"?>\""));
        break;
    default:
        break;
    }
    m_doc->NoteValue(utf8, false);
    m_node.set_value(utf8.constData());
}

QByteArray TXMLNode::XMLUtf8() const
{
    CheckAlive();
    QByteArray out;
    if (m_isAttribute) {
        WriteAttribute(out, m_attr ? m_attr.name() : m_attrName.constData(), m_attr ? m_attr.value() : "");
        return out.mid(1);
    }
    // An element inside another carries the declarations it inherits, so its markup stands alone.
    if (m_node.type() == pugi::node_element && m_node.parent().type() == pugi::node_element)
        WriteSubtree(out, m_node, InheritedDeclarations(m_node), m_doc->m_pugixmlWriter);
    else
        WriteSubtree(out, m_node, {}, m_doc->m_pugixmlWriter);
    return out;
}

QString TXMLNode::XML() const
{
    return QString::fromUtf8(XMLUtf8());
}

IXMLNode TXMLNode::AppendElement(const QByteArray &name, const char *namespaceURI)
{
    pugi::xml_node child = m_node.append_child(name.constData());
    ++m_doc->m_structure;
    DeclareNamespace(child, namespaceURI);
    return MakeNode(FindClass(ChildNodeClasses(), child.name()), TXMLNodeInit{m_doc, child});
}

IXMLNode TXMLNode::AddChild(const QString &name)
{
    Element("AddChild");
    return AppendElement(CheckedName(name, "elemento"), nullptr);
}

IXMLNode TXMLNode::AddChild(const QString &name, const QString &namespaceURI)
{
    Element("AddChild");
    const QByteArray ns = CheckedValue(namespaceURI, "xmlns");
    m_doc->NoteValue(ns, true);
    return AppendElement(CheckedName(name, "elemento"), ns.isEmpty() ? nullptr : ns.constData());
}

void TXMLNode::SetAttribute(const QString &name, const QString &value)
{
    pugi::xml_node element = Element("SetAttribute");
    const QByteArray key = CheckedName(name, "atributo");
    const QByteArray utf8 = CheckedValue(value, key.constData());
    pugi::xml_attribute a = element.attribute(key.constData());
    if (!a) {
        a = element.append_attribute(key.constData());
        ++m_doc->m_structure;
    }
    m_doc->NoteValue(utf8, true);
    a.set_value(utf8.constData());
}

const TXMLChildClass *TXMLNode::ChildClass(const char *name) const
{
    return FindClass(ChildNodeClasses(), name);
}

IXMLNode TXMLNode::ChildByName(const char *name, bool create)
{
    pugi::xml_node element = Element("ChildNodes");
    const TXMLChildClass *cls = ChildClass(name);
    pugi::xml_node child = m_doc->ChildElement(element, name, cls ? cls->namespaceURI : nullptr, create);
    return child ? MakeNode(cls, TXMLNodeInit{m_doc, child}) : nullptr;
}

QString TXMLNode::ChildText(const char *name)
{
    pugi::xml_node element = Element("ChildNodes");
    return ElementText(m_doc->ChildElement(element, name, nullptr, true));
}

void TXMLNode::SetChildText(const char *name, const QString &value)
{
    pugi::xml_node element = Element("ChildNodes");
    const QByteArray utf8 = CheckedValue(value, name);
    m_doc->SetElementText(m_doc->ChildElement(element, name, nullptr, true), utf8);
}

IXMLNode TXMLNode::ChildNode(const char *name)
{
    return ChildByName(name, true);
}

QString TXMLNode::AttributeText(const char *name) const
{
    const pugi::xml_node element = Element("AttributeNodes");
    const pugi::xml_attribute a = element.attribute(name);
    return a ? QString::fromUtf8(a.value()) : QString();
}

void TXMLNode::SetAttributeText(const char *name, const QString &value)
{
    SetAttribute(QString::fromUtf8(name), value);
}
