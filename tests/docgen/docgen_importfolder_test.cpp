// The import folder: every file is where its case says, good files are the documents their kind
// names, broken files are broken the way their description says, and the encodings are the real ones.

#include "server/docgen/importfolder.h"
#include "tests/docgen/docgen_testutil.h"
#include "tests/support/testutil.h"

#include "host/errors.h"

#include <QDir>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vnd::docgen;

namespace
{

// What the import does first: drop anything before the first "<".
QByteArray FromFirstTag(const QByteArray &bytes)
{
    const qsizetype at = bytes.indexOf('<');
    return at < 0 ? QByteArray() : bytes.mid(at);
}

// The kind the import's recognition order gives a parsed document.
ImportKind Recognise(const pugi::xml_document &doc)
{
    const pugi::xml_node root = doc.document_element();
    if (root.child("LoteCFe"))
        return ImportKind::SatBatch;
    if (root.child("LoteCFeCanc"))
        return ImportKind::SatCancelBatch;
    if (std::string(root.name()) == "CFe")
        return ImportKind::SatCoupon;
    if (root.child("NFe"))
        return ImportKind::NfceProcessed;
    if (std::string(root.name()) == "NFe")
        return ImportKind::NfceBare;
    return ImportKind::Unknown;
}

} // namespace

TEST(DocgenImportFolder, EveryCaseIsTheFileItDescribes)
{
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(QStringLiteral("lote"));
    Generator gen(77);
    const QList<ImportCase> cases = WriteImportFolder(gen, folder);

    QStringList names;
    for (const ImportCase &c : cases)
        names.append(c.fileName);
    QStringList onDisk = QDir(folder).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(onDisk, names);

    int good = 0, broken = 0, sales = 0;
    bool upperCase = false, latin1 = false, garbage = false;
    QHash<QString, bool> keys;
    QSet<QString> cancelledKeys;
    for (const ImportCase &c : cases) {
        SCOPED_TRACE(c.fileName.toStdString());
        const QByteArray bytes = vndtest::ReadFile(QDir(folder).filePath(c.fileName));
        const QByteArray text = FromFirstTag(bytes);
        pugi::xml_document doc;
        const bool parsed = !text.isEmpty() && doc.load_buffer(text.constData(), size_t(text.size()));
        EXPECT_EQ(c.kind == ImportKind::Unknown && c.errorText.isEmpty(), !parsed);
        if (parsed) {
            EXPECT_EQ(Recognise(doc), c.kind);
        }
        EXPECT_EQ(c.sales, int(c.accessKeys.size()) * c.imported);
        EXPECT_EQ(c.imported, !c.branchCode.isEmpty());
        if (!c.imported) {
            ++broken;
            continue;
        }
        ++good;
        sales += c.sales;
        for (const QString &k : c.accessKeys) {
            EXPECT_TRUE(bytes.contains(k.right(44).toLatin1()));
            if (c.kind == ImportKind::SatCancelBatch)
                cancelledKeys.insert(k);
            else
                EXPECT_FALSE(std::exchange(keys[k], true)) << "sale imported twice: " << k.toStdString();
        }
        EXPECT_EQ(c.branchCode, gen.Branches().first().code);
        upperCase |= c.fileName.endsWith(QStringLiteral(".XML"));
        garbage |= !bytes.startsWith('<');
        if (bytes.contains("encoding=\"ISO-8859-1\"")) {
            latin1 = true;
            QStringDecoder utf8(QStringDecoder::Utf8);
            const QString decoded = utf8(bytes);
            EXPECT_TRUE(utf8.hasError()) << "the ISO-8859-1 file is not really in ISO-8859-1";
            EXPECT_TRUE(QString::fromLatin1(bytes).contains(QStringLiteral("São Paulo")));
        }
    }
    EXPECT_EQ(good, 10);
    for (const QString &k : cancelledKeys)
        EXPECT_TRUE(keys.contains(k))
            << "cancellation of a coupon the folder does not import: " << k.toStdString();
    EXPECT_EQ(broken, 6);
    EXPECT_GE(sales, 12);
    EXPECT_TRUE(upperCase);
    EXPECT_TRUE(latin1);
    EXPECT_TRUE(garbage);

    const QByteArray manifest = ImportManifest(cases);
    EXPECT_EQ(manifest.count('\n'), cases.size() + 1);
    EXPECT_TRUE(manifest.contains("\terro\t"));
}

TEST(DocgenImportFolder, BrokenFilesFailForTheirOwnReason)
{
    QTemporaryDir tmp;
    Generator gen(78);
    ImportFolderOptions options;
    options.goodFiles = false;
    const QList<ImportCase> cases = WriteImportFolder(gen, tmp.path(), options);
    for (const ImportCase &c : cases) {
        SCOPED_TRACE(c.fileName.toStdString());
        EXPECT_FALSE(c.imported);
        const QByteArray bytes = vndtest::ReadFile(QDir(tmp.path()).filePath(c.fileName));
        if (c.fileName.contains(QStringLiteral("valor-invalido"))) {
            EXPECT_TRUE(bytes.contains("<vNF>1.234,50</vNF>"));
        }
        if (c.fileName.contains(QStringLiteral("sem-imposto"))) {
            EXPECT_EQ(bytes.count("<imposto>") + 1, bytes.count("<det "));
        }
        if (c.errorText.contains(QStringLiteral("CNPJ"))) {
            for (const Branch &b : gen.Branches())
                EXPECT_FALSE(bytes.contains(b.cnpj.toLatin1()));
        }
    }
}

TEST(DocgenImportFolder, SatBatchesValidateAgainstTheBatchSchemas)
{
    const QString reason = docgentest::SchemaSkipReason();
    if (!reason.isEmpty())
        GTEST_SKIP() << reason.toStdString();
    QTemporaryDir tmp;
    Generator gen(79);
    ImportFolderOptions options;
    options.brokenFiles = false;
    options.satBatchSize = 5;
    for (const ImportCase &c : WriteImportFolder(gen, tmp.path(), options)) {
        const QByteArray bytes = vndtest::ReadFile(QDir(tmp.path()).filePath(c.fileName));
        if (c.kind == ImportKind::SatBatch) {
            EXPECT_EQ(
                docgentest::Validate(QStringLiteral("sat/20150203_CfeRecepcaoValidador_0006.noanchor.xsd"),
                                     {{c.fileName, bytes}}),
                QString());
        }
        if (c.kind == ImportKind::SatCancelBatch) {
            EXPECT_EQ(docgentest::Validate(QStringLiteral("sat/CfeCancelamento_0006ER2114_V1.1.noanchor.xsd"),
                                           {{c.fileName, bytes}}),
                      QString());
        }
        if (c.kind == ImportKind::SatBatch) {
            EXPECT_EQ(c.sales, 5);
        }
    }
}

TEST(DocgenImportFolder, AFolderThatCannotBeMadeIsNamed)
{
    QTemporaryDir tmp;
    const QString file = tmp.filePath(QStringLiteral("arquivo"));
    vndtest::WriteFile(file, "x");
    Generator gen(1);
    try {
        WriteImportFolder(gen, file + QStringLiteral("/sub"));
        FAIL() << "a folder under a file was accepted";
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("arquivo/sub")));
    }
}
