// vnd-host: the back-office shell. Reads its settings (--config FILE, environment), signs the session
// in, opens its database and shows the main window; --open MODULE opens a module at start and
// --screenshot FILE saves a picture of the window after a moment and quits (headless runs).

#include "host/app/hostconfig.h"
#include "host/app/mainwindow.h"
#include "host/errors.h"
#include "host/ui/qtplatform.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QTimer>
#include <QTranslator>
#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vnd-host"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quorvel Retaguarda"));
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    // Qt's own dialog texts (the folder dialog's views, context menus) in Portuguese where installed.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Retaguarda: janela principal e módulos"));
    parser.addHelpOption();
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("Arquivo de configuração (INI)."), QStringLiteral("FILE"));
    const QCommandLineOption open(QStringLiteral("open"),
                                  QStringLiteral("Módulo aberto ao iniciar (ex.: VND04400)."),
                                  QStringLiteral("MODULE"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Salva a imagem da janela neste PNG e encerra."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption delay(QStringLiteral("screenshot-delay"),
                                   QStringLiteral("Espera antes da imagem, em ms (padrão 2500)."),
                                   QStringLiteral("MS"), QStringLiteral("2500"));
    parser.addOptions({config, open, screenshot, delay});
    parser.process(app);

    SetPlatform(std::make_shared<vnd::QtPlatform>());

    vnd::HostConfig settings;
    QStringList problems;
    try {
        settings = vnd::LoadHostConfig(parser.value(config), QProcessEnvironment::systemEnvironment());
        problems = vnd::ApplySession(settings);
    } catch (const Exception &e) {
        std::fprintf(stderr, "vnd-host: %s\n", e.Message().toUtf8().constData());
        if (!parser.isSet(screenshot))
            Platform().Error(e.Message());
        return 2;
    }
    const QString database = vnd::OpenConfiguredDatabase(settings);
    if (!database.isEmpty())
        problems << database;
    for (const QString &p : problems)
        std::fprintf(stderr, "vnd-host: %s\n", p.toUtf8().constData());

    vnd::MainWindow window(settings);
    window.ShowProblems(problems);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        window.resize(window.size().boundedTo(screen->availableSize()));
    window.show();

    if (parser.isSet(open)) {
        const QString module = parser.value(open);
        QTimer::singleShot(0, &window,
                           [&window, module] { vnd::RunHandler([&] { window.OpenModule(module); }); });
    }
    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        QTimer::singleShot(parser.value(delay).toInt(), &window, [&window, file] {
            const bool saved = vnd::SaveScreenshot(window, file);
            std::fprintf(saved ? stdout : stderr,
                         saved ? "vnd-host: imagem salva em %s\n" : "vnd-host: não foi possível salvar %s\n",
                         file.toUtf8().constData());
            // Leaves every event loop, a modal dialog's included.
            QCoreApplication::exit(saved ? 0 : 1);
        });
    }
    return app.exec();
}
