#pragma once
// Verification of the XML signatures of the fiscal documents (NFC-e 3.10 and 4.00, bare or inside
// nfeProc, cancellation events inside procEventoNFe, SAT CF-e coupons and cancellations, SAT batches):
// for each ds:Signature the signed element is canonicalised as its Transforms say and its digest compared
// with DigestValue, then SignatureValue is checked against SignedInfo with the public key of the X509
// certificate embedded in KeyInfo. xmlsec1 (OpenSSL back end) over libxml2 does all of it.
//
// The embedded certificate is taken as it stands: no chain to a trusted root, no expiry date and no
// revocation is checked. What is proven is that the file holds exactly what the holder of that
// certificate signed; whose certificate it is, is the tax authority's matter, and certificates of old
// notes have long expired.
//
// Hostile documents are read without network, without loading or expanding any DTD (a document with a
// DOCTYPE is refused), and only same-document references ("#Id") are followed; nothing is ever fetched.
//
// Thread safety: the libraries are started once per process on first use; after that any thread may call
// these functions at the same time (the batch import calls them on its read-ahead thread).

#include <QByteArray>
#include <QList>
#include <QString>

namespace vnd {

enum class EstadoAssinatura {
    Intacta,        // every reference and the signature value verify
    DigestDiverge,  // the digest of a reference differs from its DigestValue: the signed content changed
    ValorInvalido,  // the digests hold, but SignatureValue does not verify with the embedded certificate
    SemAssinatura,  // the document has no ds:Signature
    Malformada,     // not readable XML, or a signature that cannot be checked (what is missing is said)
};

// The outcome of one signature (or of a document).
struct ResultadoAssinatura
{
    EstadoAssinatura estado = EstadoAssinatura::SemAssinatura;
    // Id of the signed element ("NFe3515…", "CFe3518…", "ID1101113515…"), without "#"; empty when the
    // signature names none.
    QString referencia;
    // Short Portuguese reason, empty when intact.
    QString motivo;

    bool Intacta() const { return estado == EstadoAssinatura::Intacta; }
};

// The document's verdict: intact when it has signatures and all of them verify; else the first failure
// in document order (SemAssinatura when there is none, Malformada when it is not readable).
ResultadoAssinatura VerificaAssinatura(const QByteArray &documento);

// Every signature of the document, in document order (a SAT batch has one per coupon). Empty when the
// document is readable and has none; one Malformada entry when the document cannot be read at all.
QList<ResultadoAssinatura> VerificaAssinaturas(const QByteArray &documento);

// Starts libxml2 and xmlsec (OpenSSL) once per process; the functions above call it themselves. Other
// users of xmlsec in the same process call this instead of xmlSecInit, which must run only once.
// std::runtime_error when the libraries cannot start.
void IniciaXmlSec();

// The largest document these functions read; larger ones are Malformada without being parsed.
constexpr qsizetype kMaxDocumentoAssinado = 64 * 1024 * 1024;

} // namespace vnd
