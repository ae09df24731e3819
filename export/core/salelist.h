#pragma once
// The sale list cdsNotas: one row per sale as the server sends it and the screen shows it.

class TClientDataSet;

namespace vnd {
// Defines the fields of cdsNotas (and cdsNotasTemp) in order, with sizes, labels and read-only flags,
// and creates the data set.
void DefineCdsNotas(TClientDataSet &cds);
} // namespace vnd
