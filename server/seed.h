#pragma once
// Demo data: master data and sales from the document generator, written straight into the database, and
// optionally a folder of files for the import to read.

#include "server/docgen/docgen.h"
#include "server/salestore.h"
#include "server/serverdb.h"

#include <QDate>

namespace vnd::server {

struct SeedOptions
{
    int sales = 1000;
    QDate from, to;     // the sales are spread over these days, shop hours only
    QString importDir;  // when set, the generator's import folder is written there too
    quint64 seed = 1;   // same seed, same data
    // The shops of today: companies with an alphanumeric CNPJ beside the others, and NFC-e of both
    // layouts (two in three in 4.00, the layout in force; the rest in 3.10, as older stored sales are).
    int alphanumericCompanies = 1;
    bool mixedLayouts = true;
};

struct SeedReport
{
    int branches = 0, registers = 0, customers = 0, receiptTypes = 0, products = 0;
    int sales = 0;       // sales written (a sale already stored by an earlier seed is skipped)
    int importFiles = 0; // files written to the import folder
};

// Fills the database (schema already upgraded). Master data already present is kept as is. Exception
// naming what failed; each block of sales is one transaction.
SeedReport SeedDatabase(const ServerDb &db, const SeedOptions &options);

// The rows the seed writes for one generated sale (index picks the stored form of its document): what a
// host with direct database access would insert.
struct SaleRows
{
    VendaRow row;
    QList<VendaItemRow> items;
    QList<VendaReceRow> payments;
};
SaleRows RowsFor(const docgen::Generator &gen, const docgen::Sale &sale, int index);

} // namespace vnd::server
