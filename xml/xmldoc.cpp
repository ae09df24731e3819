// Documents of the document services: loading, serialising, the root element and the declaration.

#include "xml/xmldoc.h"

#include "xml/xmlinternal.h"

#include <QStringEncoder>
#include <cstring>

using namespace vnd::xmlimpl;

namespace
{

QString ParseErrorMessage(const QString &reason, int line, int column, const QString &fileName)
{
    const QString message =
        QStringLiteral("XML mal formado (linha %1, coluna %2): %3").arg(line).arg(column).arg(reason);
    return fileName.isEmpty() ? message : QStringLiteral("Arquivo \"%1\": %2").arg(fileName, message);
}

} // namespace

EXMLParseError::EXMLParseError(const QString &reason, int line, int column, const QString &fileName)
    : Exception(ParseErrorMessage(reason, line, column, fileName)), m_reason(reason), m_line(line),
      m_column(column)
{
}

TXMLDocument::TXMLDocument(Private) : m_tree(std::make_unique<pugi::xml_document>()) {}

TXMLDocument::~TXMLDocument() = default;

IXMLDocument TXMLDocument::Create()
{
    return std::make_shared<TXMLDocument>(Private());
}

void TXMLDocument::Clear()
{
    m_tree->reset();
    m_buffer = QByteArray();
    m_pugixmlWriter = true;
    m_removed = pugi::xml_node();
    ++m_generation;
    ++m_structure;
}

void TXMLDocument::Active(bool value)
{
    if (!value)
        Clear();
}

void TXMLDocument::CheckLoadable(qsizetype utf8Size) const
{
    if (utf8Size > vnd::kMaxXmlBytes)
        throw Exception(QStringLiteral("Texto XML grande demais: %1 MB (o limite é %2 MB)")
                            .arg(utf8Size / (1024 * 1024))
                            .arg(vnd::kMaxXmlBytes / (1024 * 1024)));
}

void TXMLDocument::ParseInto(QByteArray utf8, const std::function<QByteArray()> &pristine)
{
    CheckLoadable(utf8.size());
    ParseTree(*m_tree, utf8, pristine, &m_pugixmlWriter);
    m_buffer = std::move(utf8);
    ++m_structure;
}

void TXMLDocument::NoteValue(const QByteArray &utf8, bool attribute)
{
    if (m_pugixmlWriter && !PugixmlWritesAlike(utf8.constData(), attribute))
        m_pugixmlWriter = false;
}

namespace
{

// Raises on the first surrogate that is not part of a pair, with its place: such text has no UTF-8 form.
[[noreturn]] void RaiseUnpairedSurrogate(const QString &xml)
{
    const char16_t *units = reinterpret_cast<const char16_t *>(xml.utf16());
    const qsizetype n = xml.size();
    int line = 1;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = units[i];
        if (c == '\n') {
            ++line;
            lineStart = i + 1;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            const bool paired = c <= 0xDBFF && i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
            if (!paired)
                throw EXMLParseError(QStringLiteral("caractere substituto (surrogate) isolado U+%1")
                                         .arg(uint(c), 4, 16, QLatin1Char('0'))
                                         .toUpper(),
                                     line, int(i - lineStart + 1));
            ++i;
        }
    }
    throw EXMLParseError(QStringLiteral("texto que não pode ser convertido para UTF-8"), 1, 1);
}

} // namespace

void TXMLDocument::LoadFromXML(const QString &xml)
{
    // The old tree goes first: whatever happens below, no reader sees the previous file's content.
    Clear();
    // Every character takes at least one byte: refuse a huge text before converting it.
    CheckLoadable(xml.size());
    // The encoder counts what it could not convert: a surrogate without its pair. Only then is the
    // text read again to name the place.
    QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    QByteArray utf8 = encoder(xml);
    if (encoder.hasError())
        RaiseUnpairedSurrogate(xml);
    ParseInto(std::move(utf8), [&xml] { return xml.toUtf8(); });
}

void TXMLDocument::LoadFromUtf8(const QByteArray &utf8)
{
    Clear();
    CheckLoadable(utf8.size());
    const qsizetype bad = InvalidUtf8At(utf8.constData(), utf8.size());
    if (bad >= 0) {
        const auto [line, column] = LineColumn(utf8.constData(), utf8.size(), bad);
        throw EXMLParseError(QStringLiteral("sequência UTF-8 inválida no byte %1").arg(bad), line, column);
    }
    // A copy is parsed in place; the caller's bytes stay as they were and give the error positions.
    ParseInto(QByteArray(utf8.constData(), utf8.size()), [&utf8] { return utf8; });
}

QByteArray TXMLDocument::XMLUtf8() const
{
    QByteArray out;
    // A loaded document serialises to about the size it was loaded from.
    out.reserve(m_buffer.size() + 256);
    WriteDocument(out, *m_tree, m_removed, m_pugixmlWriter);
    return out;
}

QString TXMLDocument::XML() const
{
    if (!m_pugixmlWriter)
        return QString::fromUtf8(XMLUtf8());
    QString out;
    WriteDocumentText(out, *m_tree, m_removed, m_buffer.size() + 256);
    return out;
}

TXMLNodeInit TXMLDocument::InitFor(pugi::xml_node node)
{
    return TXMLNodeInit{shared_from_this(), node};
}

IXMLNode TXMLDocument::MakeRoot(pugi::xml_node root)
{
    const TXMLChildClass *cls = nullptr;
    if (m_binding.name && std::strcmp(root.name(), m_binding.name) == 0 &&
        (!m_binding.namespaceURI || NamespaceInScope(root, QByteArray()) == m_binding.namespaceURI))
        cls = &m_binding;
    return MakeNode(cls, InitFor(root));
}

pugi::xml_node TXMLDocument::RootElement() const
{
    for (pugi::xml_node node = m_tree->first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && node != m_removed)
            return node;
    }
    return pugi::xml_node();
}

IXMLNode TXMLDocument::DocumentElement()
{
    const pugi::xml_node root = RootElement();
    return root ? MakeRoot(root) : nullptr;
}

IXMLNodeList TXMLDocument::ChildNodes()
{
    return std::make_shared<TXMLNodeList>(InitFor(*m_tree), std::span<const TXMLChildClass>(), false);
}

IXMLNode TXMLDocument::AddChild(const QString &name)
{
    return AddChild(name, QString());
}

IXMLNode TXMLDocument::AddChild(const QString &name, const QString &namespaceURI)
{
    const QByteArray key = CheckedName(name, "elemento");
    const QByteArray ns = CheckedValue(namespaceURI, "xmlns");
    NoteValue(ns, true);
    return MakeRoot(AppendRoot(key, ns.isEmpty() ? nullptr : ns.constData()));
}

pugi::xml_node TXMLDocument::AppendRoot(const QByteArray &name, const char *namespaceURI)
{
    if (const pugi::xml_node existing = RootElement())
        throw Exception(QStringLiteral("O documento XML já tem o elemento raiz \"%1\"")
                            .arg(QString::fromUtf8(existing.name())));
    pugi::xml_node root = m_tree->append_child(name.constData());
    ++m_structure;
    DeclareNamespace(root, namespaceURI);
    return root;
}

pugi::xml_node TXMLDocument::ChildElement(pugi::xml_node parent, const char *name, const char *namespaceURI,
                                          bool create)
{
    for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element && c != m_removed && std::strcmp(c.name(), name) == 0)
            return c;
    }
    if (!create)
        return pugi::xml_node();
    const QByteArray key = CheckedName(QString::fromUtf8(name), "elemento");
    if (parent.type() == pugi::node_document)
        return AppendRoot(key, namespaceURI);
    pugi::xml_node child = parent.append_child(key.constData());
    ++m_structure;
    DeclareNamespace(child, namespaceURI);
    return child;
}

void TXMLDocument::SetElementText(pugi::xml_node element, const QByteArray &utf8)
{
    NoteValue(utf8, false);
    pugi::xml_node first = element.first_child();
    if (first && !first.next_sibling() && first.type() == pugi::node_pcdata && !utf8.isEmpty()) {
        first.set_value(utf8.constData());
        return;
    }
    // Replaced content is moved aside rather than freed: handles on it stay valid, and pugixml's
    // recursive node destruction is never run on a deep subtree.
    if (first) {
        pugi::xml_node holder = RemovedHolder();
        while (pugi::xml_node child = element.first_child())
            holder.append_move(child);
    }
    if (!utf8.isEmpty())
        element.append_child(pugi::node_pcdata).set_value(utf8.constData());
    ++m_structure;
}

pugi::xml_node TXMLDocument::RemovedHolder()
{
    if (!m_removed) {
        m_removed = m_tree->append_child(pugi::node_element);
        m_removed.set_name("#removed");
    }
    return m_removed;
}

pugi::xml_node TXMLDocument::Declaration(bool create)
{
    pugi::xml_node first = m_tree->first_child();
    if (first.type() == pugi::node_declaration || !create)
        return first.type() == pugi::node_declaration ? first : pugi::xml_node();
    pugi::xml_node declaration = m_tree->prepend_child(pugi::node_declaration);
    declaration.set_name("xml");
    declaration.append_attribute("version").set_value("1.0");
    ++m_structure;
    return declaration;
}

QString TXMLDocument::Encoding() const
{
    pugi::xml_node first = m_tree->first_child();
    return first.type() == pugi::node_declaration ? QString::fromUtf8(first.attribute("encoding").value())
                                                  : QString();
}

void TXMLDocument::Encoding(const QString &value)
{
    const QByteArray utf8 = CheckedValue(value, "encoding");
    pugi::xml_node declaration = Declaration(true);
    pugi::xml_attribute a = declaration.attribute("encoding");
    if (!a) {
        pugi::xml_attribute version = declaration.attribute("version");
        a = version ? declaration.insert_attribute_after("encoding", version)
                    : declaration.prepend_attribute("encoding");
    }
    NoteValue(utf8, true);
    a.set_value(utf8.constData());
}

QString TXMLDocument::Version() const
{
    pugi::xml_node first = m_tree->first_child();
    return first.type() == pugi::node_declaration ? QString::fromUtf8(first.attribute("version").value())
                                                  : QString();
}

void TXMLDocument::Version(const QString &value)
{
    const QByteArray utf8 = CheckedValue(value, "version");
    pugi::xml_node declaration = Declaration(true);
    pugi::xml_attribute a = declaration.attribute("version");
    if (!a)
        a = declaration.prepend_attribute("version");
    NoteValue(utf8, true);
    a.set_value(utf8.constData());
}

void TXMLDocument::RegisterDocBinding(const TXMLChildClass &binding)
{
    m_binding = binding;
}
