#include "host/ui/hostwindow.h"

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QPointer>

namespace
{
// Guarded pointers: a window destroyed before it is unregistered reads as none, never as a dangling one.
QPointer<QMainWindow> g_window;
QPointer<QMdiArea> g_mdiArea;
} // namespace

namespace vnd
{

void SetHostWindow(QMainWindow *window, QMdiArea *mdiArea)
{
    g_window = window;
    g_mdiArea = mdiArea;
}

QMainWindow *HostMainWindow()
{
    return g_window.data();
}

QMdiArea *HostMdiArea()
{
    return g_mdiArea.data();
}

QWidget *DialogParent()
{
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget *active = QApplication::activeWindow())
        return active;
    return g_window.data();
}

} // namespace vnd
