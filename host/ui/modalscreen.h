#pragma once
// TfrmDialogoPadrao: what the modal base screens share: a bar of flat buttons with the screen code at its
// right, a client panel for the derived screen's controls, the message table, and the life cycle
// handlers FormCreate, FormActivate and FormClose that derived screens override (calling the base first).
//
// Test hook: ShowModal() runs through vnd::RunModal, i.e. QDialog::exec() in the application; a test
// installs the scripted platform, which shows the dialog without a modal loop and lets the test drive it
// (fill controls, call handlers such as sbtConfirmaClick) before it returns. A test may as well show() a
// screen itself and call its handlers directly.

#include "host/messages.h"

#include <QDialog>

class QHBoxLayout;
class QLabel;
class TButtonFlat;

// What closing a screen does with it: stay open, hide (the creator keeps it), or destroy it.
enum class TCloseAction { caNone, caHide, caFree };

class TfrmDialogoPadrao : public QDialog
{
    Q_OBJECT
  public:
    explicit TfrmDialogoPadrao(QWidget *parent = nullptr);

    // Runs FormCreate once. The creator calls it after construction, when virtual calls reach the derived
    // screen; an exception leaves it to the creator (which then discards the screen).
    void Create();
    // Create() if not done, then runs the screen modally; returns the dialog result.
    int ShowModal();
    // The screen code shown at the right of the button bar ("VND04402").
    void SetScreenCode(const QString &code);
    QString ScreenCode() const;

    // The screen's message table.
    TMessages msgPadrao;
    // Panel of the derived screen's controls.
    QWidget *pnlClient;

    virtual void FormCreate();
    // Runs each time the screen is shown.
    virtual void FormActivate();
    // Runs whenever the screen closes (confirmation, cancellation, Escape, the window's close box);
    // action starts as caHide; caNone keeps it open, caFree destroys it afterwards.
    virtual void FormClose(TCloseAction &action);

    // Closes through FormClose; QDialog::accept/reject/close all come here.
    void done(int result) override;

    // The button that Enter clicks (shown in bold) and the one that Escape clicks; without a cancel
    // button Escape closes the screen as a cancellation.
    void SetDefaultButton(TButtonFlat *button);
    void SetCancelButton(TButtonFlat *button);
    TButtonFlat *DefaultButton() const { return m_default; }
    TButtonFlat *CancelButton() const { return m_cancel; }

  protected:
    // Adds a button to the bar, before the given one (nullptr: after the last).
    void InsertButton(TButtonFlat *button, QWidget *before = nullptr);
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

  private:
    // Tab goes through the screen's own controls in the order they were laid out, then the buttons;
    // the first control has the focus when the screen opens.
    void OrderTabs();

    QHBoxLayout *m_buttons;
    QLabel *m_code;
    bool m_created = false;
    bool m_tabsOrdered = false;
    TButtonFlat *m_default = nullptr;
    TButtonFlat *m_cancel = nullptr;
};
