#pragma once
// "vnd04400 params show|set": the automatic generation's parameter row with the parameter dialog's
// checks and rules.

#include <QString>
#include <QStringList>

namespace vnd::cli
{

// Runs the command; returns the exit status; EUsage for wrong usage or a value the dialog refuses.
int ComandoParams(const QStringList &args);

// The command's help text.
QString AjudaParams();

} // namespace vnd::cli
