// Golden documents: the first sales of seed 7, byte for byte. Demo databases, benchmarks and other
// tests rely on a seed meaning the same documents on every machine and after every change; a change
// that alters them on purpose rewrites the files with VND_UPDATE_GOLDEN=1 and shows in review.

#include "server/docgen/docgen.h"
#include "tests/support/testutil.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace vnd::docgen;

TEST(DocgenGolden, SeedSevenGivesTheStoredDocuments)
{
    Generator gen(7);
    SaleOptions o;
    o.kind = DocKind::Nfce;
    o.status = NfceStatus::Cancelled;
    o.storeCancelEvent = true;
    o.withCustomer = true;
    const Sale nfce = gen.MakeSale(o);
    o.kind = DocKind::Sat;
    const Sale sat = gen.MakeSale(o);
    const QList<QPair<QString, QByteArray>> documents = {
        {QStringLiteral("seed7-nfeProc.xml"), ProcessedNfce(nfce)},
        {QStringLiteral("seed7-enviNFe.xml"), StoredNfce(nfce, NfceForm::EnviNFe)},
        {QStringLiteral("seed7-procEventoNFe.xml"), nfce.cancelEvent},
        {QStringLiteral("seed7-CFe.xml"), sat.cfe},
        {QStringLiteral("seed7-CFeCanc.xml"), sat.cfeCanc},
    };
    const QDir dir(vndtest::DataDir() + QStringLiteral("/docgen"));
    const bool update = qEnvironmentVariableIsSet("VND_UPDATE_GOLDEN");
    for (const auto &[name, bytes] : documents) {
        SCOPED_TRACE(name.toStdString());
        const QString path = dir.filePath(name);
        if (update)
            vndtest::WriteFile(path, bytes);
        ASSERT_TRUE(QFileInfo::exists(path)) << "missing golden file; run once with VND_UPDATE_GOLDEN=1";
        EXPECT_TRUE(vndtest::ReadFile(path) == bytes) << "the documents of seed 7 changed";
    }
}
