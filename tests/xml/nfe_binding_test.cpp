// The NF-e 3.10 binding on real documents, checked against pugixml reading the same files.

#include "tests/support/testutil.h"
#include "xml/nfe_v310.h"
#include "xml/xmlencoding.h"

#include <QDir>
#include <cstring>
#include <gtest/gtest.h>
#include <pugixml.hpp>

namespace
{

const QString kNFeNamespace = QString::fromLatin1(TargetNamespace);

QString Sample(const char *name)
{
    return QDir(vndtest::SamplesDir()).filePath(QStringLiteral("nfe310/") + QLatin1String(name));
}

#define REQUIRE_SAMPLES()                                                                                    \
    if (vndtest::SamplesDir().isEmpty())                                                                     \
    GTEST_SKIP() << "../shared/samples is absent"

// The NFe element of a sample (bare or inside nfeProc), loaded into a document made by NewNFe, as the
// local export does with an assembled document.
IXMLTNFe LoadedNFe(const QString &path)
{
    IXMLDocument source = TXMLDocument::Create();
    source->LoadFromXML(vnd::ReadXmlFile(path).text);
    IXMLNode root = source->DocumentElement();
    const QString nfe =
        root->NodeName() == QLatin1String("NFe") ? root->XML() : root->ChildNodes()->Nodes("NFe")->XML();
    IXMLTNFe fresh = NewNFe();
    fresh->OwnerDocument()->LoadFromXML(nfe);
    return vnd::XmlCast<IXMLTNFe>(fresh->OwnerDocument()->DocumentElement());
}

pugi::xml_node RawInfNFe(pugi::xml_document &doc, const QString &path)
{
    const QByteArray bytes = vndtest::ReadFile(path);
    EXPECT_TRUE(doc.load_buffer(bytes.constData(), size_t(bytes.size())));
    pugi::xml_node nfe = doc.document_element();
    if (std::strcmp(nfe.name(), "NFe") != 0)
        nfe = nfe.child("NFe");
    return nfe.child("infNFe");
}

QString Raw(pugi::xml_node node, const char *child)
{
    return QString::fromUtf8(node.child_value(child));
}

} // namespace

TEST(NFeBinding, TypedReadsOfRealDocuments)
{
    REQUIRE_SAMPLES();
    for (const char *name :
         {"brdanfe_with_three_pages_NFe55.xml", "spedda_mod55-nfe_2_NFe55.xml",
          "nfephp_1110128-nfeProt_nfeProc55.xml", "spednfe_nfce_com_qrcode_NFe65.xml",
          "pytrustnfe_NFe00000857_nfeProc55.xml", "wmix_notaprocessada_nfeProc55_synthetic.xml"}) {
        SCOPED_TRACE(name);
        const QString path = Sample(name);
        pugi::xml_document raw;
        const pugi::xml_node inf = RawInfNFe(raw, path);
        const pugi::xml_node ide = inf.child("ide");

        IXMLTNFe nfe;
        ASSERT_NO_THROW(nfe = LoadedNFe(path));
        IXMLInfNFe infNFe = nfe->Get_InfNFe();
        EXPECT_EQ(infNFe->Get_Id(), QString::fromUtf8(inf.attribute("Id").value()));
        EXPECT_EQ(infNFe->Get_Versao(), QStringLiteral("3.10"));
        IXMLIde typed = infNFe->Get_Ide();
        EXPECT_EQ(typed->Get_CUF(), Raw(ide, "cUF"));
        EXPECT_EQ(typed->Get_CNF(), Raw(ide, "cNF"));
        EXPECT_EQ(typed->Get_NatOp(), Raw(ide, "natOp"));
        EXPECT_EQ(typed->Get_Mod_(), Raw(ide, "mod"));
        EXPECT_EQ(typed->Get_Serie(), Raw(ide, "serie"));
        EXPECT_EQ(typed->Get_NNF(), Raw(ide, "nNF"));
        EXPECT_EQ(typed->Get_DhEmi(), Raw(ide, "dhEmi"));
        EXPECT_EQ(typed->Get_TpAmb(), Raw(ide, "tpAmb"));
        EXPECT_EQ(infNFe->Get_Emit()->Get_EnderEmit()->Get_XMun(),
                  Raw(inf.child("emit").child("enderEmit"), "xMun"));
        EXPECT_EQ(infNFe->Get_Total()->Get_ICMSTot()->Get_VNF(),
                  Raw(inf.child("total").child("ICMSTot"), "vNF"));

        // det: a collection as long as the document's list, with typed items in document order.
        IXMLDetList det = infNFe->Get_Det();
        int expected = 0;
        for (pugi::xml_node d = inf.child("det"); d; d = d.next_sibling("det"), ++expected) {
            IXMLDet item = det->Get_Item(expected);
            EXPECT_EQ(item->Get_NItem(), QString::fromUtf8(d.attribute("nItem").value()));
            EXPECT_EQ(item->Get_Prod()->Get_CProd(), Raw(d.child("prod"), "cProd"));
        }
        EXPECT_EQ(det->Count(), expected);
        EXPECT_THROW(det->Get_Item(expected), Exception);
        // Children read through the generic lists come back typed as well.
        EXPECT_NE(std::dynamic_pointer_cast<TXMLDet>(infNFe->ChildNodes()->Nodes("det")), nullptr);
    }
}

TEST(NFeBinding, RepeatingElementsWithoutCollectionBindTheFirstOnly)
{
    REQUIRE_SAMPLES();
    IXMLTNFe nfe = LoadedNFe(Sample("brdanfe_with_three_pages_NFe55.xml"));
    IXMLCobr cobr = nfe->Get_InfNFe()->Get_Cobr();
    EXPECT_EQ(cobr->ChildNodes()->Count(), 4); // fat and three dup
    EXPECT_EQ(cobr->Get_Dup()->Get_NDup(), QStringLiteral("1"));
    EXPECT_EQ(cobr->Get_Dup()->Get_DVenc(), QStringLiteral("2015-02-13"));
    EXPECT_EQ(nfe->Get_InfNFe()->Get_Det()->Count(), 50);
}

TEST(NFeBinding, SignatureIsBoundInItsOwnNamespace)
{
    REQUIRE_SAMPLES();
    IXMLTNFe nfe = LoadedNFe(Sample("spedda_mod55-nfe_2_NFe55.xml"));
    IXMLSignatureType signature = nfe->Get_Signature();
    EXPECT_EQ(signature->NamespaceURI(), QStringLiteral("http://www.w3.org/2000/09/xmldsig#"));
    IXMLReferenceType reference = signature->Get_SignedInfo()->Get_Reference();
    EXPECT_EQ(reference->Get_URI(), QStringLiteral("#") + nfe->Get_InfNFe()->Get_Id());
    EXPECT_EQ(reference->Get_Type_(), QString());
    IXMLTransformsType transforms = reference->Get_Transforms();
    ASSERT_EQ(transforms->Count(), 2);
    EXPECT_EQ(transforms->Get_Item(0)->Get_Algorithm(),
              QStringLiteral("http://www.w3.org/2000/09/xmldsig#enveloped-signature"));
    EXPECT_EQ(reference->Get_DigestValue().size(), 28);
    EXPECT_FALSE(signature->Get_KeyInfo()->Get_X509Data()->Get_X509Certificate().isEmpty());
}

TEST(NFeBinding, NewNFeBuildsAndLoads)
{
    IXMLTNFe nfe = NewNFe();
    EXPECT_EQ(
        nfe->OwnerDocument()->XML(),
        QStringLiteral("<?xml version=\"1.0\"?>\r\n<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"/>"));

    IXMLInfNFe inf = nfe->Get_InfNFe();
    inf->Set_Versao(QStringLiteral("3.10"));
    inf->Set_Id(QStringLiteral("NFe35"));
    IXMLIde ide = inf->Get_Ide();
    ide->Set_CUF(QStringLiteral("35"));
    ide->Set_Mod_(QStringLiteral("65"));
    IXMLDet second = inf->Get_Det()->Add();
    second->Set_NItem(QStringLiteral("2"));
    inf->Get_Total();
    IXMLDet first = inf->Get_Det()->Insert(0);
    first->Set_NItem(QStringLiteral("1"));
    IXMLNVEList nve = first->Get_Prod()->Get_NVE();
    nve->Add(QStringLiteral("AA0001"));
    nve->Insert(0, QStringLiteral("AA0000"));
    IXMLPag pag = inf->Get_Pag()->Add();
    pag->Set_TPag(QStringLiteral("01"));
    nfe->Get_Signature();
    EXPECT_EQ(nfe->XML(),
              QStringLiteral(
                  "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe versao=\"3.10\" Id=\"NFe35\">"
                  "<ide><cUF>35</cUF><mod>65</mod></ide>"
                  "<det nItem=\"1\"><prod><NVE>AA0000</NVE><NVE>AA0001</NVE></prod></det>"
                  "<det nItem=\"2\"/><total/><pag><tPag>01</tPag></pag></infNFe>"
                  "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"/></NFe>"));
    EXPECT_EQ(nve->Get_Item(1), QStringLiteral("AA0001"));
    EXPECT_EQ(inf->Get_Det()->Get_Item(1)->Get_NItem(), QStringLiteral("2"));

    // The document of NewNFe takes an assembled text; the root comes back typed.
    IXMLDocument doc = nfe->OwnerDocument();
    doc->LoadFromXML(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><NFe xmlns=\"") +
                     kNFeNamespace +
                     QStringLiteral("\"><infNFe versao=\"3.10\"><ide><cUF>41</cUF></ide></infNFe></NFe>"));
    IXMLTNFe loaded = vnd::XmlCast<IXMLTNFe>(doc->DocumentElement());
    EXPECT_EQ(loaded->Get_InfNFe()->Get_Ide()->Get_CUF(), QStringLiteral("41"));
    EXPECT_THROW(nfe->Get_InfNFe(), Exception); // the handle on the replaced tree
    EXPECT_THROW(doc->LoadFromXML(QStringLiteral("<NFe><infNFe></NFe>")), EXMLParseError);
}

TEST(NFeBinding, CastsToAnotherInterfaceAndForeignRootsAreErrors)
{
    IXMLTNFe nfe = NewNFe();
    try {
        vnd::XmlCast<IXMLIde>(nfe->Get_InfNFe());
        ADD_FAILURE() << "infNFe cast to IXMLIde";
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("IXMLIde")) &&
                    e.Message().contains(QStringLiteral("infNFe")));
    }
    IXMLDocument plain = TXMLDocument::Create();
    plain->LoadFromXML(QStringLiteral("<NFe xmlns=\"urn:outro\"><infNFe/></NFe>"));
    EXPECT_THROW(vnd::XmlCast<IXMLTNFe>(plain->DocumentElement()), Exception);
    EXPECT_THROW(GetNFe(plain), Exception);
    plain->LoadFromXML(QStringLiteral("<nfeProc xmlns=\"") + kNFeNamespace +
                       QStringLiteral("\"><NFe/></nfeProc>"));
    EXPECT_THROW(GetNFe(plain), Exception);
    plain->LoadFromXML(QStringLiteral("<NFe xmlns=\"") + kNFeNamespace +
                       QStringLiteral("\"><infNFe Id=\"x\"/></NFe>"));
    EXPECT_EQ(GetNFe(plain)->Get_InfNFe()->Get_Id(), QStringLiteral("x"));
}

TEST(NFeBinding, LoadNFeReadsAFileAndNamesItInErrors)
{
    REQUIRE_SAMPLES();
    IXMLTNFe nfe = LoadNFe(Sample("nfephp_1110128-nfe_NFe55.xml"));
    EXPECT_EQ(nfe->Get_InfNFe()->Get_Det()->Count(), 2);
    EXPECT_EQ(nfe->Get_InfNFe()->Get_Transp()->Get_Vol()->Count(), 1);

    QTemporaryDir dir;
    const QString broken = dir.filePath(QStringLiteral("quebrada.xml"));
    vndtest::WriteFile(broken, "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe>\n</NFe>");
    try {
        LoadNFe(broken);
        ADD_FAILURE() << "a broken file loaded";
    } catch (const EXMLParseError &e) {
        EXPECT_TRUE(e.Message().contains(broken));
        EXPECT_EQ(e.Line(), 2);
    }
}
