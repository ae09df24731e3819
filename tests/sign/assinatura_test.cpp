// Signature verification: the public samples (intact ones and ones altered after signing), documents
// signed here with a key of the test run (both NFC-e layouts, nfeProc, events, SAT), alterations of one
// character, and hostile documents.
#include "sign/assinatura.h"
#include "sign/verificadireta.h"
#include "tests/sign/assinador.h"
#include "tests/sign/estado.h"
#include "tests/support/testutil.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/valid.h>
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

using namespace vnd;
using vndtest::Algoritmo;
using vndtest::Assina;
using vndtest::NomeDoEstado;
using vndtest::Troca;

namespace {

// Every public sample that carries a signature, intact or not.
QStringList AmostrasAssinadas()
{
    QStringList assinadas;
    QDirIterator it(vndtest::SamplesDir(), {QStringLiteral("*.xml")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (vndtest::ReadFile(path).contains("SignatureValue"))
            assinadas << path;
    }
    assinadas.sort();
    return assinadas;
}

QByteArray Amostra(const QString &relativo)
{
    return vndtest::ReadFile(vndtest::SamplesDir() + QLatin1Char('/') + relativo);
}

const QByteArray kKey400 = "35260799999999000191650010000004561123456781";

// A 4.00 NFC-e of an alphanumeric-CNPJ issuer, with the layout's pag/detPag and the supplement outside infNFe.
QByteArray Nfce400()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\">"
           "<infNFe versao=\"4.00\" Id=\"NFe" + kKey400 + "\"><ide><cUF>35</cUF><serie>1</serie><nNF>456</nNF>"
           "<dhEmi>2026-07-15T10:20:30-03:00</dhEmi><tpAmb>2</tpAmb></ide>"
           "<emit><CNPJ>12ABC34501DE35</CNPJ><xNome>Padaria S\xc3\xa3o Jo\xc3\xa3o &amp; Filhos</xNome></emit>"
           "<det nItem=\"1\"><prod><cProd>P1</cProd><qCom>2.0000</qCom><vUnCom>12.50</vUnCom></prod></det>"
           "<total><ICMSTot><vNF>25.00</vNF></ICMSTot></total>"
           "<pag><detPag><tPag>01</tPag><vPag>30.00</vPag></detPag><vTroco>5.00</vTroco></pag></infNFe>"
           "<infNFeSupl><qrCode><![CDATA[https://www.homologacao.nfce.fazenda.sp.gov.br/qrcode?p=" + kKey400 +
           "|2|2|1|ABC]]></qrCode><urlChave>https://www.homologacao.nfce.fazenda.sp.gov.br/consulta</urlChave>"
           "</infNFeSupl></NFe>";
}

QByteArray Cupom(const QByteArray &chave, const QByteArray &valor)
{
    return "<CFe><infCFe Id=\"" + chave + "\" versao=\"0.07\" versaoDadosEnt=\"0.07\"><ide><nCFe>000123</nCFe>"
           "<nserieSAT>900004019</nserieSAT></ide><emit><CNPJ>99999999000191</CNPJ></emit>"
           "<total><vCFe>" + valor + "</vCFe></total></infCFe></CFe>";
}

// Wraps a document (without its declaration) in another element.
QByteArray Envolve(const QByteArray &abre, QByteArray documento, const QByteArray &fecha)
{
    if (documento.startsWith("<?xml"))
        documento = documento.mid(documento.indexOf("?>") + 2).trimmed();
    return abre + documento + fecha;
}

// What the direct road (libxml2's C14N and OpenSSL, without xmlsec) says of each signature of the
// document: true where it proves it intact. Ids registered as the verification does.
QList<bool> PelaFormaComum(const QByteArray &documento)
{
    IniciaXmlSec();
    QList<bool> out;
    xmlDoc *doc = xmlReadMemory(documento.constData(), int(documento.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR);
    if (!doc)
        return out;
    QList<xmlNode *> assinaturas;
    std::function<void(xmlNode *)> percorre = [&](xmlNode *n) {
        for (; n; n = n->next) {
            if (n->type != XML_ELEMENT_NODE)
                continue;
            if (xmlHasProp(n, BAD_CAST "Id")) {
                xmlAttr *a = xmlHasProp(n, BAD_CAST "Id");
                xmlChar *v = xmlNodeListGetString(doc, a->children, 1);
                xmlAddID(nullptr, doc, v, a);
                xmlFree(v);
            }
            if (xmlStrEqual(n->name, BAD_CAST "Signature"))
                assinaturas << n;
            else
                percorre(n->children);
        }
    };
    percorre(xmlDocGetRootElement(doc));
    // A document's one signature is canonicalised where it stands, a batch's in copies: both roads.
    for (xmlNode *a : assinaturas)
        out << assinatura_interna::IntactaPelaFormaComum(doc, a, assinaturas.size() == 1);
    xmlFreeDoc(doc);
    return out;
}

void EsperaEstado(const ResultadoAssinatura &r, EstadoAssinatura esperado, const char *onde)
{
    EXPECT_STREQ(NomeDoEstado(r.estado), NomeDoEstado(esperado)) << onde << ": " << r.motivo.toStdString();
    if (esperado == EstadoAssinatura::Intacta)
        EXPECT_TRUE(r.motivo.isEmpty());
    else
        EXPECT_FALSE(r.motivo.isEmpty()) << onde;
}

} // namespace

// The public samples, as found (cross-checked with the xmlsec1 program in the next test): the ones
// still as their issuer signed them, and the ones whose content was edited after signing.
TEST(AssinaturaAmostras, IntactasEAlteradasDepoisDeAssinadas)
{
    if (vndtest::SamplesDir().isEmpty())
        GTEST_SKIP() << "public samples folder (../shared/samples) not found";
    const QStringList intactas = {
        "nfe310/acbr_35150905481336000137550010000111291000111298-nfe_nfeProc55.xml",
        "nfe310/jfserialize_nfe3.10_nfeProc55.xml",
        "nfe310/jfserialize_nfe_nfeProc55.xml",
        "nfe310/nfephp_3515015-protNFe_nfeProc55.xml",
        "nfe310/nfephp_xml-problema-qrcode_NFe65.xml",
        "nfe310/spednfe_nfce_com_qrcode_NFe65.xml",
        "events/spednfe_exemplo_xml_sefazCancela_nfeDadosMsg_envEvento.xml",
        "sat/acbr_AD35180911111111111111591234567890001684429520.xml",
        "sat/satcfe_cfe-teste-assinado.xml",
        "sat/zpos_cfe-sat-100itens.xml",
        "sat/zpos_cfe-sat-500itens.xml",
        "sat/zpos_cfe-sat-layout.xml",
    };
    const QStringList alteradas = {
        "nfe310/nfephp_1110128-nfe_NFe55.xml",
        "nfe310/spednfe_2017signed_NFe55.xml",
        "nfe310/spednfe_nfce_sem_qrcode_NFe65.xml",
        "nfe310/spedmail_nfce_NFe65_pretty_cdata.xml",
        "nfe400/spednfe_nfce_NFe65.xml",
        "nfe400/spedda_nfce111_nfeProc65.xml",
        "nfe400/brdanfe_nfce-unauthorized-hom_nfeProc65.xml",
        "events/brdanfe_nfe310_simples_nacional_cancellation_event_procEventoNFe_110111.xml",
        "sat/satcfe_cfe-autorizado.xml",
        "sat/zpos_cfe-sat-0.08.xml",
        "sat/zpos_cfe-sat-cancelado.xml",
    };
    for (const QString &f : intactas)
        EsperaEstado(VerificaAssinatura(Amostra(f)), EstadoAssinatura::Intacta, qPrintable(f));
    // Every intact sample takes the direct road; it never proves an altered one.
    for (const QString &f : intactas)
        EXPECT_EQ(PelaFormaComum(Amostra(f)).value(0), true) << qPrintable(f);
    for (const QString &f : alteradas) {
        EXPECT_FALSE(PelaFormaComum(Amostra(f)).contains(true)) << qPrintable(f);
        const ResultadoAssinatura r = VerificaAssinatura(Amostra(f));
        EsperaEstado(r, EstadoAssinatura::DigestDiverge, qPrintable(f));
        EXPECT_TRUE(r.motivo.contains(r.referencia)) << r.motivo.toStdString();
    }
    EsperaEstado(VerificaAssinatura(Amostra("nfe310/spednfe_NFe_NFe55_unsigned.xml")), EstadoAssinatura::SemAssinatura,
                 "unsigned");
    // An event whose embedded certificate is cut: nothing to verify with.
    EsperaEstado(VerificaAssinatura(Amostra("events/nfephp_proccce_procEventoNFe_110110.xml")),
                 EstadoAssinatura::Malformada, "proccce");
}

// An independent witness: for every signed sample, "intact" here exactly when the xmlsec1 program
// verifies its first signature.
TEST(AssinaturaAmostras, ConcordaComOProgramaXmlsec1)
{
    if (vndtest::SamplesDir().isEmpty())
        GTEST_SKIP() << "public samples folder (../shared/samples) not found";
    const QString programa = QStandardPaths::findExecutable(QStringLiteral("xmlsec1"));
    if (programa.isEmpty())
        GTEST_SKIP() << "xmlsec1 program not installed (scripts/setup installs it)";
    const QStringList assinadas = AmostrasAssinadas();
    EXPECT_GT(assinadas.size(), 40);
    for (const QString &path : assinadas) {
        const QByteArray bytes = vndtest::ReadFile(path);
        QProcess p;
        p.start(programa, {"--verify", "--insecure", "--id-attr:Id", "infNFe", "--id-attr:Id", "infEvento",
                           "--id-attr:Id", "infCFe", path});
        ASSERT_TRUE(p.waitForFinished(30000));
        const bool testemunha = p.exitCode() == 0;
        const QList<ResultadoAssinatura> todas = VerificaAssinaturas(bytes);
        ASSERT_FALSE(todas.isEmpty()) << path.toStdString();
        EXPECT_EQ(todas.first().Intacta(), testemunha) << path.toStdString() << ": " << todas.first().motivo.toStdString();
    }
}

// The direct road may only ever spare xmlsec work: on every signed sample, intact or altered, each
// signature gets the same verdict as when xmlsec alone judges it.
TEST(AssinaturaAmostras, OsDoisCaminhosConcordam)
{
    if (vndtest::SamplesDir().isEmpty())
        GTEST_SKIP() << "public samples folder (../shared/samples) not found";
    const QStringList assinadas = AmostrasAssinadas();
    EXPECT_GT(assinadas.size(), 40);
    for (const QString &path : assinadas) {
        const QByteArray bytes = vndtest::ReadFile(path);
        const QList<ResultadoAssinatura> todas = VerificaAssinaturas(bytes);
        const QList<ResultadoAssinatura> soXmlSec = assinatura_interna::VerificaSoPeloXmlSec(bytes);
        ASSERT_EQ(todas.size(), soXmlSec.size()) << path.toStdString();
        for (qsizetype i = 0; i < todas.size(); ++i) {
            EXPECT_STREQ(NomeDoEstado(todas[i].estado), NomeDoEstado(soXmlSec[i].estado)) << path.toStdString();
            EXPECT_EQ(todas[i].referencia, soXmlSec[i].referencia) << path.toStdString();
        }
    }
}

// One character changed in a signed value, or in the SignatureValue, of an intact public sample.
TEST(AssinaturaAmostras, UmCaractereAlterado)
{
    if (vndtest::SamplesDir().isEmpty())
        GTEST_SKIP() << "public samples folder (../shared/samples) not found";
    const QByteArray nfce = Amostra("nfe310/spednfe_nfce_com_qrcode_NFe65.xml");
    ASSERT_TRUE(VerificaAssinatura(nfce).Intacta());
    const int at = nfce.indexOf("<vNF>") + 5;
    QByteArray valor = nfce;
    valor[at] = valor[at] == '9' ? '8' : '9';
    const ResultadoAssinatura r = VerificaAssinatura(valor);
    EsperaEstado(r, EstadoAssinatura::DigestDiverge, "vNF");
    EXPECT_TRUE(r.referencia.startsWith(QLatin1String("NFe"))) << r.referencia.toStdString();
    EXPECT_TRUE(r.motivo.contains(QLatin1String("digest")));

    const int sv = nfce.indexOf("<SignatureValue>") + 40;
    QByteArray assinatura = nfce;
    assinatura[sv] = assinatura[sv] == 'A' ? 'B' : 'A';
    EsperaEstado(VerificaAssinatura(assinatura), EstadoAssinatura::ValorInvalido, "SignatureValue");

    const QByteArray sat = Amostra("sat/zpos_cfe-sat-layout.xml");
    const int v = sat.indexOf("<vCFe>") + 6;
    QByteArray cupom = sat;
    cupom[v] = cupom[v] == '1' ? '2' : '1';
    EsperaEstado(VerificaAssinatura(cupom), EstadoAssinatura::DigestDiverge, "vCFe");
}

// Documents signed here: layout 4.00 with RSA-SHA1 and RSA-SHA256, inside nfeProc, an event inside
// procEventoNFe, SAT coupons alone and in a batch (one result per coupon).
TEST(AssinaturaPropria, FormasDosDocumentos)
{
    const QByteArray nfe = Assina(Nfce400(), "NFe" + kKey400);
    EsperaEstado(VerificaAssinatura(nfe), EstadoAssinatura::Intacta, "4.00 sha1");
    EsperaEstado(VerificaAssinatura(Assina(Nfce400(), "NFe" + kKey400, Algoritmo::RsaSha256)),
                 EstadoAssinatura::Intacta, "4.00 sha256");
    const QByteArray proc = Envolve("<nfeProc xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\">", nfe,
                                    "<protNFe versao=\"4.00\"><infProt><chNFe>" + kKey400 +
                                        "</chNFe><cStat>100</cStat></infProt></protNFe></nfeProc>");
    EsperaEstado(VerificaAssinatura(proc), EstadoAssinatura::Intacta, "nfeProc");
    EsperaEstado(VerificaAssinatura(Troca(proc, "<vNF>25.00", "<vNF>26.00")), EstadoAssinatura::DigestDiverge,
                 "nfeProc altered");
    // The protocol lies outside what the issuer signed.
    EsperaEstado(VerificaAssinatura(Troca(proc, "<cStat>100", "<cStat>101")), EstadoAssinatura::Intacta, "protNFe");

    const QByteArray evento =
        "<evento xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.00\"><infEvento Id=\"ID110111" + kKey400 +
        "01\"><chNFe>" + kKey400 + "</chNFe><tpEvento>110111</tpEvento><detEvento versao=\"1.00\">"
        "<descEvento>Cancelamento</descEvento><xJust>Venda cancelada a pedido</xJust></detEvento></infEvento></evento>";
    const QByteArray procEvento =
        Envolve("<procEventoNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.00\">",
                Assina(evento, "ID110111" + kKey400 + "01"),
                "<retEvento versao=\"1.00\"><infEvento><cStat>135</cStat></infEvento></retEvento></procEventoNFe>");
    const ResultadoAssinatura ev = VerificaAssinatura(procEvento);
    EsperaEstado(ev, EstadoAssinatura::Intacta, "procEventoNFe");
    EXPECT_EQ(ev.referencia, "ID110111" + kKey400 + "01");

    const QByteArray k1 = "CFe35260799999999000191599000040190001231234561";
    const QByteArray k2 = "CFe35260799999999000191599000040190001241234562";
    const QByteArray c1 = Assina(Cupom(k1, "10.00"), k1, Algoritmo::RsaSha256);
    const QByteArray c2 = Troca(Assina(Cupom(k2, "20.00"), k2, Algoritmo::RsaSha256), "20.00", "02.00");
    const QList<ResultadoAssinatura> lote =
        VerificaAssinaturas(Envolve("<envCFe><LoteCFe>", c1, "") + Envolve("", c2, "</LoteCFe></envCFe>"));
    ASSERT_EQ(lote.size(), 2);
    EsperaEstado(lote[0], EstadoAssinatura::Intacta, "coupon 1");
    EXPECT_EQ(lote[0].referencia, QString::fromLatin1(k1));
    EsperaEstado(lote[1], EstadoAssinatura::DigestDiverge, "coupon 2");
    EXPECT_EQ(lote[1].referencia, QString::fromLatin1(k2));

    // Every shape above but the altered coupon is proven by the direct road, which judges the same bytes.
    EXPECT_EQ(PelaFormaComum(nfe), QList<bool>{true});
    EXPECT_EQ(PelaFormaComum(Assina(Nfce400(), "NFe" + kKey400, Algoritmo::RsaSha256)), QList<bool>{true});
    EXPECT_EQ(PelaFormaComum(proc), QList<bool>{true});
    EXPECT_EQ(PelaFormaComum(Troca(proc, "<vNF>25.00", "<vNF>26.00")), QList<bool>{false});
    EXPECT_EQ(PelaFormaComum(procEvento), QList<bool>{true});
    EXPECT_EQ(PelaFormaComum(Envolve("<envCFe><LoteCFe>", c1, "") + Envolve("", c2, "</LoteCFe></envCFe>")),
              (QList<bool>{true, false}));
    // A SignatureValue of one bit more: the digest holds, the value does not; left to the full check.
    QByteArray valor = nfe;
    const int at = valor.indexOf("<SignatureValue>") + int(strlen("<SignatureValue>")) + 5;
    valor[at] = valor[at] == 'A' ? 'B' : 'A';
    EXPECT_EQ(PelaFormaComum(valor), QList<bool>{false});
    EsperaEstado(VerificaAssinatura(valor), EstadoAssinatura::ValorInvalido, "value");
}

// What the verification must refuse without fetching, expanding or crashing.
TEST(AssinaturaHostil, DocumentosQueNaoSeVerificam)
{
    const QByteArray nfe = Assina(Nfce400(), "NFe" + kKey400);
    const auto malformada = [](const QByteArray &doc, const char *onde) {
        const ResultadoAssinatura r = VerificaAssinatura(doc);
        EsperaEstado(r, EstadoAssinatura::Malformada, onde);
        return r.motivo;
    };
    EXPECT_TRUE(malformada("", "empty").contains(QLatin1String("XML malformado")));
    EXPECT_TRUE(malformada(nfe.left(nfe.size() / 2), "cut").contains(QLatin1String("linha")));
    const QString risos = malformada("<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
               "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
               "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\"><!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">"
               "<!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\"><!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">]>"
               "<r>&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;</r>",
               "billion laughs");
    EXPECT_TRUE(risos.contains(QLatin1String("DOCTYPE")) || risos.contains(QLatin1String("XML malformado")))
        << risos.toStdString();
    // An external entity inside the signed element: never read, the document is refused.
    QTemporaryDir dir;
    vndtest::WriteFile(dir.path() + "/segredo.txt", "segredo");
    const QByteArray xxe = "<!DOCTYPE NFe [<!ENTITY x SYSTEM \"file://" + dir.path().toUtf8() + "/segredo.txt\">]>" +
                           Troca(nfe.mid(nfe.indexOf("?>") + 2), "<cProd>P1", "<cProd>&x;");
    EXPECT_FALSE(malformada(xxe, "xxe").contains(QLatin1String("segredo")));

    // The same Id twice: the signed element could be swapped for the other one.
    EXPECT_TRUE(malformada(Troca(nfe, "<infNFeSupl>", "<infNFeSupl Id=\"NFe" + kKey400 + "\">"), "duplicate Id")
                    .contains(QLatin1String("repetido")));
    // References to another document, to nothing, to an element elsewhere.
    EXPECT_TRUE(malformada(Troca(nfe, "URI=\"#NFe", "URI=\"http://127.0.0.1:9/NFe"), "remote reference")
                    .contains(QStringLiteral("não aponta")));
    EXPECT_TRUE(malformada(Troca(nfe, "URI=\"#NFe", "URI=\"#XNFe"), "missing element").contains(QStringLiteral("não existe")));
    const QByteArray fora = Troca(nfe, "</infNFeSupl>", "<x Id=\"outro\"/></infNFeSupl>");
    const QString motivo = malformada(Troca(fora, "URI=\"#NFe" + kKey400 + "\"", "URI=\"#outro\""), "not beside");
    EXPECT_TRUE(motivo.contains(QLatin1String("outro")));
    // A transform the fiscal layouts do not use.
    EXPECT_TRUE(malformada(Troca(nfe, "http://www.w3.org/2000/09/xmldsig#enveloped-signature",
                                 "http://www.w3.org/TR/1999/REC-xslt-19991116"),
                           "xslt")
                    .contains(QStringLiteral("transformação")));
    EXPECT_TRUE(malformada(Troca(nfe, "<X509Certificate>", "<X509Certificate>%%%"), "certificate")
                    .contains(QLatin1String("certificado")));
    EXPECT_TRUE(malformada(QByteArray(kMaxDocumentoAssinado + 1, ' '), "huge").contains(QLatin1String("grande")));
    EsperaEstado(VerificaAssinatura(Nfce400()), EstadoAssinatura::SemAssinatura, "unsigned");
}

// The libraries start once, whichever thread comes first, and verify on several threads at once.
TEST(AssinaturaThreads, VariasAoMesmoTempo)
{
    const QByteArray boa = Assina(Nfce400(), "NFe" + kKey400);
    const QByteArray ruim = Troca(boa, "<vNF>25.00", "<vNF>26.00");
    std::atomic<int> erros{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                const bool par = (i + t) % 2 == 0;
                const ResultadoAssinatura r = VerificaAssinatura(par ? boa : ruim);
                if (r.estado != (par ? EstadoAssinatura::Intacta : EstadoAssinatura::DigestDiverge))
                    ++erros;
            }
        });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(erros.load(), 0);
}
