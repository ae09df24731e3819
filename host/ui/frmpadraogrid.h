#pragma once
// TfrmPadraoGrid: the list window, a child window of the host's main window. A read-only grid dbgPadrao
// over the data source dtsPadrao, the message table msgPadrao, a bar of flat buttons (insert, edit and
// delete, which screens that only list disable; print; refresh; help; close) with a menu entry for each,
// a footer panel for counts and notices, and the handlers derived screens override (calling the base
// first). Every handler runs through RunHandler. Tests show() a screen and call its handlers directly.

#include "host/messages.h"
#include "host/ui/modalscreen.h"

#include <QMainWindow>
#include <functional>

class QAction;
class QHBoxLayout;
class QLabel;
class QMdiSubWindow;
class QMenu;
class TButtonFlat;
class TDBGrid;
class TDataSource;

class TfrmPadraoGrid : public QMainWindow
{
    Q_OBJECT
  public:
    explicit TfrmPadraoGrid(QWidget *parent = nullptr);
    ~TfrmPadraoGrid() override;

    // Runs FormCreate once; the creator calls it after construction (see TfrmDialogoPadrao::Create).
    void Create();
    // Create() if not done, then shows the screen as a child window of the host's MDI area (a window of
    // its own when no host is registered) and brings it to the front.
    void Show();
    // Closes the screen (its child window with it) through FormClose; false when it stays open.
    bool Close();
    // The screen code shown at the right of the button bar ("VND04400").
    void SetScreenCode(const QString &code);
    QString ScreenCode() const;

    TDBGrid *dbgPadrao;
    TDataSource *dtsPadrao;
    TMessages msgPadrao;
    TButtonFlat *sbtIncluir;
    TButtonFlat *sbtAlterar;
    TButtonFlat *sbtExcluir;
    TButtonFlat *sbtImprimir;
    TButtonFlat *sbtVerificar;
    TButtonFlat *sbtAjuda;
    TButtonFlat *sbtFechar;
    QAction *mniIncluir;
    QAction *mniAlterar;
    QAction *mniExcluir;
    QAction *mniImprimir;
    QAction *mniVerificar;
    QAction *mniAjuda;
    QAction *mniFechar;
    // The "Registro" menu of the window.
    QMenu *mnuRegistro;
    // Panel under the grid for the derived screen's labels.
    QWidget *pnlRodape;

    virtual void FormCreate();
    // Runs when the screen closes; action starts as caFree (the screen is destroyed); caNone keeps it.
    virtual void FormClose(TCloseAction &action);
    // A key pressed in the grid; setting key to 0 consumes it. The base handles F5 (refresh), Insert and
    // Delete when their buttons are enabled.
    virtual void dbgPadraoKeyDown(int &key, Qt::KeyboardModifiers shift);
    // Runs on each state change of the data source and when its rows change (a page appended changes no
    // state but changes what the buttons may do). The base enables insert with an open data set and
    // edit/delete with a current record; print and refresh stay as they are.
    virtual void dtsPadraoStateChange();
    // Hooks of the buttons. The base refresh reopens a query behind the data source; the base delete
    // asks "Excl" and deletes the current row; insert, edit and print are the derived screen's.
    virtual void sbtIncluirClick();
    virtual void sbtAlterarClick();
    virtual void sbtExcluirClick();
    virtual void sbtImprimirClick();
    virtual void sbtVerificarClick();
    virtual void sbtAjudaClick();
    virtual void sbtFecharClick();

  protected:
    // Adds an entry to the "Registro" menu before the given one (nullptr: at its end); the shortcut works
    // while this window or one of its controls has the focus.
    QAction *AddMenuEntry(const QString &text, const QKeySequence &shortcut, std::function<void()> handler,
                          QAction *before = nullptr);
    // Adds a derived screen's button to the bar before the print button (or before the given one).
    void InsertButton(TButtonFlat *button, QWidget *before = nullptr);
    // Enables a button and its menu entry together.
    static void SetEnabled(TButtonFlat *button, QAction *entry, bool enabled);
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    QMdiSubWindow *SubWindow() const;
    // Settings key of the child window's last geometry.
    QString GeometryKey() const;
    QAction *AddEntry(QMenu *menu, const QString &text, const QKeySequence &shortcut,
                      void (TfrmPadraoGrid::*handler)());

    QHBoxLayout *m_buttons;
    QLabel *m_code;
    bool m_created = false;
};
