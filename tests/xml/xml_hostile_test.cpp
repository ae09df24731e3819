// Hostile and malformed input: every fault is an error with its reason and position, never a crash,
// never a silently changed tree.

#include "xml/xmldoc.h"

#include <gtest/gtest.h>

namespace
{

struct Fault {
    QString reason;
    int line = 0;
    int column = 0;
};

Fault LoadFault(const QString &text)
{
    IXMLDocument doc = TXMLDocument::Create();
    try {
        doc->LoadFromXML(text);
    } catch (const EXMLParseError &e) {
        EXPECT_EQ(doc->DocumentElement(), nullptr) << "a failed load leaves the document empty";
        EXPECT_TRUE(e.Message().contains(e.Reason()));
        return {e.Reason(), e.Line(), e.Column()};
    }
    ADD_FAILURE() << "loaded: " << text.left(80).toStdString();
    return {};
}

QString Repeat(const char *piece, int n)
{
    return QString::fromLatin1(piece).repeated(n);
}

} // namespace

TEST(XmlHostile, MalformedTextNamesTheReasonLineAndColumn)
{
    struct Case {
        const char *text;
        const char *reason;
        int line, column;
    };
    const Case cases[] = {
        {"<a>\n  <b></a>", "marca de fim", 2, 8},
        {"<a>\n<b x=1/></a>", "atributo", 2, 6},
        {"", "sem elemento raiz", 1, 1},
        {"<!-- só um comentário -->", "sem elemento raiz", 1, 26},
        {"<a/><b/>", "mais de um elemento raiz", 1, 6},
        {"<a/>lixo", "texto fora do elemento raiz", 1, 5},
        {"lixo<a/>", "texto fora do elemento raiz", 1, 1},
        {"<a/><?xml version=\"1.0\"?>", "declaração XML fora do início", 1, 7},
        {"<a x=\"1\" y=\"2\" x=\"3\"/>", "atributo \"x\" repetido", 1, 2},
        {"<r>\n <b\ty='=y' y=\"2\"/></r>", "atributo \"y\" repetido no elemento \"b\"", 2, 3},
        {"<r><!-- c --></r >\n\tx", "texto fora do elemento raiz", 1, 19},
        {"<r/><![CDATA[x]]>", "texto fora do elemento raiz", 1, 14},
        {"<!--c--><?xml version=\"1.0\"?><r/>", "declaração XML fora do início", 1, 11},
        {"<r><a></a></r><r/>", "mais de um elemento raiz", 1, 16},
        // The parser's own complaint comes before a fault of the tree it would have built.
        {"<a x=\"1\" x=\"2\"><b></a>", "marca de fim", 1, 21},
        {"<a>\n\n  <b>ação &nbsp;</b></a>", "entidade não definida \"&nbsp;\"", 3, 11},
        {"<a>A & B</a>", "sem referência", 1, 6},
        {"<a>&#0;</a>", "referência de caractere inválida", 1, 4},
        {"<a v=\"&#xD800;\"/>", "referência de caractere inválida", 1, 7},
        {"<a>\x01</a>", "caractere de controle 0x01", 1, 4},
        {"<a><b></b\x02></a>", "caractere de controle 0x02", 1, 10},
        {"<a></a\x03>", "caractere de controle 0x03", 1, 7},
        {"<a><![CDATA[\x1f]]></a>", "caractere de controle 0x1f", 1, 13},
        {"<a>", "marca de fim", 1, 3},
        {"<a\n  x=\"1 < 2\"/>", "\"<\" dentro do valor de um atributo", 2, 8},
        // Markup-like text inside an attribute value must not hide what follows it from the checks.
        {"<a x=\"<![CDATA[\">\n\x1e</a>", "\"<\" dentro do valor", 1, 7},
        {"<a x='&lt;!--'>&bad;<!-- -->\x1e</a>", "entidade não definida", 1, 16},
    };
    for (const Case &c : cases) {
        const Fault f = LoadFault(QString::fromUtf8(c.text));
        EXPECT_TRUE(f.reason.contains(QString::fromUtf8(c.reason)))
            << c.text << " -> " << f.reason.toStdString();
        EXPECT_EQ(f.line, c.line) << c.text;
        EXPECT_EQ(f.column, c.column) << c.text;
    }
}

TEST(XmlHostile, LargeTextsReportTheFaultsOfSmallOnes)
{
    // Large texts are checked while the parser reads them: the fault reported, and its place, must be
    // those of the same text checked before parsing. The comment after the fault only makes it large.
    const QString padding = QStringLiteral("<!--") + QString(300 * 1024, QLatin1Char('x')) + QStringLiteral("-->");
    for (const char *text : {"<a>\x01</a>", "<a>\n  <b></a>", "<a/><b/>", "<a x=\"1\" x=\"2\"><b></a>",
                             "<a>A & B</a>", "<a\n  x=\"1 < 2\"/>", "<a x=\"1\" y=\"2\" x=\"3\"/>",
                             "<r>\n&nbsp;<a/><a/></r><r/>", "<a></b>\x02"}) {
        const QString small = QString::fromUtf8(text);
        const Fault expected = LoadFault(small);
        const Fault large = LoadFault(small + padding);
        EXPECT_EQ(large.reason, expected.reason) << text;
        EXPECT_EQ(large.line, expected.line) << text;
        EXPECT_EQ(large.column, expected.column) << text;
    }
}

TEST(XmlHostile, WellFormedTreesPassTheStructureChecks)
{
    QString many = QStringLiteral("<a");
    for (int i = 0; i < 100; ++i)
        many += QStringLiteral(" x%1=\"%1\"").arg(i);
    const QString texts[] = {
        QStringLiteral("\r\n <?xml version=\"1.0\"?>\n<!--c--><?pi x?>\n<a b=\"1\" bb='2' b:b=\"3\" "
                       "xmlns:b=\"urn:b\"\n c = \"a=b c\"><b/><b x=\"1\"/></a >\n<!--d-->\n"),
        many + QStringLiteral("/>"),
    };
    for (const QString &text : texts) {
        IXMLDocument doc = TXMLDocument::Create();
        EXPECT_NO_THROW(doc->LoadFromXML(text)) << qPrintable(text);
    }
    const Fault repeated = LoadFault(many + QStringLiteral(" x77=\"\"/>"));
    EXPECT_TRUE(repeated.reason.contains(QStringLiteral("\"x77\" repetido"))) << qPrintable(repeated.reason);
}

TEST(XmlHostile, DoctypeAndEntityDefinitionsAreRefused)
{
    const QString laughs = QStringLiteral("<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [<!ENTITY lol \"lol\">"
                                          "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">]>\n"
                                          "<lolz>&lol2;</lolz>");
    EXPECT_TRUE(LoadFault(laughs).reason.contains(QStringLiteral("DOCTYPE")));
    const QString external = QStringLiteral("<!DOCTYPE a SYSTEM \"file:///etc/passwd\"><a>&x;</a>");
    EXPECT_TRUE(LoadFault(external).reason.contains(QStringLiteral("DOCTYPE")));
    // Inside a comment or a CDATA section the same text is content, not markup.
    IXMLDocument doc = TXMLDocument::Create();
    doc->LoadFromXML(QStringLiteral("<a><!-- <!DOCTYPE x> &y; --><![CDATA[<!DOCTYPE z> &w;]]></a>"));
    EXPECT_EQ(doc->XML(), QStringLiteral("<a><!-- <!DOCTYPE x> &y; --><![CDATA[<!DOCTYPE z> &w;]]></a>"));
}

TEST(XmlHostile, InvalidCharactersInTheInputAreErrorsWithTheirPosition)
{
    // A lone surrogate in the wide text cannot become UTF-8.
    QString text = QStringLiteral("<a>\nxy</a>");
    text.insert(6, QChar(0xDC00));
    const Fault f = LoadFault(text);
    EXPECT_TRUE(f.reason.contains(QStringLiteral("U+DC00")));
    EXPECT_EQ(f.line, 2);
    EXPECT_EQ(f.column, 3);

    IXMLDocument doc = TXMLDocument::Create();
    try {
        doc->LoadFromUtf8(QByteArray("<a>\nJo\xC3\x28o</a>"));
        ADD_FAILURE() << "invalid UTF-8 loaded";
    } catch (const EXMLParseError &e) {
        EXPECT_TRUE(e.Reason().contains(QStringLiteral("UTF-8")));
        EXPECT_EQ(e.Line(), 2);
        EXPECT_EQ(e.Column(), 3);
    }
    // A NUL would end pugixml's reading early and drop the rest of the text silently.
    EXPECT_TRUE(LoadFault(QString::fromLatin1("<a>x</a>\0<b/>", 13)).reason.contains(QStringLiteral("0x00")));
}

TEST(XmlHostile, DeepNestingIsRefusedOnLoadAndSafeWhenBuilt)
{
    const int limit = vnd::kMaxXmlDepth;
    IXMLDocument doc = TXMLDocument::Create();
    doc->LoadFromXML(Repeat("<a>", limit) + Repeat("</a>", limit));
    EXPECT_EQ(doc->DocumentElement()->NodeName(), QStringLiteral("a"));

    EXPECT_EQ(LoadFault(Repeat("<a>", limit) + QStringLiteral("<b/>") + Repeat("</a>", limit)).column,
              3 * limit + 2);
    const Fault f = LoadFault(Repeat("<a>", 100000) + Repeat("</a>", 100000));
    EXPECT_TRUE(f.reason.contains(QStringLiteral("aninhados")));
    EXPECT_EQ(f.column, 3 * limit + 2);

    // A tree built 100 000 deep serialises, has its content replaced and is freed without recursion.
    IXMLDocument built = TXMLDocument::Create();
    IXMLNode node = built->AddChild(QStringLiteral("a"));
    IXMLNode root = node;
    for (int i = 0; i < 100000; ++i)
        node = node->AddChild(QStringLiteral("a"));
    node->NodeValue(QStringLiteral("fundo"));
    const QByteArray xml = built->XMLUtf8();
    EXPECT_EQ(xml.size(), 100001 * 7 + 5);
    EXPECT_TRUE(xml.startsWith("<a><a><a>") && xml.endsWith("</a></a></a>"));
    EXPECT_EQ(xml.indexOf("<a>fundo</a></a>"), 100000 * 3);
    EXPECT_THROW(TXMLDocument::Create()->LoadFromUtf8(xml), EXMLParseError);
    root->NodeValue(QStringLiteral("raso"));
    EXPECT_EQ(built->XML(), QStringLiteral("<a>raso</a>"));
    EXPECT_EQ(node->Text(), QStringLiteral("fundo"));
}

TEST(XmlHostile, HugeTextsAreRefusedBeforeParsing)
{
    IXMLDocument doc = TXMLDocument::Create();
    {
        QByteArray bytes(200 * 1024 * 1024, ' ');
        bytes.replace(0, 3, "<a>");
        try {
            doc->LoadFromUtf8(bytes);
            ADD_FAILURE() << "a 200 MB text loaded";
        } catch (const Exception &e) {
            EXPECT_TRUE(e.Message().contains(QStringLiteral("200 MB"))) << e.Message().toStdString();
        }
    }
    // The wide text is refused by its length, before it is converted.
    QString text(vnd::kMaxXmlBytes + 1, QLatin1Char(' '));
    text.replace(0, 3, QStringLiteral("<a>"));
    EXPECT_THROW(doc->LoadFromXML(text), Exception);
    EXPECT_EQ(doc->DocumentElement(), nullptr);
}

TEST(XmlHostile, ALargeButLegalDocumentRoundTrips)
{
    // About 12 MB: many coupons of a batch.
    QByteArray bytes = "<LoteCFe>";
    const QByteArray coupon = "<CFe><infCFe Id=\"CFe35\"><det nItem=\"1\"><prod><xProd>P&amp;D</xProd>"
                              "<vUnCom>1.00</vUnCom></prod></det></infCFe></CFe>";
    for (int i = 0; i < 100000; ++i)
        bytes += coupon;
    bytes += "</LoteCFe>";
    IXMLDocument doc = TXMLDocument::Create();
    doc->LoadFromUtf8(bytes);
    EXPECT_EQ(doc->DocumentElement()->ChildNodes()->Count(), 100000);
    EXPECT_EQ(doc->XMLUtf8(), bytes);
    // Walking by index stays linear; the last coupon reads like the first.
    IXMLNodeList list = doc->DocumentElement()->ChildNodes();
    int coupons = 0;
    for (int i = 0; i < list->Count(); ++i)
        coupons += list->Nodes(i)->NodeName() == QLatin1String("CFe");
    EXPECT_EQ(coupons, 100000);
}

TEST(XmlHostile, EveryTruncationOfADocumentIsAnError)
{
    const QString full = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><nfeProc versao=\"3.10\"><NFe><infNFe Id=\"NFe35\">"
        "<ide><cUF>35</cUF><natOp>VENDA &amp; TROCA</natOp></ide><!-- c --><infAdic><![CDATA[x]]></infAdic>"
        "</infNFe></NFe><protNFe><infProt><cStat>100</cStat></infProt></protNFe></nfeProc>");
    IXMLDocument doc = TXMLDocument::Create();
    doc->LoadFromXML(full);
    for (qsizetype n = 0; n < full.size(); ++n) {
        EXPECT_THROW(doc->LoadFromXML(full.left(n)), EXMLParseError) << n;
        EXPECT_EQ(doc->DocumentElement(), nullptr);
    }
}
