#include "server/salestore.h"

#include "host/errors.h"

namespace vnd::server {

namespace {

QVariant Text(const QString &s) { return s.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(s); }

QVariant Memo(const QByteArray &utf8)
{
    return utf8.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(QString::fromUtf8(utf8));
}

// Column list, placeholders and values of an INSERT, kept together so they cannot drift apart.
struct Insert
{
    const ServerDb &db;
    QStringList columns, marks;
    QVariantList values;
    void Add(const char *column, const QVariant &value)
    {
        columns << QString::fromLatin1(column);
        marks << QStringLiteral("?");
        values << value;
    }
    void AddDateTime(const char *column, const QDateTime &value)
    {
        columns << QString::fromLatin1(column);
        marks << db.DateTimeParam();
        values << ServerDb::DateTimeValue(value);
    }
};

} // namespace

bool InsertVenda(const ServerDb &db, const VendaRow &s, const QList<VendaItemRow> &items,
                 const QList<VendaReceRow> &payments)
{
    Insert in{db, {}, {}, {}};
    in.Add("CDFILIAL", s.CDFILIAL);
    in.Add("CDCAIXA", s.CDCAIXA);
    in.Add("CDLOJA", Text(s.CDLOJA));
    in.Add("NRSEQVENDA", s.NRSEQVENDA);
    in.AddDateTime("DTENTRVENDA", s.DTENTRVENDA);
    in.Add("NRACESSONFCE", Text(s.NRACESSONFCE));
    in.Add("CDSERIE", Text(s.CDSERIE));
    in.Add("IDTPEMISVEND", s.IDTPEMISVEND);
    in.Add("NRNOTAFISCALCE", Text(s.NRNOTAFISCALCE));
    in.Add("IDSITUVENDA", s.IDSITUVENDA);
    in.Add("NRPROTOCOLONFCE", Text(s.NRPROTOCOLONFCE));
    in.AddDateTime("DTHRPROTOCONFCE", s.DTHRPROTOCONFCE);
    in.Add("IDTPAMBNFCE", Text(s.IDTPAMBNFCE));
    in.Add("IDSTATUSNFCE", s.IDSTATUSNFCE);
    in.Add("DSOBSSTATUSNFCE", Text(s.DSOBSSTATUSNFCE));
    in.Add("NRINSJURIEST", Text(s.NRINSJURIEST));
    in.Add("DSRAZAOCANCNFCE", Text(s.DSRAZAOCANCNFCE));
    in.AddDateTime("DTHRPROTOCOCANC", s.DTHRPROTOCOCANC);
    in.Add("NRPROTOCOLOCANC", Text(s.NRPROTOCOLOCANC));
    in.Add("NRCERTDIGNFCE", Text(s.NRCERTDIGNFCE));
    in.Add("WSSITEUFQRCODENFC", Text(s.WSSITEUFQRCODENFC));
    in.Add("DSQRCODENFCE", Text(s.DSQRCODENFCE));
    in.Add("CDVERSAOXMLNFCE", Text(s.CDVERSAOXMLNFCE));
    in.Add("IDORIGEMVENDA", Text(s.IDORIGEMVENDA));
    in.Add("CDCLIENTE", Text(s.CDCLIENTE));
    in.Add("NRINSCRCONS", Text(s.NRINSCRCONS));
    in.Add("NRLANCTONFCE", Text(s.NRLANCTONFCE));
    in.Add("NRACESSOCANC", Text(s.NRACESSOCANC));
    in.Add("VRTOTVENDA", s.VRTOTVENDA ? QVariant(*s.VRTOTVENDA) : QVariant(QMetaType(QMetaType::Double)));
    in.Add("CDOPERADOR", Text(s.CDOPERADOR));
    in.Add("NMARQXMLIMP", Text(s.NMARQXMLIMP));
    in.AddDateTime("DTHRIMPORTACAO", s.DTHRIMPORTACAO);
    in.Add("DSARQXMLNFCE", Memo(s.DSARQXMLNFCE));
    in.Add("DSARQXMLCANCNFCE", Memo(s.DSARQXMLCANCNFCE));

    // ON CONFLICT makes a second store of the same key a no-op even when two hosts send it at once.
    QSqlQuery &q = db.Cached(QStringLiteral("INSERT INTO VENDA (%1) VALUES (%2) ON CONFLICT (NRACESSONFCE) DO NOTHING "
                                            "RETURNING IDVENDA")
                                 .arg(in.columns.join(QStringLiteral(", ")), in.marks.join(QStringLiteral(", "))),
                             "gravar a venda");
    db.Run(q, in.values, "gravar a venda");
    const bool inserted = q.next();
    const qint64 id = inserted ? q.value(0).toLongLong() : 0;
    // SQLite cannot commit while a statement is still stepping.
    q.finish();
    if (!inserted)
        return false;

    if (!items.isEmpty()) {
        QSqlQuery &item = db.Cached(QStringLiteral("INSERT INTO VENDAITEM (IDVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, "
                                                   "VRUNITVEND, VRDESITVEND, VRACRITVEND) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                                    "gravar os itens da venda");
        for (const VendaItemRow &it : items)
            db.Run(item,
                   {id, it.NRSEQUITVEND, it.CDPRODUTO, it.QTPRODVEND, it.VRUNITVEND, it.VRDESITVEND, it.VRACRITVEND},
                   "gravar os itens da venda");
        item.finish();
    }
    if (!payments.isEmpty()) {
        QSqlQuery &pay = db.Cached(QStringLiteral("INSERT INTO VENDARECE (IDVENDA, NRSEQRECE, IDPGTO, CDTIPORECE, VRPGTO, "
                                                  "IDTROCO) VALUES (?, ?, ?, ?, ?, ?)"),
                                   "gravar os pagamentos da venda");
        int n = 0;
        for (const VendaReceRow &p : payments)
            db.Run(pay,
                   {id, ++n, Text(p.IDPGTO), Text(p.CDTIPORECE), p.VRPGTO,
                    p.change ? QStringLiteral("S") : QStringLiteral("N")},
                   "gravar os pagamentos da venda");
        pay.finish();
    }
    return true;
}

namespace {

Exception Refusal(const ImportedSale &sale, const SaleResolution &checks)
{
    return Exception(QStringLiteral("A venda %1 não foi gravada: %2")
                         .arg(sale.key.isEmpty() ? QStringLiteral("sem chave") : sale.key, checks.ErrorSummary()));
}

// The store of a checked sale without errors, inside the caller's transaction.
bool InsertImportedSale(const ServerDb &db, const ImportedSale &sale, const SaleResolution &checks)
{
    if (checks.alreadyStored)
        return false;

    VendaRow row;
    row.CDFILIAL = sale.branch;
    row.CDCAIXA = checks.registerCode;
    // The point of sale's entry number (day + cNF) is the sale number the list shows; the invoice number
    // stands in when a document carries none.
    row.NRSEQVENDA = sale.entryNumber.isEmpty() ? sale.invoice : sale.entryNumber;
    if (row.NRSEQVENDA.isEmpty())
        row.NRSEQVENDA = sale.key.right(10);
    row.DTENTRVENDA = sale.date;
    row.NRACESSONFCE = sale.key;
    row.CDSERIE = sale.series;
    row.IDTPEMISVEND = sale.sat ? QStringLiteral("S") : QStringLiteral("N");
    row.NRNOTAFISCALCE = sale.invoice;
    row.IDSTATUSNFCE = checks.statusFlag;
    row.IDSITUVENDA = checks.statusFlag == QLatin1String("C") ? QStringLiteral("C") : QStringLiteral("O");
    row.NRPROTOCOLONFCE = sale.protocol;
    row.DTHRPROTOCONFCE = sale.authorisedAt;
    row.IDTPAMBNFCE = sale.environment;
    row.DSOBSSTATUSNFCE = sale.statusText;
    // The issuer's CNPJ: the export writes it into a rebuilt cancellation event.
    row.NRINSJURIEST = sale.issuerCnpj;
    row.NRCERTDIGNFCE = checks.certificate;
    row.WSSITEUFQRCODENFC = checks.qrSite;
    row.DSQRCODENFCE = checks.qrCode;
    row.CDVERSAOXMLNFCE = checks.layoutVersion;
    row.IDORIGEMVENDA = QStringLiteral("IMPORTXML");
    row.CDCLIENTE = checks.customerCode;
    row.NRINSCRCONS = sale.consumerCpf;
    row.NRLANCTONFCE = sale.entryNumber;
    row.VRTOTVENDA = sale.total;
    row.CDOPERADOR = sale.operatorCode.left(20);
    row.NMARQXMLIMP = sale.fileName.left(150);
    row.DTHRIMPORTACAO = QDateTime::currentDateTime();
    row.DSARQXMLNFCE = sale.document;

    QList<VendaItemRow> items;
    for (const ImportedItem &it : sale.items)
        items << VendaItemRow{it.sequence, it.product, it.quantity.value_or(0), it.unitPrice.value_or(0), it.discount,
                              it.surcharge};
    QList<VendaReceRow> payments;
    for (const ImportedPayment &p : sale.payments) {
        const bool change = p.IsChange(sale.sat);
        payments << VendaReceRow{p.code, change ? QString() : checks.receiptTypes.value(p.code), p.amount, change};
    }
    return InsertVenda(db, row, items, payments);
}

} // namespace

bool StoreImportedSale(const ServerDb &db, const ImportedSale &sale)
{
    return StoreImportedSale(db, sale, [](const SaleResolution &) {});
}

bool StoreImportedSale(const ServerDb &db, const ImportedSale &sale,
                       const std::function<void(const SaleResolution &)> &logProblems)
{
    // Checked and stored in one transaction: a sale that another host stores meanwhile is seen as stored,
    // never stored twice, and the branch and products checked are the ones the sale is stored against.
    bool stored = false, checked = false;
    SaleResolution checks;
    try {
        db.Write([&] {
            checked = false; // a busy database runs the whole transaction again
            checks = CheckSale(db, sale);
            checked = true;
            logProblems(checks);
            if (!checks.HasErrors())
                stored = InsertImportedSale(db, sale, checks);
        });
    } catch (...) {
        // The sale's rows failed on the database and took the log's rows with them: these go in alone,
        // so that what the checks found is still told. The failure of the store is the one reported.
        if (checked && !checks.problems.isEmpty()) {
            try {
                db.Write([&] { logProblems(checks); });
            } catch (const std::exception &) {
            }
        }
        throw;
    }
    // A refused sale's problems are committed to the log before the refusal is told.
    if (checks.HasErrors())
        throw Refusal(sale, checks);
    return stored;
}

std::vector<StoreOutcome> StoreImportedSales(const ServerDb &db, const std::vector<ImportedSale> &sales,
                                             const std::function<void(const ImportedSale &, const SaleResolution &)> &logProblems)
{
    std::vector<StoreOutcome> outcomes;
    db.Write([&] {
        outcomes.assign(sales.size(), StoreOutcome{}); // a busy database runs the whole transaction again
        for (size_t i = 0; i < sales.size(); ++i) {
            const ImportedSale &sale = sales[i];
            StoreOutcome &out = outcomes[i];
            SaleResolution checks;
            bool checked = false;
            try {
                db.Savepoint([&] {
                    checks = CheckSale(db, sale);
                    checked = true;
                    logProblems(sale, checks);
                    if (!checks.HasErrors())
                        out.stored = InsertImportedSale(db, sale, checks);
                });
                if (checks.HasErrors())
                    out.error = Refusal(sale, checks).Message();
                continue;
            } catch (const EDatabaseBusy &) {
                throw;
            } catch (const ETransactionLost &) {
                throw; // the sales before this one went with the transaction: the whole list fails
            } catch (const Exception &e) {
                out.error = e.Message();
            } catch (const std::exception &e) {
                out.error = QStringLiteral("Erro interno do servidor ao gravar a venda %1: %2")
                                .arg(sale.key, QString::fromUtf8(e.what()));
            }
            // The sale's rows went back with the log's: these go in alone, so that what the checks found
            // is still told.
            out.stored = false;
            if (checked && !checks.problems.isEmpty()) {
                try {
                    db.Savepoint([&] { logProblems(sale, checks); });
                } catch (const EDatabaseBusy &) {
                    throw;
                } catch (const ETransactionLost &) {
                    throw;
                } catch (const std::exception &) {
                }
            }
        }
    });
    return outcomes;
}

void CancelSale(const ServerDb &db, const ImportedSale &c)
{
    if (c.saleRows != 1)
        throw Exception(QStringLiteral("O pacote do cancelamento deve trazer um cupom; trouxe %1.").arg(c.saleRows));
    if (c.key.isEmpty())
        throw Exception(QStringLiteral("Cancelamento sem a chave da venda cancelada."));
    db.Write([&] {
        QSqlQuery q = db.Exec(
            QStringLiteral("UPDATE VENDA SET IDSITUVENDA = 'C', IDSTATUSNFCE = 'C', DSARQXMLCANCNFCE = ?, "
                           "NRACESSOCANC = ?, DTHRPROTOCOCANC = %1 WHERE NRACESSONFCE = ?")
                .arg(db.DateTimeParam()),
            {Memo(c.document), Text(c.cancelKey), ServerDb::DateTimeValue(c.date), c.key}, "cancelar a venda");
        if (q.numRowsAffected() < 1)
            throw Exception(QStringLiteral("Venda da chave %1 não encontrada para cancelamento.").arg(c.key));
    });
}

} // namespace vnd::server
