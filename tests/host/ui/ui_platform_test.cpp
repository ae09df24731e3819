#include "host/ui/busyoverlay.h"
#include "host/ui/folderdialog.h"
#include "host/ui/hostwindow.h"
#include "host/ui/qtplatform.h"
#include "tests/support/scripted_platform.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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

    SetPlatform(previous);
    vnd::SetHostWindow(nullptr, nullptr);
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
