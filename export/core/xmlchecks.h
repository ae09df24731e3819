#pragma once
// The two steps of the assembly that go through the XML document services.

#include <QByteArray>

namespace vnd::assembly {
struct SaleRow;
// Loads the assembled NF-e into the document of a new NF-e binding of its layout ("3.10" or "4.00"); the
// parser's error when it does not parse.
void CheckNfeParses(const QByteArray &nfe, const QByteArray &version);
// The processed cancellation event built node by node, serialised, from "<procEventoNFe" to its end.
QByteArray BuildCancellationEvent(const SaleRow &row);
} // namespace vnd::assembly
