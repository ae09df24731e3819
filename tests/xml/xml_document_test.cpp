// Document services on literal documents: load, read, build and serialise, compared byte for byte.

#include "xml/xmldoc.h"

#include <gtest/gtest.h>

namespace
{

const QString kNFeNamespace = QStringLiteral("http://www.portalfiscal.inf.br/nfe");

IXMLDocument Load(const QString &text)
{
    IXMLDocument doc = TXMLDocument::Create();
    doc->LoadFromXML(text);
    return doc;
}

QString Message(const std::function<void()> &action)
{
    try {
        action();
    } catch (const Exception &e) {
        return e.Message();
    }
    return QStringLiteral("(no error)");
}

} // namespace

TEST(XmlDocument, SerialisesWithoutIndentationAfterTheDeclaration)
{
    IXMLDocument doc =
        Load(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a x='1'>\n  <b>t&amp;u</b>\n"
                            "  <c/>\n  <d></d>\n  <e> ação </e>\n</a>\n"));
    EXPECT_EQ(doc->XML(), QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                         "<a x=\"1\"><b>t&amp;u</b><c/><d/><e> ação </e></a>"));
    EXPECT_EQ(doc->XMLUtf8(), doc->XML().toUtf8());
    EXPECT_EQ(doc->Encoding(), QStringLiteral("UTF-8"));
    EXPECT_EQ(doc->Version(), QStringLiteral("1.0"));

    // Without a declaration the text starts with the root; comments and instructions are kept.
    EXPECT_EQ(Load(QStringLiteral("<a><?pi x?><!-- c --></a>"))->XML(),
              QStringLiteral("<a><?pi x?><!-- c --></a>"));
    EXPECT_EQ(Load(QStringLiteral("<?xml version=\"1.0\"?><!--c--><a/>"))->XML(),
              QStringLiteral("<?xml version=\"1.0\"?>\r\n<!--c-->\r\n<a/>"));
}

TEST(XmlDocument, EscapesMarkupAndKeepsValuesThroughAReload)
{
    IXMLDocument doc = TXMLDocument::Create();
    IXMLNode root = doc->AddChild(QStringLiteral("a"));
    root->SetAttribute(QStringLiteral("v"), QStringLiteral("x\"<>&\t\n'"));
    root->AddChild(QStringLiteral("t"))->NodeValue(QStringLiteral("1 < 2 & 3 > 2\r\nfim"));
    const QString expected = QStringLiteral(
        "<a v=\"x&quot;&lt;&gt;&amp;&#9;&#10;'\"><t>1 &lt; 2 &amp; 3 &gt; 2&#13;\nfim</t></a>");
    EXPECT_EQ(doc->XML(), expected);

    IXMLDocument again = Load(doc->XML());
    EXPECT_EQ(again->XML(), expected);
    EXPECT_EQ(again->DocumentElement()->AttributeNodes()->Nodes("v")->Text(), QStringLiteral("x\"<>&\t\n'"));
    EXPECT_EQ(again->DocumentElement()->ChildNodes()->Nodes("t")->Text(),
              QStringLiteral("1 < 2 & 3 > 2\r\nfim"));
}

// A loaded tree is written by the faster writer of the parser unless one of its values is written
// differently there; each such value, read or set, must still come out as above.
TEST(XmlDocument, ValuesThatOnlyOurWriterPutsRightKeepTheirForm)
{
    const std::pair<QString, QString> loaded[] = {
        {QStringLiteral("<a v=\"1>2\"/>"), QStringLiteral("<a v=\"1&gt;2\"/>")},
        {QStringLiteral("<a v=\"1&gt;2\"/>"), QStringLiteral("<a v=\"1&gt;2\"/>")},
        {QStringLiteral("<a v=\"1&#x3E;2\"/>"), QStringLiteral("<a v=\"1&gt;2\"/>")},
        {QStringLiteral("<a v=\"&#9;&#10;\"/>"), QStringLiteral("<a v=\"&#9;&#10;\"/>")},
        {QStringLiteral("<a v=\"x\"><t>1&#13;2</t></a>"), QStringLiteral("<a v=\"x\"><t>1&#13;2</t></a>")},
        {QStringLiteral("<a><t>1 &gt; 2</t><![CDATA[x<&y]]></a>"),
         QStringLiteral("<a><t>1 &gt; 2</t><![CDATA[x<&y]]></a>")},
    };
    for (const auto &[text, written] : loaded) {
        IXMLDocument doc = Load(text);
        EXPECT_EQ(doc->XML(), written) << qPrintable(text);
        EXPECT_EQ(doc->DocumentElement()->XML(), written) << qPrintable(text);
    }

    IXMLDocument doc = Load(QStringLiteral("<a v=\"x\"><t>1</t></a>"));
    doc->DocumentElement()->ChildNodes()->Nodes("t")->Text(QStringLiteral("1\r2"));
    EXPECT_EQ(doc->XML(), QStringLiteral("<a v=\"x\"><t>1&#13;2</t></a>"));
    doc = Load(QStringLiteral("<a v=\"x\"><t>1</t></a>"));
    doc->DocumentElement()->SetAttribute(QStringLiteral("w"), QStringLiteral("a>b"));
    EXPECT_EQ(doc->XML(), QStringLiteral("<a v=\"x\" w=\"a&gt;b\"><t>1</t></a>"));
    doc = Load(QStringLiteral("<a v=\"x\"><t>1</t></a>"));
    doc->DocumentElement()->AttributeNodes()->Nodes("v")->NodeValue(QStringLiteral("\t"));
    EXPECT_EQ(doc->XML(), QStringLiteral("<a v=\"&#9;\"><t>1</t></a>"));
}

TEST(XmlDocument, LoadReplacesTheTreeAndAcceptsTheDeclarationInWideText){
    IXMLDocument doc = Load(QStringLiteral("<old><x/></old>"));
    IXMLNode old = doc->DocumentElement();
    doc->LoadFromXML(
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><NFe><xNome>José Ação ©€</xNome></NFe>"));
    EXPECT_EQ(doc->DocumentElement()->NodeName(), QStringLiteral("NFe"));
    EXPECT_EQ(doc->DocumentElement()->ChildNodes()->Nodes("xNome")->Text(), QStringLiteral("José Ação ©€"));
    // A handle on the replaced tree refuses to work instead of reading freed memory.
    EXPECT_THROW(old->NodeName(), Exception);

    // The declaration of a re-encoded file names UTF-8 afterwards: the text is characters now.
    doc->LoadFromXML(
        QStringLiteral("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?><a>ç</a>"));
    EXPECT_EQ(doc->Encoding(), QStringLiteral("UTF-8"));
    EXPECT_EQ(doc->XML(),
              QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<a>ç</a>"));
}

TEST(XmlDocument, TextIsTheSingleTextNodeOrAnError)
{
    IXMLDocument doc =
        Load(QStringLiteral("<r><empty/><pair></pair><t> x </t><child><c/></child><mixed>a<b/>c</mixed>"
                            "<cdata><![CDATA[q&r]]></cdata><comment><!--n--></comment>"
                            "<both>a<!--n--></both></r>"));
    IXMLNodeList list = doc->DocumentElement()->ChildNodes();
    EXPECT_EQ(list->Nodes("empty")->Text(), QString());
    EXPECT_EQ(list->Nodes("pair")->Text(), QString());
    EXPECT_EQ(list->Nodes("t")->Text(), QStringLiteral(" x "));
    for (const char *name : {"child", "mixed", "cdata", "comment", "both"}) {
        EXPECT_EQ(Message([&] { list->Nodes(name)->Text(); }),
                  QStringLiteral("Element does not contain a single text node"))
            << name;
    }
    // The nodes themselves still read: the CDATA section and the comment have values.
    EXPECT_EQ(list->Nodes("cdata")->ChildNodes()->Nodes(0)->Text(), QStringLiteral("q&r"));
    EXPECT_EQ(list->Nodes("cdata")->ChildNodes()->Nodes(0)->NodeName(), QStringLiteral("#cdata-section"));
    EXPECT_EQ(list->Nodes("comment")->ChildNodes()->Nodes(0)->NodeType(), TNodeType::ntComment);
}

TEST(XmlDocument, ByNameLookupCreatesMissingElementsAndFindNodeDoesNot)
{
    IXMLDocument doc = Load(QStringLiteral("<det nItem=\"1\"><prod><cProd>10</cProd></prod></det>"));
    IXMLNode prod = doc->DocumentElement()->ChildNodes()->Nodes("prod");
    EXPECT_EQ(prod->ChildNodes()->FindNode("vDesc"), nullptr);
    EXPECT_EQ(prod->ChildNodes()->Nodes("vDesc")->Text(), QString());
    EXPECT_NE(prod->ChildNodes()->FindNode(QStringLiteral("vDesc")), nullptr);
    EXPECT_EQ(doc->XML(), QStringLiteral("<det nItem=\"1\"><prod><cProd>10</cProd><vDesc/></prod></det>"));

    // Attributes: a missing one reads empty and is added only when given a value.
    IXMLNodeList attributes = doc->DocumentElement()->AttributeNodes();
    EXPECT_EQ(attributes->Count(), 1);
    EXPECT_EQ(attributes->Nodes(0)->NodeName(), QStringLiteral("nItem"));
    EXPECT_EQ(attributes->Nodes("nItem")->Text(), QStringLiteral("1"));
    IXMLNode id = attributes->Nodes("Id");
    EXPECT_EQ(id->Text(), QString());
    EXPECT_EQ(attributes->FindNode("Id"), nullptr);
    id->NodeValue(QStringLiteral("NFe1"));
    EXPECT_EQ(doc->DocumentElement()->XML(),
              QStringLiteral("<det nItem=\"1\" Id=\"NFe1\"><prod><cProd>10</cProd><vDesc/></prod></det>"));
    EXPECT_EQ(id->XML(), QStringLiteral("Id=\"NFe1\""));
}

TEST(XmlDocument, IndexedAccessCountsNodesAndRefusesOutOfRange)
{
    IXMLDocument doc =
        Load(QStringLiteral("<LoteCFe>\n  <CFe n='1'/>\n  <outro/>\n  <CFe n='2'>x</CFe>\n</LoteCFe>"));
    IXMLNodeList list = doc->DocumentElement()->ChildNodes();
    ASSERT_EQ(list->Count(), 3); // whitespace between elements is not a node
    EXPECT_EQ(list->Nodes(2)->AttributeNodes()->Nodes("n")->Text(), QStringLiteral("2"));
    EXPECT_EQ(list->Nodes(0)->AttributeNodes()->Nodes("n")->Text(), QStringLiteral("1"));
    EXPECT_EQ((*list)[1]->NodeName(), QStringLiteral("outro"));
    EXPECT_EQ(list->Nodes(2)->ChildNodes()->Nodes(0)->NodeType(), TNodeType::ntText);
    EXPECT_TRUE(Message([&] { list->Nodes(3); }).contains(QStringLiteral("Índice 3 fora dos limites")));
    EXPECT_THROW(list->Nodes(-1), Exception);
    EXPECT_THROW(list->Nodes(0)->ChildNodes()->Nodes(0), Exception);
    EXPECT_THROW(list->Nodes(0)->AttributeNodes()->Nodes(1), Exception);

    // The list follows the tree when an element is appended to it.
    doc->DocumentElement()->AddChild(QStringLiteral("CFe"));
    EXPECT_EQ(list->Count(), 4);
    EXPECT_EQ(list->Nodes(3)->NodeName(), QStringLiteral("CFe"));
}

TEST(XmlDocument, BuildsTheCancellationEventWithOnlyItsThreeNamespaceDeclarations)
{
    IXMLDocument doc = TXMLDocument::Create();
    doc->Encoding(QStringLiteral("UTF-8"));
    IXMLNode proc = doc->AddChild(QStringLiteral("procEventoNFe"));
    proc->SetAttribute(QStringLiteral("versao"), QStringLiteral("1.00"));
    proc->SetAttribute(QStringLiteral("xmlns"), kNFeNamespace);
    IXMLNode evento = proc->AddChild(QStringLiteral("evento"));
    evento->SetAttribute(QStringLiteral("versao"), QStringLiteral("1.00"));
    evento->SetAttribute(QStringLiteral("xmlns"), kNFeNamespace);
    IXMLNode inf = evento->AddChild(QStringLiteral("infEvento"));
    inf->SetAttribute(QStringLiteral("Id"), QStringLiteral("ID1101113516"));
    inf->AddChild(QStringLiteral("cOrgao"))->NodeValue(QStringLiteral("35"));
    inf->AddChild(QStringLiteral("xJust"))->NodeValue(QStringLiteral("Cliente desistiu & pediu <troca>"));
    IXMLNode ret = proc->AddChild(QStringLiteral("retEvento"));
    ret->SetAttribute(QStringLiteral("versao"), QStringLiteral("1.00"));
    ret->SetAttribute(QStringLiteral("xmlns"), kNFeNamespace);
    ret->AddChild(QStringLiteral("infEvento"))
        ->AddChild(QStringLiteral("cStat"))
        ->NodeValue(QStringLiteral("135"));

    EXPECT_EQ(doc->XML(),
              QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                             "<procEventoNFe versao=\"1.00\" xmlns=\"http://www.portalfiscal.inf.br/nfe\">"
                             "<evento versao=\"1.00\" xmlns=\"http://www.portalfiscal.inf.br/nfe\">"
                             "<infEvento Id=\"ID1101113516\"><cOrgao>35</cOrgao>"
                             "<xJust>Cliente desistiu &amp; pediu &lt;troca&gt;</xJust></infEvento></evento>"
                             "<retEvento versao=\"1.00\" xmlns=\"http://www.portalfiscal.inf.br/nfe\">"
                             "<infEvento><cStat>135</cStat></infEvento></retEvento></procEventoNFe>"));
    EXPECT_EQ(inf->NamespaceURI(), kNFeNamespace);
    EXPECT_EQ(inf->OwnerDocument(), doc);
    EXPECT_EQ(doc->DocumentElement()->NodeName(), QStringLiteral("procEventoNFe"));
    EXPECT_TRUE(
        Message([&] { doc->AddChild(QStringLiteral("outro")); }).contains(QStringLiteral("procEventoNFe")));
}

TEST(XmlDocument, NamespacesResolveThroughDeclarationsInScope)
{
    IXMLDocument doc =
        Load(QStringLiteral("<soap:Envelope xmlns:soap=\"urn:s\"><soap:Body><NFe xmlns=\"urn:n\">"
                            "<ide/></NFe></soap:Body></soap:Envelope>"));
    IXMLNode body = doc->DocumentElement()->ChildNodes()->Nodes("soap:Body");
    EXPECT_EQ(body->NamespaceURI(), QStringLiteral("urn:s"));
    EXPECT_EQ(body->LocalName(), QStringLiteral("Body"));
    EXPECT_EQ(body->Prefix(), QStringLiteral("soap"));
    IXMLNode ide = body->ChildNodes()->Nodes("NFe")->ChildNodes()->Nodes("ide");
    EXPECT_EQ(ide->NamespaceURI(), QStringLiteral("urn:n"));

    // A child added in another namespace declares it; in the same one it does not.
    ide->AddChild(QStringLiteral("same"), QStringLiteral("urn:n"));
    ide->AddChild(QStringLiteral("Signature"), QStringLiteral("http://www.w3.org/2000/09/xmldsig#"));
    EXPECT_EQ(
        doc->XML(),
        QStringLiteral("<soap:Envelope xmlns:soap=\"urn:s\"><soap:Body><NFe xmlns=\"urn:n\"><ide><same/>"
                       "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"/></ide></NFe>"
                       "</soap:Body></soap:Envelope>"));

    // The markup of an inner element declares what it inherits, so it reads back the same on its own.
    EXPECT_EQ(
        ide->XML(),
        QStringLiteral(
            "<ide xmlns=\"urn:n\"><same/><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"/></ide>"));
    EXPECT_EQ(
        body->XML(),
        QStringLiteral("<soap:Body xmlns:soap=\"urn:s\"><NFe xmlns=\"urn:n\"><ide><same/>"
                       "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"/></ide></NFe></soap:Body>"));
    IXMLDocument alone = TXMLDocument::Create();
    alone->LoadFromXML(ide->XML());
    EXPECT_EQ(alone->DocumentElement()->NamespaceURI(), QStringLiteral("urn:n"));
}

TEST(XmlDocument, NodeValueReplacesContentAndKeepsTakenNodesReadable)
{
    IXMLDocument doc = Load(QStringLiteral("<a><b>1</b><c/></a>"));
    IXMLNode a = doc->DocumentElement();
    IXMLNode b = a->ChildNodes()->Nodes("b");
    IXMLNode text = b->ChildNodes()->Nodes(0);
    b->NodeValue(QStringLiteral("2"));
    EXPECT_EQ(text->Text(), QStringLiteral("2")); // the same text node took the value

    a->NodeValue(QStringLiteral("z"));
    EXPECT_EQ(doc->XML(), QStringLiteral("<a>z</a>"));
    EXPECT_EQ(b->Text(), QStringLiteral("2"));
    EXPECT_EQ(b->XML(), QStringLiteral("<b>2</b>"));
    EXPECT_EQ(a->ChildNodes()->Count(), 1);

    a->NodeValue(QString());
    EXPECT_EQ(doc->XML(), QStringLiteral("<a/>"));
    EXPECT_EQ(doc->ChildNodes()->Count(), 1); // the holder of taken nodes is not part of the document
}

TEST(XmlDocument, RefusesNamesAndCharactersXmlCannotCarry)
{
    IXMLDocument doc = TXMLDocument::Create();
    IXMLNode root = doc->AddChild(QStringLiteral("a"));
    for (const QString &bad : {QStringLiteral("a b"), QString(), QStringLiteral("1x"), QStringLiteral("a<b")})
        EXPECT_THROW(root->AddChild(bad), Exception) << bad.toStdString();
    EXPECT_THROW(root->SetAttribute(QStringLiteral("x=y"), QStringLiteral("1")), Exception);
    const QString msg =
        Message([&] { root->AddChild(QStringLiteral("xJust"))->NodeValue(QStringLiteral("a\x01z")); });
    EXPECT_TRUE(msg.contains(QStringLiteral("U+0001")) && msg.contains(QStringLiteral("xJust")))
        << msg.toStdString();
    EXPECT_THROW(root->NodeValue(QString(QChar(0xD800))), Exception);
    EXPECT_THROW(root->SetAttribute(QStringLiteral("v"), QString(QChar(0xFFFF))), Exception);
    // Characters outside the basic plane are fine as pairs.
    root->SetAttribute(QStringLiteral("e"), QString::fromUtf8("\xF0\x9F\x98\x80"));
    EXPECT_EQ(Load(doc->XML())->DocumentElement()->AttributeNodes()->Nodes("e")->Text(),
              QString::fromUtf8("\xF0\x9F\x98\x80"));
}

TEST(XmlDocument, ActiveFalseEmptiesTheDocument)
{
    IXMLDocument doc = Load(QStringLiteral("<a/>"));
    EXPECT_TRUE(doc->Active());
    doc->Active(false);
    EXPECT_EQ(doc->DocumentElement(), nullptr);
    EXPECT_EQ(doc->XML(), QString());
    EXPECT_EQ(doc->AddChild(QStringLiteral("b"))->NodeName(), QStringLiteral("b"));
}
