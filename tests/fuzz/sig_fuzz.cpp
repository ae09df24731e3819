// libFuzzer target of the signature check: arbitrary bytes (mostly signed fiscal documents bent out of
// shape) through the check as an export or an import runs it, and again with xmlsec judging every
// signature alone. The check must always answer, and both roads must give the same verdict for each
// signature: the common-shape road may never call intact what xmlsec does not.

#include "sign/assinatura.h"
#include "sign/verificadireta.h"
#include "tests/sign/estado.h"

#include <cstdint>
#include <cstdio>

using vndtest::NomeDoEstado;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray documento(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<vnd::ResultadoAssinatura> todas = vnd::VerificaAssinaturas(documento);
    const QList<vnd::ResultadoAssinatura> soXmlSec = vnd::assinatura_interna::VerificaSoPeloXmlSec(documento);
    if (todas.size() != soXmlSec.size()) {
        std::fprintf(stderr, "%d signatures on one road, %d on the other\n", int(todas.size()), int(soXmlSec.size()));
        __builtin_trap();
    }
    for (qsizetype i = 0; i < todas.size(); ++i) {
        if (todas[i].estado != soXmlSec[i].estado || todas[i].referencia != soXmlSec[i].referencia) {
            std::fprintf(stderr, "signature %d: %s (%s) against xmlsec's %s (%s)\n", int(i),
                         NomeDoEstado(todas[i].estado), qPrintable(todas[i].motivo), NomeDoEstado(soXmlSec[i].estado),
                         qPrintable(soXmlSec[i].motivo));
            __builtin_trap();
        }
        if (!todas[i].Intacta() && todas[i].motivo.isEmpty())
            __builtin_trap(); // a failure always says why
    }
    // The document's verdict is its first failure, or intact when every signature is.
    const vnd::ResultadoAssinatura uma = vnd::VerificaAssinatura(documento);
    bool intactas = !todas.isEmpty();
    for (const vnd::ResultadoAssinatura &r : todas)
        intactas = intactas && r.Intacta();
    if (uma.Intacta() != intactas || (todas.isEmpty() && uma.estado != vnd::EstadoAssinatura::SemAssinatura))
        __builtin_trap();
    return 0;
}
