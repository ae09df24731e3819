#pragma once
// The Qt implementation of the platform dialogs, installed by the host shell: message boxes with
// Portuguese buttons, the folder dialog that creates a typed folder, the hourglass cursor and the busy
// indicator drawn over the main window (or over the modal dialog the user is looking at).

#include "host/ui/uiplatform.h"

#include <QElapsedTimer>
#include <QPointer>

namespace vnd
{

class BusyOverlay;

class QtPlatform : public IUiPlatform
{
  public:
    QtPlatform();
    ~QtPlatform() override;

    // Question box (question icon) with "Sim" and "Não"; true for "Sim". Escape answers "Não".
    bool AskYesNo(const QString &text) override;
    // Information box with "OK".
    void Info(const QString &text) override;
    // Error box with "OK".
    void Error(const QString &text) override;
    // Folder dialog starting at folder; a typed folder that does not exist is created after asking.
    bool SelectFolder(const QString &caption, QString &folder) override;
    // Qt's file dialog for saving, starting in the folder last used for the purpose.
    QString SaveFileName(const QString &caption, const QString &purpose, const QString &suggested,
                         const QString &filter) override;
    // Hourglass cursor over the whole application; calls nest.
    void SetHourglass(bool on) override;
    // Busy indicator over the window the user sees; shown at once, repainted by BusyProgress.
    void BusyShow() override;
    // Shows the count text and lets the indicator repaint, at most about 20 times a second: calling it
    // for every row of a long loop costs a clock read.
    void BusyProgress(const QString &text) override;
    void BusyHide() override;
    // Offers "Cancelar" on the indicator at the first question; true once it was pressed.
    bool BusyCancelRequested() override;
    bool ChooseRows(const QString &title, TClientDataSet &data, bool multiple,
                    std::vector<int> &rows) override;
    int RunModal(QDialog &dialog) override;

    // The indicator while shown (tests and the shell's screenshot read it).
    BusyOverlay *Overlay() const;

  private:
    void Pump();

    QPointer<BusyOverlay> m_overlay;
    QElapsedTimer m_sincePump;
    int m_hourglass = 0;
    bool m_busyCursor = false;
};

} // namespace vnd
