// Every public sample document: load, walk, read, save, reload. The saved text must reload to the
// same text byte for byte, and the tree must hold exactly what pugixml alone reads from the file.

#include "tests/support/testutil.h"
#include "xml/xmldoc.h"
#include "xml/xmlencoding.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <vector>

// Readable test names in failure reports.
void PrintTo(const QString &text, std::ostream *os)
{
    *os << text.toStdString();
}

namespace
{

QStringList SampleFiles()
{
    QStringList files;
    const QString dir = vndtest::SamplesDir();
    if (dir.isEmpty())
        return files;
    QDirIterator it(dir, {QStringLiteral("*.xml")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

// What a document holds, as one text: element names, attributes and texts in document order.
struct Content {
    int elements = 0;
    QString text;
};

void Walk(IXMLNode node, Content &content)
{
    std::vector<IXMLNode> stack{node};
    while (!stack.empty()) {
        IXMLNode n = stack.back();
        stack.pop_back();
        switch (n->NodeType()) {
        case TNodeType::ntElement: {
            ++content.elements;
            content.text += QLatin1Char('<') + n->NodeName();
            IXMLNodeList attributes = n->AttributeNodes();
            for (int i = 0; i < attributes->Count(); ++i)
                content.text += QLatin1Char(' ') + attributes->Nodes(i)->NodeName() + QLatin1Char('=') +
                                attributes->Nodes(i)->Text();
            content.text += QLatin1Char('>');
            // Text reads exactly when the element is a text element; otherwise it is the documented error.
            if (n->IsTextElement())
                EXPECT_EQ(n->Text(), n->HasChildNodes() ? n->ChildNodes()->Nodes(0)->NodeValue() : QString());
            else
                EXPECT_THROW(n->Text(), Exception) << n->NodeName().toStdString();
            IXMLNodeList children = n->ChildNodes();
            for (int i = children->Count() - 1; i >= 0; --i)
                stack.push_back(children->Nodes(i));
            break;
        }
        case TNodeType::ntText:
        case TNodeType::ntCData:
            content.text += QLatin1Char('[') + n->NodeValue() + QLatin1Char(']');
            break;
        default:
            break;
        }
    }
}

Content PugiContent(const QByteArray &bytes)
{
    pugi::xml_document doc;
    EXPECT_TRUE(
        doc.load_buffer(bytes.constData(), size_t(bytes.size()), pugi::parse_default, pugi::encoding_utf8));
    Content content;
    for (pugi::xml_node n = doc.document_element(); n;) {
        if (n.type() == pugi::node_element) {
            ++content.elements;
            content.text += QLatin1Char('<') + QString::fromUtf8(n.name());
            for (pugi::xml_attribute a : n.attributes())
                content.text += QLatin1Char(' ') + QString::fromUtf8(a.name()) + QLatin1Char('=') +
                                QString::fromUtf8(a.value());
            content.text += QLatin1Char('>');
        } else if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
            content.text += QLatin1Char('[') + QString::fromUtf8(n.value()) + QLatin1Char(']');
        }
        if (n.first_child()) {
            n = n.first_child();
            continue;
        }
        while (n && !n.next_sibling())
            n = n.parent();
        if (n)
            n = n.next_sibling();
    }
    return content;
}

class XmlSamples : public ::testing::TestWithParam<QString>
{
};

} // namespace

TEST_P(XmlSamples, LoadWalkSaveAndReloadGiveTheSameTree)
{
    const QString path = GetParam();
    const QByteArray bytes = vndtest::ReadFile(path);
    const vnd::DecodedXml decoded = vnd::ReadXmlFile(path);
    EXPECT_EQ(decoded.encoding, QStringLiteral("UTF-8"));

    IXMLDocument doc = TXMLDocument::Create();
    doc->LoadFromXML(decoded.text);
    Content content;
    Walk(doc->DocumentElement(), content);
    const Content expected = PugiContent(bytes);
    EXPECT_EQ(content.elements, expected.elements);
    EXPECT_EQ(content.text, expected.text);

    const QString saved = doc->XML();
    EXPECT_EQ(doc->XMLUtf8(), saved.toUtf8());

    IXMLDocument again = TXMLDocument::Create();
    again->LoadFromXML(saved);
    EXPECT_EQ(again->XML(), saved);
    Content reloaded;
    Walk(again->DocumentElement(), reloaded);
    EXPECT_EQ(reloaded.text, content.text);

    // The UTF-8 entry reads the file's bytes to the same document.
    IXMLDocument fromBytes = TXMLDocument::Create();
    fromBytes->LoadFromUtf8(bytes);
    EXPECT_EQ(fromBytes->XML(), saved);

    // The markup of the root element is the document without its declaration.
    const QString root = doc->DocumentElement()->XML();
    EXPECT_TRUE(saved.endsWith(root));
}

static std::vector<QString> SampleList()
{
    const QStringList files = SampleFiles();
    return std::vector<QString>(files.begin(), files.end());
}

INSTANTIATE_TEST_SUITE_P(Samples, XmlSamples, ::testing::ValuesIn(SampleList()),
                         [](const ::testing::TestParamInfo<QString> &info) {
                             QString name = QFileInfo(info.param).completeBaseName();
                             name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")),
                                          QStringLiteral("_"));
                             return QStringLiteral("%1_%2").arg(info.index).arg(name).toStdString();
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(XmlSamples);

TEST(XmlSamplesFolder, IsPresent)
{
    if (vndtest::SamplesDir().isEmpty())
        GTEST_SKIP() << "../shared/samples is absent: the sample documents are not tested";
    EXPECT_GT(SampleFiles().size(), 50);
}
