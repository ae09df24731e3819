#include "host/ui/modalscreen.h"

#include "host/platform.h"
#include "host/ui/controls.h"
#include "host/ui/producticon.h"
#include "host/ui/uiplatform.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QShowEvent>
#include <QVBoxLayout>

TfrmDialogoPadrao::TfrmDialogoPadrao(QWidget *parent) : QDialog(parent)
{
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowIcon(vnd::ProductIcon());
    auto *bar = new QFrame(this);
    bar->setObjectName(QStringLiteral("pnlBotoes"));
    bar->setFrameShape(QFrame::StyledPanel);
    m_buttons = new QHBoxLayout(bar);
    m_buttons->setContentsMargins(4, 2, 8, 2);
    m_buttons->setSpacing(2);
    m_buttons->addStretch(1);
    m_code = new QLabel(bar);
    m_code->setObjectName(QStringLiteral("lblCodigoTela"));
    QFont bold = m_code->font();
    bold.setBold(true);
    m_code->setFont(bold);
    m_buttons->addWidget(m_code);

    pnlClient = new QWidget(this);
    pnlClient->setObjectName(QStringLiteral("pnlClient"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(bar);
    layout->addWidget(pnlClient, 1);
}

void TfrmDialogoPadrao::Create()
{
    if (m_created)
        return;
    m_created = true;
    FormCreate();
}

int TfrmDialogoPadrao::ShowModal()
{
    Create();
    return vnd::RunModal(*this);
}

void TfrmDialogoPadrao::SetScreenCode(const QString &code)
{
    m_code->setText(code);
}

QString TfrmDialogoPadrao::ScreenCode() const
{
    return m_code->text();
}

void TfrmDialogoPadrao::FormCreate() {}

void TfrmDialogoPadrao::FormActivate() {}

void TfrmDialogoPadrao::FormClose(TCloseAction &) {}

void TfrmDialogoPadrao::InsertButton(TButtonFlat *button, QWidget *before)
{
    button->setParent(m_buttons->parentWidget());
    const int at = before ? m_buttons->indexOf(before) : -1;
    // The stretch and the code label stay last.
    m_buttons->insertWidget(at >= 0 ? at : m_buttons->count() - 2, button);
}

void TfrmDialogoPadrao::SetDefaultButton(TButtonFlat *button)
{
    if (m_default) {
        QFont plain = m_default->font();
        plain.setBold(false);
        m_default->setFont(plain);
    }
    m_default = button;
    if (button) {
        QFont bold = button->font();
        bold.setBold(true);
        button->setFont(bold);
    }
}

void TfrmDialogoPadrao::SetCancelButton(TButtonFlat *button)
{
    m_cancel = button;
}

void TfrmDialogoPadrao::OrderTabs()
{
    QList<QWidget *> client;
    QList<QWidget *> rest;
    QWidget *w = nextInFocusChain();
    for (int guard = 0; w && w != this && guard < 10000; ++guard, w = w->nextInFocusChain()) {
        if (!(w->focusPolicy() & Qt::TabFocus))
            continue;
        (pnlClient->isAncestorOf(w) ? client : rest).append(w);
    }
    const QList<QWidget *> order = client + rest;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    for (QWidget *first : client) {
        if (first->isVisibleTo(this) && first->isEnabled()) {
            first->setFocus(Qt::TabFocusReason);
            break;
        }
    }
}

void TfrmDialogoPadrao::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    if (!m_tabsOrdered) {
        m_tabsOrdered = true;
        OrderTabs();
    }
    vnd::RunHandler([this] { FormActivate(); });
}

void TfrmDialogoPadrao::keyPressEvent(QKeyEvent *event)
{
    const bool plain = !(event->modifiers() & ~Qt::KeypadModifier);
    TButtonFlat *target = nullptr;
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter))
        target = m_default;
    else if (plain && event->key() == Qt::Key_Escape)
        target = m_cancel;
    if (target) {
        event->accept();
        if (target->isVisible() && target->isEnabled())
            target->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmDialogoPadrao::done(int result)
{
    TCloseAction action = TCloseAction::caHide;
    bool closed = false;
    vnd::RunHandler([&] {
        FormClose(action);
        closed = true;
    });
    // A failed FormClose keeps the screen open, as caNone does.
    if (!closed || action == TCloseAction::caNone)
        return;
    QDialog::done(result);
    if (action == TCloseAction::caFree)
        deleteLater();
}
