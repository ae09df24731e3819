// A module as the shell loads it: its IniProc opens a child window in the host's MDI area, one per call.
#include "host/ui/hostwindow.h"

#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>

#ifndef VND_TEST_NO_ENTRY
extern "C" Q_DECL_EXPORT void IniProc()
{
    QMdiArea *area = vnd::HostMdiArea();
    if (!area)
        return;
    auto *label = new QLabel(QStringLiteral("Módulo de teste"));
    label->setObjectName(QStringLiteral("lblModuloTeste"));
    QMdiSubWindow *sub = area->addSubWindow(label);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->show();
}
#else
extern "C" Q_DECL_EXPORT int NotTheEntry()
{
    return 1;
}
#endif
