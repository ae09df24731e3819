#pragma once
// Module-level texts shared by the import readers and the main screen: the branch code of the document
// handled last, the SAT serials of the file being read and the cash register of the cancellation reader.
// They live as long as the module; its unload clears them.

#include <QString>

namespace vnd {

struct ImportGlobals
{
    QString stFilial;           // branch (4) of the document a reader handled last; never cleared by a batch
    QString stSerieSatNovo;     // SAT serial of the first coupon of the file being read
    QString stSerieSatAnterior; // SAT serial of the latest coupon after the first
    QString stCdcaixa;          // cash register (3) sent with a SAT cancellation; also set by the sale list

    // Empties every text, as on module unload.
    void Clear();
};

// The module's one instance.
ImportGlobals &ModuleImportGlobals();

} // namespace vnd
