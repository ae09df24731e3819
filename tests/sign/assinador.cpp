#include "tests/sign/assinador.h"

#include "sign/assinatura.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <xmlsec/crypto.h>
#include <xmlsec/templates.h>
#include <xmlsec/xmldsig.h>
#include <xmlsec/xmlsec.h>
#include <xmlsec/xmltree.h>

#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace vndtest {

namespace {

// The test run's key and certificate, as PEM.
struct Chave
{
    QByteArray chavePem, certificadoPem;
};

QByteArray Pem(const std::function<int(BIO *)> &escreve)
{
    BIO *bio = BIO_new(BIO_s_mem());
    if (!bio || escreve(bio) != 1) {
        BIO_free(bio);
        throw std::runtime_error("PEM");
    }
    char *dados = nullptr;
    const long n = BIO_get_mem_data(bio, &dados);
    QByteArray pem(dados, int(n));
    BIO_free(bio);
    return pem;
}

const Chave &ChaveDoTeste()
{
    static Chave chave;
    static std::once_flag once;
    std::call_once(once, [] {
        EVP_PKEY *pkey = EVP_RSA_gen(2048);
        X509 *cert = X509_new();
        if (!pkey || !cert)
            throw std::runtime_error("chave de teste");
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 19);
        // Expired long ago, like the certificates of old notes: the verification must not care.
        X509_gmtime_adj(X509_getm_notBefore(cert), -3L * 365 * 24 * 3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), -2L * 365 * 24 * 3600);
        X509_set_pubkey(cert, pkey);
        X509_NAME *nome = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(nome, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("EMPRESA TESTE:99999999000191"), -1, -1, 0);
        X509_set_issuer_name(cert, nome);
        if (X509_sign(cert, pkey, EVP_sha256()) == 0)
            throw std::runtime_error("certificado de teste");
        chave.chavePem = Pem([&](BIO *b) { return PEM_write_bio_PrivateKey(b, pkey, nullptr, nullptr, 0, nullptr, nullptr); });
        chave.certificadoPem = Pem([&](BIO *b) { return PEM_write_bio_X509(b, cert); });
        X509_free(cert);
        EVP_PKEY_free(pkey);
    });
    return chave;
}

struct LiberaDoc
{
    void operator()(xmlDoc *d) const { xmlFreeDoc(d); }
};

// The line breaks xmlsec's templates put between elements are taken out, as fiscal signers write them:
// compact, since the product's document services do not keep whitespace between elements.
void TiraEspacos(xmlNode *no)
{
    for (xmlNode *n = no->children; n;) {
        xmlNode *proximo = n->next;
        if (n->type == XML_TEXT_NODE && xmlIsBlankNode(n)) {
            xmlUnlinkNode(n);
            xmlFreeNode(n);
        } else if (n->type == XML_ELEMENT_NODE) {
            TiraEspacos(n);
        }
        n = proximo;
    }
}

xmlNode *AchaId(xmlNode *no, const QByteArray &id)
{
    for (xmlNode *n = no; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE)
            continue;
        xmlChar *v = xmlGetNoNsProp(n, BAD_CAST "Id");
        const bool igual = v && id == reinterpret_cast<const char *>(v);
        xmlFree(v);
        if (igual)
            return n;
        if (xmlNode *achado = AchaId(n->children, id))
            return achado;
    }
    return nullptr;
}

} // namespace

QByteArray Assina(const QByteArray &documento, const QString &id, Algoritmo algoritmo)
{
    // xmlsec starts once per process, whether the signer or the verification under test comes first.
    vnd::IniciaXmlSec();
    std::unique_ptr<xmlDoc, LiberaDoc> doc(
        xmlReadMemory(documento.constData(), int(documento.size()), nullptr, nullptr, XML_PARSE_NONET));
    if (!doc)
        throw std::runtime_error("documento a assinar malformado");
    const QByteArray idUtf8 = id.toUtf8();
    xmlNode *alvo = AchaId(xmlDocGetRootElement(doc.get()), idUtf8);
    if (!alvo || !alvo->parent)
        throw std::runtime_error("Id a assinar não encontrado");
    xmlNode *pai = alvo->parent;
    for (xmlNode *n = pai->children; n;) {
        xmlNode *proximo = n->next;
        if (n->type == XML_ELEMENT_NODE && xmlStrEqual(n->name, BAD_CAST "Signature")) {
            xmlUnlinkNode(n);
            xmlFreeNode(n);
        }
        n = proximo;
    }
    xmlAttr *attr = xmlHasProp(alvo, BAD_CAST "Id");
    xmlAddID(nullptr, doc.get(), BAD_CAST idUtf8.constData(), attr);

    const bool sha1 = algoritmo == Algoritmo::RsaSha1;
    xmlNode *assinatura = xmlSecTmplSignatureCreate(doc.get(), xmlSecTransformInclC14NId,
                                                    sha1 ? xmlSecTransformRsaSha1Id : xmlSecTransformRsaSha256Id, nullptr);
    const QByteArray uri = "#" + idUtf8;
    xmlNode *ref = xmlSecTmplSignatureAddReference(assinatura, sha1 ? xmlSecTransformSha1Id : xmlSecTransformSha256Id,
                                                   nullptr, BAD_CAST uri.constData(), nullptr);
    xmlSecTmplReferenceAddTransform(ref, xmlSecTransformEnvelopedId);
    xmlSecTmplReferenceAddTransform(ref, xmlSecTransformInclC14NId);
    xmlNode *keyInfo = xmlSecTmplSignatureEnsureKeyInfo(assinatura, nullptr);
    xmlSecTmplX509DataAddCertificate(xmlSecTmplKeyInfoAddX509Data(keyInfo));
    TiraEspacos(assinatura);
    xmlAddChild(pai, assinatura);

    const Chave &chave = ChaveDoTeste();
    xmlSecDSigCtxPtr ctx = xmlSecDSigCtxCreate(nullptr);
    ctx->signKey = xmlSecCryptoAppKeyLoadMemory(reinterpret_cast<const xmlSecByte *>(chave.chavePem.constData()),
                                                static_cast<xmlSecSize>(chave.chavePem.size()), xmlSecKeyDataFormatPem, nullptr,
                                                nullptr, nullptr);
    const bool ok = ctx->signKey &&
                    xmlSecCryptoAppKeyCertLoadMemory(ctx->signKey,
                                                     reinterpret_cast<const xmlSecByte *>(chave.certificadoPem.constData()),
                                                     static_cast<xmlSecSize>(chave.certificadoPem.size()), xmlSecKeyDataFormatPem) >= 0 &&
                    xmlSecDSigCtxSign(ctx, assinatura) >= 0;
    xmlSecDSigCtxDestroy(ctx);
    if (!ok)
        throw std::runtime_error("assinatura de teste falhou");
    xmlChar *saida = nullptr;
    int tamanho = 0;
    xmlDocDumpMemoryEnc(doc.get(), &saida, &tamanho, "UTF-8");
    QByteArray assinado(reinterpret_cast<const char *>(saida), tamanho);
    xmlFree(saida);
    return assinado;
}

QByteArray Troca(const QByteArray &documento, const QByteArray &de, const QByteArray &para)
{
    const qsizetype at = documento.indexOf(de);
    if (at < 0)
        throw std::runtime_error("texto a trocar não encontrado: " + de.toStdString());
    QByteArray alterado = documento;
    alterado.replace(at, de.size(), para);
    return alterado;
}

} // namespace vndtest
