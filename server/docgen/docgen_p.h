#pragma once
// Inner parts of the generator shared by its source files; not for use outside server/docgen.

#include "server/docgen/docgen.h"
#include "server/docgen/random.h"
#include "server/docgen/xmlnode.h"

#include <QHash>
#include <QSet>

namespace vnd::docgen
{

inline constexpr char kNfeNs[] = "http://www.portalfiscal.inf.br/nfe";
inline constexpr char kDsigNs[] = "http://www.w3.org/2000/09/xmldsig#";

// The numbering of one cash register.
struct RegisterCounters {
    qint64 nextSale = 1;
    int nextNfce = 1;
    int nextSat = 1;
};

struct Generator::State {
    State(quint64 seed, const MasterOptions &options)
        : options(options), master(seed), sales(seed ^ 0x5A1E5A1E5A1E5A1EULL)
    {
    }
    MasterOptions options;
    Random master; // master data only, so a change to the sale code leaves it as it was
    Random sales;
    QList<Company> companies;
    QList<Branch> branches;
    QList<CashRegister> registers;
    QList<Customer> customers;
    QList<ReceiptType> receiptTypes;
    QList<Product> products;
    QHash<QString, RegisterCounters> counters; // by branch + register code
    QString softwareHouseCnpj;                 // the point-of-sale vendor (SAT ide/CNPJ)
    QDateTime clock;
};

// Fills companies, branches, registers, customers, receipt types and products from st.master.
void BuildMasterData(Generator::State &st);

enum class DigestKind { Sha1, Sha256 };
// base64 of n bytes expanded deterministically from material (plausible signatures and certificates).
QString PseudoBase64(const QByteArray &material, int n);
// Serial number (32 hex digits) of the signing certificate of the issuer of that CNPJ.
QString CertificateSerial(const QString &cnpj);
// The base64 DER-looking certificate of the issuer of that CNPJ, stable for the issuer.
QString IssuerCertificate(const QString &cnpj);
// An enveloped-signature block over signed (whose ancestors declare inheritedNs), referencing #id and
// made with the certificate of the issuer of that CNPJ; digestOut receives the DigestValue.
std::unique_ptr<XmlNode> SignatureNode(const XmlNode &signedElement, const QByteArray &inheritedNs,
                                       const QString &id, DigestKind kind, const QString &issuerCnpj,
                                       QString *digestOut);

// Builds sale.nfe, digest, QR code and, when cancelled, the stored event (nfcewriter.cpp).
void WriteNfceDocuments(Sale &sale, const Branch &branch, bool storeCancelEvent);
// Builds sale.cfe and, when cancelled, sale.cfeCanc (satwriter.cpp).
void WriteSatDocuments(Sale &sale, const Branch &branch, const CashRegister &reg,
                       const QString &softwareHouseCnpj, int cancelNumber, const QString &cancelCode);

} // namespace vnd::docgen
