#include "server/seed.h"

#include "host/errors.h"
#include "server/docgen/docgen.h"
#include "server/docgen/importfolder.h"
#include "server/salestore.h"

#include <QDir>
#include <QFile>

namespace vnd::server {

namespace {

using namespace vnd::docgen;

QVariant Nullable(const QString &s) { return s.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(s); }

int InsertMaster(const ServerDb &db, const QString &table, const QStringList &columns, const QList<QVariantList> &rows)
{
    QStringList marks;
    for (int i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    QSqlQuery q = db.Prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT DO NOTHING")
                                 .arg(table, columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))),
                             "gravar o cadastro de demonstração");
    int n = 0;
    for (const QVariantList &row : rows) {
        db.Run(q, row, "gravar o cadastro de demonstração");
        n += q.numRowsAffected() > 0 ? 1 : 0;
    }
    return n;
}

void SeedMaster(const ServerDb &db, const Generator &gen, SeedReport &report)
{
    QList<QVariantList> branches, registers, customers, receiptTypes, products;
    for (const Branch &b : gen.Branches())
        branches << QVariantList{b.code, b.tradeName.left(30), b.companyCode, b.cnpj, Nullable(b.ie), Nullable(b.uf),
                                 Nullable(b.consultUrl), Nullable(b.certificateSerial)};
    for (const CashRegister &c : gen.CashRegisters())
        registers << QVariantList{c.branchCode, c.code, c.name, QString::number(c.nfceSeries).rightJustified(3, QLatin1Char('0')),
                                  Nullable(c.satSerial)};
    for (const Customer &c : gen.Customers())
        customers << QVariantList{c.code, c.name.left(100), Nullable(c.cpf)};
    for (const ReceiptType &r : gen.ReceiptTypes())
        receiptTypes << QVariantList{r.code, r.name, Nullable(r.fiscalCode)};
    for (const Product &p : gen.Products())
        products << QVariantList{p.code, p.name.left(100), Nullable(p.ean), Nullable(p.ncm), Nullable(p.unit), p.price / 100.0};
    db.Write([&] {
        report.branches = InsertMaster(db, QStringLiteral("FILIAL"),
                                       {QStringLiteral("CDFILIAL"), QStringLiteral("NMFILIAL"), QStringLiteral("CDEMPRESA"),
                                        QStringLiteral("NRINSJURFILI"), QStringLiteral("NRINSCESTFILI"), QStringLiteral("SGESTADO"),
                                        QStringLiteral("WSSITEUFQRCODENFC"), QStringLiteral("NRCERTDIGNFCE")},
                                       branches);
        report.registers = InsertMaster(db, QStringLiteral("CAIXA"),
                                        {QStringLiteral("CDFILIAL"), QStringLiteral("CDCAIXA"), QStringLiteral("NMCAIXA"),
                                         QStringLiteral("CDSERIENFCE"), QStringLiteral("CDSERIESAT")},
                                        registers);
        report.customers = InsertMaster(db, QStringLiteral("CLIENTE"),
                                        {QStringLiteral("CDCLIENTE"), QStringLiteral("NMRAZSOCCLIE"), QStringLiteral("NRINSJURCLIE")},
                                        customers);
        report.receiptTypes = InsertMaster(db, QStringLiteral("TIPORECE"),
                                           {QStringLiteral("CDTIPORECE"), QStringLiteral("NMTIPORECE"), QStringLiteral("IDTIPOPGTOFISC")},
                                           receiptTypes);
        report.products = InsertMaster(db, QStringLiteral("PRODUTO"),
                                       {QStringLiteral("CDPRODUTO"), QStringLiteral("NMPRODUTO"), QStringLiteral("CDBARRAPROD"),
                                        QStringLiteral("CDNCM"), QStringLiteral("SGUNIDADE"), QStringLiteral("VRPRECOPROD")},
                                       products);
    });
}

// The stored forms of an NFC-e taken in turn, so that every form the export must handle is present.
NfceForm FormFor(const Sale &sale, int index)
{
    const bool processable = sale.status == NfceStatus::Authorized || sale.status == NfceStatus::Cancelled;
    static const NfceForm all[] = {NfceForm::BareDeclaration, NfceForm::Utf8Declaration, NfceForm::EnviNFe,
                                   NfceForm::Processed};
    return all[index % (processable ? 4 : 3)];
}

} // namespace

SaleRows RowsFor(const Generator &gen, const Sale &s, int index)
{
    SaleRows out;
    VendaRow &r = out.row;
    const bool nfce = s.kind == DocKind::Nfce;
    r.CDFILIAL = s.branchCode;
    r.CDCAIXA = s.registerCode;
    r.NRSEQVENDA = s.saleNumber;
    r.DTENTRVENDA = s.issuedAt;
    r.NRACESSONFCE = s.StoredAccessKey();
    r.CDSERIE = nfce ? s.series.rightJustified(3, QLatin1Char('0')) : s.series;
    r.IDTPEMISVEND = s.EmissionFlag();
    r.NRNOTAFISCALCE = QString::number(s.number).rightJustified(nfce ? 9 : 6, QLatin1Char('0'));
    r.IDSITUVENDA = s.SituationFlag();
    r.NRPROTOCOLONFCE = s.protocolNumber;
    r.DTHRPROTOCONFCE = s.authorizedAt;
    r.IDTPAMBNFCE = s.environment;
    r.IDSTATUSNFCE = s.StatusFlag();
    r.DSOBSSTATUSNFCE = s.statusCode.isEmpty() ? s.statusText : s.statusCode + QStringLiteral(" - ") + s.statusText;
    r.NRINSJURIEST = s.issuerCnpj;
    r.DSRAZAOCANCNFCE = s.cancelReason;
    r.DTHRPROTOCOCANC = s.cancelledAt;
    r.NRPROTOCOLOCANC = s.cancelProtocolNumber;
    r.NRCERTDIGNFCE = gen.BranchByCode(s.branchCode).certificateSerial;
    r.WSSITEUFQRCODENFC = s.qrSiteUrl;
    r.DSQRCODENFCE = s.qrCode;
    r.CDVERSAOXMLNFCE = s.layoutVersion;
    r.IDORIGEMVENDA = QStringLiteral("PDV");
    r.CDCLIENTE = s.customerCode;
    r.NRINSCRCONS = s.customerCpf;
    r.NRLANCTONFCE = nfce ? s.issuedAt.toString(QStringLiteral("dd")) + s.randomCode : s.randomCode;
    if (!nfce && !s.cfeCanc.isEmpty())
        r.NRACESSOCANC = QStringLiteral("CFe") + s.cancelAccessKey;
    r.VRTOTVENDA = s.total / 100.0;
    r.DSARQXMLNFCE = s.StoredDocument(FormFor(s, index));
    r.DSARQXMLCANCNFCE = s.StoredCancellation();
    for (const SaleItem &it : s.items)
        out.items << VendaItemRow{QString::number(it.number).rightJustified(3, QLatin1Char('0')), it.productCode,
                                  it.quantity / 10000.0, it.unitPrice / 100.0, (it.discount + it.ratedDiscount) / 100.0,
                                  (it.surcharge + it.ratedSurcharge) / 100.0};
    for (const SalePayment &p : s.payments)
        out.payments << VendaReceRow{p.fiscalCode, p.receiptTypeCode, p.amount / 100.0, false};
    if (s.change > 0)
        out.payments << VendaReceRow{nfce ? QStringLiteral("TR") : QStringLiteral("00"), QString(), s.change / 100.0, true};
    return out;
}

SeedReport SeedDatabase(const ServerDb &db, const SeedOptions &o)
{
    SeedReport report;
    docgen::MasterOptions master;
    master.alphanumericCompanies = o.alphanumericCompanies;
    Generator gen(o.seed, master);
    SeedMaster(db, gen, report);

    // Shop hours, 08:00 to 22:00, shared evenly by the days of the period.
    const int days = int(o.from.daysTo(o.to)) + 1;
    const int perDay = std::max(1, (o.sales + days - 1) / days);
    const qint64 step = 14 * 3600 / perDay;
    const int block = 500;
    for (int start = 0; start < o.sales; start += block) {
        QList<SaleRows> rows;
        for (int i = start; i < std::min(o.sales, start + block); ++i) {
            SaleOptions so;
            so.issuedAt = QDateTime(o.from.addDays(i / perDay), QTime(8, 0)).addSecs(step * (i % perDay));
            if (o.mixedLayouts && i % 3 != 0)
                so.layoutVersion = QStringLiteral("4.00");
            rows << RowsFor(gen, gen.MakeSale(so), i);
        }
        db.Write([&] {
            for (const SaleRows &r : rows)
                report.sales += InsertVenda(db, r.row, r.items, r.payments) ? 1 : 0;
        });
    }

    if (!o.importDir.isEmpty()) {
        const QList<ImportCase> cases = WriteImportFolder(gen, o.importDir);
        report.importFiles = int(cases.size());
        // The manifest stands beside the folder, not in it: the import reads every file of the folder.
        const QString manifest = QDir::cleanPath(o.importDir) + QStringLiteral(".manifest.tsv");
        QFile f(manifest);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(ImportManifest(cases)) < 0)
            throw Exception(QStringLiteral("Não foi possível gravar %1.").arg(manifest));
    }
    return report;
}

} // namespace vnd::server
