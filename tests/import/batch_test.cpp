// The batch driver against a real server: where every file ends, what the logs say, what is stored.
#include "host/errors.h"
#include "server/docgen/importfolder.h"
#include "tests/import/importharness.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/testutil.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace importtest;
using vndtest::ScopedPlatform;
using Match = vndtest::ScriptedPlatform::Match;

namespace
{

QByteArray Nfce(const QString &branch = {})
{
    vnd::docgen::SaleOptions o;
    o.kind = vnd::docgen::DocKind::Nfce;
    o.status = vnd::docgen::NfceStatus::Authorized;
    o.branchCode = branch.isEmpty() ? Gen().Branches().first().code : branch;
    return vnd::docgen::ProcessedNfce(Gen().MakeSale(o));
}

} // namespace

TEST(ImportBatch, GeneratedFolderEndsAsItsManifestSays)
{
    Batch batch;
    const QList<vnd::docgen::ImportCase> cases = vnd::docgen::WriteImportFolder(Gen(), batch.Dir());
    int notes = 0, failed = 0;
    for (const auto &c : cases) {
        notes += c.imported ? c.sales : 0;
        failed += c.imported ? 0 : 1;
    }
    ScopedPlatform platform;
    platform->ExpectInfo(XmlProc(notes, int(cases.size())) + ComErros(batch, failed)).ExpectQuestion(kConfLog, false);
    batch.Run();

    // Files are read in name order, cancellation batches last; a file that fails before its reader finds a
    // branch is filed under the branch of the file read before it.
    QList<vnd::docgen::ImportCase> order = cases;
    std::stable_partition(order.begin(), order.end(),
                          [](const auto &c) { return c.kind != vnd::docgen::ImportKind::SatCancelBatch; });
    QString branch;
    for (const auto &c : order) {
        SCOPED_TRACE(c.fileName.toStdString() + " — " + c.description.toStdString());
        if (!c.branchCode.isEmpty())
            branch = c.branchCode;
        const QString folder = c.imported ? QStringLiteral("Xml Processados/") : QStringLiteral("Xml Erro/");
        EXPECT_EQ(batch.Where(c.fileName),
                  folder + (branch.isEmpty() ? QString() : branch + QLatin1Char('/')) + c.fileName);
        const QStringList log = batch.LogLines(branch, c.fileName);
        if (c.imported) {
            EXPECT_TRUE(log.isEmpty()) << log.join(QLatin1Char('\n')).toStdString();
            EXPECT_EQ(StoredCount(c.accessKeys), c.accessKeys.size());
        } else {
            ASSERT_GE(log.size(), 2);
            EXPECT_TRUE(log[0].endsWith(QStringLiteral(" - -----> Erro no XML ") + c.fileName))
                << log[0].toStdString();
            EXPECT_TRUE(log[1].contains(QStringLiteral(" - ------ Descrição do erro: ")))
                << log[1].toStdString();
            if (!c.errorText.isEmpty()) {
                EXPECT_TRUE(log.join(QLatin1Char('\n')).contains(c.errorText))
                    << log.join(QLatin1Char('\n')).toStdString();
            }
            EXPECT_EQ(StoredCount(c.accessKeys), 0);
        }
    }
    // Cancelled coupons of the batch are cancelled on the server.
    for (const auto &c : cases) {
        if (c.kind == vnd::docgen::ImportKind::SatCancelBatch) {
            for (const QString &key : c.accessKeys)
                EXPECT_TRUE(Stored(key).startsWith(QStringLiteral("C|"))) << key.toStdString();
        }
    }
    QStringList progress;
    for (int i = 1; i <= cases.size(); ++i)
        progress << QStringLiteral("arquivo %1 de %2").arg(i).arg(cases.size());
    EXPECT_EQ(platform->BusyTexts(), progress);
    EXPECT_FALSE(platform->BusyVisible());
    EXPECT_EQ(batch.calls.value(QStringLiteral("setDelPreValidXml")), 1);
}

TEST(ImportBatch, EmptyFolderSaysSoAndStillClearsTheValidationLog)
{
    Batch batch;
    batch.Write(QStringLiteral("leia-me.txt"), "<nota/>");
    ScopedPlatform platform;
    platform->ExpectInfo(QStringLiteral("Não foi encontrado nenhum XML."));
    batch.Run();
    EXPECT_EQ(batch.calls.value(QStringLiteral("getPrxPreValidXml")), 1);
    EXPECT_EQ(batch.calls.value(QStringLiteral("getPreValidXml")), 1);
    EXPECT_EQ(batch.calls.value(QStringLiteral("setDelPreValidXml")), 1);
    EXPECT_TRUE(batch.import->cdsPreValidXml.IsEmpty());
    EXPECT_FALSE(batch.import->stNrSeqValidXml.isEmpty());
    EXPECT_EQ(batch.Where(QStringLiteral("leia-me.txt")), QString());
}

TEST(ImportBatch, UnknownFileAfterAGoodOneIsFiledUnderItsBranchAndReimportAppends)
{
    Batch batch;
    const QString branch = Gen().Branches().first().code;
    batch.Write(QStringLiteral("a-nota.xml"), Nfce());
    const QByteArray unknown = "<?xml version=\"1.0\"?><relatorio><linha>1</linha></relatorio>";
    batch.Write(QStringLiteral("b-outro.XML"), unknown);
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(1, 2) + ComErros(batch, 1)).ExpectQuestion(kConfLog, false);
        batch.Run();
    }
    // The server's alerts for the stored sale came back in the validation log, followed by the file in
    // error with its reason.
    TClientDataSet &log0 = batch.import->cdsPreValidXml;
    ASSERT_FALSE(log0.IsEmpty());
    log0.Last();
    EXPECT_EQ(log0.FieldByName(QStringLiteral("IDTPVALIDXML")).DisplayText(), QStringLiteral("Erro"));
    EXPECT_EQ(log0.FieldByName(QStringLiteral("NMARQXML")).AsString(), QStringLiteral("b-outro.XML"));
    EXPECT_EQ(log0.FieldByName(QStringLiteral("DSERROXML")).AsString(),
              QStringLiteral("Arquivo XML fora do padrão exigido pela Sefaz."));
    EXPECT_EQ(log0.FieldByName(QStringLiteral("CDFILIAL")).AsString(), branch);
    for (log0.First(); log0.RecNo() < log0.RecordCount() - 1; log0.Next()) {
        EXPECT_EQ(log0.FieldByName(QStringLiteral("IDTPVALIDXML")).DisplayText(), QStringLiteral("Alerta"));
        EXPECT_EQ(log0.FieldByName(QStringLiteral("NMARQXML")).AsString(), QStringLiteral("a-nota.xml"));
    }
    EXPECT_EQ(batch.Where(QStringLiteral("a-nota.xml")),
              QStringLiteral("Xml Processados/%1/a-nota.xml").arg(branch));
    EXPECT_EQ(batch.Where(QStringLiteral("b-outro.XML")),
              QStringLiteral("Xml Erro/%1/b-outro.XML").arg(branch));
    QStringList log = batch.LogLines(branch, QStringLiteral("b-outro.XML"));
    ASSERT_EQ(log.size(), 2);
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d - "));
    EXPECT_TRUE(stamp.match(log[0]).hasMatch()) << log[0].toStdString();
    EXPECT_TRUE(log[0].endsWith(QStringLiteral(" - -----> Erro no XML b-outro.XML")));
    EXPECT_TRUE(log[1].endsWith(
        QStringLiteral(" - ------ Descrição do erro: Arquivo XML fora do padrão exigido pela Sefaz.")));

    // The same name again with other bytes: both copies are kept, and the log grows by the failure and
    // the line that says where the new copy went.
    batch.Write(QStringLiteral("b-outro.XML"), unknown + "<!-- 2 -->");
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(0, 1) + ComErros(batch, 1)).ExpectQuestion(kConfLog, false);
        batch.Run();
    }
    EXPECT_EQ(vndtest::ReadFile(batch.Dir() + QStringLiteral("Xml Erro/%1/b-outro.XML").arg(branch)), unknown);
    EXPECT_EQ(vndtest::ReadFile(batch.Dir() + QStringLiteral("Xml Erro/%1/b-outro (2).XML").arg(branch)),
              unknown + "<!-- 2 -->");
    log = batch.LogLines(branch, QStringLiteral("b-outro.XML"));
    ASSERT_EQ(log.size(), 5);
    EXPECT_TRUE(log[4].contains(QStringLiteral("guardado como \"b-outro (2).XML\""))) << log[4].toStdString();
}

TEST(ImportBatch, UnknownFirstFileHasNoBranchAndLogsInTheErrorFolder)
{
    Batch batch;
    batch.Write(QStringLiteral("lixo.xml"), "isto não é XML");
    ScopedPlatform platform;
    platform->ExpectInfo(XmlProc(0, 1) + ComErros(batch, 1)).ExpectQuestion(kConfLog, false);
    batch.Run();
    EXPECT_EQ(batch.Where(QStringLiteral("lixo.xml")), QStringLiteral("Xml Erro/lixo.xml"));
    const QStringList log = batch.LogLines(QString(), QStringLiteral("lixo.xml"));
    // The load failure and then the missing branch, two lines each.
    ASSERT_EQ(log.size(), 4) << log.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(log[3].endsWith(QStringLiteral(
        "Descrição do erro: Filial e caixa não encontrados para o CNPJ e a série do arquivo.")));
}

TEST(ImportBatch, FilesRemovedOrRewrittenWhileTheBatchRunsAreNeverFiledUnimported)
{
    // The next file is read while the current one is on the server: one removed meanwhile is skipped,
    // one rewritten meanwhile stays for the next batch, so that its new content is not filed unread.
    Batch batch;
    vnd::TImportacaoXml import(Server().Connection(), Mensagens(), batch.globals);
    const QString branch = Gen().Branches().first().code;
    for (const char *name : {"a.xml", "b.xml", "c.xml", "d.xml"})
        batch.Write(QString::fromLatin1(name), Nfce());
    const QByteArray rewritten = Nfce();
    int stores = 0;
    import.vendasPorChamada = 1; // each file answered before the next is read
    import.onRemoteCall = [&](const QString &method) {
        if (method != QLatin1String("setValidaGravaVendas"))
            return;
        ++stores;
        if (stores == 1)
            QFile::remove(batch.Dir() + QStringLiteral("b.xml"));
        if (stores == 2)
            batch.Write(QStringLiteral("d.xml"), rewritten);
    };
    import.stDirXml = batch.Dir();
    import.stDirXmlErro = batch.Dir() + QStringLiteral("Xml Erro/");
    import.stDirXmlProc = batch.Dir() + QStringLiteral("Xml Processados/");
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(3, 3)).ExpectQuestion(kConfLog, false);
        import.importaXml();
    }
    EXPECT_EQ(batch.Where(QStringLiteral("a.xml")), QStringLiteral("Xml Processados/%1/a.xml").arg(branch));
    EXPECT_EQ(batch.Where(QStringLiteral("b.xml")), QStringLiteral("?"));
    EXPECT_EQ(batch.Where(QStringLiteral("c.xml")), QStringLiteral("Xml Processados/%1/c.xml").arg(branch));
    // Whether d was read before or after it was rewritten depends on timing. Either its new content was
    // read, stored and the file filed, or the old one was and the file waits, unfiled, for the next batch.
    const QString key = QString::fromLatin1(rewritten.mid(rewritten.indexOf("Id=\"NFe") + 7, 44));
    const QString where = batch.Where(QStringLiteral("d.xml"));
    if (where.isEmpty()) {
        EXPECT_EQ(vndtest::ReadFile(batch.Dir() + QStringLiteral("d.xml")), rewritten);
        EXPECT_TRUE(Stored(key).isEmpty()) << key.toStdString();
    } else {
        EXPECT_EQ(where, QStringLiteral("Xml Processados/%1/d.xml").arg(branch));
        EXPECT_EQ(vndtest::ReadFile(batch.Dir() + where), rewritten);
        EXPECT_FALSE(Stored(key).isEmpty()) << key.toStdString();
    }
}

TEST(ImportBatch, LostConnectionEndsTheBatchAndLeavesTheFileInPlace)
{
    vndtest::ServerFixture own;
    own.Seed({QStringLiteral("--sales"), QStringLiteral("0")});
    Batch batch;
    vnd::TImportacaoXml import(own.Connection(), Mensagens(), batch.globals);
    batch.Write(QStringLiteral("a.xml"), Nfce());
    batch.Write(QStringLiteral("b.xml"), Nfce());
    int checks = 0;
    import.vendasPorChamada = 1;
    import.onRemoteCall = [&](const QString &method) {
        if (method == QLatin1String("setValidaGravaVendas") && ++checks == 2)
            own.Stop();
    };
    import.stDirXml = batch.Dir();
    import.stDirXmlErro = batch.Dir() + QStringLiteral("Xml Erro/");
    import.stDirXmlProc = batch.Dir() + QStringLiteral("Xml Processados/");
    ScopedPlatform platform;
    EXPECT_THROW(import.importaXml(), EConnectionError);
    EXPECT_EQ(batch.Where(QStringLiteral("a.xml")),
              QStringLiteral("Xml Processados/%1/a.xml").arg(Gen().Branches().first().code));
    // Not judged, so neither filed nor logged: the next batch imports it.
    EXPECT_EQ(batch.Where(QStringLiteral("b.xml")), QString());
    EXPECT_TRUE(batch.LogLines(Gen().Branches().first().code, QStringLiteral("b.xml")).isEmpty());
    EXPECT_FALSE(platform->BusyVisible());
}

TEST(ImportBatch, LostConnectionWithSalesOfSeveralFilesWaitingLeavesThemAllUnjudged)
{
    // The sales of several files travel in one call: when it gets no answer, nothing is known of any of
    // them, so every one of those files stays in the import folder, unlogged, for the next batch.
    vndtest::ServerFixture own;
    own.Seed({QStringLiteral("--sales"), QStringLiteral("0")});
    Batch batch;
    vnd::TImportacaoXml import(own.Connection(), Mensagens(), batch.globals);
    for (const char *name : {"a.xml", "b.xml", "c.xml"})
        batch.Write(QString::fromLatin1(name), Nfce());
    int stores = 0;
    import.onRemoteCall = [&](const QString &method) {
        if (method == QLatin1String("setValidaGravaVendas") && ++stores == 1)
            own.Stop();
    };
    import.stDirXml = batch.Dir();
    import.stDirXmlErro = batch.Dir() + QStringLiteral("Xml Erro/");
    import.stDirXmlProc = batch.Dir() + QStringLiteral("Xml Processados/");
    ScopedPlatform platform;
    EXPECT_THROW(import.importaXml(), EConnectionError);
    EXPECT_EQ(stores, 1);
    for (const char *name : {"a.xml", "b.xml", "c.xml"}) {
        EXPECT_EQ(batch.Where(QString::fromLatin1(name)), QString()) << name;
        EXPECT_TRUE(batch.LogLines(Gen().Branches().first().code, QString::fromLatin1(name)).isEmpty()) << name;
    }
    EXPECT_FALSE(platform->BusyVisible());
}
