#pragma once
// Shared by the export figures: a sale list of 20 000 NFC-e (1 in 10 cancelled, about 6 KB each) and
// 2 000 SAT sales, all ticked, built from the document generator.
#include "export/core/salelist.h"
#include "host/recordset.h"
#include "server/docgen/docgen.h"
#include "tests/support/salerow.h"

#include <QProcess>
#include <functional>
#include <sys/resource.h>

namespace benchutil {

// Fills cds with nfce NFC-e and sat SAT sales; returns the bytes of the stored documents. prepare, when
// given, changes each sale before it is stored (the export figure signs its documents).
inline qint64 MakeSales(TClientDataSet &cds, int nfce, int sat,
                        const std::function<void(vnd::docgen::Sale &)> &prepare = {})
{
    using namespace vnd::docgen;
    vnd::DefineCdsNotas(cds);
    cds.DisableControls();
    Generator gen(44);
    qint64 bytes = 0;
    const NfceForm forms[] = {NfceForm::BareDeclaration, NfceForm::Utf8Declaration, NfceForm::EnviNFe};
    SaleOptions o;
    o.kind = DocKind::Nfce;
    o.minItems = 10;
    o.maxItems = 12;
    for (int i = 0; i < nfce; ++i) {
        o.status = i % 10 == 0 ? NfceStatus::Cancelled : NfceStatus::Authorized;
        o.storeCancelEvent = i % 20 == 0;
        Sale s = gen.MakeSale(o);
        if (prepare)
            prepare(s);
        bytes += s.nfe.size();
        vndtest::AppendSaleRow(cds, s, forms[i % 3]);
    }
    SaleOptions so;
    so.kind = DocKind::Sat;
    so.branchCode = gen.Branches().first().code;
    so.minItems = 10;
    so.maxItems = 12;
    for (int i = 0; i < sat; ++i) {
        so.status = i % 10 == 0 ? NfceStatus::Cancelled : NfceStatus::Authorized;
        Sale s = gen.MakeSale(so);
        if (prepare)
            prepare(s);
        bytes += s.cfe.size();
        vndtest::AppendSaleRow(cds, s, NfceForm::BareDeclaration);
    }
    cds.EnableControls();
    return bytes;
}

inline double PeakRssMb()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss / 1024.0;
}

inline void Run(const QString &program, const QStringList &args, const QString &dir = {})
{
    QProcess p;
    if (!dir.isEmpty())
        p.setWorkingDirectory(dir);
    p.start(program, args);
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        qFatal("%s failed: %s", qPrintable(program), p.readAllStandardError().constData());
}

} // namespace benchutil
