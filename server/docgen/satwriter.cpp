// SAT CF-e documents: the coupon as the SAT completes it (layout 0.07), its cancellation coupon, and
// the batches (envCFe/LoteCFe, cancCFe/LoteCFeCanc) in which they travel to the tax authority.

#include "server/docgen/docgen_p.h"
#include "server/docgen/fiscalcodes.h"

#include "host/errors.h"

#include <QRegularExpression>

namespace vnd::docgen
{

namespace
{

QString Date(const QDateTime &when)
{
    return when.toString(QStringLiteral("yyyyMMdd"));
}
QString Time(const QDateTime &when)
{
    return when.toString(QStringLiteral("HHmmss"));
}

// The SAT signs the QR-code data and the point-of-sale vendor signs the pair of CNPJs: 2048-bit RSA,
// 344 characters of base64 each.
QString QrSignature(const QString &key, const QDateTime &when, qint64 total, const QString &cpf)
{
    return PseudoBase64((key + Date(when) + Time(when) + Money(total) + cpf).toLatin1(), 256);
}

QString VendorSignature(const QString &vendorCnpj, const QString &issuerCnpj)
{
    return PseudoBase64((vendorCnpj + issuerCnpj).toLatin1(), 256);
}

void AddEmit(XmlNode &inf, const Branch &b, bool full)
{
    XmlNode &issuer = inf.Add("emit");
    issuer.Text("CNPJ", b.cnpj).Text("xNome", b.name).Text("xFant", b.tradeName);
    issuer.Add("enderEmit")
        .Text("xLgr", b.street)
        .Text("nro", b.number)
        .Text("xBairro", b.district)
        .Text("xMun", b.city)
        .Text("CEP", b.cep);
    issuer.Text("IE", b.ie).Text("IM", b.im);
    if (full)
        issuer.Text("cRegTrib", QString::number(b.crt)).Text("indRatISSQN", QStringLiteral("N"));
}

void AddTaxes(XmlNode &det, const SaleItem &it, const Branch &b)
{
    XmlNode &tax = det.Add("imposto");
    tax.Text("vItem12741", Money(it.approxTaxes));
    XmlNode &icms = tax.Add("ICMS");
    const bool st = it.cfop == QStringLiteral("5405");
    if (b.crt == 1) {
        icms.Add("ICMSSN102")
            .Text("Orig", QStringLiteral("0"))
            .Text("CSOSN", st ? QStringLiteral("500") : QStringLiteral("102"));
    } else if (st || it.icmsRate == 0) {
        icms.Add("ICMS40")
            .Text("Orig", QStringLiteral("0"))
            .Text("CST", st ? QStringLiteral("60") : QStringLiteral("40"));
    } else {
        icms.Add("ICMS00")
            .Text("Orig", QStringLiteral("0"))
            .Text("CST", QStringLiteral("00"))
            .Text("pICMS", Rate(it.icmsRate))
            .Text("vICMS", Money(it.icms));
    }
    if (b.crt == 1) {
        tax.Add("PIS").Add("PISSN").Text("CST", QStringLiteral("49"));
        tax.Add("COFINS").Add("COFINSSN").Text("CST", QStringLiteral("49"));
        return;
    }
    tax.Add("PIS")
        .Add("PISAliq")
        .Text("CST", QStringLiteral("01"))
        .Text("vBC", Money(it.net))
        .Text("pPIS", RateFraction(165))
        .Text("vPIS", Money(it.pis));
    tax.Add("COFINS")
        .Add("COFINSAliq")
        .Text("CST", QStringLiteral("01"))
        .Text("vBC", Money(it.net))
        .Text("pCOFINS", RateFraction(760))
        .Text("vCOFINS", Money(it.cofins));
}

void AddItems(XmlNode &inf, const Sale &s, const Branch &b)
{
    for (const SaleItem &it : s.items) {
        XmlNode &det = inf.Add("det");
        det.Attr("nItem", QString::number(it.number));
        XmlNode &prod = det.Add("prod");
        prod.Text("cProd", it.productCode);
        if (!it.ean.isEmpty())
            prod.Text("cEAN", it.ean);
        prod.Text("xProd", it.productName).Text("NCM", it.ncm).Text("CFOP", it.cfop).Text("uCom", it.unit);
        prod.Text("qCom", Quantity(it.quantity))
            .Text("vUnCom", Money(it.unitPrice))
            .Text("vProd", Money(it.gross));
        prod.Text("indRegra", QStringLiteral("A"));
        if (it.discount)
            prod.Text("vDesc", Money(it.discount));
        if (it.surcharge)
            prod.Text("vOutro", Money(it.surcharge));
        // vItem is the item before the subtotal's discount or surcharge, which follow it as rated shares.
        prod.Text("vItem", Money(it.gross - it.discount + it.surcharge));
        if (it.ratedDiscount)
            prod.Text("vRatDesc", Money(it.ratedDiscount));
        if (it.ratedSurcharge)
            prod.Text("vRatAcr", Money(it.ratedSurcharge));
        AddTaxes(det, it, b);
    }
}

void AddTotals(XmlNode &inf, const Sale &s)
{
    XmlNode &total = inf.Add("total");
    total.Add("ICMSTot")
        .Text("vICMS", Money(s.icmsTotal))
        .Text("vProd", Money(s.productsTotal))
        .Text("vDesc", Money(s.discountTotal))
        .Text("vPIS", Money(s.pisTotal))
        .Text("vCOFINS", Money(s.cofinsTotal))
        .Text("vPISST", Money(0))
        .Text("vCOFINSST", Money(0))
        .Text("vOutro", Money(s.surchargeTotal));
    total.Text("vCFe", Money(s.total));
    if (s.subtotalDiscount)
        total.Add("DescAcrEntr").Text("vDescSubtot", Money(s.subtotalDiscount));
    else if (s.subtotalSurcharge)
        total.Add("DescAcrEntr").Text("vAcresSubtot", Money(s.subtotalSurcharge));
    total.Text("vCFeLei12741", Money(s.approxTaxesTotal));
    XmlNode &pgto = inf.Add("pgto");
    for (const SalePayment &p : s.payments)
        pgto.Add("MP").Text("cMP", p.fiscalCode).Text("vMP", Money(p.amount));
    pgto.Text("vTroco", Money(s.change));
}

QByteArray Coupon(const Sale &s, const Branch &b, const CashRegister &reg, const QString &vendorCnpj)
{
    auto inf = std::make_unique<XmlNode>("infCFe");
    const QString id = QStringLiteral("CFe") + s.accessKey;
    inf->Attr("Id", id)
        .Attr("versao", s.layoutVersion)
        .Attr("versaoDadosEnt", s.layoutVersion)
        .Attr("versaoSB", QStringLiteral("010300"));
    inf->Add("ide")
        .Text("cUF", QString::number(b.ufCode))
        .Text("cNF", s.randomCode)
        .Text("mod", QStringLiteral("59"))
        .Text("nserieSAT", reg.satSerial)
        .Text("nCFe", QStringLiteral("%1").arg(s.number, 6, 10, QChar(u'0')))
        .Text("dEmi", Date(s.issuedAt))
        .Text("hEmi", Time(s.issuedAt))
        .Text("cDV", s.accessKey.right(1))
        .Text("tpAmb", s.environment)
        .Text("CNPJ", vendorCnpj)
        .Text("signAC", VendorSignature(vendorCnpj, b.cnpj))
        .Text("assinaturaQRCODE", QrSignature(s.accessKey, s.issuedAt, s.total, s.customerCpf))
        .Text("numeroCaixa", reg.code);
    AddEmit(*inf, b, true);
    XmlNode &dest = inf->Add("dest");
    if (!s.customerCpf.isEmpty())
        dest.Text("CPF", s.customerCpf);
    if (!s.customerName.isEmpty())
        dest.Text("xNome", s.customerName);
    AddItems(*inf, s, b);
    AddTotals(*inf, s);
    inf->Add("infAdic").Text("infCpl",
                             QStringLiteral("Trib aprox R$ %1 Fonte: IBPT. Obrigado pela preferência!")
                                 .arg(MoneyBr(s.approxTaxesTotal)));
    auto signature = SignatureNode(*inf, {}, id, DigestKind::Sha256, b.cnpj, nullptr);
    XmlNode cfe("CFe");
    cfe.Append(std::move(inf)).Append(std::move(signature));
    return cfe.Markup();
}

QByteArray CancelCoupon(const Sale &s, const Branch &b, const CashRegister &reg, const QString &vendorCnpj,
                        int cancelNumber, const QString &cancelCode, QString *cancelKey)
{
    *cancelKey =
        SatAccessKey(b.ufCode, s.cancelledAt.date(), b.cnpj, reg.satSerial, cancelNumber, cancelCode);
    const QString id = QStringLiteral("CFe") + *cancelKey;
    auto inf = std::make_unique<XmlNode>("infCFe");
    // dEmi and hEmi directly under infCFe date the cancelled coupon; those under ide, the cancellation.
    inf->Attr("Id", id)
        .Attr("chCanc", QStringLiteral("CFe") + s.accessKey)
        .Attr("versao", s.layoutVersion)
        .Text("dEmi", Date(s.issuedAt))
        .Text("hEmi", Time(s.issuedAt));
    inf->Add("ide")
        .Text("cUF", QString::number(b.ufCode))
        .Text("cNF", cancelCode)
        .Text("mod", QStringLiteral("59"))
        .Text("nserieSAT", reg.satSerial)
        .Text("nCFe", QStringLiteral("%1").arg(cancelNumber, 6, 10, QChar(u'0')))
        .Text("dEmi", Date(s.cancelledAt))
        .Text("hEmi", Time(s.cancelledAt))
        .Text("cDV", cancelKey->right(1))
        .Text("CNPJ", vendorCnpj)
        .Text("signAC", VendorSignature(vendorCnpj, b.cnpj))
        .Text("assinaturaQRCODE", QrSignature(*cancelKey, s.cancelledAt, s.total, s.customerCpf))
        .Text("numeroCaixa", reg.code);
    AddEmit(*inf, b, false);
    XmlNode &dest = inf->Add("dest");
    if (!s.customerCpf.isEmpty())
        dest.Text("CPF", s.customerCpf);
    inf->Add("total").Text("vCFe", Money(s.total));
    auto signature = SignatureNode(*inf, {}, id, DigestKind::Sha256, b.cnpj, nullptr);
    XmlNode canc("CFeCanc");
    canc.Append(std::move(inf)).Append(std::move(signature));
    return canc.Markup();
}

void CheckBatch(const QList<Sale> &sales, const QString &batchId, bool cancellations)
{
    const QString what = cancellations ? QStringLiteral("cancelamento SAT") : QStringLiteral("CF-e SAT");
    if (sales.isEmpty() || sales.size() > 50)
        throw Exception(
            QStringLiteral("Um lote de %1 leva de 1 a 50 cupons, não %2.").arg(what).arg(sales.size()));
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,15}$"));
    if (!digits.match(batchId).hasMatch())
        throw Exception(QStringLiteral("Número de lote inválido: \"%1\".").arg(batchId));
    for (const Sale &s : sales) {
        if (s.kind != DocKind::Sat)
            throw Exception(QStringLiteral("A venda %1 não é um CF-e SAT.").arg(s.saleNumber));
        if (cancellations && s.cfeCanc.isEmpty())
            throw Exception(QStringLiteral("O CF-e %1 não está cancelado.").arg(s.StoredAccessKey()));
    }
}

} // namespace

void WriteSatDocuments(Sale &s, const Branch &b, const CashRegister &reg, const QString &vendorCnpj,
                       int cancelNumber, const QString &cancelCode)
{
    s.cfe = Coupon(s, b, reg, vendorCnpj);
    if (s.status == NfceStatus::Cancelled)
        s.cfeCanc = CancelCoupon(s, b, reg, vendorCnpj, cancelNumber, cancelCode, &s.cancelAccessKey);
}

QByteArray SatBatch(const QList<Sale> &sales, const QString &batchId)
{
    CheckBatch(sales, batchId, false);
    const Sale &first = sales.first();
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><envCFe versao=\"" +
                     first.layoutVersion.toLatin1() + "\"><tpAmb>" + first.environment.toLatin1() +
                     "</tpAmb><idLote>" + batchId.toLatin1() + "</idLote><cUF>" +
                     first.accessKey.left(2).toLatin1() + "</cUF><LoteCFe>";
    for (const Sale &s : sales)
        out += s.cfe;
    out += "</LoteCFe><nSeg>1</nSeg><dhEnvio>" +
           sales.last().issuedAt.addSecs(60).toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() +
           "</dhEnvio><nserieSAT>" + first.series.toLatin1() + "</nserieSAT></envCFe>";
    return out;
}

QByteArray SatCancelBatch(const QList<Sale> &sales, const QString &batchId)
{
    CheckBatch(sales, batchId, true);
    const Sale &first = sales.first();
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><cancCFe versao=\"" +
                     first.layoutVersion.toLatin1() + "\"><tpAmb>" + first.environment.toLatin1() +
                     "</tpAmb><idLote>" + batchId.toLatin1() + "</idLote><LoteCFeCanc>";
    for (const Sale &s : sales)
        out += s.cfeCanc;
    out += "</LoteCFeCanc><cUF>" + first.accessKey.left(2).toLatin1() + "</cUF><nSeg>1</nSeg><dhEnvio>" +
           sales.last().cancelledAt.addSecs(60).toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() +
           "</dhEnvio><nserieSAT>" + first.series.toLatin1() + "</nserieSAT></cancCFe>";
    return out;
}

} // namespace vnd::docgen
