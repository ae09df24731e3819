#pragma once
// The documents the XML figures read: the public samples beside the checkout when they are there, else
// (a fresh clone) documents of the generator of the same kinds and sizes, so that every figure runs
// anywhere. Each figure prints which corpus it used, since the two give different absolute figures.
#include "server/docgen/docgen.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QString>
#include <vector>

namespace benchcorpus
{

struct Corpus {
    std::vector<QByteArray> documents; // the files' bytes
    QString name;                      // for the figure's line
};

inline QString SamplesDir()
{
    const QString shared = qEnvironmentVariable("VND_SHARED_DIR", QStringLiteral(VND_SOURCE_DIR "/../shared"));
    return QDir(shared).filePath(QStringLiteral("samples"));
}

// Processed NFC-e of both layouts, stored forms, cancellation events, SAT coupons and a batch.
inline std::vector<QByteArray> GeneratedDocuments()
{
    using namespace vnd::docgen;
    Generator gen(2026);
    std::vector<QByteArray> docs;
    SaleOptions o;
    o.kind = DocKind::Nfce;
    o.status = NfceStatus::Cancelled;
    o.storeCancelEvent = true;
    o.maxItems = 30;
    for (const QString &layout : {QStringLiteral("3.10"), QStringLiteral("4.00")}) {
        o.layoutVersion = layout;
        for (const Sale &s : gen.MakeSales(12, o)) {
            docs.push_back(ProcessedNfce(s));
            docs.push_back(StoredNfce(s, NfceForm::Utf8Declaration));
            docs.push_back(s.cancelEvent);
        }
    }
    SaleOptions sat;
    sat.kind = DocKind::Sat;
    sat.branchCode = gen.Branches().first().code;
    for (const CashRegister &r : gen.CashRegisters())
        if (r.branchCode == sat.branchCode && !r.satSerial.isEmpty())
            sat.registerCode = r.code;
    const QList<Sale> coupons = gen.MakeSales(20, sat);
    for (const Sale &s : coupons)
        docs.push_back(s.cfe);
    docs.push_back(SatBatch(coupons, QStringLiteral("1")));
    return docs;
}

inline Corpus Load()
{
    Corpus c;
    QDirIterator it(SamplesDir(), {QStringLiteral("*.xml")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            c.documents.push_back(f.readAll());
    }
    if (!c.documents.empty()) {
        c.name = QStringLiteral("amostras públicas");
        return c;
    }
    c.documents = GeneratedDocuments();
    c.name = QStringLiteral("documentos do gerador (amostras públicas ausentes)");
    return c;
}

} // namespace benchcorpus
