// Names, values and namespaces of the document services: the checks and lookups that nodes,
// documents and lists share.

#include "xml/xmlinternal.h"

#include <algorithm>
#include <cstring>

namespace vnd::xmlimpl
{

namespace
{

bool IsNameStart(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}

bool IsNameChar(unsigned char c)
{
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

} // namespace

QByteArray CheckedName(const QString &name, const char *kind)
{
    const QByteArray utf8 = CheckedValue(name, kind);
    bool valid = !utf8.isEmpty() && IsNameStart(static_cast<unsigned char>(utf8[0]));
    for (qsizetype i = 1; valid && i < utf8.size(); ++i)
        valid = IsNameChar(static_cast<unsigned char>(utf8[i]));
    if (!valid)
        throw Exception(QStringLiteral("Nome de %1 inválido em XML: \"%2\"").arg(QLatin1String(kind), name));
    return utf8;
}

QByteArray CheckedValue(const QString &value, const char *owner)
{
    const char16_t *units = reinterpret_cast<const char16_t *>(value.utf16());
    const qsizetype n = value.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = units[i];
        bool valid;
        if (c < 0x20)
            valid = c == '\t' || c == '\n' || c == '\r';
        else if (c >= 0xD800 && c <= 0xDBFF) {
            valid = i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
            ++i;
        } else
            valid = !(c >= 0xDC00 && c <= 0xDFFF) && c != 0xFFFE && c != 0xFFFF;
        if (!valid)
            throw Exception(QStringLiteral("Caractere inválido em XML (U+%1) no valor de \"%2\"")
                                .arg(uint(c), 4, 16, QLatin1Char('0'))
                                .toUpper()
                                .arg(QString::fromUtf8(owner)));
    }
    return value.toUtf8();
}

QByteArray NamespaceInScope(pugi::xml_node element, const QByteArray &prefix)
{
    if (prefix == "xml")
        return QByteArrayLiteral("http://www.w3.org/XML/1998/namespace");
    const QByteArray attribute = prefix.isEmpty() ? QByteArrayLiteral("xmlns") : "xmlns:" + prefix;
    for (; element && element.type() == pugi::node_element; element = element.parent()) {
        if (pugi::xml_attribute a = element.attribute(attribute.constData()))
            return QByteArray(a.value());
    }
    return QByteArray();
}

void DeclareNamespace(pugi::xml_node element, const char *namespaceURI)
{
    if (!namespaceURI)
        return;
    const char *name = element.name();
    const char *colon = std::strchr(name, ':');
    const QByteArray prefix = colon ? QByteArray(name, colon - name) : QByteArray();
    if (NamespaceInScope(element, prefix) == namespaceURI)
        return;
    const QByteArray attribute = prefix.isEmpty() ? QByteArrayLiteral("xmlns") : "xmlns:" + prefix;
    element.append_attribute(attribute.constData()).set_value(namespaceURI);
}

namespace
{

QByteArray PrefixOf(const char *name)
{
    const char *colon = std::strchr(name, ':');
    return colon ? QByteArray(name, colon - name) : QByteArray("");
}

} // namespace

std::vector<NamespaceDeclaration> InheritedDeclarations(pugi::xml_node element)
{
    std::vector<QByteArray> prefixes;
    auto use = [&prefixes](const QByteArray &prefix) {
        if (prefix != "xml" && prefix != "xmlns" &&
            std::find(prefixes.begin(), prefixes.end(), prefix) == prefixes.end())
            prefixes.push_back(prefix);
    };
    for (pugi::xml_node node = element;;) {
        if (node.type() == pugi::node_element) {
            use(PrefixOf(node.name()));
            for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
                if (std::strchr(a.name(), ':'))
                    use(PrefixOf(a.name()));
            }
        }
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node != element && !node.next_sibling())
            node = node.parent();
        if (node == element)
            break;
        node = node.next_sibling();
    }
    std::vector<NamespaceDeclaration> declarations;
    for (const QByteArray &prefix : prefixes) {
        const QByteArray attribute = prefix.isEmpty() ? QByteArrayLiteral("xmlns") : "xmlns:" + prefix;
        if (element.attribute(attribute.constData()))
            continue;
        const QByteArray ns = NamespaceInScope(element.parent(), prefix);
        if (!ns.isEmpty())
            declarations.emplace_back(attribute, ns);
    }
    return declarations;
}

const TXMLChildClass *FindClass(std::span<const TXMLChildClass> classes, const char *name)
{
    for (const TXMLChildClass &c : classes) {
        if (std::strcmp(c.name, name) == 0)
            return &c;
    }
    return nullptr;
}

QString ElementText(pugi::xml_node element)
{
    const pugi::xml_node first = element.first_child();
    if (!first)
        return QString();
    if (first.next_sibling() || first.type() != pugi::node_pcdata)
        throw Exception(QStringLiteral("Element does not contain a single text node"));
    return QString::fromUtf8(first.value());
}

} // namespace vnd::xmlimpl
