#include "host/app/modules.h"

#include "host/errors.h"

#include <QDir>
#include <QLibrary>
#include <map>
#include <memory>

namespace vnd
{

const std::vector<ModuleEntry> &KnownModules()
{
    static const std::vector<ModuleEntry> modules = {
        {QStringLiteral("VND04400"), QStringLiteral("Geração do Arquivo XML (NFC-e/Sat)")},
    };
    return modules;
}

QString ModuleFile(const QString &moduleDir, const QString &nameOrPath)
{
    if (nameOrPath.contains(QLatin1Char('/')) || nameOrPath.endsWith(QLatin1String(".so")))
        return nameOrPath;
    return QDir(moduleDir).filePath(QStringLiteral("lib") + nameOrPath.trimmed().toLower() +
                                    QStringLiteral(".so"));
}

void OpenModule(const QString &file)
{
    // Never unloaded: a module's windows and their code live until the shell ends.
    static std::map<QString, std::unique_ptr<QLibrary>> loaded;
    auto &library = loaded[file];
    if (!library) {
        auto candidate = std::make_unique<QLibrary>(file);
        candidate->setLoadHints(QLibrary::ResolveAllSymbolsHint);
        if (!candidate->load()) {
            const QString reason = candidate->errorString();
            loaded.erase(file);
            throw Exception(
                QStringLiteral("Não foi possível carregar o módulo %1.\nMotivo: %2").arg(file, reason));
        }
        library = std::move(candidate);
    }
    using Entry = void (*)();
    const auto entry = reinterpret_cast<Entry>(library->resolve("IniProc"));
    if (!entry)
        throw Exception(QStringLiteral("O módulo %1 não exporta a entrada IniProc.\nMotivo: %2")
                            .arg(file, library->errorString()));
    entry();
}

} // namespace vnd
