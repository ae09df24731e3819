// Signature verification over xmlsec1 (OpenSSL) and libxml2; see assinatura.h for what is proven.
#include "sign/assinatura.h"

#include "sign/verificadireta.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <libxml/xmlerror.h>
#include <xmlsec/crypto.h>
#include <xmlsec/errors.h>
#include <xmlsec/keysmngr.h>
#include <xmlsec/xmldsig.h>
#include <xmlsec/xmlsec.h>
#include <xmlsec/xmltree.h>
#include <xmlsec/openssl/evp.h>

#include <openssl/evp.h>

#include <memory>
#include <mutex>
#include <stdexcept>

namespace vnd {

namespace {

// The first xmlsec error of the verification running on this thread: what failed and where.
struct ErroXmlSec
{
    QString funcao, mensagem;
    int motivo = 0;
    bool houve = false;
};
thread_local ErroXmlSec t_erro;

void GuardaErroXmlSec(const char *, int, const char *func, const char *, const char *, int reason, const char *msg)
{
    if (t_erro.houve)
        return;
    t_erro = {QString::fromUtf8(func ? func : ""), QString::fromUtf8(msg ? msg : ""), reason, true};
}

// libxml2's messages would go to standard error; the parse's first one is kept for the reason instead.
thread_local QString t_erroXml;
void GuardaErroXml(void *, xmlError *erro)
{
    if (t_erroXml.isEmpty() && erro && erro->message)
        t_erroXml = QStringLiteral("linha %1: %2").arg(erro->line).arg(QString::fromUtf8(erro->message).trimmed());
}
void IgnoraErroGenerico(void *, const char *, ...) {}

} // namespace

void IniciaXmlSec()
{
    static std::once_flag once;
    static const char *falha = nullptr;
    std::call_once(once, [] {
        xmlInitParser();
        if (xmlSecInit() < 0)
            falha = "xmlSecInit";
        else if (xmlSecCheckVersion() != 1)
            falha = "xmlSecCheckVersion";
        else if (xmlSecCryptoAppInit(nullptr) < 0)
            falha = "xmlSecCryptoAppInit";
        else if (xmlSecCryptoInit() < 0)
            falha = "xmlSecCryptoInit";
        xmlSecErrorsSetCallback(GuardaErroXmlSec);
    });
    if (falha)
        throw std::runtime_error(std::string("verificação de assinaturas indisponível: ") + falha + " falhou");
}

namespace {

struct LiberaDoc
{
    void operator()(xmlDoc *d) const { xmlFreeDoc(d); }
};
using Documento = std::unique_ptr<xmlDoc, LiberaDoc>;

struct LiberaCtx
{
    void operator()(xmlSecDSigCtx *c) const { xmlSecDSigCtxDestroy(c); }
};

// One keys manager per thread: it holds nothing (every key comes from the document's certificate), but
// xmlsec wants one to read X509 data, and sharing it between threads is not documented as safe.
xmlSecKeysMngrPtr GerenciadorDaThread()
{
    struct Gerenciador
    {
        xmlSecKeysMngrPtr mngr = nullptr;
        Gerenciador()
        {
            mngr = xmlSecKeysMngrCreate();
            if (mngr && xmlSecCryptoAppDefaultKeysMngrInit(mngr) < 0) {
                xmlSecKeysMngrDestroy(mngr);
                mngr = nullptr;
            }
        }
        ~Gerenciador()
        {
            if (mngr)
                xmlSecKeysMngrDestroy(mngr);
        }
    };
    thread_local Gerenciador g;
    if (!g.mngr)
        throw std::runtime_error("verificação de assinaturas indisponível: gerenciador de chaves do xmlsec");
    return g.mngr;
}

// An xmlsec key holding the key read before from that certificate text on this thread, or null.
xmlSecKeyPtr ChaveJaLida(const QByteArray &certificado)
{
    EVP_PKEY *pkey = assinatura_interna::ChaveGuardada(certificado);
    if (!pkey)
        return nullptr;
    EVP_PKEY *copia = xmlSecOpenSSLEvpKeyDup(pkey);
    xmlSecKeyDataPtr dado = copia ? xmlSecOpenSSLEvpKeyAdopt(copia) : nullptr;
    if (!dado) {
        EVP_PKEY_free(copia);
        return nullptr;
    }
    xmlSecKeyPtr chave = xmlSecKeyCreate();
    if (!chave || xmlSecKeySetValue(chave, dado) < 0) {
        xmlSecKeyDataDestroy(dado);
        if (chave)
            xmlSecKeyDestroy(chave);
        return nullptr;
    }
    return chave;
}

// Keeps the key xmlsec read from that certificate text.
void GuardaChaveLida(const QByteArray &certificado, xmlSecKeyPtr chave)
{
    if (certificado.isEmpty() || !chave)
        return;
    EVP_PKEY *pkey = xmlSecOpenSSLEvpKeyDataGetEvp(xmlSecKeyGetValue(chave));
    if (EVP_PKEY *copia = pkey ? xmlSecOpenSSLEvpKeyDup(pkey) : nullptr)
        assinatura_interna::GuardaChave(certificado, copia);
}

QString Texto(const xmlChar *s) { return s ? QString::fromUtf8(reinterpret_cast<const char *>(s)) : QString(); }

bool EhDsig(const xmlNode *n, const xmlChar *nome)
{
    return n->type == XML_ELEMENT_NODE && xmlStrEqual(n->name, nome) && n->ns &&
           xmlStrEqual(n->ns->href, xmlSecDSigNs);
}

// One walk over the tree. Registers every "Id" attribute as an ID of the document (the fiscal schemas
// declare them, but no DTD says so to the parser); a value given twice is an error, since a reference to
// it would be ambiguous, which is how a signed element is swapped for another one. And gathers the
// signatures, those inside another signature aside.
bool PercorreArvore(xmlDoc *doc, xmlNode *no, QString &repetido, QList<xmlNode *> &assinaturas, bool dentroDeUma)
{
    for (xmlNode *n = no; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE)
            continue;
        for (xmlAttr *a = n->properties; a; a = a->next) {
            if (a->ns || !xmlStrEqual(a->name, BAD_CAST "Id"))
                continue;
            xmlChar *valor = xmlNodeListGetString(doc, a->children, 1);
            const bool novo = valor && xmlGetID(doc, valor) == nullptr && xmlAddID(nullptr, doc, valor, a) != nullptr;
            if (!novo)
                repetido = Texto(valor);
            xmlFree(valor);
            if (!novo)
                return false;
        }
        const bool assinatura = !dentroDeUma && EhDsig(n, xmlSecNodeSignature);
        if (assinatura)
            assinaturas << n;
        if (!PercorreArvore(doc, n->children, repetido, assinaturas, dentroDeUma || assinatura))
            return false;
    }
    return true;
}

ResultadoAssinatura Resultado(EstadoAssinatura estado, const QString &referencia, const QString &motivo)
{
    return {estado, referencia, motivo};
}

// The references of the signature, checked before xmlsec sees them: each must name by "#Id" an element
// beside the signature (the enveloped form every fiscal document uses). Answers the first Id.
bool ConfereReferencias(xmlDoc *doc, xmlNode *assinatura, QString &id, QString &motivo)
{
    xmlNode *info = xmlSecFindChild(assinatura, xmlSecNodeSignedInfo, xmlSecDSigNs);
    if (!info) {
        motivo = QStringLiteral("assinatura sem SignedInfo");
        return false;
    }
    int referencias = 0;
    for (xmlNode *r = info->children; r; r = r->next) {
        if (!EhDsig(r, xmlSecNodeReference))
            continue;
        ++referencias;
        xmlChar *uri = xmlGetProp(r, BAD_CAST "URI");
        const QString u = Texto(uri);
        xmlFree(uri);
        if (!u.startsWith(QLatin1Char('#')) || u.size() < 2) {
            motivo = QStringLiteral("referência \"%1\" não aponta um elemento do documento pelo Id").arg(u);
            return false;
        }
        if (id.isEmpty())
            id = u.mid(1);
        const QByteArray nome = u.mid(1).toUtf8();
        xmlAttr *attr = xmlGetID(doc, BAD_CAST nome.constData());
        if (!attr || !attr->parent) {
            motivo = QStringLiteral("elemento assinado \"%1\" não existe no documento").arg(u.mid(1));
            return false;
        }
        if (attr->parent->parent != assinatura->parent) {
            motivo = QStringLiteral("elemento assinado \"%1\" não está ao lado da assinatura").arg(u.mid(1));
            return false;
        }
    }
    if (referencias == 0) {
        motivo = QStringLiteral("assinatura sem Reference");
        return false;
    }
    return true;
}

// Why xmlsec could not carry the verification out, from its first error.
QString MotivoDoErro()
{
    const QString f = t_erro.funcao;
    if (f.contains(QLatin1String("X509")) || f.contains(QLatin1String("KeyInfo")) ||
        f.contains(QLatin1String("Key")) || f.contains(QLatin1String("Base64")))
        return QStringLiteral("certificado digital embutido ilegível ou ausente");
    if (f.contains(QLatin1String("Transform")))
        return QStringLiteral("algoritmo ou transformação não aceitos na assinatura");
    if (!t_erro.mensagem.isEmpty())
        return QStringLiteral("assinatura ilegível (%1)").arg(t_erro.mensagem);
    return QStringLiteral("assinatura ilegível");
}

ResultadoAssinatura VerificaUma(xmlDoc *doc, xmlNode *assinatura, bool unica, bool formaComum)
{
    QString id, motivo;
    if (!ConfereReferencias(doc, assinatura, id, motivo))
        return Resultado(EstadoAssinatura::Malformada, id, motivo);
    // The common shape is proven without xmlsec's transform chain; anything else, and every failure,
    // is xmlsec's to judge and explain.
    if (formaComum && assinatura_interna::IntactaPelaFormaComum(doc, assinatura, unica))
        return Resultado(EstadoAssinatura::Intacta, id, {});

    std::unique_ptr<xmlSecDSigCtx, LiberaCtx> ctx(xmlSecDSigCtxCreate(GerenciadorDaThread()));
    if (!ctx)
        throw std::runtime_error("verificação de assinaturas indisponível: contexto do xmlsec");
    // Only what the fiscal layouts use; XSLT, XPath and the like are refused, as are other documents.
    ctx->enabledReferenceUris = xmlSecTransformUriTypeSameDocument;
    ctx->keyInfoReadCtx.flags |= XMLSEC_KEYINFO_FLAGS_X509DATA_DONT_VERIFY_CERTS;
    ctx->keyInfoReadCtx.maxRetrievalMethodLevel = 0;
    ctx->keyInfoReadCtx.maxEncryptedKeyLevel = 0;
    const xmlSecTransformId canonicas[] = {xmlSecTransformInclC14NId, xmlSecTransformInclC14NWithCommentsId,
                                           xmlSecTransformExclC14NId, xmlSecTransformExclC14NWithCommentsId};
    for (xmlSecTransformId t : canonicas) {
        xmlSecDSigCtxEnableReferenceTransform(ctx.get(), t);
        xmlSecDSigCtxEnableSignatureTransform(ctx.get(), t);
    }
    for (xmlSecTransformId t : {xmlSecTransformEnvelopedId, xmlSecTransformSha1Id, xmlSecTransformSha256Id})
        xmlSecDSigCtxEnableReferenceTransform(ctx.get(), t);
    for (xmlSecTransformId t : {xmlSecTransformRsaSha1Id, xmlSecTransformRsaSha256Id})
        xmlSecDSigCtxEnableSignatureTransform(ctx.get(), t);

    // A certificate seen before on this thread: its key, read then; else xmlsec reads KeyInfo.
    const QByteArray certificado = assinatura_interna::CertificadoDaAssinatura(assinatura);
    if (!certificado.isEmpty())
        ctx->signKey = ChaveJaLida(certificado);
    const bool lida = ctx->signKey != nullptr;

    t_erro = {};
    if (xmlSecDSigCtxVerify(ctx.get(), assinatura) < 0)
        return Resultado(EstadoAssinatura::Malformada, id, MotivoDoErro());
    if (!lida && !certificado.isEmpty())
        GuardaChaveLida(certificado, ctx->signKey);
    if (ctx->status == xmlSecDSigStatusSucceeded)
        return Resultado(EstadoAssinatura::Intacta, id, {});

    const xmlSecSize n = xmlSecPtrListGetSize(&ctx->signedInfoReferences);
    for (xmlSecSize i = 0; i < n; ++i) {
        auto *ref = static_cast<xmlSecDSigReferenceCtxPtr>(xmlSecPtrListGetItem(&ctx->signedInfoReferences, i));
        if (ref && ref->status != xmlSecDSigStatusSucceeded) {
            const QString uri = Texto(ref->uri);
            return Resultado(EstadoAssinatura::DigestDiverge, uri.mid(1),
                             QStringLiteral("o digest de \"%1\" não confere com o DigestValue: o conteúdo assinado "
                                            "foi alterado")
                                 .arg(uri));
        }
    }
    return Resultado(EstadoAssinatura::ValorInvalido, id,
                     QStringLiteral("o SignatureValue não confere com o certificado embutido"));
}

QList<ResultadoAssinatura> Verifica(const QByteArray &documento, bool formaComum)
{
    IniciaXmlSec();
    if (documento.size() > kMaxDocumentoAssinado)
        return {Resultado(EstadoAssinatura::Malformada, {},
                          QStringLiteral("documento grande demais para verificar (%1 bytes)").arg(documento.size()))};

    // libxml2 keeps these per thread: set for every call, on the thread that parses.
    t_erroXml.clear();
    xmlSetStructuredErrorFunc(nullptr, GuardaErroXml);
    xmlSetGenericErrorFunc(nullptr, IgnoraErroGenerico);
    // No XML_PARSE_NOENT, DTDLOAD, DTDATTR or HUGE: entities stay unexpanded, nothing is loaded.
    // COMPACT keeps the short texts (most values of a fiscal document) inside their nodes instead of an
    // allocation each; the tree is only read from here on.
    Documento doc(xmlReadMemory(documento.constData(), int(documento.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_COMPACT));
    if (!doc || !xmlDocGetRootElement(doc.get()))
        return {Resultado(EstadoAssinatura::Malformada, {},
                          QStringLiteral("XML malformado (%1)").arg(t_erroXml.isEmpty() ? QStringLiteral("vazio")
                                                                                         : t_erroXml))};
    if (doc->intSubset || doc->extSubset)
        return {Resultado(EstadoAssinatura::Malformada, {},
                          QStringLiteral("documento com declaração DOCTYPE, que documentos fiscais não têm"))};
    QString repetido;
    QList<xmlNode *> assinaturas;
    if (!PercorreArvore(doc.get(), xmlDocGetRootElement(doc.get()), repetido, assinaturas, false))
        return {Resultado(EstadoAssinatura::Malformada, repetido,
                          QStringLiteral("Id \"%1\" repetido no documento").arg(repetido))};
    QList<ResultadoAssinatura> resultados;
    resultados.reserve(assinaturas.size());
    for (xmlNode *a : assinaturas)
        resultados << VerificaUma(doc.get(), a, assinaturas.size() == 1, formaComum);
    return resultados;
}

} // namespace

QList<ResultadoAssinatura> VerificaAssinaturas(const QByteArray &documento) { return Verifica(documento, true); }

QList<ResultadoAssinatura> assinatura_interna::VerificaSoPeloXmlSec(const QByteArray &documento)
{
    return Verifica(documento, false);
}

ResultadoAssinatura VerificaAssinatura(const QByteArray &documento)
{
    const QList<ResultadoAssinatura> todas = VerificaAssinaturas(documento);
    if (todas.isEmpty())
        return Resultado(EstadoAssinatura::SemAssinatura, {}, QStringLiteral("documento sem assinatura digital"));
    for (const ResultadoAssinatura &r : todas)
        if (!r.Intacta())
            return r;
    return todas.first();
}

} // namespace vnd
