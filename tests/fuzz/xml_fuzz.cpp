// libFuzzer target of the document services: decode and load arbitrary bytes, walk and read the whole
// tree, serialise it, and check that the serialised text loads back to exactly the same text.

#include "xml/UUtf8.h"
#include "xml/xmldoc.h"
#include "xml/xmlencoding.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{

void Walk(const IXMLNode &root)
{
    std::vector<IXMLNode> stack{root};
    while (!stack.empty()) {
        IXMLNode node = stack.back();
        stack.pop_back();
        node->NodeName();
        node->NamespaceURI();
        try {
            node->Text();
        } catch (const Exception &) {
            // Content other than a single text node: the documented error.
        }
        IXMLNodeList attributes = node->AttributeNodes();
        for (int i = 0; i < attributes->Count(); ++i)
            attributes->Nodes(i)->XML();
        IXMLNodeList children = node->ChildNodes();
        for (int i = 0; i < children->Count(); ++i)
            stack.push_back(children->Nodes(i));
        children->FindNode("x");
    }
}

[[noreturn]] void Fail(const char *what, const QByteArray &a, const QByteArray &b)
{
    std::fprintf(stderr, "%s\n--- first\n%s\n--- second\n%s\n", what, a.constData(), b.constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    // The published UTF-8 routines must stay inside their buffers whatever the input.
    UTF8Decode(bytes);
    char16_t units[16];
    Utf8ToUnicode(units, uint32_t(size % 17), bytes.constData(), uint32_t(size));

    QString text;
    try {
        text = vnd::DecodeXmlBytes(bytes, size % 2 ? vnd::XmlLeadingBytes::Skip : vnd::XmlLeadingBytes::Keep);
    } catch (const Exception &) {
        return 0;
    }
    UTF8Encode(text);

    IXMLDocument doc = TXMLDocument::Create();
    try {
        doc->LoadFromXML(text);
    } catch (const Exception &) {
        return 0;
    }
    const QByteArray first = doc->XMLUtf8();
    Walk(doc->DocumentElement());

    IXMLDocument again = TXMLDocument::Create();
    try {
        again->LoadFromUtf8(first);
    } catch (const Exception &e) {
        Fail(("serialised text does not load: " + e.Message()).toUtf8().constData(), first, QByteArray());
    }
    const QByteArray second = again->XMLUtf8();
    if (second != first)
        Fail("serialised text loads to another text", first, second);
    return 0;
}
