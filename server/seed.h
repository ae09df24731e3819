#pragma once
// Demo data: master data and sales from the document generator, written straight into the database, and
// optionally a folder of files for the import to read.

#include "server/serverdb.h"

#include <QDate>

namespace vnd::server {

struct SeedOptions
{
    int sales = 1000;
    QDate from, to;     // the sales are spread over these days, shop hours only
    QString importDir;  // when set, the generator's import folder is written there too
    quint64 seed = 1;   // same seed, same data
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

} // namespace vnd::server
