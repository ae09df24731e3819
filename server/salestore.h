#pragma once
// Writing sales into VENDA, VENDAITEM and VENDARECE: the import's store and cancellation, and the row
// insert that the demo seed shares with them.

#include "server/salearray.h"
#include "server/serverdb.h"
#include "server/validation.h"

#include <functional>
#include <optional>

namespace vnd::server {

// One VENDA row; empty texts and invalid date-times are stored as NULL.
struct VendaRow
{
    QString CDFILIAL, CDCAIXA, CDLOJA, NRSEQVENDA;
    QDateTime DTENTRVENDA;
    QString NRACESSONFCE, CDSERIE, IDTPEMISVEND, NRNOTAFISCALCE, IDSITUVENDA, NRPROTOCOLONFCE;
    QDateTime DTHRPROTOCONFCE;
    QString IDTPAMBNFCE, IDSTATUSNFCE, DSOBSSTATUSNFCE, NRINSJURIEST, DSRAZAOCANCNFCE;
    QDateTime DTHRPROTOCOCANC;
    QString NRPROTOCOLOCANC, NRCERTDIGNFCE, WSSITEUFQRCODENFC, DSQRCODENFCE, CDVERSAOXMLNFCE, IDORIGEMVENDA;
    QString CDCLIENTE, NRINSCRCONS, NRLANCTONFCE, NRACESSOCANC;
    std::optional<double> VRTOTVENDA;
    QString CDOPERADOR, NMARQXMLIMP;
    QDateTime DTHRIMPORTACAO;
    QByteArray DSARQXMLNFCE, DSARQXMLCANCNFCE;
};

struct VendaItemRow
{
    QString NRSEQUITVEND, CDPRODUTO;
    double QTPRODVEND = 0, VRUNITVEND = 0, VRDESITVEND = 0, VRACRITVEND = 0;
};

struct VendaReceRow
{
    QString IDPGTO, CDTIPORECE; // CDTIPORECE empty: no receipt type (change, or an unmapped code)
    double VRPGTO = 0;
    bool change = false;
};

// Inserts the sale with its items and payments; must run inside ServerDb::Write. Returns false, writing
// nothing, when a sale with the same access key is already stored.
bool InsertVenda(const ServerDb &db, const VendaRow &sale, const QList<VendaItemRow> &items,
                 const QList<VendaReceRow> &payments);

// Checks and stores an imported sale in one transaction. Exception with the errors when the checks found
// any; false when the key was already stored (nothing written, the call is idempotent); true when stored.
bool StoreImportedSale(const ServerDb &db, const ImportedSale &sale);

// The same, handing what the checks found to logProblems inside the store's transaction first (the
// validation log's rows): they are committed with the sale, and also when the sale is refused for its
// errors or fails on the database (then in a transaction of their own).
bool StoreImportedSale(const ServerDb &db, const ImportedSale &sale,
                       const std::function<void(const SaleResolution &)> &logProblems);

// What became of one sale of StoreImportedSales: stored, already held, or refused with the message that
// StoreImportedSale would have thrown.
struct StoreOutcome
{
    bool stored = false;
    QString error; // empty when the sale was stored or already held
};

// StoreImportedSale for each sale in turn, in one transaction (one commit and one wait for the disk for
// all): each sale's problems go to logProblems; a sale refused or failing on the database takes back
// its own rows only (its problems are still logged) and the others go on. The outcomes are in order.
std::vector<StoreOutcome> StoreImportedSales(const ServerDb &db, const std::vector<ImportedSale> &sales,
                                             const std::function<void(const ImportedSale &, const SaleResolution &)> &logProblems);

// Marks the sale of the cancelled key as cancelled and keeps the cancellation document. Exception naming
// the key when no sale has it.
void CancelSale(const ServerDb &db, const ImportedSale &cancellation);

} // namespace vnd::server
