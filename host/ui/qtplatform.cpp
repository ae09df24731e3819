#include "host/ui/qtplatform.h"

#include "host/ui/busyoverlay.h"
#include "host/ui/folderdialog.h"
#include "host/ui/hostwindow.h"
#include "host/ui/rowchooser.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
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
    // Each purpose (its caption) starts where the user left it last time.
    QSettings settings;
    const QString key = QStringLiteral("pastas/") + QString::fromLatin1(caption.toUtf8().toBase64(QByteArray::Base64UrlEncoding));
    QString start = folder;
    if (start.isEmpty())
        start = settings.value(key).toString();
    if (!start.isEmpty() && !QFileInfo(start).isDir())
        start = QFileInfo(start).absolutePath();
    if (start.isEmpty() || !QFileInfo(start).isDir())
        start = QDir::homePath();
    FolderDialog dialog(DialogParent(), caption, start);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QString chosen = dialog.Folder();
    if (chosen.isEmpty())
        return false;
    folder = chosen;
    settings.setValue(key, chosen);
    return true;
}

QString QtPlatform::SaveFileName(const QString &caption, const QString &purpose, const QString &suggested,
                                 const QString &filter)
{
    ArrowWhileOpen arrow;
    QSettings settings;
    const QString key = QStringLiteral("pastas/") + purpose;
    QString start = settings.value(key).toString();
    if (start.isEmpty() || !QFileInfo(start).isDir())
        start = QDir::homePath();
    QFileDialog dialog(DialogParent(), caption, QDir(start).filePath(suggested), filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Salvar em:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Nome do arquivo:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Tipo:"));
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Salvar"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Cancelar"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    const QString file = dialog.selectedFiles().first();
    settings.setValue(key, QFileInfo(file).absolutePath());
    return file;
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

bool QtPlatform::BusyCancelRequested()
{
    if (!m_overlay)
        return false;
    if (!m_overlay->CancelOffered()) {
        m_overlay->OfferCancel();
        m_sincePump.invalidate();
        Pump();
    }
    return m_overlay->Cancelled();
}

void QtPlatform::Pump()
{
    m_sincePump.start();
    m_overlay->repaint();
    // The indicator itself drops the input meant for the window it covers (a click must not start a
    // second operation) and lets its "Cancelar" button through.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
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
