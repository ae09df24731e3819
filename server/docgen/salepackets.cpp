#include "server/docgen/salepackets.h"

#include "host/hostutil.h"
#include "host/salepackets.h"

namespace vnd::docgen {

namespace {

void Set(TClientDataSet &cds, const char *field, const QVariant &value)
{
    cds.FieldByName(QString::fromLatin1(field)).SetValue(value);
}

TDataPacket Rewrite(const TDataPacket &packet, int row, const QString &field, const QVariant &value)
{
    TClientDataSet cds;
    cds.SetData(packet);
    cds.SetRecNo(row);
    cds.Edit();
    cds.FieldByName(field).SetValue(value);
    cds.Post();
    return cds.Data();
}

} // namespace

TDataPacket SalePacket(const Sale &s)
{
    TClientDataSet cds;
    const bool nfce = s.kind == DocKind::Nfce;
    nfce ? DefineVendaNfcePacote(cds) : DefineVendaSatPacote(cds);
    cds.CreateDataSet();
    cds.Append();
    Set(cds, "NRACESSONFCE", s.StoredAccessKey());
    Set(cds, "NRNOTAFISCALCE", QString::number(s.number).rightJustified(nfce ? 9 : 6, QLatin1Char('0')));
    Set(cds, "DTVENDA", s.issuedAt);
    Set(cds, "IDTPAMBNFCE ", s.environment);
    Set(cds, "NRINSCRCONS", s.customerCpf);
    Set(cds, "NRINSJURFILI", s.issuerCnpj);
    Set(cds, "VRTOTVENDA", s.total / 100.0);
    if (nfce) {
        Set(cds, "CDSERIENFCE", Ajusta(s.series, 3));
        Set(cds, "NRLANCTONFCE", s.issuedAt.toString(QStringLiteral("dd")) + s.randomCode);
        const bool processed = s.status == NfceStatus::Authorized || s.status == NfceStatus::Cancelled;
        if (processed) {
            Set(cds, "DTHRPROTOCONFCE", s.authorizedAt);
            Set(cds, "NRPROTOCOLONFCE", s.protocolNumber);
            Set(cds, "DSOBSSTATUSNFCE", s.statusCode + QStringLiteral(" - ") + s.statusText);
        }
        Set(cds, "DSARQXMLNFCE", processed ? ProcessedNfce(s) : StoredNfce(s, NfceForm::Utf8Declaration));
    } else {
        Set(cds, "CDSERIESAT", s.series);
        Set(cds, "CDCAIXA", s.registerCode);
        Set(cds, "NRLANCTONFCE", s.randomCode);
        Set(cds, "DSARQXMLNFCE", s.cfe);
    }
    cds.Post();
    return cds.Data();
}

QVariantList SaleArray(const Sale &s, const ArrayOptions &o)
{
    TClientDataSet items;
    DefineItensVendaPacote(items);
    items.CreateDataSet();
    for (const SaleItem &it : s.items) {
        items.Append();
        Set(items, "CDPRODUTO", it.productCode);
        Set(items, "QTPRODVEND", it.quantity / 10000.0);
        Set(items, "VRUNITVEND", it.unitPrice / 100.0);
        Set(items, "VRDESITVEND", (it.discount + it.ratedDiscount) / 100.0);
        Set(items, "VRACRITVEND", (it.surcharge + it.ratedSurcharge) / 100.0);
        Set(items, "NRSEQUITVEND", Ajusta(QString::number(it.number), 3));
        items.Post();
    }
    TClientDataSet payments;
    DefineMeioPgtoPacote(payments);
    payments.CreateDataSet();
    const bool nfce = s.kind == DocKind::Nfce;
    for (const SalePayment &p : s.payments) {
        payments.Append();
        Set(payments, "IDPGTO", p.fiscalCode);
        Set(payments, "VRPGTO", p.amount / 100.0);
        payments.Post();
    }
    if (s.change > 0) {
        payments.Append();
        Set(payments, "IDPGTO", nfce ? QStringLiteral("TR") : QStringLiteral("00"));
        Set(payments, "VRPGTO", s.change / 100.0);
        payments.Post();
    }
    return {QVariant::fromValue(SalePacket(s)), QVariant::fromValue(items.Data()), QVariant::fromValue(payments.Data()),
            o.branch, o.company, o.fileName, QStringLiteral("OPER01"), o.registerCode,
            nfce ? QStringLiteral("N") : QStringLiteral("S"), o.batch};
}

QVariantList CancelArray(const Sale &s, const QString &branch, const QString &registerCode)
{
    TClientDataSet cds;
    DefineVendaSatPacote(cds);
    cds.CreateDataSet();
    cds.Append();
    Set(cds, "NRACESSONFCE", s.StoredAccessKey());
    Set(cds, "NRACESSOCANC", QStringLiteral("CFe") + s.cancelAccessKey);
    Set(cds, "DTVENDA", QDateTime(s.cancelledAt.date(), QTime(0, 0)));
    Set(cds, "NRINSJURFILI", s.issuerCnpj);
    Set(cds, "CDSERIESAT", s.series);
    Set(cds, "CDCAIXA", s.registerCode);
    Set(cds, "DSARQXMLNFCE", s.cfeCanc);
    cds.Post();
    return {QVariant::fromValue(cds.Data()), branch, registerCode};
}

QVariantList WithSaleField(const QVariantList &array, const QString &field, const QVariant &value)
{
    QVariantList out = array;
    out[0] = QVariant::fromValue(Rewrite(array[0].value<TDataPacket>(), 0, field, value));
    return out;
}

QVariantList WithItemField(const QVariantList &array, int row, const QString &field, const QVariant &value)
{
    QVariantList out = array;
    out[1] = QVariant::fromValue(Rewrite(array[1].value<TDataPacket>(), row, field, value));
    return out;
}

} // namespace vnd::docgen
