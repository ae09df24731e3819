#pragma once
// Small datasets with known answers, written into the fixture's database through the server's own
// storage code, and the getNotas arguments as the sale-list screen builds them.

#include "server/serverdb.h"
#include "tests/support/server_fixture.h"

#include <QDateTime>
#include <QStringList>
#include <QVariantList>

namespace servertest {

struct DatasetSale
{
    int id = 0;            // the test's own number, kept in NRSEQVENDA
    QString branch, reg;   // CDFILIAL, CDCAIXA
    QDateTime when;        // DTENTRVENDA
    bool sat = false;
    QString status;        // IDSTATUSNFCE: A, C, P, R
    QString invoice;       // NRNOTAFISCALCE as stored
    QString customer;      // CDCLIENTE or empty
    QStringList receiptTypes; // CDTIPORECE of its payments
    QString Key() const;   // NRACESSONFCE derived from id and kind
};

// Branches 0001, 0002, 0003, 0010 with registers 001/002, customers C1, C10, C100, receipt types 001, 002,
// 010 (fiscal codes 01, 03, 04) and product P1.
void InsertMasterData(const vnd::server::ServerDb &db);
void InsertSales(const vnd::server::ServerDb &db, const QList<DatasetSale> &sales);
// Ten sales around March 2024 covering every filter (see dataset.cpp for the table).
QList<DatasetSale> FilterDataset();
// Master data and FilterDataset() in the server's database: the suites' common preparation.
void PrepareFilterDataset(vndtest::ServerFixture &server);

// The filter record of the sale list: "T" or a selection text per list, "T" or a number, the situation.
struct NotasQuery
{
    QString filial = QStringLiteral("T"), caixa = QStringLiteral("T"), cliente = QStringLiteral("T"),
            tipoRece = QStringLiteral("T"), notaFiscal = QStringLiteral("T"), situacao = QStringLiteral("A_C");
    QDate de, ate;
};
// getNotas's sixteen arguments for one page.
QVariantList NotasParams(const NotasQuery &q, qint64 first, qint64 last);
// getNotasPedRej's eight arguments.
QVariantList PedRejParams(const NotasQuery &q);

} // namespace servertest
