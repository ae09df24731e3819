#include "host/ui/qtplatform.h"

#include "host/ui/busyoverlay.h"
#include "host/ui/folderdialog.h"
#include "host/ui/hostwindow.h"
#include "host/ui/rowchooser.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>

namespace vnd
{

namespace
{

// A box asks for the user's attention: while it is open the arrow replaces an hourglass set by the work
// that shows it.
class ArrowWhileOpen
{
  public:
    ArrowWhileOpen() : m_on(QApplication::overrideCursor() != nullptr)
    {
        if (m_on)
            QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~ArrowWhileOpen()
    {
        if (m_on)
            QApplication::restoreOverrideCursor();
    }
    ArrowWhileOpen(const ArrowWhileOpen &) = delete;
    ArrowWhileOpen &operator=(const ArrowWhileOpen &) = delete;

  private:
    bool m_on;
};

void ShowBox(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    ArrowWhileOpen arrow;
    QMessageBox box(icon, title, text, QMessageBox::NoButton, DialogParent());
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

} // namespace

QtPlatform::QtPlatform() = default;

BusyOverlay *QtPlatform::Overlay() const
{
    return m_overlay.data();
}

QtPlatform::~QtPlatform()
{
    if (m_overlay)
        m_overlay->deleteLater();
}

bool QtPlatform::AskYesNo(const QString &text)
{
    ArrowWhileOpen arrow;
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmação"), text, QMessageBox::NoButton,
                    DialogParent());
    QPushButton *yes = box.addButton(QStringLiteral("Sim"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("Não"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void QtPlatform::Info(const QString &text)
{
    ShowBox(QMessageBox::Information, QStringLiteral("Informação"), text);
}

void QtPlatform::Error(const QString &text)
{
    ShowBox(QMessageBox::Critical, QStringLiteral("Erro"), text);
}

bool QtPlatform::SelectFolder(const QString &caption, QString &folder)
{
    ArrowWhileOpen arrow;
    FolderDialog dialog(DialogParent(), caption, folder);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QString chosen = dialog.Folder();
    if (chosen.isEmpty())
        return false;
    folder = chosen;
    return true;
}

void QtPlatform::SetHourglass(bool on)
{
    if (on) {
        ++m_hourglass;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (m_hourglass > 0) {
        --m_hourglass;
        QApplication::restoreOverrideCursor();
    }
}

void QtPlatform::BusyShow()
{
    if (!m_busyCursor) {
        m_busyCursor = true;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    QWidget *covered = QApplication::activeModalWidget();
    if (!covered)
        covered = HostMainWindow();
    if (!covered)
        covered = QApplication::activeWindow();
    if (!covered || m_overlay)
        return;
    m_overlay = new BusyOverlay(covered);
    m_overlay->show();
    m_overlay->raise();
    // Paint now: the work that follows blocks the event loop.
    m_sincePump.invalidate();
    Pump();
}

void QtPlatform::BusyProgress(const QString &text)
{
    if (!m_overlay)
        return;
    // Keeping the text is cheap; the repaint is what costs, hence the throttle.
    m_overlay->SetText(text);
    if (m_sincePump.isValid() && m_sincePump.elapsed() < 50)
        return;
    Pump();
}

void QtPlatform::Pump()
{
    m_sincePump.start();
    m_overlay->repaint();
    // User input stays queued: the busy indicator must not let a click start a second operation.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void QtPlatform::BusyHide()
{
    if (m_overlay) {
        m_overlay->hide();
        m_overlay->deleteLater();
        m_overlay = nullptr;
    }
    if (m_busyCursor) {
        m_busyCursor = false;
        QApplication::restoreOverrideCursor();
    }
}

bool QtPlatform::ChooseRows(const QString &title, TClientDataSet &data, bool multiple, std::vector<int> &rows)
{
    ArrowWhileOpen arrow;
    return RowChooserDialog::Choose(title, data, multiple, rows);
}

int QtPlatform::RunModal(QDialog &dialog)
{
    ArrowWhileOpen arrow;
    return dialog.exec();
}

} // namespace vnd
