#pragma once
// The shell's main window: an MDI area for the modules' child windows, the "Módulos" menu, the window
// menu and a status bar with the server, operator and branch. It registers itself as the host window
// that modules and the platform reach through vnd::HostMainWindow()/HostMdiArea().

#include "host/app/hostconfig.h"

#include <QMainWindow>

class QLabel;
class QMdiArea;

namespace vnd
{

class MainWindow : public QMainWindow
{
    Q_OBJECT
  public:
    explicit MainWindow(const HostConfig &config, QWidget *parent = nullptr);
    ~MainWindow() override;

    QMdiArea *MdiArea() const { return m_mdiArea; }
    // Opens a module by code ("VND04400") or library path; Exception as vnd::OpenModule gives it.
    void OpenModule(const QString &nameOrPath);
    // Size and position of the last session (none on the first run).
    void RestorePlace();
    // Shows start-up problems (token, database) in the status bar.
    void ShowProblems(const QStringList &problems);

  protected:
    void closeEvent(QCloseEvent *event) override;

  private:
    void BuildMenus();
    void UpdateStatus();

    HostConfig m_config;
    QMdiArea *m_mdiArea;
    QLabel *m_session;
    QLabel *m_problems;
};

// Saves a picture of the window as the user sees it (dialogs over it included where the display allows)
// to a PNG file; false when it cannot be written.
bool SaveScreenshot(QWidget &window, const QString &file);

} // namespace vnd
