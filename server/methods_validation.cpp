// The import's validation log: batch numbers, the checks of a sale, the batch's rows and their removal.
#include "host/errors.h"
#include "server/rdm.h"
#include "server/salestore.h"
#include "server/validation.h"

namespace vnd::server {

namespace {

// A batch whose last row is older than this was abandoned: its client was killed or lost the server
// before it read and deleted its log. No batch runs this long (a day holds tens of millions of files).
constexpr qint64 kLoteAbandonadoSegundos = 24 * 60 * 60;

MethodResult getPrxPreValidXml(const RdmGeraXml &rdm, const Args &args)
{
    args.ExpectCount(0);
    qint64 number = 0;
    // The counter row is updated inside the write transaction, so two hosts asking at once get two numbers.
    rdm.Db().Write([&] {
        // Each new batch sweeps away the abandoned ones, which nobody will ever read.
        const ServerDb &db = rdm.Db();
        db.Exec(QStringLiteral("DELETE FROM PREVALIDXML WHERE NRSEQVALIDXML IN (SELECT NRSEQVALIDXML FROM "
                               "PREVALIDXML GROUP BY NRSEQVALIDXML HAVING MAX(DTHRREGISTRO) < %1)")
                    .arg(db.DateTimeParam()),
                {ServerDb::DateTimeValue(QDateTime::currentDateTime().addSecs(-kLoteAbandonadoSegundos))},
                "apagar os logs de validação abandonados");
        QSqlQuery q = rdm.Db().Exec(QStringLiteral("UPDATE SEQUENCIA SET NRULTIMO = NRULTIMO + 1 WHERE NMSEQUENCIA = "
                                                   "'PREVALIDXML' RETURNING NRULTIMO"),
                                    {}, "numerar o lote de validação");
        if (!q.next())
            throw Exception(QStringLiteral("A sequência dos lotes de validação não existe no banco de dados."));
        number = q.value(0).toLongLong();
    });
    return MethodResult{QString::number(number)};
}

MethodResult getPreValidXml(const RdmGeraXml &rdm, const Args &args)
{
    args.ExpectCount(1);
    const QString batchText = args.Text(0, "lote de validação");
    const qint64 batch = ParseBatchNumber(batchText);
    TClientDataSet cds;
    cds.AddField(QStringLiteral("NRSEQVALIDXML"), TFieldType::String, 10);
    cds.AddField(QStringLiteral("NRSEQERROXML"), TFieldType::String, 5);
    cds.AddField(QStringLiteral("IDTPVALIDXML"), TFieldType::String, 1);
    cds.AddField(QStringLiteral("NMARQXML"), TFieldType::String, 150);
    cds.AddField(QStringLiteral("CDFILIAL"), TFieldType::String, 4);
    cds.AddField(QStringLiteral("CDCAIXA"), TFieldType::String, 3);
    cds.AddField(QStringLiteral("NRNOTAFISCALCE"), TFieldType::String, 9);
    cds.AddField(QStringLiteral("NRACESSONFCE"), TFieldType::String, 50);
    cds.AddField(QStringLiteral("CDPRODUTO"), TFieldType::String, 30);
    cds.AddField(QStringLiteral("NMPRODUTO"), TFieldType::String, 50);
    cds.AddField(QStringLiteral("DSERROXML"), TFieldType::String, 300);
    cds.AddField(QStringLiteral("DSAJUDAXML"), TFieldType::String, 300);
    cds.CreateDataSet();
    QSqlQuery q = rdm.Db().Exec(QStringLiteral("SELECT IDTPVALIDXML, NMARQXML, CDFILIAL, CDCAIXA, NRNOTAFISCALCE, "
                                               "NRACESSONFCE, CDPRODUTO, NMPRODUTO, DSERROXML, DSAJUDAXML FROM PREVALIDXML "
                                               "WHERE NRSEQVALIDXML = ? ORDER BY IDPREVALIDXML"),
                                {batch}, "ler o log de validação");
    int n = 0;
    while (q.next()) {
        cds.Append();
        cds.Fields(0).SetAsString(QString::number(batch));
        cds.Fields(1).SetAsString(QString::number(++n));
        for (int i = 0; i < 10; ++i)
            if (!q.value(i).isNull())
                cds.Fields(i + 2).SetValue(q.value(i));
        cds.Post();
    }
    cds.MergeChangeLog();
    return PacketResult(cds);
}

MethodResult setDelPreValidXml(const RdmGeraXml &rdm, const Args &args)
{
    args.ExpectCount(1);
    const qint64 batch = ParseBatchNumber(args.Text(0, "lote de validação"));
    int removed = 0;
    rdm.Db().Write([&] {
        QSqlQuery q = rdm.Db().Exec(QStringLiteral("DELETE FROM PREVALIDXML WHERE NRSEQVALIDXML = ?"), {batch},
                                    "apagar o log de validação");
        removed = q.numRowsAffected();
    });
    return MethodResult{true, removed};
}

// The sale array of a validation: its batch names the log the problems go into.
ImportedSale ValidationArray(const Args &args)
{
    args.ExpectCount(1);
    ImportedSale sale = ReadSaleArray(args.List(0, "vetor da venda"));
    if (sale.batch <= 0)
        throw Exception(QStringLiteral("Lote de validação não informado no vetor da venda (item 10)."));
    return sale;
}

// The problems the checks found, as rows of the sale's batch; inside the caller's transaction.
void WriteProblems(const ServerDb &db, const ImportedSale &sale, const SaleResolution &checks)
{
    if (checks.problems.isEmpty())
        return;
    const QString registerCode = checks.registerCode.isEmpty() ? sale.registerCode : checks.registerCode;
    QSqlQuery &insert = db.Cached(
        QStringLiteral("INSERT INTO PREVALIDXML (NRSEQVALIDXML, IDTPVALIDXML, NMARQXML, CDFILIAL, CDCAIXA, "
                       "NRNOTAFISCALCE, NRACESSONFCE, CDPRODUTO, NMPRODUTO, DSERROXML, DSAJUDAXML, DTHRREGISTRO) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, %1)")
            .arg(db.DateTimeParam()),
        "gravar o log de validação");
    const QVariant now = ServerDb::DateTimeValue(QDateTime::currentDateTime());
    for (const Problem &p : checks.problems)
        db.Run(insert,
               {sale.batch, QString(QChar::fromLatin1(p.type)), sale.fileName.left(150), sale.branch.left(4),
                registerCode.left(3), sale.invoice.left(9), sale.key.left(50), p.product.left(30),
                p.productName.left(50), p.description.left(300), p.help.left(300), now},
               "gravar o log de validação");
}

MethodResult setValidaXml(const RdmGeraXml &rdm, const Args &args)
{
    const ImportedSale sale = ValidationArray(args);
    SaleResolution checks;
    rdm.Db().ReadTogether([&] { checks = CheckSale(rdm.Db(), sale); });
    if (checks.problems.isEmpty())
        return MethodResult{true, 0};
    rdm.Db().WriteDeferredSync([&] { WriteProblems(rdm.Db(), sale, checks); });
    return MethodResult{true, int(checks.problems.size())};
}

// setValidaXml followed by the store of setVendasNfce or setVendas (by item 9), answered in one call: the
// problems go into the batch's log in the store's transaction, a sale with an error is refused with the
// store's own message after its rows are committed, and the answer is the store's (1 stored, 0 already
// held). The import sends a sale here when it knows the sale's branch; the two methods stay for others.
MethodResult setValidaGravaVenda(const RdmGeraXml &rdm, const Args &args)
{
    const ImportedSale sale = ValidationArray(args);
    const bool stored = StoreImportedSale(rdm.Db(), sale, [&](const SaleResolution &checks) {
        WriteProblems(rdm.Db(), sale, checks);
    });
    return MethodResult{stored ? 1 : 0, stored ? 1 : 0};
}

// setValidaGravaVenda for a list of sales in one call and one transaction: the answer is a list in the
// same order, each item 1 (stored), 0 (already held) or the message of the sale's refusal. A list that
// cannot be read is refused whole, naming the item.
constexpr int kMaxSalesPerCall = 500;

MethodResult setValidaGravaVendas(const RdmGeraXml &rdm, const Args &args)
{
    args.ExpectCount(1);
    const Args list = args.List(0, "lista de vendas");
    if (list.Count() > kMaxSalesPerCall)
        throw Exception(QStringLiteral("Lista de vendas com %1 vendas; o limite por chamada é %2.")
                            .arg(list.Count())
                            .arg(kMaxSalesPerCall));
    std::vector<ImportedSale> sales;
    sales.reserve(size_t(list.Count()));
    for (int i = 0; i < list.Count(); ++i) {
        sales.push_back(ReadSaleArray(list.List(i, "vetor da venda")));
        if (sales.back().batch <= 0)
            throw Exception(QStringLiteral("Lote de validação não informado no vetor da venda %1 (item 10).").arg(i + 1));
    }
    const std::vector<StoreOutcome> outcomes =
        StoreImportedSales(rdm.Db(), sales, [&](const ImportedSale &sale, const SaleResolution &checks) {
            WriteProblems(rdm.Db(), sale, checks);
        });
    QVariantList answer;
    for (const StoreOutcome &o : outcomes)
        answer << (o.error.isEmpty() ? QVariant(o.stored ? 1 : 0) : QVariant(o.error));
    return MethodResult{answer, -1};
}

} // namespace

void AddValidationMethods(QHash<QString, RdmGeraXml::Method> &methods)
{
    methods.insert(QStringLiteral("getPrxPreValidXml"), getPrxPreValidXml);
    methods.insert(QStringLiteral("getPreValidXml"), getPreValidXml);
    methods.insert(QStringLiteral("setDelPreValidXml"), setDelPreValidXml);
    methods.insert(QStringLiteral("setValidaXml"), setValidaXml);
    methods.insert(QStringLiteral("setValidaGravaVenda"), setValidaGravaVenda);
    methods.insert(QStringLiteral("setValidaGravaVendas"), setValidaGravaVendas);
}

} // namespace vnd::server
