// vnd-host: the back-office shell. Reads its settings (--config FILE, environment), signs the session
// in, opens its database and shows the main window; --open MODULE opens a module at start and
// --screenshot FILE saves a picture of the window after a moment and quits (headless runs).

#include "host/app/hostconfig.h"
#include "host/app/mainwindow.h"
#include "host/errors.h"
#include "host/ui/producticon.h"
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

namespace
{
struct Options
{
    QCommandLineOption config{QStringLiteral("config"), QStringLiteral("Arquivo de configuração (INI)."),
                              QStringLiteral("FILE")};
    QCommandLineOption open{QStringLiteral("open"), QStringLiteral("Módulo aberto ao iniciar (ex.: VND04400)."),
                            QStringLiteral("MODULE")};
    QCommandLineOption screenshot{QStringLiteral("screenshot"),
                                  QStringLiteral("Salva a imagem da janela neste PNG e encerra."), QStringLiteral("FILE")};
    QCommandLineOption delay{QStringLiteral("screenshot-delay"),
                             QStringLiteral("Espera antes da imagem, em ms (padrão 2500)."), QStringLiteral("MS"),
                             QStringLiteral("2500")};
};

void Describe(QCommandLineParser &parser, const Options &o)
{
    parser.setApplicationDescription(
        QStringLiteral("Retaguarda: janela principal e módulos.\n"
                       "Servidor, operador, filial e banco vêm do INI (--config) ou do ambiente: VND_SERVER_HOST, "
                       "VND_SERVER_PORT, VND_TOKEN_FILE, VND_OPERADOR, VND_FILIAL, VND_MODUFILI, VND_DB_URL, "
                       "VND_MODULE_DIR."));
    parser.addHelpOption();
    parser.addOptions({o.config, o.open, o.screenshot, o.delay});
}

// The usage needs no display: it is printed before the application window system is opened.
bool AsksForHelp(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--help" || a == "-h" || a == "-?" || a == "--help-all")
            return true;
    }
    return false;
}
} // namespace

int main(int argc, char **argv)
{
    if (AsksForHelp(argc, argv)) {
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("vnd-host"));
        QTranslator usageTexts;
        if (usageTexts.load(QLocale(QLocale::Portuguese, QLocale::Brazil), QStringLiteral("qtbase"), QStringLiteral("_"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(&usageTexts);
        QCommandLineParser parser;
        Options o;
        Describe(parser, o);
        parser.process(core);
        parser.showHelp(0);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vnd-host"));
    QApplication::setOrganizationName(QStringLiteral("Quorvel"));
    // No application display name: Qt would append it to the title of every window and dialog.
    QApplication::setWindowIcon(vnd::ProductIcon());
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    // Qt's own dialog texts (the folder dialog's views, context menus) in Portuguese where installed.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    QCommandLineParser parser;
    const Options options;
    Describe(parser, options);
    parser.process(app);
    const QCommandLineOption &config = options.config;
    const QCommandLineOption &open = options.open;
    const QCommandLineOption &screenshot = options.screenshot;
    const QCommandLineOption &delay = options.delay;

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
    // Where the user left it, except for pictures, which are always taken alike.
    if (!parser.isSet(screenshot))
        window.RestorePlace();
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
