#pragma once
// Small controls of the framework: the flat button, the lookup button and SetChildEnabled.

#include <QToolButton>
#include <functional>

class QLineEdit;
class TDataSource;

// Flat toolbar button. The hint is its tooltip and status tip; clicked handlers are connected with
// vnd::Connect (handlers.h).
class TButtonFlat : public QToolButton
{
    Q_OBJECT
  public:
    explicit TButtonFlat(QWidget *parent = nullptr, const QString &caption = {}, const QString &hint = {});
    void SetHint(const QString &hint);
    QString Hint() const { return toolTip(); }
    // Icon from the desktop theme, or the style's standard one where the theme has none.
    void SetGlyph(const QString &themeName, int standardPixmap);
};

// Lookup button bound to a data source (and optionally an edit): a click runs OnBeforePesq (which opens
// the list and may refuse), shows EmptyError when the list is empty, else a single-choice list over the
// data set's visible fields; the data set moves to the chosen row and OnAfterPesq runs, then the edit
// gets the focus. Cancelling the choice runs nothing more.
class TBtnPesquisa : public TButtonFlat
{
    Q_OBJECT
  public:
    explicit TBtnPesquisa(QWidget *parent = nullptr);

    TDataSource *DataSource = nullptr;
    QLineEdit *Edit = nullptr;
    // Title of the list dialog.
    QString Title;
    // Message for an empty list; a general text when not set.
    QString EmptyError;
    std::function<void(QObject *sender, bool &proceed)> OnBeforePesq;
    std::function<void(QObject *sender)> OnAfterPesq;

    // What a click does, callable directly (the click runs it through RunHandler).
    void Pesquisa();
};

namespace vnd
{
// The text with its first `letter` (either case) marked as the Alt shortcut ("&Confirmar"); the text is
// returned unchanged when it has no such letter or already has a shortcut.
QString Mnemonic(const QString &text, QChar letter);
} // namespace vnd

// Enables or disables the direct child widgets of the control (the control itself stays as it is).
void SetChildEnabled(QWidget *control, bool enabled);
