#include "host/ui/busyoverlay.h"
#include "host/ui/folderdialog.h"
#include "host/ui/hostwindow.h"
#include "host/ui/qtplatform.h"
#include "tests/support/scripted_platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>

TEST(QtPlatform, BusyIndicatorCoversTheHostWindowOnceAndShowsTheCount)
{
    QMainWindow window;
    auto *area = new QMdiArea(&window);
    window.setCentralWidget(area);
    window.resize(800, 600);
    window.show();
    vnd::SetHostWindow(&window, area);
    auto platform = std::make_shared<vnd::QtPlatform>();
    const auto previous = SetPlatform(platform);

    ActiveShowAvi();
    ActiveShowAvi(); // nested sections share the indicator
    ASSERT_NE(platform->Overlay(), nullptr);
    EXPECT_EQ(platform->Overlay()->parentWidget(), &window);
    EXPECT_EQ(platform->Overlay()->geometry(), window.rect());
    EXPECT_EQ(window.findChildren<vnd::BusyOverlay *>().size(), 1);
    platform->BusyProgress(QStringLiteral("1 de 5000"));
    EXPECT_EQ(platform->Overlay()->Text(), QStringLiteral("1 de 5000"));
    DeactiveShowAvi();
    EXPECT_NE(platform->Overlay(), nullptr);
    DeactiveShowAvi();
    EXPECT_EQ(platform->Overlay(), nullptr);

    // Work that can stop asks; the first question offers "Cancelar", which the user presses.
    ActiveShowAvi();
    EXPECT_FALSE(platform->Overlay()->CancelOffered());
    EXPECT_FALSE(platform->BusyCancelRequested());
    EXPECT_TRUE(platform->Overlay()->CancelOffered());
    auto *cancel = platform->Overlay()->findChild<QPushButton *>(QStringLiteral("btnCancelarOcupado"));
    ASSERT_NE(cancel, nullptr);
    cancel->click();
    EXPECT_TRUE(platform->BusyCancelRequested());
    DeactiveShowAvi();
    ActiveShowAvi();
    EXPECT_FALSE(platform->BusyCancelRequested()) << "a new busy section starts afresh";
    DeactiveShowAvi();

    SetPlatform(previous);
    vnd::SetHostWindow(nullptr, nullptr);
}

TEST(FolderDialog, AFolderThatCannotBeCreatedSaysWhy)
{
    QTemporaryDir temp;
    QFile file(temp.filePath(QStringLiteral("arquivo")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QString reason;
    EXPECT_FALSE(vnd::CreateFolder(temp.filePath(QStringLiteral("arquivo/xml")), reason));
    EXPECT_EQ(reason, QStringLiteral("uma parte do caminho é um arquivo, não uma pasta"));
    EXPECT_FALSE(vnd::CreateFolder(temp.filePath(QStringLiteral("arquivo")), reason));
    EXPECT_EQ(reason, QStringLiteral("já existe um arquivo com esse nome"));
    EXPECT_TRUE(vnd::CreateFolder(temp.filePath(QStringLiteral("a/b/c")), reason));
    EXPECT_EQ(vnd::CreateFolderReason(EACCES), QStringLiteral("sem permissão para criar pastas neste local"));
}

TEST(FolderDialog, CreatesATypedFolderOnlyAfterTheUserAgrees)
{
    QTemporaryDir temp;
    const QString wanted = temp.filePath(QStringLiteral("xml/2024"));
    vndtest::ScopedPlatform platform;
    vnd::FolderDialog dialog(nullptr, QString(), temp.path());
    dialog.show();
    auto *typed = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(typed, nullptr);
    typed->setText(wanted);

    platform->ExpectQuestion(QStringLiteral("A pasta %1 não existe. Deseja criá-la?").arg(wanted), false);
    dialog.accept();
    EXPECT_FALSE(QFileInfo::exists(wanted));
    EXPECT_TRUE(dialog.isVisible());

    platform->ExpectQuestion(QStringLiteral("A pasta %1 não existe. Deseja criá-la?").arg(wanted), true);
    dialog.accept();
    EXPECT_TRUE(QFileInfo(wanted).isDir());
    EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
    EXPECT_EQ(dialog.Folder(), wanted);
}
