// Node lists (children or attributes of a node) and the typed collections of the bindings.

#include "xml/xmlinternal.h"

#include <cstring>

using namespace vnd::xmlimpl;

namespace
{

QString OwnerName(pugi::xml_node owner)
{
    if (!owner)
        return QStringLiteral("(nó sem filhos)");
    return owner.type() == pugi::node_document ? QStringLiteral("#document")
                                               : QString::fromUtf8(owner.name());
}

[[noreturn]] void RaiseIndex(int index, int count, pugi::xml_node owner, const char *what)
{
    throw Exception(QStringLiteral("Índice %1 fora dos limites da lista de %2 de \"%3\" (%4 %2)")
                        .arg(index)
                        .arg(QLatin1String(what), OwnerName(owner))
                        .arg(count));
}

} // namespace

TXMLNodeList::TXMLNodeList(const TXMLNodeInit &owner, std::span<const TXMLChildClass> classes,
                           bool attributes)
    : m_owner(owner), m_classes(classes), m_generation(owner.doc->m_generation), m_attributes(attributes)
{
}

void TXMLNodeList::CheckAlive() const
{
    if (m_generation != m_owner.doc->m_generation)
        throw Exception(QStringLiteral(
            "Lista de nós XML inválida: o documento foi recarregado depois que ela foi obtida"));
    if (m_cacheStructure != m_owner.doc->m_structure) {
        m_cacheStructure = m_owner.doc->m_structure;
        m_cacheIndex = -1;
        m_cacheCount = -1;
    }
}

bool TXMLNodeList::Visible(pugi::xml_node node) const
{
    return node != m_owner.doc->m_removed;
}

int TXMLNodeList::Count() const
{
    CheckAlive();
    if (m_cacheCount < 0) {
        int count = 0;
        if (m_attributes) {
            for (pugi::xml_attribute a = m_owner.node.first_attribute(); a; a = a.next_attribute())
                ++count;
        } else {
            for (pugi::xml_node n = m_owner.node.first_child(); n; n = n.next_sibling())
                count += Visible(n);
        }
        m_cacheCount = count;
    }
    return m_cacheCount;
}

pugi::xml_node TXMLNodeList::At(int index) const
{
    int i = 0;
    pugi::xml_node n = m_owner.node.first_child();
    if (m_cacheIndex >= 0 && m_cacheIndex <= index) {
        i = m_cacheIndex;
        n = m_cacheNode;
    }
    for (; n; n = n.next_sibling()) {
        if (!Visible(n))
            continue;
        if (i == index)
            break;
        ++i;
    }
    if (n) {
        m_cacheIndex = index;
        m_cacheNode = n;
    }
    return n;
}

IXMLNode TXMLNodeList::Nodes(int index) const
{
    CheckAlive();
    if (m_attributes) {
        pugi::xml_attribute a = m_owner.node.first_attribute();
        for (int i = 0; a && i < index; ++i)
            a = a.next_attribute();
        if (index < 0 || !a)
            RaiseIndex(index, Count(), m_owner.node, "atributos");
        return WrapAttribute(a, QByteArray());
    }
    const pugi::xml_node n = index < 0 ? pugi::xml_node() : At(index);
    if (!n)
        RaiseIndex(index, Count(), m_owner.node, "nós");
    return Wrap(n);
}

IXMLNode TXMLNodeList::Wrap(pugi::xml_node node) const
{
    const TXMLChildClass *cls =
        node.type() == pugi::node_element ? FindClass(m_classes, node.name()) : nullptr;
    return MakeNode(cls, TXMLNodeInit{m_owner.doc, node});
}

IXMLNode TXMLNodeList::WrapAttribute(pugi::xml_attribute attr, const QByteArray &name) const
{
    return std::make_shared<TXMLNode>(m_owner, attr, name);
}

IXMLNode TXMLNodeList::Find(const char *name, bool create) const
{
    CheckAlive();
    if (!m_owner.node) {
        if (create)
            throw Exception(QStringLiteral("O nó não tem filhos nem atributos: \"%1\" não pode ser criado")
                                .arg(QString::fromUtf8(name)));
        return nullptr;
    }
    if (m_attributes) {
        pugi::xml_attribute a = m_owner.node.attribute(name);
        if (a)
            return WrapAttribute(a, QByteArray());
        return create ? WrapAttribute(a, CheckedName(QString::fromUtf8(name), "atributo")) : nullptr;
    }
    const TXMLChildClass *cls = FindClass(m_classes, name);
    const pugi::xml_node child =
        m_owner.doc->ChildElement(m_owner.node, name, cls ? cls->namespaceURI : nullptr, create);
    if (!child)
        return nullptr;
    if (m_owner.node.type() == pugi::node_document)
        return m_owner.doc->MakeRoot(child);
    return MakeNode(cls, TXMLNodeInit{m_owner.doc, child});
}

IXMLNode TXMLNodeList::Nodes(const char *name) const
{
    return Find(name, true);
}

IXMLNode TXMLNodeList::Nodes(const QString &name) const
{
    return Find(name.toUtf8().constData(), true);
}

IXMLNode TXMLNodeList::FindNode(const char *name) const
{
    return Find(name, false);
}

IXMLNode TXMLNodeList::FindNode(const QString &name) const
{
    return Find(name.toUtf8().constData(), false);
}

TXMLNodeCollection::TXMLNodeCollection(const TXMLNodeInit &init, const char *itemTag,
                                       TXMLNodeFactory itemFactory, const char *itemNamespace)
    : TXMLNode(init), m_itemTag(itemTag), m_itemClass{itemTag, itemFactory, itemNamespace}
{
}

int TXMLNodeCollection::Count()
{
    const pugi::xml_node element = Element("Count");
    int count = 0;
    for (pugi::xml_node n = element.child(m_itemTag); n; n = n.next_sibling(m_itemTag))
        ++count;
    return count;
}

pugi::xml_node TXMLNodeCollection::ItemAt(int index)
{
    const pugi::xml_node element = Element("Get_Item");
    pugi::xml_node n = element.child(m_itemTag);
    for (int i = 0; n && i < index; ++i)
        n = n.next_sibling(m_itemTag);
    return index < 0 ? pugi::xml_node() : n;
}

IXMLNode TXMLNodeCollection::MakeItem(pugi::xml_node node)
{
    return MakeNode(&m_itemClass, TXMLNodeInit{m_doc, node});
}

IXMLNode TXMLNodeCollection::ItemNode(int index)
{
    const pugi::xml_node n = ItemAt(index);
    if (!n)
        RaiseIndex(index, Count(), m_node, m_itemTag);
    return MakeItem(n);
}

IXMLNode TXMLNodeCollection::AddItem()
{
    pugi::xml_node element = Element("Add");
    // A new item goes right after the last one, so the items stay together in schema order.
    pugi::xml_node last;
    for (pugi::xml_node n = element.child(m_itemTag); n; n = n.next_sibling(m_itemTag))
        last = n;
    pugi::xml_node item =
        last ? element.insert_child_after(m_itemTag, last) : element.append_child(m_itemTag);
    ++m_doc->m_structure;
    DeclareNamespace(item, m_itemClass.namespaceURI);
    return MakeItem(item);
}

IXMLNode TXMLNodeCollection::InsertItem(int index)
{
    pugi::xml_node element = Element("Insert");
    if (index == Count())
        return AddItem();
    const pugi::xml_node before = ItemAt(index);
    if (!before)
        RaiseIndex(index, Count(), element, m_itemTag);
    pugi::xml_node item = element.insert_child_before(m_itemTag, before);
    ++m_doc->m_structure;
    DeclareNamespace(item, m_itemClass.namespaceURI);
    return MakeItem(item);
}
