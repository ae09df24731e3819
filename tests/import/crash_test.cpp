// A batch killed at random moments loses no file and cuts none short, and importing the same files
// again stores no sale twice. The killed import is this test binary run again as a child process.
#include "tests/import/importharness.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QThread>
#include <gtest/gtest.h>

using namespace importtest;

namespace
{

const char kDirVar[] = "VND_IMPORT_CRASH_DIR";

// Every copy of every file under the import folder (the folder itself and the branch folders), by name.
QMultiHash<QString, QString> Copies(const QString &root)
{
    QMultiHash<QString, QString> found;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        found.insert(QFileInfo(path).fileName(), path);
    }
    return found;
}

void CheckNothingLost(const QString &root, const QHash<QString, QByteArray> &files)
{
    const QMultiHash<QString, QString> copies = Copies(root);
    for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
        const QStringList paths = copies.values(it.key());
        ASSERT_FALSE(paths.isEmpty()) << "lost: " << it.key().toStdString();
        for (const QString &copy : paths)
            ASSERT_EQ(vndtest::ReadFile(copy), it.value()) << "cut short: " << copy.toStdString();
    }
}

int ListaArquivosXmlCount(const QString &dir)
{
    return int(QDir(dir).entryList({QStringLiteral("*.xml")}, QDir::Files).size());
}

int StoredRows(const QStringList &keys)
{
    QSqlQuery q(Server().Database());
    int rows = 0;
    for (const QString &key : keys) {
        q.prepare(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSONFCE = ?"));
        q.addBindValue(key);
        if (q.exec() && q.next())
            rows += q.value(0).toInt();
    }
    return rows;
}

} // namespace

// The child: imports the folder named by the environment through the server named there.
TEST(ImportCrashChild, Run)
{
    const QString dir = qEnvironmentVariable(kDirVar);
    if (dir.isEmpty())
        GTEST_SKIP() << "run as the child of ImportCrash only";
    TNetConnection net;
    net.Port = qEnvironmentVariableIntValue("VND_IMPORT_CRASH_PORT");
    net.Token = qEnvironmentVariable("VND_IMPORT_CRASH_TOKEN");
    net.Open();
    vnd::ImportGlobals globals;
    vnd::TImportacaoXml import(net, Mensagens(), globals);
    import.stDirXml = dir;
    import.stDirXmlErro = dir + QStringLiteral("Xml Erro/");
    import.stDirXmlProc = dir + QStringLiteral("Xml Processados/");
    vndtest::ScopedPlatform platform;
    platform->ExpectInfo(QStringLiteral("Foram importadas"), vndtest::ScriptedPlatform::Match::Contains)
        .ExpectQuestion(QStringLiteral("Atenção!"), false, vndtest::ScriptedPlatform::Match::Contains);
    import.importaXml();
}

TEST(ImportCrash, KilledBatchesLoseNoFileAndStoreNoSaleTwice)
{
    Batch batch;
    QHash<QString, QByteArray> files;
    QStringList keys;
    vnd::docgen::SaleOptions o;
    o.status = vnd::docgen::NfceStatus::Authorized;
    o.branchCode = Gen().Branches().first().code;
    o.maxItems = 3;
    for (int i = 0; i < 500; ++i) {
        o.kind = i % 10 == 9 ? vnd::docgen::DocKind::Sat : vnd::docgen::DocKind::Nfce;
        const vnd::docgen::Sale sale = Gen().MakeSale(o);
        const QString name = QStringLiteral("%1-%2.xml").arg(i, 3, 10, QLatin1Char('0')).arg(sale.accessKey);
        files.insert(name,
                     sale.kind == vnd::docgen::DocKind::Sat ? sale.cfe : vnd::docgen::ProcessedNfce(sale));
        keys << sale.StoredAccessKey();
        batch.Write(name, files.value(name));
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kDirVar), batch.Dir());
    env.insert(QStringLiteral("VND_IMPORT_CRASH_PORT"), QString::number(Server().Port()));
    env.insert(QStringLiteral("VND_IMPORT_CRASH_TOKEN"), Server().Token());
    QRandomGenerator random(20170301);
    int kills = 0;
    for (int run = 0; run < 100 && kills < 20; ++run) {
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=ImportCrashChild.Run")});
        ASSERT_TRUE(child.waitForStarted());
        if (!child.waitForFinished(int(random.bounded(50, 1200)))) {
            child.kill();
            child.waitForFinished();
            ++kills;
        }
        CheckNothingLost(batch.Dir(), files);
        if (HasFatalFailure())
            return;
        // Put the imported files back now and then, so that later kills fall on files already stored.
        if (ListaArquivosXmlCount(batch.Dir()) < 50) {
            const QMultiHash<QString, QString> copies = Copies(batch.Dir());
            for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
                for (const QString &copy : copies.values(it.key()))
                    QFile::remove(copy);
                batch.Write(it.key(), it.value());
            }
        }
    }
    // A run that ends before its moment is not a kill; on a fast machine more runs are needed for twenty.
    EXPECT_GE(kills, 20);

    // A whole batch at the end imports what was left; then every file is filed whole and each sale is
    // stored once, however often it was sent.
    {
        vndtest::ScopedPlatform platform;
        platform->ExpectInfo(QStringLiteral("Foram importadas"), vndtest::ScriptedPlatform::Match::Contains)
            .ExpectQuestion(QStringLiteral("Atenção!"), false, vndtest::ScriptedPlatform::Match::Contains);
        batch.Run();
    }
    CheckNothingLost(batch.Dir(), files);
    for (auto it = files.constBegin(); it != files.constEnd(); ++it)
        EXPECT_TRUE(batch.Where(it.key()).startsWith(QStringLiteral("Xml Processados/")))
            << batch.Where(it.key()).toStdString();
    EXPECT_EQ(StoredRows(keys), keys.size());
    // No partial copy or stray file is left in the folders.
    QDirIterator all(batch.Dir(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    int count = 0;
    while (all.hasNext()) {
        const QString path = all.next();
        EXPECT_TRUE(path.endsWith(QLatin1String(".xml"))) << path.toStdString();
        ++count;
    }
    EXPECT_EQ(count, files.size());
}
