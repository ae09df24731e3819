#include "tests/server/dataset.h"

#include "server/salestore.h"

using namespace vnd::server;

namespace servertest {

QString DatasetSale::Key() const
{
    const QString digits = QStringLiteral("3524031111111100019165001%1").arg(id, 19, 10, QLatin1Char('0'));
    return sat ? QStringLiteral("CFe") + digits : digits;
}

void InsertMasterData(const ServerDb &db)
{
    db.Write([&] {
        for (const char *b : {"0001", "0002", "0003", "0010"}) {
            const QString code = QString::fromLatin1(b);
            db.Exec(QStringLiteral("INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA, NRINSJURFILI, NRINSCESTFILI) "
                                   "VALUES (?, ?, '01', ?, '111111111111')"),
                    {code, QStringLiteral("Filial ") + code, QStringLiteral("11111111%1").arg(code) + QStringLiteral("91")});
            for (const char *r : {"001", "002"})
                db.Exec(QStringLiteral("INSERT INTO CAIXA (CDFILIAL, CDCAIXA, NMCAIXA, CDSERIENFCE, CDSERIESAT) "
                                       "VALUES (?, ?, ?, ?, ?)"),
                        {code, QString::fromLatin1(r), QStringLiteral("Caixa %1").arg(QString::fromLatin1(r)),
                         QString::fromLatin1(r), QStringLiteral("9000%1%2").arg(code, QString::fromLatin1(r).right(1))});
        }
        for (const char *c : {"C1", "C10", "C100"})
            db.Exec(QStringLiteral("INSERT INTO CLIENTE (CDCLIENTE, NMRAZSOCCLIE) VALUES (?, ?)"),
                    {QString::fromLatin1(c), QStringLiteral("Cliente ") + QString::fromLatin1(c)});
        db.Exec(QStringLiteral("INSERT INTO TIPORECE (CDTIPORECE, NMTIPORECE, IDTIPOPGTOFISC) VALUES ('001', "
                               "'Dinheiro', '01'), ('002', 'Cartão de Crédito', '03'), ('010', 'Cartão de Débito', '04')"));
        db.Exec(QStringLiteral("INSERT INTO PRODUTO (CDPRODUTO, NMPRODUTO) VALUES ('P1', 'Pão de queijo')"));
    });
}

void InsertSales(const ServerDb &db, const QList<DatasetSale> &sales)
{
    db.Write([&] {
        for (const DatasetSale &s : sales) {
            VendaRow row;
            row.CDFILIAL = s.branch;
            row.CDCAIXA = s.reg;
            row.NRSEQVENDA = QString::number(s.id).rightJustified(10, QLatin1Char('0'));
            row.DTENTRVENDA = s.when;
            row.NRACESSONFCE = s.Key();
            row.CDSERIE = QStringLiteral("001");
            row.IDTPEMISVEND = s.sat ? QStringLiteral("S") : QStringLiteral("N");
            row.NRNOTAFISCALCE = s.invoice;
            row.IDSTATUSNFCE = s.status;
            row.IDSITUVENDA = s.status == QLatin1String("C") ? QStringLiteral("C") : QStringLiteral("O");
            row.IDTPAMBNFCE = QStringLiteral("1");
            row.CDCLIENTE = s.customer;
            row.VRTOTVENDA = 10.0;
            row.DSARQXMLNFCE = "<NFe><infNFe Id=\"NFe" + s.Key().toLatin1() + "\">ação</infNFe></NFe>";
            QList<VendaReceRow> payments;
            for (const QString &type : s.receiptTypes)
                payments << VendaReceRow{QStringLiteral("01"), type, 10.0 / s.receiptTypes.size(), false};
            InsertVenda(db, row, {VendaItemRow{QStringLiteral("001"), QStringLiteral("P1"), 1, 10, 0, 0}}, payments);
        }
    });
}

// | id | branch/reg | when                 | kind | status | invoice   | customer | receipt types |
// | 1  | 0001/001   | 2024-03-01 00:00:00  | NFCe | A      | 000000123 | C1       | 001           |
// | 2  | 0001/001   | 2024-03-01 23:59:59  | NFCe | C      | 000000124 | C10      | 002           |
// | 3  | 0001/002   | 2024-03-02 10:00:00  | SAT  | A      | 000123    | C100     | 001, 002      |
// | 4  | 0002/001   | 2024-03-02 11:00:00  | NFCe | A      | 000001234 |          | 010           |
// | 5  | 0010/001   | 2024-03-03 12:00:00  | NFCe | A      | 000000125 | C1       | 001           |
// | 6  | 0001/001   | 2024-02-29 23:59:59  | NFCe | A      | 000000126 |          | 001           |
// | 7  | 0001/001   | 2024-03-04 00:00:00  | NFCe | A      | 000000127 |          | 001           |
// | 8  | 0001/001   | 2024-03-02 09:00:00  | NFCe | P      | 000000128 |          | 001           |
// | 9  | 0002/001   | 2024-03-02 09:30:00  | NFCe | R      | 000000129 |          | 001           |
// | 10 | 0001/002   | 2024-03-02 08:00:00  | SAT  | C      | 000124    |          | 001           |
QList<DatasetSale> FilterDataset()
{
    auto at = [](int day, int h, int m, int s) { return QDateTime(QDate(2024, 3, 1).addDays(day - 1), QTime(h, m, s)); };
    const QString n001 = QStringLiteral("001"), n002 = QStringLiteral("002");
    return {
        {1, QStringLiteral("0001"), n001, at(1, 0, 0, 0), false, QStringLiteral("A"), QStringLiteral("000000123"), QStringLiteral("C1"), {n001}},
        {2, QStringLiteral("0001"), n001, at(1, 23, 59, 59), false, QStringLiteral("C"), QStringLiteral("000000124"), QStringLiteral("C10"), {n002}},
        {3, QStringLiteral("0001"), n002, at(2, 10, 0, 0), true, QStringLiteral("A"), QStringLiteral("000123"), QStringLiteral("C100"), {n001, n002}},
        {4, QStringLiteral("0002"), n001, at(2, 11, 0, 0), false, QStringLiteral("A"), QStringLiteral("000001234"), {}, {QStringLiteral("010")}},
        {5, QStringLiteral("0010"), n001, at(3, 12, 0, 0), false, QStringLiteral("A"), QStringLiteral("000000125"), QStringLiteral("C1"), {n001}},
        {6, QStringLiteral("0001"), n001, at(0, 23, 59, 59), false, QStringLiteral("A"), QStringLiteral("000000126"), {}, {n001}},
        {7, QStringLiteral("0001"), n001, at(4, 0, 0, 0), false, QStringLiteral("A"), QStringLiteral("000000127"), {}, {n001}},
        {8, QStringLiteral("0001"), n001, at(2, 9, 0, 0), false, QStringLiteral("P"), QStringLiteral("000000128"), {}, {n001}},
        {9, QStringLiteral("0002"), n001, at(2, 9, 30, 0), false, QStringLiteral("R"), QStringLiteral("000000129"), {}, {n001}},
        {10, QStringLiteral("0001"), n002, at(2, 8, 0, 0), true, QStringLiteral("C"), QStringLiteral("000124"), {}, {n001}},
    };
}

namespace {
void Pair(QVariantList &out, const QString &field)
{
    const bool all = field == QLatin1String("T");
    out << (all ? QString() : field) << (all ? QStringLiteral("T") : QString());
}
} // namespace

QVariantList NotasParams(const NotasQuery &q, qint64 first, qint64 last)
{
    QVariantList p;
    Pair(p, q.filial);
    Pair(p, q.caixa);
    p << QDateTime(q.de, QTime(0, 0)) << QDateTime(q.ate, QTime(0, 0));
    Pair(p, q.notaFiscal);
    p << q.situacao << false << QString::number(first) << QString::number(last);
    Pair(p, q.cliente);
    Pair(p, q.tipoRece);
    return p;
}

QVariantList PedRejParams(const NotasQuery &q)
{
    QVariantList p;
    Pair(p, q.filial);
    Pair(p, q.caixa);
    Pair(p, q.notaFiscal);
    p << QDateTime(q.de, QTime(0, 0)) << QDateTime(q.ate, QTime(0, 0));
    return p;
}

void PrepareFilterDataset(vndtest::ServerFixture &server)
{
    const vnd::server::ServerDb db(server.DbUrl());
    InsertMasterData(db);
    InsertSales(db, FilterDataset());
}

} // namespace servertest
