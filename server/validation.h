#pragma once
// The checks of an imported sale. setValidaXml writes every problem into the validation log; setVendas
// and setVendasNfce refuse a sale with an error ("E") and store one with alerts ("A") only. The rules are
// listed in server/README.md.

#include "server/salearray.h"
#include "server/serverdb.h"

#include <QHash>

namespace vnd::server {

struct Problem
{
    char type = 'E'; // 'E' error: the sale is not stored; 'A' alert: stored, worth a look
    QString product;
    QString productName;
    QString description;
    QString help;
};

// What the checks found out about the sale besides its problems; storing uses it.
struct SaleResolution
{
    QList<Problem> problems;
    QString registerCode;    // the cash register the sale belongs to
    QString customerCode;    // the customer of the consumer's CPF, when registered
    QString certificate;     // the branch's certificate serial
    QString qrSite;          // the state's key lookup page (document's urlChave, else the branch's)
    QString qrCode;          // the document's QR-code text
    QString layoutVersion;   // versao of infNFe / infCFe
    QString statusFlag;      // IDSTATUSNFCE: "A", "C", "P" or "R"
    bool alreadyStored = false;
    QHash<QString, QString> receiptTypes; // IDPGTO -> CDTIPORECE

    bool HasErrors() const;
    // The errors in one message, for the refusal of a store.
    QString ErrorSummary() const;
};

// Runs every check (reads only). Never throws for a problem of the sale; database failures do throw.
SaleResolution CheckSale(const ServerDb &db, const ImportedSale &sale);

// Money as the screens show it: "R$ 1.234,50".
QString FormatMoney(double value);

} // namespace vnd::server
