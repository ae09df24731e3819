#include "import/importglobals.h"

namespace vnd {

void ImportGlobals::Clear()
{
    stFilial.clear();
    stSerieSatNovo.clear();
    stSerieSatAnterior.clear();
    stCdcaixa.clear();
}

ImportGlobals &ModuleImportGlobals()
{
    static ImportGlobals globals;
    return globals;
}

} // namespace vnd
