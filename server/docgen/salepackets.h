#pragma once
// The packets an import reader sends for a generated sale, built from the sale's own values the way the
// readers fill their record sets: for server tests and figures that store sales without reading files.

#include "host/recordset.h"
#include "server/docgen/docgen.h"

#include <QVariantList>

namespace vnd::docgen {

struct ArrayOptions
{
    QString branch;   // item 3; empty as when no branch was found
    QString company;  // item 4
    QString registerCode; // item 7
    QString fileName = QStringLiteral("venda.xml");
    QString batch;    // item 9
};

// The sale packet alone (getFilialNFce / getFilial).
TDataPacket SalePacket(const Sale &sale);
// The ten-item array of setValidaXml / setVendasNfce / setVendas.
QVariantList SaleArray(const Sale &sale, const ArrayOptions &options);
// The three-item array of setVendasCanc for a cancelled SAT sale.
QVariantList CancelArray(const Sale &sale, const QString &branch, const QString &registerCode = {});

// The same array with the sale packet's field changed (an empty value clears it).
QVariantList WithSaleField(const QVariantList &array, const QString &field, const QVariant &value);
// The same array with one item's field changed (row from 0).
QVariantList WithItemField(const QVariantList &array, int row, const QString &field, const QVariant &value);

} // namespace vnd::docgen
