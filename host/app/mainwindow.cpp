#include "host/app/mainwindow.h"

#include "host/app/modules.h"
#include "host/session.h"
#include "host/ui/handlers.h"
#include "host/ui/hostwindow.h"
#include "host/ui/producticon.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QWindow>

namespace vnd
{

MainWindow::MainWindow(const HostConfig &config, QWidget *parent) : QMainWindow(parent), m_config(config)
{
    setObjectName(QStringLiteral("frmPrincipal"));
    setWindowTitle(QStringLiteral("Quorvel Retaguarda"));
    setWindowIcon(ProductIcon());
    m_mdiArea = new QMdiArea(this);
    m_mdiArea->setObjectName(QStringLiteral("mdiPrincipal"));
    m_mdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdiArea->setBackground(QColor(0x5a, 0x6e, 0x82));
    setCentralWidget(m_mdiArea);

    m_session = new QLabel(this);
    m_problems = new QLabel(this);
    m_problems->setStyleSheet(QStringLiteral("color: #b00000;"));
    statusBar()->addWidget(m_session);
    statusBar()->addPermanentWidget(m_problems);

    BuildMenus();
    UpdateStatus();
    SetHostWindow(this, m_mdiArea);
    resize(1200, 760);
}

MainWindow::~MainWindow()
{
    if (HostMainWindow() == this)
        SetHostWindow(nullptr, nullptr);
}

void MainWindow::BuildMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("&Arquivo"));
    QAction *quit = file->addAction(QStringLiteral("Sai&r"));
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QMenu *modules = menuBar()->addMenu(QStringLiteral("&Módulos"));
    for (const ModuleEntry &m : KnownModules()) {
        QAction *entry = modules->addAction(m.code + QStringLiteral(" - ") + m.title);
        entry->setObjectName(QStringLiteral("mni") + m.code);
        const QString code = m.code;
        Connect(entry, &QAction::triggered, this, [this, code] { OpenModule(code); });
    }

    QMenu *windows = menuBar()->addMenu(QStringLiteral("&Janela"));
    connect(windows->addAction(QStringLiteral("&Cascata")), &QAction::triggered, m_mdiArea,
            &QMdiArea::cascadeSubWindows);
    connect(windows->addAction(QStringLiteral("&Lado a lado")), &QAction::triggered, m_mdiArea,
            &QMdiArea::tileSubWindows);
    windows->addSeparator();
    connect(windows->addAction(QStringLiteral("&Fechar todas")), &QAction::triggered, m_mdiArea,
            &QMdiArea::closeAllSubWindows);

    QMenu *help = menuBar()->addMenu(QStringLiteral("Aj&uda"));
    Connect(help->addAction(QStringLiteral("&Sobre")), &QAction::triggered, this, [] {
        Platform().Info(
            QStringLiteral("Quorvel Retaguarda\nMódulos de vendas: geração e importação de XML fiscal "
                           "(NFC-e e SAT CF-e)."));
    });
}

void MainWindow::UpdateStatus()
{
    m_session->setText(QStringLiteral("Servidor: %1:%2   Operador: %3   Filial: %4%5")
                           .arg(Quorvel::WebURL)
                           .arg(Quorvel::WebPort)
                           .arg(Quorvel::Operador.isEmpty() ? QStringLiteral("-") : Quorvel::Operador)
                           .arg(Quorvel::FiliProc.isEmpty() ? QStringLiteral("-") : Quorvel::FiliProc)
                           .arg(Quorvel::ModuFili ? QStringLiteral(" (somente esta filial)") : QString()));
}

void MainWindow::ShowProblems(const QStringList &problems)
{
    UpdateStatus();
    m_problems->setText(problems.join(QStringLiteral("   ")));
    // The status bar cuts long paths; the whole text stays one hover away.
    m_problems->setToolTip(problems.join(QLatin1Char('\n')));
}

void MainWindow::OpenModule(const QString &nameOrPath)
{
    vnd::OpenModule(ModuleFile(m_config.moduleDir, nameOrPath));
}

void MainWindow::RestorePlace()
{
    const QByteArray saved = QSettings().value(QStringLiteral("janelas/principal")).toByteArray();
    if (!saved.isEmpty())
        restoreGeometry(saved);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // The place is kept before the child windows go, whatever they decide.
    QSettings().setValue(QStringLiteral("janelas/principal"), saveGeometry());
    // Each child window closes through its screen, which may refuse.
    m_mdiArea->closeAllSubWindows();
    if (!m_mdiArea->subWindowList().isEmpty()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

bool SaveScreenshot(QWidget &window, const QString &file)
{
    QPixmap picture;
    // The screen's pixels include a modal dialog shown over the window; a platform without a screen
    // to read (offscreen) gives nothing, and the window's own rendering stands in.
    if (QScreen *screen = window.screen()) {
        const QRect frame = window.frameGeometry();
        picture = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    }
    if (picture.isNull() || picture.size().isEmpty())
        picture = window.grab();
    return picture.save(file, "PNG");
}

} // namespace vnd
