#pragma once
// The ten-item sale array of the import (sale, items and payments packets, branch, company, file name,
// operator, cash register, "N"/"S", validation batch) read into plain values. The packets are read by
// name through record sets with the server's own field sizes, so an oversized value is cut, never
// stored whole.

#include "server/rpcargs.h"

#include <QDateTime>
#include <QList>
#include <optional>

namespace vnd::server {

struct ImportedItem
{
    QString sequence; // NRSEQUITVEND
    QString product;  // CDPRODUTO
    std::optional<double> quantity, unitPrice;
    double discount = 0, surcharge = 0;
};

struct ImportedPayment
{
    QString code; // IDPGTO: tPag/cMP, "TR" (NFC-e change) or "00" (SAT change)
    double amount = 0;
    bool IsChange(bool sat) const { return code == (sat ? QLatin1String("00") : QLatin1String("TR")); }
};

struct ImportedSale
{
    bool sat = false;
    int saleRows = 0;       // rows of the sale packet (one is expected)
    QString key;            // NRACESSONFCE
    QString series;         // CDSERIENFCE or CDSERIESAT
    QString invoice;        // NRNOTAFISCALCE
    QDateTime date;         // DTVENDA
    QString environment;    // "IDTPAMBNFCE "
    QString packetRegister; // CDCAIXA of a SAT coupon (numeroCaixa)
    QString consumerCpf;    // NRINSCRCONS
    QString entryNumber;    // NRLANCTONFCE
    QString issuerCnpj;     // NRINSJURFILI
    QDateTime authorisedAt; // DTHRPROTOCONFCE
    QString protocol;       // NRPROTOCOLONFCE
    QString statusText;     // DSOBSSTATUSNFCE: cStat + " - " + xMotivo
    QByteArray document;    // DSARQXMLNFCE
    QString cancelKey;      // NRACESSOCANC
    std::optional<double> total; // VRTOTVENDA
    QList<ImportedItem> items;
    QList<ImportedPayment> payments;

    QString branch, company, fileName, operatorCode, registerCode;
    qint64 batch = 0; // validation batch number; 0 when the array carries none
};

// Reads a sale packet alone (the branch lookups); Exception when it does not read.
ImportedSale ReadSalePacket(const TDataPacket &packet, bool sat);

// Reads the ten-item array; Exception naming the item or field that is malformed.
ImportedSale ReadSaleArray(const Args &array);

// Reads the sale packet of a cancellation ([packet, branch, cash register]).
ImportedSale ReadCancelArray(const Args &array);

// The batch number of a text ("12", "0000000012"); Exception naming the text.
qint64 ParseBatchNumber(const QString &text);

} // namespace vnd::server
