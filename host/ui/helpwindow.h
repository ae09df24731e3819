#pragma once
// The help window of the shell: a short page per screen, in HTML, found by the screen's help context
// (its code, "VND04400"). Modules ship their pages as Qt resources under ":/ajuda/", one file per
// screen named after the code in lower case ("vnd04400.html").

#include <QDialog>

class QTextBrowser;

namespace vnd
{

// The page of a screen code (any case), empty when the module shipped none.
QString HelpPage(const QString &screenCode);

// One window for every page, non-modal, kept above the screen that asked for it.
class HelpWindow : public QDialog
{
    Q_OBJECT
  public:
    explicit HelpWindow(QWidget *parent = nullptr);
    // Shows the page of the code; false when there is none.
    bool ShowPage(const QString &screenCode);
    QString ScreenCode() const { return m_code; }

    QTextBrowser *txtAjuda;

  private:
    QString m_code;
};

// Opens the help window on the screen's page; without a page, says that the help of the screen is not
// installed. Returns the window (nullptr when there was no page).
HelpWindow *ShowHelp(const QString &screenCode);

} // namespace vnd
