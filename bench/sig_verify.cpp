// sig_verify: XML signature verification of processed NFC-e (nfeProc, layout 4.00 and 3.10 mixed, as a
// month of exports has them), in documents per second, against parsing the same documents with libxml2
// alone. The generator's documents carry no real signature, so each is signed first with a key made
// for the run (RSA 2048, SHA-1 as the NFC-e layouts ask).
// bench-libs: vnd_assinatura vnd_docgen PkgConfig::XMLSEC OpenSSL::Crypto
#include "server/docgen/docgen.h"
#include "sign/assinatura.h"
#include "tests/sign/assinador.h"

#include <QElapsedTimer>
#include <cstdio>
#include <libxml/parser.h>

namespace {

constexpr int kDocumentos = 1000;
constexpr int kPassadas = 3;

} // namespace

int main()
{
    vnd::docgen::Generator gen(19);
    QList<QByteArray> docs;
    vnd::docgen::SaleOptions o;
    o.kind = vnd::docgen::DocKind::Nfce;
    o.status = vnd::docgen::NfceStatus::Authorized;
    for (int i = 0; i < kDocumentos; ++i) {
        o.layoutVersion = i % 2 ? QStringLiteral("4.00") : QStringLiteral("3.10");
        const vnd::docgen::Sale sale = gen.MakeSale(o);
        docs << vndtest::Assina(vnd::docgen::ProcessedNfce(sale), QStringLiteral("NFe") + sale.accessKey);
    }

    // Both warm up once, so the first library start is not counted.
    if (!vnd::VerificaAssinatura(docs.first()).Intacta()) {
        std::fprintf(stderr, "sig_verify: a signed document does not verify\n");
        return 1;
    }
    QElapsedTimer t;
    t.start();
    qint64 bytes = 0;
    for (int p = 0; p < kPassadas; ++p)
        for (const QByteArray &d : docs) {
            xmlDoc *doc = xmlReadMemory(d.constData(), int(d.size()), nullptr, nullptr, XML_PARSE_NONET);
            bytes += doc ? 1 : 0;
            xmlFreeDoc(doc);
        }
    const double base = double(kPassadas * kDocumentos) / (double(t.nsecsElapsed()) / 1e9);
    if (bytes != kPassadas * kDocumentos)
        return 1;

    t.restart();
    int intactas = 0;
    for (int p = 0; p < kPassadas; ++p)
        for (const QByteArray &d : docs)
            intactas += vnd::VerificaAssinatura(d).Intacta() ? 1 : 0;
    const double figura = double(kPassadas * kDocumentos) / (double(t.nsecsElapsed()) / 1e9);
    if (intactas != kPassadas * kDocumentos) {
        std::fprintf(stderr, "sig_verify: %d of %d documents did not verify\n", kPassadas * kDocumentos - intactas,
                     kPassadas * kDocumentos);
        return 1;
    }
    std::printf("sig_verify: %.0f documents/s (baseline: %.0f documents/s, ratio: %.2f)\n", figura, base,
                figura / base);
    return 0;
}
