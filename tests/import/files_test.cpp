// The import's file work: listing, decoding, safe folder names and filing a source without losing it.
#include "host/errors.h"
#include "import/importfiles.h"
#include "tests/support/testutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vnd;
using vndtest::ReadFile;
using vndtest::WriteFile;

TEST(ImportFiles, ListingTakesXmlInAnyCaseSortedAndNothingElse)
{
    QTemporaryDir dir;
    const QString root = dir.path() + QLatin1Char('/');
    for (const char *name : {"b.xml", "A.XML", "c.Xml", ".oculto.xml", "nota.xml.txt", "semext", "z.xmlx"})
        WriteFile(root + QString::fromLatin1(name), "<a/>");
    QDir().mkpath(root + QStringLiteral("pasta.xml"));
    EXPECT_EQ(ListaArquivosXml(root),
              (QStringList{QStringLiteral(".oculto.xml"), QStringLiteral("A.XML"), QStringLiteral("b.xml"),
                           QStringLiteral("c.Xml")}));
    EXPECT_TRUE(ListaArquivosXml(root + QStringLiteral("nao-existe/")).isEmpty());
    EXPECT_TRUE(ListaArquivosXml(QString()).isEmpty());
}

TEST(ImportFiles, FolderNamesThatWouldLeaveTheirFolderAreRefused)
{
    EXPECT_TRUE(NomePastaSeguro(QString()));
    EXPECT_TRUE(NomePastaSeguro(QStringLiteral("0001")));
    EXPECT_TRUE(NomePastaSeguro(QStringLiteral("Ab-1")));
    for (const QString &bad : {QStringLiteral(".."), QStringLiteral("."), QStringLiteral("../x"), QStringLiteral("a/b"),
                               QStringLiteral("/etc"), QStringLiteral("a\\b"), QStringLiteral("a\nb"),
                               QStringLiteral("    "), QString(QChar(0x7F))})
        EXPECT_FALSE(NomePastaSeguro(bad)) << bad.toStdString();
}

TEST(ImportFiles, TextIsDecodedByItsDeclarationAndStartsAtTheFirstTag)
{
    QTemporaryDir dir;
    const QString latin = dir.filePath(QStringLiteral("latin.xml"));
    WriteFile(latin, QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><x>Jo\xe3o a\xe7\xfa</x>"));
    EXPECT_TRUE(LeTextoXml(latin).contains(QStringLiteral("<x>João açú</x>")));

    const QString junk = dir.filePath(QStringLiteral("junk.xml"));
    WriteFile(junk, QByteArray("lixo\x01\x02\xfe antes ") + QByteArray("<x>S\xc3\xa3o</x>"));
    EXPECT_EQ(LeTextoXml(junk), QStringLiteral("<x>São</x>"));

    const QString bom16 = dir.filePath(QStringLiteral("utf16.xml"));
    QByteArray utf16("\xff\xfe", 2);
    const QString text = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?><x>ação</x>");
    utf16.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    WriteFile(bom16, utf16);
    EXPECT_TRUE(LeTextoXml(bom16).endsWith(QStringLiteral("<x>ação</x>")));

    // Latin-1 bytes under a UTF-8 declaration are an error naming the file, never mojibake.
    const QString wrong = dir.filePath(QStringLiteral("errado.xml"));
    WriteFile(wrong, QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><x>Jo\xe3o</x>"));
    try {
        LeTextoXml(wrong);
        FAIL() << "invalid UTF-8 accepted";
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("errado.xml"))) << e.Message().toStdString();
    }
    EXPECT_THROW(LeTextoXml(dir.filePath(QStringLiteral("ausente.xml"))), Exception);
}

TEST(ImportFiles, MoveNeverReplacesOtherBytesAndLeavesNoSource)
{
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("nota.xml"));
    const QString dest = dir.filePath(QStringLiteral("Xml Processados/0001/"));
    WriteFile(dest + QStringLiteral("nota.xml"), "<antigo/>");
    WriteFile(dest + QStringLiteral("nota (2).xml"), "<outro/>");
    // Other bytes under the name: the first free suffix.
    WriteFile(src, "<novo/>");
    EXPECT_EQ(MoveArquivo(src, dest, QStringLiteral("nota.xml")), QStringLiteral("nota (3).xml"));
    EXPECT_FALSE(QFileInfo::exists(src));
    EXPECT_EQ(ReadFile(dest + QStringLiteral("nota.xml")), QByteArray("<antigo/>"));
    EXPECT_EQ(ReadFile(dest + QStringLiteral("nota (2).xml")), QByteArray("<outro/>"));
    EXPECT_EQ(ReadFile(dest + QStringLiteral("nota (3).xml")), QByteArray("<novo/>"));
    // The same bytes as a file filed before: one copy is enough, under the name it already has.
    WriteFile(src, "<outro/>");
    EXPECT_EQ(MoveArquivo(src, dest, QStringLiteral("nota.xml")), QStringLiteral("nota (2).xml"));
    EXPECT_EQ(QDir(dest).entryList(QDir::Files).size(), 3);
    // A name without an extension takes the suffix at its end.
    WriteFile(dest + QStringLiteral("semext"), "a");
    WriteFile(src, "b");
    EXPECT_EQ(MoveArquivo(src, dest, QStringLiteral("semext")), QStringLiteral("semext (2)"));
}

TEST(ImportFiles, MoveAcrossFileSystemsCopiesWholeAndThenDeletes)
{
    if (!QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        GTEST_SKIP() << "no second file system (/dev/shm) on this machine";
    QTemporaryDir dir;
    QTemporaryDir other(QStringLiteral("/dev/shm/vnd-import-XXXXXX"));
    ASSERT_TRUE(other.isValid());
    // The processed folder lives on another file system, as when it is a mounted share.
    ASSERT_TRUE(QFile::link(other.path(), dir.filePath(QStringLiteral("Xml Processados"))));
    const QString src = dir.filePath(QStringLiteral("grande.xml"));
    QByteArray big(3 * 1024 * 1024 + 17, 'x');
    big[12345] = 'y';
    WriteFile(src, big);
    MoveArquivo(src, dir.filePath(QStringLiteral("Xml Processados/0002/")), QStringLiteral("grande.xml"));
    EXPECT_FALSE(QFileInfo::exists(src));
    EXPECT_EQ(ReadFile(other.filePath(QStringLiteral("0002/grande.xml"))), big);
    // No partial copy is left behind.
    EXPECT_EQ(QDir(other.filePath(QStringLiteral("0002"))).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(ImportFiles, FailedMoveLeavesTheSourceInPlaceAndSaysWhy)
{
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("nota.xml"));
    WriteFile(src, "<a/>");
    // The processed folder cannot be made: a file of that name stands in the way.
    WriteFile(dir.filePath(QStringLiteral("Xml Processados")), "não sou pasta");
    try {
        MoveArquivo(src, dir.filePath(QStringLiteral("Xml Processados/0001/")), QStringLiteral("nota.xml"));
        FAIL() << "move into a file succeeded";
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("Xml Processados"))) << e.Message().toStdString();
    }
    EXPECT_EQ(ReadFile(src), QByteArray("<a/>"));
    // The target name is taken by a folder: the file takes the next free name, the folder is untouched.
    QDir().mkpath(dir.filePath(QStringLiteral("Xml Erro/nota.xml/sub")));
    EXPECT_EQ(MoveArquivo(src, dir.filePath(QStringLiteral("Xml Erro/")), QStringLiteral("nota.xml")),
              QStringLiteral("nota (2).xml"));
    EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("Xml Erro/nota (2).xml"))), QByteArray("<a/>"));
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("Xml Erro/nota.xml/sub"))).isDir());
}
