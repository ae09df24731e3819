// Signature blocks of the generated documents. The DigestValue is the true digest of the canonical
// signed element, so a reader that checks it finds it right; the signature value and the certificate are
// plausible base64 only, since demo data has no private key behind it.

#include "server/docgen/docgen_p.h"

#include <QCryptographicHash>

namespace vnd::docgen
{

QString PseudoBase64(const QByteArray &material, int n)
{
    QByteArray bytes;
    bytes.reserve(n + 32);
    for (quint32 block = 0; bytes.size() < n; ++block) {
        QByteArray input = material;
        input.append(reinterpret_cast<const char *>(&block), sizeof block);
        bytes += QCryptographicHash::hash(input, QCryptographicHash::Sha256);
    }
    bytes.truncate(n);
    return QString::fromLatin1(bytes.toBase64());
}

QString CertificateSerial(const QString &cnpj)
{
    return QString::fromLatin1(
        QCryptographicHash::hash("serial:" + cnpj.toLatin1(), QCryptographicHash::Sha256).left(16).toHex());
}

QString IssuerCertificate(const QString &cnpj)
{
    // Every document of an issuer carries the same certificate; building it is most of the cost of a
    // signature, so each thread keeps the ones it made.
    thread_local QHash<QString, QString> made;
    if (const auto it = made.constFind(cnpj); it != made.constEnd())
        return *it;
    // A DER SEQUENCE header of a 1 200-byte certificate, so the text opens with "MIIErDCC" like real ones.
    QByteArray der("\x30\x82\x04\xac\x30\x82\x03\x94\xa0\x03\x02\x01\x02\x02\x10", 15);
    der += QByteArray::fromHex(CertificateSerial(cnpj).toLatin1());
    der +=
        QByteArray::fromBase64(PseudoBase64("certificate:" + cnpj.toLatin1(), 1200 - der.size()).toLatin1());
    return *made.insert(cnpj, QString::fromLatin1(der.toBase64()));
}

std::unique_ptr<XmlNode> SignatureNode(const XmlNode &signedElement, const QByteArray &inheritedNs,
                                       const QString &id, DigestKind kind, const QString &issuerCnpj,
                                       QString *digestOut)
{
    const bool sha1 = kind == DigestKind::Sha1;
    const QByteArray canonical = signedElement.Canonical(inheritedNs);
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(canonical, sha1 ? QCryptographicHash::Sha1 : QCryptographicHash::Sha256)
            .toBase64());
    if (digestOut)
        *digestOut = digest;

    auto signature = std::make_unique<XmlNode>("Signature");
    signature->Attr("xmlns", QString::fromLatin1(kDsigNs));
    XmlNode &info = signature->Add("SignedInfo");
    info.Add("CanonicalizationMethod")
        .Attr("Algorithm", QStringLiteral("http://www.w3.org/TR/2001/REC-xml-c14n-20010315"));
    info.Add("SignatureMethod")
        .Attr("Algorithm", sha1 ? QStringLiteral("http://www.w3.org/2000/09/xmldsig#rsa-sha1")
                                : QStringLiteral("http://www.w3.org/2001/04/xmldsig-more#rsa-sha256"));
    XmlNode &reference = info.Add("Reference");
    reference.Attr("URI", QStringLiteral("#") + id);
    XmlNode &transforms = reference.Add("Transforms");
    transforms.Add("Transform")
        .Attr("Algorithm", QStringLiteral("http://www.w3.org/2000/09/xmldsig#enveloped-signature"));
    transforms.Add("Transform")
        .Attr("Algorithm", QStringLiteral("http://www.w3.org/TR/2001/REC-xml-c14n-20010315"));
    reference.Add("DigestMethod")
        .Attr("Algorithm", sha1 ? QStringLiteral("http://www.w3.org/2000/09/xmldsig#sha1")
                                : QStringLiteral("http://www.w3.org/2001/04/xmlenc#sha256"));
    reference.Text("DigestValue", digest);
    // A 2048-bit RSA signature is 256 bytes; it changes with everything signed.
    signature->Text("SignatureValue", PseudoBase64(info.Canonical(kDsigNs) + issuerCnpj.toLatin1(), 256));
    signature->Add("KeyInfo").Add("X509Data").Text("X509Certificate", IssuerCertificate(issuerCnpj));
    return signature;
}

} // namespace vnd::docgen
