// Reading XML bytes by their declared encoding and byte-order mark.

#include "tests/support/testutil.h"
#include "xml/xmldoc.h"
#include "xml/xmlencoding.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

const QString kName = QStringLiteral("João Ação Ltda – ©€");

QByteArray Utf16(const QString &text, bool bigEndian, bool mark)
{
    QByteArray bytes;
    if (mark)
        bytes += bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
    for (QChar c : text) {
        const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
        bytes.append(bigEndian ? hi : lo);
        bytes.append(bigEndian ? lo : hi);
    }
    return bytes;
}

QString ErrorOf(const QByteArray &bytes, vnd::XmlLeadingBytes leading = vnd::XmlLeadingBytes::Keep)
{
    try {
        vnd::DecodeXml(bytes, leading);
    } catch (const Exception &e) {
        return e.Message();
    }
    return QStringLiteral("(decoded)");
}

} // namespace

TEST(XmlEncoding, DeclaredEightBitEncodingsDecodeAccentedNames)
{
    // "João Ação" in ISO-8859-1 and, with the euro sign and the en dash, in Windows-1252.
    const QByteArray latin1 =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><xNome>Jo\xE3o A\xE7\xE3o</xNome>";
    vnd::DecodedXml d = vnd::DecodeXml(latin1);
    EXPECT_EQ(d.encoding, QStringLiteral("ISO-8859-1"));
    EXPECT_TRUE(d.text.endsWith(QStringLiteral("<xNome>João Ação</xNome>")));

    const QByteArray cp1252 =
        "<?xml version='1.0' encoding = 'windows-1252' ?><x>Jo\xE3o A\xE7\xE3o Ltda \x96 \xA9\x80</x>";
    d = vnd::DecodeXml(cp1252);
    EXPECT_EQ(d.encoding, QStringLiteral("windows-1252"));
    EXPECT_TRUE(d.text.endsWith(QStringLiteral("<x>") + kName + QStringLiteral("</x>")));

    for (const char *label : {"UTF-8", "utf-8", "US-ASCII"})
        EXPECT_EQ(
            vnd::DecodeXml("<?xml version=\"1.0\" encoding=\"" + QByteArray(label) + "\"?><x/>").encoding,
            QStringLiteral("UTF-8"));
    EXPECT_EQ(vnd::DecodeXml("<x>\xC3\xA7</x>").text, QStringLiteral("<x>ç</x>")); // no declaration: UTF-8
}

TEST(XmlEncoding, ByteOrderMarksDecideAndAreRemoved)
{
    const QString text =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?><x>") + kName + QStringLiteral("</x>");
    for (bool bigEndian : {false, true}) {
        for (bool mark : {true, false}) {
            const vnd::DecodedXml d = vnd::DecodeXml(Utf16(text, bigEndian, mark));
            EXPECT_EQ(d.text, text);
            EXPECT_EQ(d.byteOrderMark, mark);
            EXPECT_EQ(d.encoding, bigEndian ? QStringLiteral("UTF-16BE") : QStringLiteral("UTF-16LE"));
        }
    }
    // A UTF-8 mark wins over a declaration that claims otherwise.
    const vnd::DecodedXml d =
        vnd::DecodeXml("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><x>\xC3\xA7</x>");
    EXPECT_TRUE(d.byteOrderMark);
    EXPECT_TRUE(d.text.startsWith(QStringLiteral("<?xml")));
    EXPECT_TRUE(d.text.endsWith(QStringLiteral("<x>ç</x>")));

    // The published signature schema starts with a UTF-8 mark.
    const QString schema = QStringLiteral(VND_SOURCE_DIR "/xml/schemas/nfe310/xmldsig-core-schema_v1.01.xsd");
    const vnd::DecodedXml xsd = vnd::ReadXmlFile(schema);
    EXPECT_TRUE(xsd.byteOrderMark);
    IXMLDocument doc = TXMLDocument::Create();
    doc->LoadFromXML(xsd.text);
    EXPECT_EQ(doc->DocumentElement()->NodeName(), QStringLiteral("schema"));
    EXPECT_TRUE(doc->DocumentElement()->ChildNodes()->Nodes(0)->XML().contains(QStringLiteral("Signature")));
}

TEST(XmlEncoding, BytesThatDoNotDecodeAreErrorsNamingThePosition)
{
    // Windows-1252 bytes in a file that declares UTF-8 (the usual mistake of point-of-sale programs).
    const QString msg = ErrorOf("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<x>Jo\xE3o</x>");
    EXPECT_TRUE(msg.contains(QStringLiteral("byte 44")) && msg.contains(QStringLiteral("linha 2, coluna 6")))
        << msg.toStdString();
    for (const char *bad :
         {"<x>\xC0\xAF</x>", "<x>\xED\xA0\x80</x>", "<x>\xF4\x90\x80\x80</x>", "<x>\xE2\x82"})
        EXPECT_TRUE(ErrorOf(bad).contains(QStringLiteral("UTF-8"))) << bad;
    EXPECT_TRUE(
        ErrorOf("<?xml version=\"1.0\" encoding=\"EBCDIC\"?><x/>").contains(QStringLiteral("EBCDIC")));
    EXPECT_TRUE(
        ErrorOf("<?xml version=\"1.0\" encoding=\"UTF-16\"?><x/>").contains(QStringLiteral("UTF-16")));
    EXPECT_TRUE(ErrorOf(QByteArray("\xFF\xFE<\0x", 5)).contains(QStringLiteral("ímpar")));
    EXPECT_TRUE(
        ErrorOf(QByteArray("\xFF\xFE<\0\n\0\x00\xD8", 8)).contains(QStringLiteral("linha 2, coluna 1")));
    EXPECT_TRUE(ErrorOf(QByteArray("\xFF\xFE\0\0<\0\0\0", 8)).contains(QStringLiteral("UTF-32")));
}

TEST(XmlEncoding, LeadingBytesAreKeptOrSkipped)
{
    const QByteArray bytes = "\xEF\xBB\xBF\x01\xFFlixo\r\n<?xml version=\"1.0\"?><x>\xC3\xA7</x>";
    EXPECT_TRUE(ErrorOf(bytes).contains(QStringLiteral("UTF-8"))); // junk is not valid UTF-8
    const vnd::DecodedXml d = vnd::DecodeXml(bytes, vnd::XmlLeadingBytes::Skip);
    EXPECT_EQ(d.skippedBytes, 8);
    EXPECT_TRUE(d.byteOrderMark);
    EXPECT_TRUE(d.text.startsWith(QStringLiteral("<?xml")));

    const vnd::DecodedXml plain = vnd::DecodeXml(
        "lixo <?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><x>\xE7</x>", vnd::XmlLeadingBytes::Skip);
    EXPECT_EQ(plain.encoding, QStringLiteral("ISO-8859-1")); // the declaration after the junk decides
    EXPECT_TRUE(plain.text.endsWith(QStringLiteral("<x>ç</x>")));
    EXPECT_EQ(vnd::DecodeXml("sem marcação", vnd::XmlLeadingBytes::Skip).text, QString());
}

TEST(XmlEncoding, AccentedNamesSurviveLoadReadAndSave)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nota.xml"));
    vndtest::WriteFile(
        path, "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<NFe><emit><xNome>Jo\xE3o A\xE7\xE3o "
              "Ltda \x96 \xA9\x80</xNome></emit></NFe>");
    IXMLDocument doc = TXMLDocument::Create();
    doc->LoadFromXML(vnd::ReadXmlFile(path).text);
    IXMLNode name = doc->DocumentElement()->ChildNodes()->Nodes("emit")->ChildNodes()->Nodes("xNome");
    EXPECT_EQ(name->Text(), kName);

    // Saved as UTF-8, the file declares UTF-8 and reads back the same.
    vndtest::WriteFile(path, doc->XMLUtf8());
    const vnd::DecodedXml saved = vnd::ReadXmlFile(path);
    EXPECT_EQ(saved.encoding, QStringLiteral("UTF-8"));
    EXPECT_EQ(saved.text, doc->XML());
    IXMLDocument again = TXMLDocument::Create();
    again->LoadFromXML(saved.text);
    EXPECT_EQ(again->DocumentElement()->ChildNodes()->Nodes("emit")->ChildNodes()->Nodes("xNome")->Text(),
              kName);

    const QString missing = dir.filePath(QStringLiteral("nada.xml"));
    try {
        vnd::ReadXmlFile(missing);
        ADD_FAILURE() << "a missing file read";
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().contains(missing));
    }
}

TEST(XmlEncoding, SeedFilesOfEveryEncodingLoadAndRoundTrip)
{
    const QDir dir(vndtest::DataDir() + QStringLiteral("/xml/fuzz"));
    const QStringList files = dir.entryList({QStringLiteral("*.xml")}, QDir::Files);
    ASSERT_GE(files.size(), 7);
    for (const QString &name : files) {
        SCOPED_TRACE(name.toStdString());
        const vnd::DecodedXml file = vnd::ReadXmlFile(dir.filePath(name), vnd::XmlLeadingBytes::Skip);
        IXMLDocument doc = TXMLDocument::Create();
        doc->LoadFromXML(file.text);
        IXMLDocument again = TXMLDocument::Create();
        again->LoadFromUtf8(doc->XMLUtf8());
        EXPECT_EQ(again->XML(), doc->XML());
        EXPECT_TRUE(doc->Encoding().isEmpty() || doc->Encoding() == QLatin1String("UTF-8"));
    }
}
