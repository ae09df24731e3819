#include "host/ui/frmpadraogrid.h"

#include "host/platform.h"
#include "host/query.h"
#include "host/ui/controls.h"
#include "host/ui/datasource.h"
#include "host/ui/dbgrid.h"
#include "host/ui/frmdialogos.h"
#include "host/ui/handlers.h"
#include "host/ui/helpwindow.h"
#include "host/ui/hostwindow.h"
#include "host/ui/producticon.h"

#include <QCloseEvent>
#include <QFrame>
#include <QHash>
#include <QLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QVBoxLayout>

namespace
{
// The Alt letters avoid those of the host's and this window's menus (A, M, J, U, R).
QChar Shortcut(const QString &caption)
{
    static const QHash<QString, QChar> letters{
        {QStringLiteral("Incluir"), QLatin1Char('n')},   {QStringLiteral("Alterar"), QLatin1Char('l')},
        {QStringLiteral("Excluir"), QLatin1Char('x')},   {QStringLiteral("Imprimir"), QLatin1Char('i')},
        {QStringLiteral("Atualizar"), QLatin1Char('z')}, {QStringLiteral("Ajuda"), QLatin1Char('d')},
        {QStringLiteral("Fechar"), QLatin1Char('h')}};
    return letters.value(caption);
}

TButtonFlat *MakeButton(QWidget *parent, const char *name, const QString &caption, const QString &theme,
                        QStyle::StandardPixmap fallback)
{
    auto *b = new TButtonFlat(parent, vnd::Mnemonic(caption, Shortcut(caption)), caption);
    b->setObjectName(QString::fromLatin1(name));
    b->SetGlyph(theme, fallback);
    return b;
}
} // namespace

TfrmPadraoGrid::TfrmPadraoGrid(QWidget *parent) : QMainWindow(parent)
{
    msgPadrao.Add(QStringLiteral("Excl|Confirma exclusão?"));
    dtsPadrao = new TDataSource(this);
    dtsPadrao->setObjectName(QStringLiteral("dtsPadrao"));

    auto *central = new QWidget(this);
    auto *bar = new QFrame(central);
    bar->setObjectName(QStringLiteral("pnlBotoes"));
    bar->setFrameShape(QFrame::StyledPanel);
    m_buttons = new QHBoxLayout(bar);
    m_buttons->setContentsMargins(4, 2, 8, 2);
    m_buttons->setSpacing(2);

    sbtIncluir = MakeButton(bar, "sbtIncluir", QStringLiteral("Incluir"), QStringLiteral("document-new"),
                            QStyle::SP_FileDialogNewFolder);
    sbtAlterar = MakeButton(bar, "sbtAlterar", QStringLiteral("Alterar"), QStringLiteral("document-edit"),
                            QStyle::SP_FileDialogDetailedView);
    sbtExcluir = MakeButton(bar, "sbtExcluir", QStringLiteral("Excluir"), QStringLiteral("edit-delete"),
                            QStyle::SP_TrashIcon);
    sbtImprimir = MakeButton(bar, "sbtImprimir", QStringLiteral("Imprimir"), QStringLiteral("document-print"),
                             QStyle::SP_FileIcon);
    sbtVerificar = MakeButton(bar, "sbtVerificar", QStringLiteral("Atualizar"),
                              QStringLiteral("view-refresh"), QStyle::SP_BrowserReload);
    sbtAjuda = MakeButton(bar, "sbtAjuda", QStringLiteral("Ajuda"), QStringLiteral("help-contents"),
                          QStyle::SP_DialogHelpButton);
    sbtFechar = MakeButton(bar, "sbtFechar", QStringLiteral("Fechar"), QStringLiteral("window-close"),
                           QStyle::SP_DialogCloseButton);
    for (TButtonFlat *b :
         {sbtIncluir, sbtAlterar, sbtExcluir, sbtImprimir, sbtVerificar, sbtAjuda, sbtFechar})
        m_buttons->addWidget(b);
    m_buttons->addStretch(1);
    m_code = new QLabel(bar);
    m_code->setObjectName(QStringLiteral("lblCodigoTela"));
    QFont bold = m_code->font();
    bold.setBold(true);
    m_code->setFont(bold);
    m_buttons->addWidget(m_code);

    dbgPadrao = new TDBGrid(central);
    dbgPadrao->setObjectName(QStringLiteral("dbgPadrao"));
    dbgPadrao->SetDataSource(dtsPadrao);
    dbgPadrao->installEventFilter(this);

    pnlRodape = new QWidget(central);
    pnlRodape->setObjectName(QStringLiteral("pnlRodape"));

    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(bar);
    layout->addWidget(dbgPadrao, 1);
    layout->addWidget(pnlRodape);
    setCentralWidget(central);

    QMenu *menu = menuBar()->addMenu(QStringLiteral("&Registro"));
    mnuRegistro = menu;
    mniIncluir = AddEntry(menu, QStringLiteral("&Incluir"), Qt::Key_Insert, &TfrmPadraoGrid::sbtIncluirClick);
    mniAlterar = AddEntry(menu, QStringLiteral("&Alterar"), {}, &TfrmPadraoGrid::sbtAlterarClick);
    mniExcluir = AddEntry(menu, QStringLiteral("&Excluir"), {}, &TfrmPadraoGrid::sbtExcluirClick);
    menu->addSeparator();
    mniImprimir =
        AddEntry(menu, QStringLiteral("Im&primir"), QKeySequence::Print, &TfrmPadraoGrid::sbtImprimirClick);
    mniVerificar = AddEntry(menu, QStringLiteral("A&tualizar"), QKeySequence::Refresh,
                            &TfrmPadraoGrid::sbtVerificarClick);
    menu->addSeparator();
    mniFechar = AddEntry(menu, QStringLiteral("&Fechar"), {}, &TfrmPadraoGrid::sbtFecharClick);
    mniAjuda = AddEntry(menuBar()->addMenu(QStringLiteral("Aj&uda")), QStringLiteral("&Ajuda"),
                        QKeySequence::HelpContents, &TfrmPadraoGrid::sbtAjudaClick);

    vnd::Connect(sbtIncluir, &QToolButton::clicked, this, [this] { sbtIncluirClick(); });
    vnd::Connect(sbtAlterar, &QToolButton::clicked, this, [this] { sbtAlterarClick(); });
    vnd::Connect(sbtExcluir, &QToolButton::clicked, this, [this] { sbtExcluirClick(); });
    vnd::Connect(sbtImprimir, &QToolButton::clicked, this, [this] { sbtImprimirClick(); });
    vnd::Connect(sbtVerificar, &QToolButton::clicked, this, [this] { sbtVerificarClick(); });
    vnd::Connect(sbtAjuda, &QToolButton::clicked, this, [this] { sbtAjudaClick(); });
    vnd::Connect(sbtFechar, &QToolButton::clicked, this, [this] { sbtFecharClick(); });
    vnd::Connect(dtsPadrao, &TDataSource::stateChange, this, [this] { dtsPadraoStateChange(); });
    vnd::Connect(dtsPadrao, &TDataSource::dataChange, this, [this] { dtsPadraoStateChange(); });
    setWindowIcon(vnd::ProductIcon());
    resize(960, 560);
}

TfrmPadraoGrid::~TfrmPadraoGrid() = default;

QAction *TfrmPadraoGrid::AddMenuEntry(const QString &text, const QKeySequence &shortcut,
                                      std::function<void()> handler, QAction *before)
{
    auto *entry = new QAction(text, this);
    mnuRegistro->insertAction(before, entry);
    entry->setShortcut(shortcut);
    entry->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(entry);
    vnd::Connect(entry, &QAction::triggered, this, std::move(handler));
    return entry;
}

QAction *TfrmPadraoGrid::AddEntry(QMenu *menu, const QString &text, const QKeySequence &shortcut,
                                  void (TfrmPadraoGrid::*handler)())
{
    QAction *entry = menu->addAction(text);
    entry->setShortcut(shortcut);
    // The shortcut belongs to this child window, not to the host window around all of them.
    entry->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(entry);
    vnd::Connect(entry, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    return entry;
}

void TfrmPadraoGrid::Create()
{
    if (m_created)
        return;
    m_created = true;
    FormCreate();
}

void TfrmPadraoGrid::Show()
{
    Create();
    QMdiArea *area = vnd::HostMdiArea();
    QMdiSubWindow *sub = SubWindow();
    if (area && !sub) {
        sub = area->addSubWindow(this);
        sub->setWindowIcon(windowIcon());
        // Where the user left this screen last time, else its own size within the area.
        const QRect saved = QSettings().value(GeometryKey()).toRect();
        if (saved.isValid() && area->viewport()->rect().intersects(saved)) {
            sub->setGeometry(saved);
        } else {
            // The host window grows, within its screen, to give the screen the room it asks for.
            QWidget *host = area->window();
            const QSize missing = (size() + QSize(16, 40)) - area->viewport()->size();
            if (host && !host->isMaximized() && !host->isFullScreen() && (missing.width() > 0 || missing.height() > 0)) {
                QSize wanted = host->size() + missing.expandedTo(QSize(0, 0));
                if (const QScreen *screen = host->screen())
                    wanted = wanted.boundedTo(screen->availableSize() - (host->frameGeometry().size() - host->size()));
                host->resize(wanted);
                if (host->layout())
                    host->layout()->activate();
            }
            const QSize room = area->viewport()->size();
            sub->resize(room.isEmpty() ? size() : size().boundedTo(room));
        }
    }
    if (sub) {
        sub->show();
        if (QMdiArea *owner = sub->mdiArea())
            owner->setActiveSubWindow(sub);
    }
    show();
    raise();
    activateWindow();
    dbgPadrao->setFocus();
}

bool TfrmPadraoGrid::Close()
{
    if (QMdiSubWindow *sub = SubWindow())
        return sub->close();
    return close();
}

void TfrmPadraoGrid::SetScreenCode(const QString &code)
{
    m_code->setText(code);
}

QString TfrmPadraoGrid::ScreenCode() const
{
    return m_code->text();
}

QString TfrmPadraoGrid::GeometryKey() const
{
    return QStringLiteral("janelas/") + ScreenCode();
}

QMdiSubWindow *TfrmPadraoGrid::SubWindow() const
{
    return qobject_cast<QMdiSubWindow *>(parentWidget());
}

void TfrmPadraoGrid::InsertButton(TButtonFlat *button, QWidget *before)
{
    button->setParent(sbtImprimir->parentWidget());
    const int at = m_buttons->indexOf(before ? before : sbtImprimir);
    m_buttons->insertWidget(at >= 0 ? at : m_buttons->indexOf(sbtImprimir), button);
}

void TfrmPadraoGrid::SetEnabled(TButtonFlat *button, QAction *entry, bool enabled)
{
    if (button)
        button->setEnabled(enabled);
    if (entry)
        entry->setEnabled(enabled);
}

void TfrmPadraoGrid::FormCreate()
{
    dtsPadraoStateChange();
}

void TfrmPadraoGrid::FormClose(TCloseAction &) {}

void TfrmPadraoGrid::dbgPadraoKeyDown(int &key, Qt::KeyboardModifiers shift)
{
    if (shift & (Qt::ControlModifier | Qt::AltModifier))
        return;
    const auto run = [&key](TButtonFlat *button, auto handler) {
        if (button->isEnabled()) {
            key = 0;
            handler();
        }
    };
    switch (key) {
    case Qt::Key_F5:
        run(sbtVerificar, [this] { sbtVerificarClick(); });
        break;
    case Qt::Key_Insert:
        run(sbtIncluir, [this] { sbtIncluirClick(); });
        break;
    case Qt::Key_Delete:
        run(sbtExcluir, [this] { sbtExcluirClick(); });
        break;
    default:
        break;
    }
}

void TfrmPadraoGrid::dtsPadraoStateChange()
{
    // Neither the edit state nor a count: a loop that edits every row of a long list passes here twice
    // per row, and must neither toggle the buttons nor count a filtered list each time.
    TClientDataSet *data = dtsPadrao->DataSet();
    const bool active = data && data->Active();
    const bool onRow = active && data->RecNo() >= 0;
    SetEnabled(sbtIncluir, mniIncluir, active);
    SetEnabled(sbtAlterar, mniAlterar, onRow);
    SetEnabled(sbtExcluir, mniExcluir, onRow);
}

void TfrmPadraoGrid::sbtIncluirClick() {}

void TfrmPadraoGrid::sbtAlterarClick() {}

void TfrmPadraoGrid::sbtExcluirClick()
{
    TClientDataSet *data = dtsPadrao->DataSet();
    if (!data || !data->Active() || data->IsEmpty() || data->RecNo() < 0)
        return;
    if (Platform().AskYesNo(msgPadrao.Msg(QStringLiteral("Excl"))))
        data->Delete();
}

void TfrmPadraoGrid::sbtImprimirClick() {}

void TfrmPadraoGrid::sbtVerificarClick()
{
    if (auto *query = qobject_cast<TADOIBQuery *>(dtsPadrao->DataSet())) {
        vnd::BusyGuard busy;
        query->Open();
    }
}

void TfrmPadraoGrid::sbtAjudaClick()
{
    vnd::ShowHelp(ScreenCode());
}

void TfrmPadraoGrid::sbtFecharClick()
{
    Close();
}

void TfrmPadraoGrid::closeEvent(QCloseEvent *event)
{
    TCloseAction action = TCloseAction::caFree;
    bool closed = false;
    vnd::RunHandler([&] {
        FormClose(action);
        closed = true;
    });
    if (!closed || action == TCloseAction::caNone) {
        event->ignore();
        return;
    }
    event->accept();
    QMdiSubWindow *sub = SubWindow();
    if (sub && sub->mdiArea() && !ScreenCode().isEmpty() && !sub->isMaximized() && !sub->isMinimized())
        QSettings().setValue(GeometryKey(), sub->geometry());
    if (action == TCloseAction::caFree)
        (sub ? static_cast<QWidget *>(sub) : this)->setAttribute(Qt::WA_DeleteOnClose);
    // The child window closes with the screen (and takes it along when it is to be freed). When the
    // close came from the child window itself, this call returns at once: Qt ignores a nested close.
    if (sub)
        sub->close();
}

bool TfrmPadraoGrid::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == dbgPadrao && event->type() == QEvent::KeyPress) {
        auto *keyEvent = static_cast<QKeyEvent *>(event);
        int key = keyEvent->key();
        const Qt::KeyboardModifiers shift = keyEvent->modifiers();
        vnd::RunHandler([&] { dbgPadraoKeyDown(key, shift); });
        if (key == 0)
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}
