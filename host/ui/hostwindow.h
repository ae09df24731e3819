#pragma once
// The host's main window and its MDI area, registered by the shell and reached by modules (a module's
// list screen becomes a child window of this area) and by the platform (dialog parent, busy indicator).

class QMainWindow;
class QMdiArea;
class QWidget;

namespace vnd
{
// Registers the shell's main window and its MDI area; nullptrs unregister.
void SetHostWindow(QMainWindow *window, QMdiArea *mdiArea);
// The registered main window, or nullptr (tests, command-line programs).
QMainWindow *HostMainWindow();
// The registered MDI area, or nullptr.
QMdiArea *HostMdiArea();
// Parent for a new dialog: the open modal dialog, else the active window, else the main window.
QWidget *DialogParent();
} // namespace vnd
