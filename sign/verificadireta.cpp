// The common fiscal signature checked with libxml2's C14N and OpenSSL; see verificadireta.h.
#include "sign/verificadireta.h"
#include "sign/resumo.h"

#include <libxml/c14n.h>
#include <libxml/valid.h>
#include <libxml/xmlIO.h>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <QHash>

#include <memory>

namespace vnd::assinatura_interna {

namespace {

constexpr const char *kDsig = "http://www.w3.org/2000/09/xmldsig#";
constexpr const char *kC14N = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";
constexpr const char *kEnveloped = "http://www.w3.org/2000/09/xmldsig#enveloped-signature";

class ChavesDaThread
{
public:
    ~ChavesDaThread() { Limpa(); }
    EVP_PKEY *Chave(const QByteArray &certificado) const { return m_chaves.value(certificado); }
    void Guarda(const QByteArray &certificado, EVP_PKEY *chave)
    {
        if (certificado.isEmpty() || !chave || m_chaves.contains(certificado)) {
            EVP_PKEY_free(chave);
            return;
        }
        if (m_chaves.size() >= kMaxChaves)
            Limpa();
        m_chaves.insert(certificado, chave);
    }

private:
    static constexpr qsizetype kMaxChaves = 64;
    void Limpa()
    {
        for (EVP_PKEY *k : std::as_const(m_chaves))
            EVP_PKEY_free(k);
        m_chaves.clear();
    }
    QHash<QByteArray, EVP_PKEY *> m_chaves;
};

ChavesDaThread &Chaves()
{
    thread_local ChavesDaThread chaves;
    return chaves;
}

bool EhDsig(const xmlNode *n, const char *nome)
{
    return n && n->type == XML_ELEMENT_NODE && xmlStrEqual(n->name, BAD_CAST nome) && n->ns &&
           xmlStrEqual(n->ns->href, BAD_CAST kDsig);
}

// The element children of n, in order; any other content but white space makes the list empty.
QList<xmlNode *> Filhos(xmlNode *n)
{
    QList<xmlNode *> filhos;
    for (xmlNode *c = n->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE)
            filhos << c;
        else if (c->type != XML_TEXT_NODE || !xmlIsBlankNode(c))
            return {};
    }
    return filhos;
}

// Drops the white space that base64 content may carry between its characters, in one pass.
void SemEspacos(QByteArray &texto)
{
    char *d = texto.data();
    qsizetype n = 0;
    for (qsizetype i = 0; i < texto.size(); ++i)
        if (const char c = d[i]; c != ' ' && c != '\n' && c != '\r' && c != '\t')
            d[n++] = c;
    texto.truncate(n);
}

QByteArray Algoritmo(xmlNode *n)
{
    xmlChar *a = xmlGetNoNsProp(n, BAD_CAST "Algorithm");
    const QByteArray out(a ? reinterpret_cast<const char *>(a) : "");
    xmlFree(a);
    return out;
}

// Base64 content of an element; empty when it is not valid base64.
QByteArray Base64(xmlNode *n)
{
    xmlChar *c = xmlNodeGetContent(n);
    QByteArray texto(c ? reinterpret_cast<const char *>(c) : "");
    xmlFree(c);
    SemEspacos(texto);
    const auto r = QByteArray::fromBase64Encoding(texto, QByteArray::AbortOnBase64DecodingErrors);
    return r ? r.decoded : QByteArray();
}

const EVP_MD *Resumo(const QByteArray &algoritmo)
{
    if (algoritmo == "http://www.w3.org/2000/09/xmldsig#sha1")
        return EVP_sha1();
    if (algoritmo == "http://www.w3.org/2001/04/xmlenc#sha256")
        return EVP_sha256();
    return nullptr;
}

const EVP_MD *ResumoDaAssinatura(const QByteArray &algoritmo)
{
    if (algoritmo == "http://www.w3.org/2000/09/xmldsig#rsa-sha1")
        return EVP_sha1();
    if (algoritmo == "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256")
        return EVP_sha256();
    return nullptr;
}

int EscreveNoResumo(void *ctx, const char *dados, int n)
{
    return EVP_DigestUpdate(static_cast<EVP_MD_CTX *>(ctx), dados, size_t(n)) == 1 ? n : -1;
}

int EscreveNoTexto(void *ctx, const char *dados, int n)
{
    static_cast<QByteArray *>(ctx)->append(dados, n);
    return n;
}

int Fecha(void *) { return 0; }

struct LiberaDoc
{
    void operator()(xmlDoc *d) const { xmlFreeDoc(d); }
};

// Whether node (or, for a namespace node, the element it is seen on) lies within the subtree of apex.
// C14N asks it of every node, attribute and namespace in document order, mostly of several children of
// the same parent in a row: the answer for the last parent walked up from is kept.
struct Subarvore
{
    const xmlNode *apice;
    const xmlNode *ultimoPai = nullptr;
    int dentro = 0;
};

int NaSubarvore(void *dados, xmlNodePtr no, xmlNodePtr pai)
{
    auto *s = static_cast<Subarvore *>(dados);
    const xmlNode *n = (!no || no->type == XML_NAMESPACE_DECL) ? pai : no;
    if (!n)
        return 0;
    if (n == s->apice)
        return 1;
    if (n->parent != s->ultimoPai) {
        s->ultimoPai = n->parent;
        s->dentro = 0;
        for (const xmlNode *a = n->parent; a; a = a->parent)
            if (a == s->apice) {
                s->dentro = 1;
                break;
            }
    }
    return s->dentro;
}

// Inclusive C14N 1.0 without comments of the subtree of apex, written to the sink.
//
// libxml2's C14N over a visibility callback walks the whole document, so it is taken only where the
// subtree is most of the document (noDocumento: the document's one signature, whose signed element is
// the note or the coupon itself). Elsewhere (a batch of a hundred coupons, a SignedInfo) the subtree is
// copied into a document of its own, its root declaring every namespace in scope at apex, and that
// document is canonicalised whole: the same bytes, at the cost of the subtree alone.
// An xml:* attribute on an ancestor (which C14N 1.0 would carry onto apex) is left to the full check.
bool Canoniza(xmlNode *apice, xmlOutputWriteCallback escreve, void *destino, bool noDocumento = false)
{
    for (xmlNode *a = apice->parent; a && a->type == XML_ELEMENT_NODE; a = a->parent)
        for (xmlAttr *at = a->properties; at; at = at->next)
            if (at->ns && xmlStrEqual(at->ns->href, XML_XML_NAMESPACE))
                return false;
    auto executa = [&](xmlDoc *doc, xmlC14NIsVisibleCallback visivel, void *dados) {
        xmlOutputBuffer *buf = xmlOutputBufferCreateIO(escreve, Fecha, destino, nullptr);
        if (!buf)
            return false;
        const int escrito = xmlC14NExecute(doc, visivel, dados, XML_C14N_1_0, nullptr, 0, buf);
        const int fechado = xmlOutputBufferClose(buf);
        return escrito >= 0 && fechado >= 0;
    };
    if (noDocumento && apice->doc) {
        Subarvore subarvore{apice};
        return executa(apice->doc, NaSubarvore, &subarvore);
    }

    std::unique_ptr<xmlDoc, LiberaDoc> proprio(xmlNewDoc(BAD_CAST "1.0"));
    if (!proprio)
        return false;
    // The copy's names come from the document's dictionary instead of a copy of each.
    if (apice->doc && apice->doc->dict) {
        proprio->dict = apice->doc->dict;
        xmlDictReference(proprio->dict);
    }
    xmlNode *copia = xmlDocCopyNode(apice, proprio.get(), 1);
    if (!copia)
        return false;
    xmlDocSetRootElement(proprio.get(), copia);
    if (xmlNs **emEscopo = xmlGetNsList(apice->doc, apice)) {
        for (xmlNs **ns = emEscopo; *ns; ++ns) {
            bool declarado = false;
            for (xmlNs *d = copia->nsDef; d && !declarado; d = d->next)
                declarado = xmlStrEqual(d->prefix, (*ns)->prefix);
            if (!declarado && !xmlNewNs(copia, (*ns)->href, (*ns)->prefix)) {
                xmlFree(emEscopo);
                return false;
            }
        }
        xmlFree(emEscopo);
    }
    return executa(proprio.get(), nullptr, nullptr);
}

EVP_PKEY *ChaveDoCertificado(const QByteArray &certificado)
{
    if (EVP_PKEY *k = Chaves().Chave(certificado))
        return k;
    const auto lido = QByteArray::fromBase64Encoding(certificado, QByteArray::AbortOnBase64DecodingErrors);
    if (!lido || lido.decoded.isEmpty())
        return nullptr;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(lido.decoded.constData());
    X509 *x = d2i_X509(nullptr, &p, long(lido.decoded.size()));
    if (!x)
        return nullptr;
    EVP_PKEY *k = X509_get_pubkey(x);
    X509_free(x);
    if (!k)
        return nullptr;
    Chaves().Guarda(certificado, k);
    return Chaves().Chave(certificado);
}

} // namespace

EVP_PKEY *ChaveGuardada(const QByteArray &certificado) { return Chaves().Chave(certificado); }

void GuardaChave(const QByteArray &certificado, EVP_PKEY *key) { Chaves().Guarda(certificado, key); }

QByteArray CertificadoDaAssinatura(xmlNode *assinatura)
{
    xmlNode *info = nullptr;
    for (xmlNode *c = assinatura->children; c && !info; c = c->next)
        if (EhDsig(c, "KeyInfo"))
            info = c;
    if (!info)
        return {};
    QByteArray texto;
    int achados = 0;
    for (xmlNode *d = info->children; d; d = d->next) {
        if (d->type != XML_ELEMENT_NODE)
            continue;
        if (!EhDsig(d, "X509Data"))
            return {};
        for (xmlNode *c = d->children; c; c = c->next) {
            if (c->type != XML_ELEMENT_NODE)
                continue;
            if (!EhDsig(c, "X509Certificate") || ++achados > 1)
                return {};
            xmlChar *conteudo = xmlNodeGetContent(c);
            texto = QByteArray(reinterpret_cast<const char *>(conteudo));
            xmlFree(conteudo);
        }
    }
    if (achados != 1)
        return {};
    SemEspacos(texto);
    return texto;
}

bool IntactaPelaFormaComum(xmlDoc *doc, xmlNode *assinatura, bool unicaDoDocumento)
{
    // Signature: SignedInfo, SignatureValue, KeyInfo, nothing else.
    const QList<xmlNode *> partes = Filhos(assinatura);
    if (partes.size() != 3 || !EhDsig(partes[0], "SignedInfo") || !EhDsig(partes[1], "SignatureValue") ||
        !EhDsig(partes[2], "KeyInfo"))
        return false;
    // SignedInfo: CanonicalizationMethod (C14N 1.0), SignatureMethod (RSA), one Reference.
    const QList<xmlNode *> info = Filhos(partes[0]);
    if (info.size() != 3 || !EhDsig(info[0], "CanonicalizationMethod") || !EhDsig(info[1], "SignatureMethod") ||
        !EhDsig(info[2], "Reference") || Algoritmo(info[0]) != kC14N || info[0]->children || info[1]->children)
        return false;
    const EVP_MD *mdAssinatura = ResumoDaAssinatura(Algoritmo(info[1]));
    if (!mdAssinatura)
        return false;
    // Reference: "#Id", Transforms (enveloped, then C14N 1.0; either may be absent), DigestMethod, DigestValue.
    xmlNode *ref = info[2];
    if (xmlHasProp(ref, BAD_CAST "Type"))
        return false;
    xmlChar *uri = xmlGetNoNsProp(ref, BAD_CAST "URI");
    const QByteArray u(uri ? reinterpret_cast<const char *>(uri) : "");
    xmlFree(uri);
    if (u.size() < 2 || u[0] != '#')
        return false;
    xmlAttr *id = xmlGetID(doc, BAD_CAST u.constData() + 1);
    if (!id || !id->parent || id->parent->parent != assinatura->parent)
        return false;
    QList<xmlNode *> partesRef = Filhos(ref);
    if (!partesRef.isEmpty() && EhDsig(partesRef[0], "Transforms")) {
        const QList<xmlNode *> transformas = Filhos(partesRef[0]);
        QList<QByteArray> algoritmos;
        for (xmlNode *t : transformas) {
            if (!EhDsig(t, "Transform") || t->children)
                return false;
            algoritmos << Algoritmo(t);
        }
        if (transformas.isEmpty() && partesRef[0]->children)
            return false;
        const QList<QList<QByteArray>> aceitas = {{}, {kEnveloped}, {kC14N}, {kEnveloped, kC14N}};
        if (!aceitas.contains(algoritmos))
            return false;
        partesRef.removeFirst();
    }
    if (partesRef.size() != 2 || !EhDsig(partesRef[0], "DigestMethod") || !EhDsig(partesRef[1], "DigestValue") ||
        partesRef[0]->children)
        return false;
    const EVP_MD *mdReferencia = Resumo(Algoritmo(partesRef[0]));
    const QByteArray esperado = Base64(partesRef[1]);
    const QByteArray valor = Base64(partes[1]);
    const QByteArray certificado = CertificadoDaAssinatura(assinatura);
    if (!mdReferencia || esperado.isEmpty() || valor.isEmpty() || certificado.isEmpty())
        return false;

    // The digest of the signed element.
    Md md(EVP_MD_CTX_new());
    if (!md || EVP_DigestInit_ex(md.get(), mdReferencia, nullptr) != 1)
        return false;
    // The element is beside the signature, so the enveloped transform takes nothing from it.
    if (!Canoniza(id->parent, EscreveNoResumo, md.get(), unicaDoDocumento))
        return false;
    unsigned char resumo[EVP_MAX_MD_SIZE];
    unsigned int tamanho = 0;
    if (EVP_DigestFinal_ex(md.get(), resumo, &tamanho) != 1 || esperado.size() != int(tamanho) ||
        CRYPTO_memcmp(resumo, esperado.constData(), tamanho) != 0)
        return false;

    // SignedInfo, canonicalised, against SignatureValue with the certificate's RSA key.
    QByteArray signedInfo;
    if (!Canoniza(partes[0], EscreveNoTexto, &signedInfo))
        return false;
    EVP_PKEY *chave = ChaveDoCertificado(certificado);
    if (!chave || EVP_PKEY_get_base_id(chave) != EVP_PKEY_RSA)
        return false;
    Md verifica(EVP_MD_CTX_new());
    return verifica && EVP_DigestVerifyInit(verifica.get(), nullptr, mdAssinatura, nullptr, chave) == 1 &&
           EVP_DigestVerify(verifica.get(), reinterpret_cast<const unsigned char *>(valor.constData()), size_t(valor.size()),
                            reinterpret_cast<const unsigned char *>(signedInfo.constData()), size_t(signedInfo.size())) == 1;
}

} // namespace vnd::assinatura_interna
