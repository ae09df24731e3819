// Every public sample document through one batch, each with the outcome written down for it in
// tests/data/import/samples.tsv: the folder it ends in and a part of its log (or "-" for none).
#include "tests/import/importharness.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/testutil.h"

#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace importtest;

namespace {

struct SampleCase
{
    QString path;    // under the samples folder
    QString folder;  // "Xml Erro" or "Xml Processados"
    QString logPart; // expected in the log's description, or "-"
};

// The samples as file names of the import folder: the path with "/" turned into "__".
QString FileName(const QString &path) { return QString(path).replace(QLatin1Char('/'), QStringLiteral("__")); }

std::vector<SampleCase> Cases()
{
    std::vector<SampleCase> cases;
    const QStringList lines =
        QString::fromUtf8(vndtest::ReadFile(vndtest::DataDir() + QStringLiteral("/import/samples.tsv"))).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList f = line.split(QLatin1Char('\t'));
        cases.push_back({f.value(0), f.value(1), f.value(2)});
    }
    return cases;
}

// One batch over all samples, run once for the whole suite.
class ImportSamples : public ::testing::TestWithParam<SampleCase>
{
public:
    static void SetUpTestSuite()
    {
        if (vndtest::SamplesDir().isEmpty())
            return;
        s_batch = new Batch;
        QDirIterator it(vndtest::SamplesDir(), {QStringLiteral("*.xml")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString relative = QDir(vndtest::SamplesDir()).relativeFilePath(path);
            s_batch->Write(FileName(relative), vndtest::ReadFile(path));
            ++s_files;
        }
        vndtest::ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(0, s_files) + ComErros(*s_batch, s_files))
            .ExpectQuestion(QStringLiteral("Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de "
                                           "erros?"),
                            false);
        s_batch->Run();
    }
    static void TearDownTestSuite()
    {
        delete s_batch;
        s_batch = nullptr;
    }

protected:
    static inline Batch *s_batch = nullptr;
    static inline int s_files = 0;
};

} // namespace

TEST_P(ImportSamples, EndsWhereWrittenDown)
{
    if (!s_batch)
        GTEST_SKIP() << "public samples folder not found";
    const SampleCase &c = GetParam();
    const QString name = FileName(c.path);
    EXPECT_EQ(s_batch->Where(name), c.folder + QLatin1Char('/') + name);
    const QString log = s_batch->LogLines(QString(), name).join(QLatin1Char('\n'));
    if (c.logPart == QLatin1String("-"))
        EXPECT_TRUE(log.isEmpty()) << log.toStdString();
    else
        EXPECT_TRUE(log.contains(c.logPart)) << log.toStdString();
}

TEST(ImportSamplesList, EverySampleHasAnOutcome)
{
    if (vndtest::SamplesDir().isEmpty())
        GTEST_SKIP() << "public samples folder not found";
    QStringList listed;
    for (const SampleCase &c : Cases())
        listed << c.path;
    QDirIterator it(vndtest::SamplesDir(), {QStringLiteral("*.xml")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = QDir(vndtest::SamplesDir()).relativeFilePath(it.next());
        EXPECT_TRUE(listed.contains(relative)) << "sample without outcome: " << relative.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Publicos, ImportSamples, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<SampleCase> &info) {
                             QString n = info.param.path;
                             n.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")), QStringLiteral("_"));
                             return n.toStdString();
                         });
