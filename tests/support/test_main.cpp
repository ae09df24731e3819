// Test entry: an offscreen Qt application with the Brazilian locale pinned, then GoogleTest.
#include "tests/support/server_fixture.h"

#include <QApplication>
#include <QLocale>
#include <QSettings>
#include <QStandardPaths>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    QApplication app(argc, argv);
    // Remembered folders and window places go to a test area, never into the user's settings.
    QStandardPaths::setTestModeEnabled(true);
    QSettings().clear();
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    vndtest::StopSharedServer();
    return result;
}
