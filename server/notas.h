#pragma once
// The sale list (cdsNotas) as the server reads it from VENDA: its fields, its stable order and its pages.

#include "host/recordset.h"
#include "server/filters.h"
#include "server/serverdb.h"

namespace vnd::server {

// The fields of cdsNotas, in order, with their types and sizes (labels are the screen's business).
void DefineNotasFields(TClientDataSet &cds);

// One page of the filter's sales: rows first..last (inclusive, numbered from 0) of the stable order
// branch, register, sale date, sale number; IDCHECK is "N" on every row. An empty page past the end.
void QueryNotasPage(const ServerDb &db, const SaleFilter &filter, qint64 first, qint64 last, TClientDataSet &out);
// The same page as a data packet, written from the rows without a record set in between (what getNotas
// answers); rowCount receives the number of rows. Without documents, DSARQXMLNFCE and DSARQXMLCANCNFCE
// are null on every row (the export then reads them by key, see QueryDocumentosNotas).
TDataPacket NotasPagePacket(const ServerDb &db, const SaleFilter &filter, qint64 first, qint64 last, int &rowCount,
                            bool withDocuments = true);

// The NFC-e sales of the filter awaiting or refused by the tax authority. Only their number matters to
// the screen, so the two stored documents are left out of the rows.
void QueryNotasPendingRejected(const ServerDb &db, const SaleFilter &filter, TClientDataSet &out);

// The stored rows of the sales with these access keys, in the stable order. Exception naming the first
// key that is not stored. Without documents, as NotasPagePacket.
void QueryNotasByKeys(const ServerDb &db, const QStringList &keys, TClientDataSet &out, bool withDocuments = true);

// Most keys QueryDocumentosNotas takes in one call.
inline constexpr int kMaxDocumentKeys = 1000;

// The stored documents of the sales with these access keys (at most kMaxDocumentKeys): a packet of
// NRACESSONFCE, DSARQXMLNFCE and DSARQXMLCANCNFCE, one row per sale found, in the stable order. Exception
// naming the first key that is not stored.
TDataPacket QueryDocumentosNotas(const ServerDb &db, const QStringList &keys);

} // namespace vnd::server
