#pragma once
// Internals shared by the source files of the document services; not for use outside xml/.

#include "xml/xmldoc.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <pugixml.hpp>
#include <span>
#include <utility>
#include <vector>

namespace vnd::xmlimpl
{

// Parses UTF-8 text into doc (left empty on a fault) and checks what pugixml lets through (entities, control
// characters, DOCTYPE, text outside the root, several roots, repeated attributes, depth).
// The text is parsed in place: the tree points into utf8, which must live as long as the tree.
// Raises EXMLParseError with the line and column of the fault, found in the text pristine() gives
// (utf8 as it was before the parse). *pugixmlWriter tells whether pugixml's own writer puts the
// tree's values as WriteDocument does (see PugixmlWritesAlike).
void ParseTree(pugi::xml_document &doc, QByteArray &utf8, const std::function<QByteArray()> &pristine,
               bool *pugixmlWriter);

// What the scan of raw text found: the byte offset of a fault (-1 when there is none) and its reason;
// the first fault of the tree the text makes, which counts once the parser accepted the text; and
// whether every value of the text, once decoded, is written by pugixml as by our writer.
struct ScanResult {
    qsizetype offset = -1;
    QString reason;
    qsizetype treeOffset = -1;
    QString treeReason;
    bool pugixmlWriter = true;
};

// Checks raw UTF-8 text for what the parser would accept although XML forbids it: an undefined entity,
// a bad character reference, a control character, "<" in an attribute value, a DOCTYPE; and, for a
// text that parses, several roots, text outside the root, a declaration that does not come first, a
// repeated attribute, elements nested deeper than kMaxXmlDepth.
ScanResult ScanText(const char *text, qsizetype size);

// Line and column (from 1, the column in characters) of a byte offset of UTF-8 text.
std::pair<int, int> LineColumn(const char *text, qsizetype size, qsizetype offset);

// Offset of the first byte that does not start a valid UTF-8 sequence, or -1 when all is valid.
qsizetype InvalidUtf8At(const char *text, qsizetype size);

// A namespace declaration: attribute name ("xmlns" or "xmlns:p") and namespace.
using NamespaceDeclaration = std::pair<QByteArray, QByteArray>;

// Whether pugixml's writer (format_raw) puts a value exactly as our writer does. They differ on a
// carriage return in a text and on a tab, line break, carriage return or ">" in an attribute value;
// a tree holding such a value is written by our writer alone.
bool PugixmlWritesAlike(const char *utf8, bool attribute);

// Appends the node with its subtree, without indentation; `extra` declarations go on its start tag.
// With pugixmlWriter (and no extra declarations) pugixml's writer does the work, which is faster.
void WriteSubtree(QByteArray &out, pugi::xml_node node, std::span<const NamespaceDeclaration> extra = {},
                  bool pugixmlWriter = false);
// Appends the top-level nodes of a document separated by CR LF, leaving out `hidden`.
void WriteDocument(QByteArray &out, pugi::xml_node document, pugi::xml_node hidden, bool pugixmlWriter);
// As WriteDocument with pugixml's writer, straight into UTF-16 text; sizeHint is the expected size.
void WriteDocumentText(QString &out, pugi::xml_node document, pugi::xml_node hidden, qsizetype sizeHint);
// Appends name="value" of one attribute.
void WriteAttribute(QByteArray &out, const char *name, const char *value);

// The UTF-8 form of an element or attribute name; an error when it is not an XML name.
QByteArray CheckedName(const QString &name, const char *kind);
// The UTF-8 form of a text or attribute value; an error naming `owner` when it holds a character
// that XML cannot carry.
QByteArray CheckedValue(const QString &value, const char *owner);

// The namespace bound to prefix ("" for the default namespace) in scope at element.
QByteArray NamespaceInScope(pugi::xml_node element, const QByteArray &prefix);
// The declarations an element takes from its ancestors for the prefixes used in its subtree, so that
// its markup read on its own means the same.
std::vector<NamespaceDeclaration> InheritedDeclarations(pugi::xml_node element);
// Declares namespaceURI on a new element when the namespace in scope for its prefix differs.
void DeclareNamespace(pugi::xml_node element, const char *namespaceURI);

// The registered class of an element name, or nullptr.
const TXMLChildClass *FindClass(std::span<const TXMLChildClass> classes, const char *name);

// The text of an element holding at most one text node; the single-text-node error otherwise.
QString ElementText(pugi::xml_node element);

} // namespace vnd::xmlimpl
