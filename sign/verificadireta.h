#pragma once
// The common shape of a fiscal signature checked without xmlsec's transform chain: one reference to an
// element beside the signature by "#Id", the enveloped and inclusive C14N 1.0 transforms, SHA-1 or
// SHA-256, RSA. libxml2 canonicalises (its C14N over a visibility callback, no XPath node set) and
// OpenSSL digests and verifies. Only a success is taken from here: any other shape, and any
// failure, goes to xmlsec, whose verdict and reason stand (assinatura.cpp).
//
// Internal to the signature library; the tests reach it to prove that the common shape takes this road.

#include "sign/assinatura.h"

#include <QByteArray>
#include <QList>

#include <libxml/tree.h>

typedef struct evp_pkey_st EVP_PKEY;

namespace vnd::assinatura_interna {

// The public keys of the certificates seen last on this thread, by the certificate's text (base64,
// without white space). Reading a certificate costs most of a verification, and the documents of a shop
// carry its one certificate: the same text gives the same key.
// The key of that text (owned by the cache, valid until the next Guarda on this thread), or null.
EVP_PKEY *ChaveGuardada(const QByteArray &certificado);
// Takes ownership of key.
void GuardaChave(const QByteArray &certificado, EVP_PKEY *key);

// The text of the signature's one X509Certificate (KeyInfo/X509Data), without white space; empty when
// there is none or more than one.
QByteArray CertificadoDaAssinatura(xmlNode *assinatura);

// True when the signature has the common shape and both its reference's digest and its value verify.
// False says nothing: the full check decides. The document's Ids must be registered. unicaDoDocumento:
// the document has no other signature (its signed element is then canonicalised where it stands).
bool IntactaPelaFormaComum(xmlDoc *doc, xmlNode *assinatura, bool unicaDoDocumento = false);

// VerificaAssinaturas with every signature judged by xmlsec alone, the common shape included: the two
// roads must give the same verdicts, which the signature fuzz target checks on every input.
QList<ResultadoAssinatura> VerificaSoPeloXmlSec(const QByteArray &documento);

} // namespace vnd::assinatura_interna
