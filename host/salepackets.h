#pragma once
// The record sets an importing host sends with each sale (getFilialNFce / getFilial, setValidaXml,
// setVendasNfce / setVendas / setVendasCanc): their fields, names and sizes, shared by the host that
// fills them and the server that reads them.

#include "host/recordset.h"

namespace vnd {

// The sale's ambient field keeps a trailing blank in its name; the server reads it so.
extern const QString kCampoTpAmb;

// An NFC-e sale: key, series, number, dates, ambient, customer, issuer, protocol, document, total.
void DefineVendaNfcePacote(TClientDataSet &cds);
// A SAT sale (or the cancellation of one): serial and register instead of the protocol fields.
void DefineVendaSatPacote(TClientDataSet &cds);
// The sale's items.
void DefineItensVendaPacote(TClientDataSet &cds);
// The sale's payments ("TR" or "00" rows carry the change).
void DefineMeioPgtoPacote(TClientDataSet &cds);

} // namespace vnd
