// The NF-e 4.00 binding on real documents, checked against pugixml reading the same files, on a
// document built with the groups no public sample carries, and the generator's refusal of a schema
// that disagrees with its lists.

#include "tests/support/testutil.h"
#include "xml/nfe_v400.h"
#include "xml/xmlencoding.h"

#include <QDir>
#include <QProcess>
#include <cstring>
#include <gtest/gtest.h>
#include <pugixml.hpp>

using namespace nfe_v400;

namespace
{

QString Sample(const QString &name)
{
    return QDir(vndtest::SamplesDir()).filePath(QStringLiteral("nfe400/") + name);
}

#define REQUIRE_SAMPLES()                                                                                    \
    if (vndtest::SamplesDir().isEmpty())                                                                     \
    GTEST_SKIP() << "../shared/samples is absent"

// The NFe element of a sample (bare or inside nfeProc), loaded into a document made by NewNFe.
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

pugi::xml_node RawNFe(pugi::xml_document &doc, const QString &path)
{
    const QByteArray bytes = vndtest::ReadFile(path);
    EXPECT_TRUE(doc.load_buffer(bytes.constData(), size_t(bytes.size())));
    pugi::xml_node nfe = doc.document_element();
    return std::strcmp(nfe.name(), "NFe") == 0 ? nfe : nfe.child("NFe");
}

QString Raw(pugi::xml_node node, const char *child)
{
    return QString::fromUtf8(node.child_value(child));
}

int CountOf(pugi::xml_node parent, const char *name)
{
    int n = 0;
    for (pugi::xml_node c = parent.child(name); c; c = c.next_sibling(name))
        ++n;
    return n;
}

} // namespace

TEST(NFe400Binding, TypedReadsOfEveryPublicSample)
{
    REQUIRE_SAMPLES();
    const QStringList names = QDir(vndtest::SamplesDir() + QStringLiteral("/nfe400"))
                                  .entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name);
    ASSERT_GE(names.size(), 10);
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString path = Sample(name);
        pugi::xml_document raw;
        const pugi::xml_node rawNFe = RawNFe(raw, path);
        const pugi::xml_node inf = rawNFe.child("infNFe");

        IXMLTNFe nfe;
        ASSERT_NO_THROW(nfe = LoadedNFe(path));
        IXMLInfNFe infNFe = nfe->Get_InfNFe();
        EXPECT_EQ(infNFe->Get_Versao(), QStringLiteral("4.00"));
        EXPECT_EQ(infNFe->Get_Id(), QString::fromUtf8(inf.attribute("Id").value()));

        const pugi::xml_node ide = inf.child("ide");
        IXMLIde typed = infNFe->Get_Ide();
        EXPECT_EQ(typed->Get_CUF(), Raw(ide, "cUF"));
        EXPECT_EQ(typed->Get_CNF(), Raw(ide, "cNF"));
        EXPECT_EQ(typed->Get_NatOp(), Raw(ide, "natOp"));
        EXPECT_EQ(typed->Get_Mod_(), Raw(ide, "mod"));
        EXPECT_EQ(typed->Get_Serie(), Raw(ide, "serie"));
        EXPECT_EQ(typed->Get_NNF(), Raw(ide, "nNF"));
        EXPECT_EQ(typed->Get_DhEmi(), Raw(ide, "dhEmi"));
        EXPECT_EQ(typed->Get_IdDest(), Raw(ide, "idDest"));
        EXPECT_EQ(typed->Get_TpAmb(), Raw(ide, "tpAmb"));
        EXPECT_EQ(typed->Get_IndFinal(), Raw(ide, "indFinal"));
        EXPECT_EQ(typed->Get_IndPres(), Raw(ide, "indPres"));
        EXPECT_EQ(typed->Get_NFref()->Count(), CountOf(ide, "NFref"));
        EXPECT_EQ(infNFe->Get_Emit()->Get_CNPJ(), Raw(inf.child("emit"), "CNPJ"));

        // det: typed items in document order, down to the taxes of each item.
        IXMLDetList det = infNFe->Get_Det();
        int items = 0;
        for (pugi::xml_node d = inf.child("det"); d; d = d.next_sibling("det"), ++items) {
            IXMLDet item = det->Get_Item(items);
            EXPECT_EQ(item->Get_NItem(), QString::fromUtf8(d.attribute("nItem").value()));
            EXPECT_EQ(item->Get_Prod()->Get_CProd(), Raw(d.child("prod"), "cProd"));
            EXPECT_EQ(item->Get_Prod()->Get_VProd(), Raw(d.child("prod"), "vProd"));
            const pugi::xml_node imposto = d.child("imposto");
            EXPECT_EQ(item->Get_Imposto()->Get_VTotTrib(), Raw(imposto, "vTotTrib"));
            EXPECT_EQ(item->Get_Imposto()->Get_ICMS()->ChildNodes()->Nodes(0)->NodeName(),
                      QString::fromUtf8(imposto.child("ICMS").first_child().name()));
        }
        EXPECT_EQ(det->Count(), items);
        EXPECT_GT(items, 0);

        // pag/detPag: every payment of the document, not the first only.
        const pugi::xml_node pag = inf.child("pag");
        IXMLDetPagList detPag = infNFe->Get_Pag()->Get_DetPag();
        int payments = 0;
        for (pugi::xml_node p = pag.child("detPag"); p; p = p.next_sibling("detPag"), ++payments) {
            IXMLDetPag typedPag = detPag->Get_Item(payments);
            EXPECT_EQ(typedPag->Get_IndPag(), Raw(p, "indPag"));
            EXPECT_EQ(typedPag->Get_TPag(), Raw(p, "tPag"));
            EXPECT_EQ(typedPag->Get_VPag(), Raw(p, "vPag"));
            EXPECT_EQ(typedPag->Get_Card()->Get_TBand(), Raw(p.child("card"), "tBand"));
        }
        EXPECT_EQ(detPag->Count(), payments);
        EXPECT_GT(payments, 0);
        EXPECT_THROW(detPag->Get_Item(payments), Exception);
        EXPECT_EQ(infNFe->Get_Pag()->Get_VTroco(), Raw(pag, "vTroco"));

        EXPECT_EQ(infNFe->Get_Cobr()->Get_Dup()->Count(), CountOf(inf.child("cobr"), "dup"));
        EXPECT_EQ(infNFe->Get_InfAdic()->Get_ObsCont()->Count(), CountOf(inf.child("infAdic"), "obsCont"));
        const pugi::xml_node supl = rawNFe.child("infNFeSupl");
        EXPECT_EQ(nfe->Get_InfNFeSupl()->Get_UrlChave(), Raw(supl, "urlChave"));
        // A qrCode written as CDATA is no single text node: the binding says so instead of guessing.
        if (supl.child("qrCode").first_child().type() == pugi::node_cdata)
            EXPECT_THROW(nfe->Get_InfNFeSupl()->Get_QrCode(), Exception);
        else
            EXPECT_EQ(nfe->Get_InfNFeSupl()->Get_QrCode(), Raw(supl, "qrCode"));
        // Some samples were edited after signing, so the reference is read from the file, not the Id.
        EXPECT_EQ(
            nfe->Get_Signature()->Get_SignedInfo()->Get_Reference()->Get_URI(),
            QString::fromUtf8(
                rawNFe.child("Signature").child("SignedInfo").child("Reference").attribute("URI").value()));
    }
}

TEST(NFe400Binding, RepeatingElementsAreCollections)
{
    REQUIRE_SAMPLES();
    // Five payments and three duplicates: the 4.00 binding reaches every one of them.
    IXMLTNFe proc = LoadedNFe(Sample(QStringLiteral("brdanfe_nfce-unauthorized-hom_nfeProc65.xml")));
    IXMLDetPagList detPag = proc->Get_InfNFe()->Get_Pag()->Get_DetPag();
    ASSERT_EQ(detPag->Count(), 5);
    EXPECT_EQ(detPag->Get_Item(1)->Get_VPag(), QStringLiteral("30.67"));
    IXMLDupList dup = proc->Get_InfNFe()->Get_Cobr()->Get_Dup();
    ASSERT_EQ(dup->Count(), 3);
    EXPECT_NE(dup->Get_Item(0)->Get_NDup(), dup->Get_Item(2)->Get_NDup());
    // Items read through the generic lists come back typed as well.
    EXPECT_NE(std::dynamic_pointer_cast<TXMLDetPag>(proc->Get_InfNFe()->Get_Pag()->ChildNodes()->Nodes(4)),
              nullptr);
}

TEST(NFe400Binding, LoadNFeReadsABareDocumentAndRefusesAForeignRoot)
{
    REQUIRE_SAMPLES();
    // No XML declaration in this one.
    IXMLTNFe nfe = LoadNFe(Sample(QStringLiteral("spednfe_nfce_NFe65.xml")));
    EXPECT_EQ(nfe->Get_InfNFe()->Get_Ide()->Get_Mod_(), QStringLiteral("65"));
    EXPECT_EQ(nfe->NamespaceURI(), QString::fromLatin1(TargetNamespace));
    try {
        LoadNFe(Sample(QStringLiteral("spedda_mod55-nfe_5_nfeProc55.xml")));
        ADD_FAILURE() << "nfeProc bound as NFe";
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("nfeProc"))) << e.Message().toStdString();
    }
}

// What a shop's system writes for an NFC-e of 2026: alphanumeric CNPJ, the IBS/CBS groups of an item
// and of the totals, two payments with their card group and the change. The element names that
// several groups of the schema share get classes named after their holders.
TEST(NFe400Binding, BuildsThe2026GroupsAndReadsThemBack)
{
    IXMLTNFe nfe = NewNFe();
    EXPECT_EQ(
        nfe->OwnerDocument()->XML(),
        QStringLiteral("<?xml version=\"1.0\"?>\r\n<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"/>"));
    IXMLInfNFe inf = nfe->Get_InfNFe();
    inf->Set_Versao(QStringLiteral("4.00"));
    inf->Get_Emit()->Set_CNPJ(QStringLiteral("12ABC34501DE35"));
    IXMLDet det = inf->Get_Det()->Add();
    det->Set_NItem(QStringLiteral("1"));
    IXMLTTribNFe ibscbs = det->Get_Imposto()->Get_IBSCBS();
    ibscbs->Set_CST(QStringLiteral("000"));
    ibscbs->Set_CClassTrib(QStringLiteral("000001"));
    IXMLTCIBS grupo = ibscbs->Get_GIBSCBS();
    grupo->Set_VBC(QStringLiteral("100.00"));
    IXMLTCIBS_GIBSUF uf = grupo->Get_GIBSUF();
    uf->Set_PIBSUF(QStringLiteral("0.1000"));
    uf->Get_GRed()->Set_PRedAliq(QStringLiteral("60.0000"));
    uf->Set_VIBSUF(QStringLiteral("0.10"));
    grupo->Get_GCBS()->Set_VCBS(QStringLiteral("0.90"));
    IXMLTIBSCBSMonoTot tot = inf->Get_Total()->Get_IBSCBSTot();
    tot->Set_VBCIBSCBS(QStringLiteral("100.00"));
    tot->Get_GIBS()->Get_GIBSUF()->Set_VIBSUF(QStringLiteral("0.10"));
    IXMLPag pag = inf->Get_Pag();
    IXMLDetPag dinheiro = pag->Get_DetPag()->Add();
    dinheiro->Set_TPag(QStringLiteral("01"));
    dinheiro->Set_VPag(QStringLiteral("50.00"));
    IXMLDetPag cartao = pag->Get_DetPag()->Insert(0);
    cartao->Set_TPag(QStringLiteral("03"));
    cartao->Set_VPag(QStringLiteral("60.00"));
    cartao->Get_Card()->Set_TpIntegra(QStringLiteral("2"));
    cartao->Get_Card()->Set_TBand(QStringLiteral("01"));
    pag->Set_VTroco(QStringLiteral("10.00"));
    inf->Get_Ide()->Get_GPagAntecipado()->Add(QStringLiteral("41260912ABC34501DE35650010000000011000000010"));

    const QString expected = QStringLiteral(
        "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe versao=\"4.00\">"
        "<emit><CNPJ>12ABC34501DE35</CNPJ></emit>"
        "<det nItem=\"1\"><imposto><IBSCBS><CST>000</CST><cClassTrib>000001</cClassTrib><gIBSCBS>"
        "<vBC>100.00</vBC><gIBSUF><pIBSUF>0.1000</pIBSUF><gRed><pRedAliq>60.0000</pRedAliq></gRed>"
        "<vIBSUF>0.10</vIBSUF></gIBSUF><gCBS><vCBS>0.90</vCBS></gCBS></gIBSCBS></IBSCBS></imposto></det>"
        "<total><IBSCBSTot><vBCIBSCBS>100.00</vBCIBSCBS><gIBS><gIBSUF><vIBSUF>0.10</vIBSUF></gIBSUF></gIBS>"
        "</IBSCBSTot></total>"
        "<pag><detPag><tPag>03</tPag><vPag>60.00</vPag><card><tpIntegra>2</tpIntegra><tBand>01</tBand></card>"
        "</detPag><detPag><tPag>01</tPag><vPag>50.00</vPag></detPag><vTroco>10.00</vTroco></pag>"
        "<ide><gPagAntecipado><refNFe>41260912ABC34501DE35650010000000011000000010</refNFe></gPagAntecipado>"
        "</ide></infNFe></NFe>");
    EXPECT_EQ(nfe->XML(), expected);

    // The same text read back through GetNFe of a plain document.
    IXMLDocument doc = TXMLDocument::Create();
    doc->LoadFromXML(expected);
    IXMLInfNFe read = GetNFe(doc)->Get_InfNFe();
    EXPECT_EQ(read->Get_Emit()->Get_CNPJ(), QStringLiteral("12ABC34501DE35"));
    IXMLTCIBS readGrupo = read->Get_Det()->Get_Item(0)->Get_Imposto()->Get_IBSCBS()->Get_GIBSCBS();
    EXPECT_EQ(readGrupo->Get_GIBSUF()->Get_GRed()->Get_PRedAliq(), QStringLiteral("60.0000"));
    EXPECT_EQ(readGrupo->Get_GCBS()->Get_VCBS(), QStringLiteral("0.90"));
    EXPECT_EQ(readGrupo->Get_GIBSMun()->Get_VIBSMun(), QString()); // absent: reads empty
    EXPECT_EQ(read->Get_Total()->Get_IBSCBSTot()->Get_GIBS()->Get_GIBSUF()->Get_VIBSUF(),
              QStringLiteral("0.10"));
    IXMLDetPagList detPag = read->Get_Pag()->Get_DetPag();
    ASSERT_EQ(detPag->Count(), 2);
    EXPECT_EQ(detPag->Get_Item(0)->Get_Card()->Get_TBand(), QStringLiteral("01"));
    EXPECT_EQ(detPag->Get_Item(1)->Get_VPag(), QStringLiteral("50.00"));
    EXPECT_EQ(read->Get_Pag()->Get_VTroco(), QStringLiteral("10.00"));
    IXMLGPagAntecipado antecipado = read->Get_Ide()->Get_GPagAntecipado();
    ASSERT_EQ(antecipado->Count(), 1);
    EXPECT_EQ(antecipado->Get_Item(0).size(), 44);
    // A group of the item cast to the totals' class of the same element name is refused, and the
    // message names the layout of the interface.
    try {
        vnd::XmlCast<IXMLGIBS_GIBSUF>(readGrupo->Get_GIBSUF());
        ADD_FAILURE() << "gIBSUF of the item cast to the totals' class";
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("nfe_v400::IXMLGIBS_GIBSUF")))
            << e.Message().toStdString();
    }
}

namespace
{

// Runs the generator on a copy of the project's 4.00 schema files, changed by edit, writing into out
// (a temporary folder when empty); returns its exit code and what it wrote on standard error.
std::pair<int, QString> GenerateFrom(const std::function<void(QByteArray &)> &edit,
                                     const QString &out = QString())
{
    QTemporaryDir dir;
    const QString schemas = dir.filePath(QStringLiteral("schemas"));
    QDir().mkpath(schemas);
    const QDir source(QStringLiteral(VND_SOURCE_DIR "/xml/schemas/nfe400"));
    for (const QString &name : source.entryList({QStringLiteral("*.xsd")}, QDir::Files)) {
        QByteArray bytes = vndtest::ReadFile(source.filePath(name));
        if (name == QLatin1String("leiauteNFe_v4.00.xsd"))
            edit(bytes);
        vndtest::WriteFile(QDir(schemas).filePath(name), bytes);
    }
    QProcess p;
    p.start(QStringLiteral(VND_PYTHON),
            {QStringLiteral(VND_SOURCE_DIR "/xml/gen/gen_nfe_binding.py"), QStringLiteral("4.00"), schemas,
             out.isEmpty() ? dir.filePath(QStringLiteral("out")) : out, QStringLiteral("2")});
    EXPECT_TRUE(p.waitForFinished(120000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardError())};
}

void Replace(QByteArray &bytes, const char *from, const char *to)
{
    ASSERT_EQ(bytes.count(from), 1) << from;
    bytes.replace(from, to);
}

} // namespace

TEST(NFe400BindingGenerator, FailsWhenTheSchemaAndTheListsDisagree)
{
    EXPECT_EQ(GenerateFrom([](QByteArray &) {}), std::make_pair(0, QString()));

    // A listed collection that no longer repeats.
    auto [code, err] = GenerateFrom([](QByteArray &b) {
        Replace(b, "<xs:element name=\"detPag\" maxOccurs=\"100\">", "<xs:element name=\"detPag\">");
    });
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(err.contains(QStringLiteral("TXMLPag/detPag não se repete"))) << err.toStdString();

    // A repeating element that the list does not know.
    std::tie(code, err) = GenerateFrom([](QByteArray &b) {
        Replace(b, "<xs:element name=\"infRespTec\" type=\"TInfRespTec\" minOccurs=\"0\">",
                "<xs:element name=\"infRespTec\" type=\"TInfRespTec\" minOccurs=\"0\" maxOccurs=\"2\">");
    });
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(err.contains(QStringLiteral("TXMLInfNFe/infRespTec"))) << err.toStdString();

    // Two anonymous groups of one name inside one holder cannot both be named after it.
    std::tie(code, err) = GenerateFrom([](QByteArray &b) {
        Replace(b, "<xs:element name=\"gPagAntecipado\" minOccurs=\"0\">",
                "<xs:choice minOccurs=\"0\"><xs:element name=\"gX\"><xs:complexType><xs:sequence>"
                "<xs:element name=\"a\" type=\"xs:string\"/></xs:sequence></xs:complexType></xs:element>"
                "<xs:sequence><xs:element name=\"gX\"><xs:complexType><xs:sequence>"
                "<xs:element name=\"b\" type=\"xs:string\"/></xs:sequence></xs:complexType></xs:element>"
                "</xs:sequence></xs:choice>"
                "<xs:element name=\"gPagAntecipado\" minOccurs=\"0\">");
    });
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(err.contains(QStringLiteral("TXMLIde_GX"))) << err.toStdString();
}

TEST(NFe400BindingGenerator, NamesSharedByAnonymousGroupsAreQualifiedForAllOfThem)
{
    // A second anonymous gCred (beside the one of prod) renames both after their holders, whichever the
    // walk meets first; the 4.00 header is then written with the qualified names only.
    QTemporaryDir dir;
    const auto [code, err] = GenerateFrom(
        [](QByteArray &b) {
            Replace(b, "<xs:element name=\"gPagAntecipado\" minOccurs=\"0\">",
                    "<xs:element name=\"gCred\" minOccurs=\"0\"><xs:complexType><xs:sequence>"
                    "<xs:element name=\"x\" type=\"xs:string\"/></xs:sequence></xs:complexType></xs:element>"
                    "<xs:element name=\"gPagAntecipado\" minOccurs=\"0\">");
        },
        dir.path());
    ASSERT_EQ(code, 0) << err.toStdString();
    const QByteArray header = vndtest::ReadFile(dir.filePath(QStringLiteral("nfe_v400.h")));
    EXPECT_TRUE(header.contains("class TXMLIde_GCred : public TXMLNode"));
    EXPECT_TRUE(header.contains("class TXMLProd_GCred : public TXMLNode"));
    EXPECT_TRUE(header.contains("IXMLProd_GCredList Get_GCred();"));
    EXPECT_FALSE(header.contains("class TXMLGCred "));
}
