#pragma once
// Modules of the shell: libraries loaded by name and opened through their exported entry
// extern "C" void IniProc(). A loaded module stays loaded: its screens may outlive the call.

#include <QString>
#include <vector>

namespace vnd
{

struct ModuleEntry {
    QString code;  // "VND04400"
    QString title; // "Geração do Arquivo XML (NFC-e/Sat)"
};

// The modules the "Módulos" menu offers.
const std::vector<ModuleEntry> &KnownModules();

// The library file of a module: a path (with a "/" or ending in ".so") as given, else
// moduleDir + "/lib" + lower-case code + ".so".
QString ModuleFile(const QString &moduleDir, const QString &nameOrPath);

// Loads the library (every symbol resolved now, so a module built against another framework fails here
// and not in the middle of a screen) and calls its IniProc. Exception naming the file and the loader's
// reason when it cannot be loaded or has no IniProc; IniProc's own exceptions pass through.
void OpenModule(const QString &file);

} // namespace vnd
