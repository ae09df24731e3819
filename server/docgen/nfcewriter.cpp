// NFC-e documents: the signed NFe (layouts 3.10 and 4.00) with its QR-code supplement, its stored forms,
// the processed nfeProc and the processed cancellation event.

#include "server/docgen/docgen_p.h"
#include "server/docgen/fiscalcodes.h"

#include "host/errors.h"

#include <QCryptographicHash>

namespace vnd::docgen
{

namespace
{

const QByteArray kSupplementOpen = "<infNFeSupl>";
const QByteArray kSupplementClose = "</infNFeSupl>";

QString Hex(const QString &text)
{
    return QString::fromLatin1(text.toUtf8().toHex());
}

QString Sha1Hex(const QString &text)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1).toHex().toUpper());
}

// QR code of layout 3.10 (version 100): the parameters, then the SHA-1 of them followed by the CSC.
QString QrCode310(const Sale &s, const Branch &b)
{
    QString params = QStringLiteral("chNFe=%1&nVersao=100&tpAmb=%2").arg(s.accessKey, s.environment);
    if (!s.customerCpf.isEmpty())
        params += QStringLiteral("&cDest=") + s.customerCpf;
    params += QStringLiteral("&dhEmi=") + Hex(FiscalDateTime(s.issuedAt));
    params += QStringLiteral("&vNF=") + Money(s.total) + QStringLiteral("&vICMS=") + Money(s.icmsTotal);
    params += QStringLiteral("&digVal=") + Hex(s.digestValue) + QStringLiteral("&cIdToken=") + b.cscId;
    return b.qrCodeUrl + u'?' + params + QStringLiteral("&cHashQRCode=") + Sha1Hex(params + b.csc);
}

// QR code of layout 4.00, version 2. Online emission: key, version, environment, CSC id and hash. A note
// issued in contingency (tpEmis 9) cannot be looked up until it is transmitted, so its code also carries
// the day of issue, the total and the digest (in hex), before the CSC id.
QString QrCode400(const Sale &s, const Branch &b)
{
    QString p = QStringLiteral("%1|2|%2").arg(s.accessKey, s.environment);
    if (s.status == NfceStatus::Pending)
        p += QStringLiteral("|%1|%2|%3").arg(s.issuedAt.toString(QStringLiteral("dd")), Money(s.total), Hex(s.digestValue));
    p += QStringLiteral("|%1").arg(b.cscId.toInt());
    return b.qrCodeUrl + QStringLiteral("?p=") + p + u'|' + Sha1Hex(p + b.csc);
}

void AddIde(XmlNode &inf, const Sale &s, const Branch &b, bool v4)
{
    const bool contingency = s.status == NfceStatus::Pending;
    XmlNode &ide = inf.Add("ide");
    ide.Text("cUF", QString::number(b.ufCode))
        .Text("cNF", s.randomCode)
        .Text("natOp", QStringLiteral("Venda de mercadoria"));
    if (!v4)
        ide.Text("indPag", QStringLiteral("0"));
    ide.Text("mod", QStringLiteral("65")).Text("serie", s.series).Text("nNF", QString::number(s.number));
    ide.Text("dhEmi", FiscalDateTime(s.issuedAt))
        .Text("tpNF", QStringLiteral("1"))
        .Text("idDest", QStringLiteral("1"));
    ide.Text("cMunFG", b.cityCode).Text("tpImp", QStringLiteral("4"));
    ide.Text("tpEmis", contingency ? QStringLiteral("9") : QStringLiteral("1"))
        .Text("cDV", s.accessKey.right(1));
    ide.Text("tpAmb", s.environment)
        .Text("finNFe", QStringLiteral("1"))
        .Text("indFinal", QStringLiteral("1"));
    ide.Text("indPres", QStringLiteral("1"))
        .Text("procEmi", QStringLiteral("0"))
        .Text("verProc", QStringLiteral("VND PDV 2.4.1"));
    if (contingency)
        ide.Text("dhCont", FiscalDateTime(s.issuedAt))
            .Text("xJust", QStringLiteral("Sem comunicação com a SEFAZ no momento da venda"));
}

void AddEmitDest(XmlNode &inf, const Sale &s, const Branch &b)
{
    XmlNode &issuer = inf.Add("emit");
    issuer.Text("CNPJ", b.cnpj).Text("xNome", b.name).Text("xFant", b.tradeName);
    issuer.Add("enderEmit")
        .Text("xLgr", b.street)
        .Text("nro", b.number)
        .Text("xBairro", b.district)
        .Text("cMun", b.cityCode)
        .Text("xMun", b.city)
        .Text("UF", b.uf)
        .Text("CEP", b.cep)
        .Text("cPais", QStringLiteral("1058"))
        .Text("xPais", QStringLiteral("Brasil"))
        .Text("fone", b.phone);
    issuer.Text("IE", b.ie).Text("CRT", QString::number(b.crt));
    if (s.customerCpf.isEmpty())
        return;
    XmlNode &dest = inf.Add("dest");
    dest.Text("CPF", s.customerCpf);
    if (!s.customerName.isEmpty())
        dest.Text("xNome", s.customerName);
    dest.Text("indIEDest", QStringLiteral("9"));
}

void AddTaxes(XmlNode &det, const SaleItem &it, const Branch &b)
{
    XmlNode &tax = det.Add("imposto");
    tax.Text("vTotTrib", Money(it.approxTaxes));
    XmlNode &icms = tax.Add("ICMS");
    const bool st = it.cfop == QStringLiteral("5405");
    if (b.crt == 1) {
        icms.Add(st ? "ICMSSN500" : "ICMSSN102")
            .Text("orig", QStringLiteral("0"))
            .Text("CSOSN", st ? QStringLiteral("500") : QStringLiteral("102"));
    } else if (st) {
        icms.Add("ICMS60").Text("orig", QStringLiteral("0")).Text("CST", QStringLiteral("60"));
    } else if (it.icmsRate == 0) {
        icms.Add("ICMS40").Text("orig", QStringLiteral("0")).Text("CST", QStringLiteral("40"));
    } else {
        icms.Add("ICMS00")
            .Text("orig", QStringLiteral("0"))
            .Text("CST", QStringLiteral("00"))
            .Text("modBC", QStringLiteral("3"))
            .Text("vBC", Money(it.icmsBase))
            .Text("pICMS", Rate(it.icmsRate))
            .Text("vICMS", Money(it.icms));
    }
    const bool normal = b.crt == 3;
    tax.Add("PIS")
        .Add(normal ? "PISAliq" : "PISOutr")
        .Text("CST", normal ? QStringLiteral("01") : QStringLiteral("49"))
        .Text("vBC", Money(normal ? it.net : 0))
        .Text("pPIS", Rate(normal ? 165 : 0))
        .Text("vPIS", Money(it.pis));
    tax.Add("COFINS")
        .Add(normal ? "COFINSAliq" : "COFINSOutr")
        .Text("CST", normal ? QStringLiteral("01") : QStringLiteral("49"))
        .Text("vBC", Money(normal ? it.net : 0))
        .Text("pCOFINS", Rate(normal ? 760 : 0))
        .Text("vCOFINS", Money(it.cofins));
}

void AddItems(XmlNode &inf, const Sale &s, const Branch &b, bool v4)
{
    // Layout 4.00 writes "SEM GTIN" where 3.10 leaves the barcode empty.
    const QString noGtin = v4 ? QStringLiteral("SEM GTIN") : QString();
    for (const SaleItem &it : s.items) {
        XmlNode &det = inf.Add("det");
        det.Attr("nItem", QString::number(it.number));
        XmlNode &prod = det.Add("prod");
        prod.Text("cProd", it.productCode).Text("cEAN", it.ean.isEmpty() ? noGtin : it.ean);
        prod.Text("xProd", it.productName).Text("NCM", it.ncm);
        if (!it.cest.isEmpty())
            prod.Text("CEST", it.cest);
        prod.Text("CFOP", it.cfop).Text("uCom", it.unit).Text("qCom", Quantity(it.quantity));
        prod.Text("vUnCom", Money(it.unitPrice)).Text("vProd", Money(it.gross));
        prod.Text("cEANTrib", it.ean.isEmpty() ? noGtin : it.ean).Text("uTrib", it.unit);
        prod.Text("qTrib", Quantity(it.quantity)).Text("vUnTrib", Money(it.unitPrice));
        if (it.discount)
            prod.Text("vDesc", Money(it.discount));
        if (it.surcharge)
            prod.Text("vOutro", Money(it.surcharge));
        prod.Text("indTot", QStringLiteral("1"));
        AddTaxes(det, it, b);
    }
}

void AddTotals(XmlNode &inf, const Sale &s, bool v4)
{
    const QString zero = Money(0);
    XmlNode &tot = inf.Add("total").Add("ICMSTot");
    tot.Text("vBC", Money(s.icmsBaseTotal)).Text("vICMS", Money(s.icmsTotal)).Text("vICMSDeson", zero);
    if (v4)
        tot.Text("vFCP", zero);
    tot.Text("vBCST", zero).Text("vST", zero);
    if (v4)
        tot.Text("vFCPST", zero).Text("vFCPSTRet", zero);
    tot.Text("vProd", Money(s.productsTotal)).Text("vFrete", zero).Text("vSeg", zero);
    tot.Text("vDesc", Money(s.discountTotal)).Text("vII", zero).Text("vIPI", zero);
    if (v4)
        tot.Text("vIPIDevol", zero);
    tot.Text("vPIS", Money(s.pisTotal)).Text("vCOFINS", Money(s.cofinsTotal));
    tot.Text("vOutro", Money(s.surchargeTotal)).Text("vNF", Money(s.total));
    tot.Text("vTotTrib", Money(s.approxTaxesTotal));
    inf.Add("transp").Text("modFrete", QStringLiteral("9"));
}

void AddPayments(XmlNode &inf, const Sale &s, bool v4)
{
    if (v4) {
        // Layout 4.00 records what was handed and the change apart.
        XmlNode &pag = inf.Add("pag");
        for (const SalePayment &p : s.payments)
            pag.Add("detPag")
                .Text("indPag", QStringLiteral("0"))
                .Text("tPag", p.fiscalCode)
                .Text("vPag", Money(p.amount));
        if (s.change > 0)
            pag.Text("vTroco", Money(s.change));
        return;
    }
    // Layout 3.10 has no change: each pag holds what the means paid of the sale, which for the last
    // payment (the cash that gave the change) is what was handed less the change.
    for (int i = 0; i < s.payments.size(); ++i) {
        const SalePayment &p = s.payments.at(i);
        const qint64 applied = p.amount - (i == s.payments.size() - 1 ? s.change : 0);
        inf.Add("pag").Text("tPag", p.fiscalCode).Text("vPag", Money(applied));
    }
}

void AddInfo(XmlNode &inf, const Sale &s)
{
    QString text = QStringLiteral("Trib aprox R$ %1 Fonte: IBPT. Caixa %2, venda %3.")
                       .arg(MoneyBr(s.approxTaxesTotal), s.registerCode, s.saleNumber);
    if (s.status == NfceStatus::Pending)
        text += QStringLiteral(" EMITIDA EM CONTINGÊNCIA.");
    text += QStringLiteral(" Obrigado pela preferência, volte sempre!");
    inf.Add("infAdic").Text("infCpl", text);
}

} // namespace

void WriteNfceDocuments(Sale &s, const Branch &b, bool storeCancelEvent)
{
    const bool v4 = s.layoutVersion == QStringLiteral("4.00");
    auto inf = std::make_unique<XmlNode>("infNFe");
    inf->Attr("Id", QStringLiteral("NFe") + s.accessKey).Attr("versao", s.layoutVersion);
    AddIde(*inf, s, b, v4);
    AddEmitDest(*inf, s, b);
    AddItems(*inf, s, b, v4);
    AddTotals(*inf, s, v4);
    AddPayments(*inf, s, v4);
    AddInfo(*inf, s);

    auto signature = SignatureNode(*inf, kNfeNs, QStringLiteral("NFe") + s.accessKey, DigestKind::Sha1,
                                   b.cnpj, &s.digestValue);
    s.qrCode = v4 ? QrCode400(s, b) : QrCode310(s, b);
    s.qrSiteUrl = b.consultUrl;

    XmlNode nfe("NFe");
    nfe.Attr("xmlns", QString::fromLatin1(kNfeNs));
    nfe.Append(std::move(inf));
    XmlNode &supplement = nfe.Add("infNFeSupl");
    supplement.Cdata("qrCode", s.qrCode);
    if (v4)
        supplement.Text("urlChave", b.consultUrl);
    nfe.Append(std::move(signature));
    s.nfe = nfe.Markup();
    if (storeCancelEvent)
        s.cancelEvent = CancellationEvent(s);
}

static void RequireNfce(const Sale &s, const char *what)
{
    if (s.kind != DocKind::Nfce || s.nfe.isEmpty())
        throw Exception(
            QStringLiteral("%1: a venda %2 não é uma NFC-e.").arg(QString::fromUtf8(what), s.saleNumber));
}

QByteArray ProcessedNfce(const Sale &s)
{
    RequireNfce(s, "NFC-e processada");
    if (s.protocolNumber.isEmpty())
        throw Exception(QStringLiteral("A NFC-e %1 não tem protocolo de autorização.").arg(s.accessKey));
    XmlNode prot("protNFe");
    prot.Attr("versao", s.layoutVersion);
    prot.Add("infProt")
        .Attr("Id", QStringLiteral("ID") + s.protocolNumber)
        .Text("tpAmb", s.environment)
        .Text("verAplic", s.layoutVersion == QStringLiteral("4.00") ? QStringLiteral("SP_NFCE_PL009_V4")
                                                                    : QStringLiteral("SP_NFCE_PL_008i2"))
        .Text("chNFe", s.accessKey)
        .Text("dhRecbto", FiscalDateTime(s.authorizedAt))
        .Text("nProt", s.protocolNumber)
        .Text("digVal", s.digestValue)
        .Text("cStat", s.statusCode)
        .Text("xMotivo", s.statusText);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><nfeProc xmlns=\"" + QByteArray(kNfeNs) +
           "\" versao=\"" + s.layoutVersion.toLatin1() + "\">" + s.nfe + prot.Markup() + "</nfeProc>";
}

QByteArray StoredNfce(const Sale &s, NfceForm form)
{
    RequireNfce(s, "NFC-e armazenada");
    switch (form) {
    case NfceForm::BareDeclaration:
        return "<?xml version=\"1.0\"?>" + s.nfe;
    case NfceForm::Utf8Declaration: {
        const qsizetype open = s.nfe.indexOf(kSupplementOpen);
        const qsizetype close = s.nfe.indexOf(kSupplementClose);
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + s.nfe.left(open) +
               s.nfe.mid(close + kSupplementClose.size());
    }
    case NfceForm::EnviNFe: {
        // The batch id is the 14-digit send time, which makes the head exactly 117 characters long.
        const QByteArray head = "<enviNFe xmlns=\"" + QByteArray(kNfeNs) + "\" versao=\"" +
                                s.layoutVersion.toLatin1() + "\"><idLote>" +
                                s.issuedAt.toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() +
                                "</idLote><indSinc>1</indSinc>";
        Q_ASSERT(head.size() == kEnviNFeHeadLength);
        return head + s.nfe + "</enviNFe>";
    }
    case NfceForm::Processed:
        return ProcessedNfce(s);
    }
    return {};
}

QByteArray CancellationEvent(const Sale &s)
{
    RequireNfce(s, "Evento de cancelamento");
    if (s.status != NfceStatus::Cancelled)
        throw Exception(QStringLiteral("A NFC-e %1 não está cancelada.").arg(s.accessKey));
    const QString id = QStringLiteral("ID110111") + s.accessKey + QStringLiteral("01");
    const QString organ = s.accessKey.left(2);
    auto inf = std::make_unique<XmlNode>("infEvento");
    inf->Attr("Id", id)
        .Text("cOrgao", organ)
        .Text("tpAmb", s.environment)
        .Text("CNPJ", s.issuerCnpj)
        .Text("chNFe", s.accessKey)
        .Text("dhEvento", FiscalDateTime(s.cancelledAt.addSecs(-2)))
        .Text("tpEvento", QStringLiteral("110111"))
        .Text("nSeqEvento", QStringLiteral("1"))
        .Text("verEvento", QStringLiteral("1.00"));
    inf->Add("detEvento")
        .Attr("versao", QStringLiteral("1.00"))
        .Text("descEvento", QStringLiteral("Cancelamento"))
        .Text("nProt", s.protocolNumber)
        .Text("xJust", s.cancelReason);
    auto signature = SignatureNode(*inf, kNfeNs, id, DigestKind::Sha1, s.issuerCnpj, nullptr);

    XmlNode proc("procEventoNFe");
    proc.Attr("xmlns", QString::fromLatin1(kNfeNs)).Attr("versao", QStringLiteral("1.00"));
    XmlNode &event = proc.Add("evento");
    event.Attr("xmlns", QString::fromLatin1(kNfeNs)).Attr("versao", QStringLiteral("1.00"));
    event.Append(std::move(inf)).Append(std::move(signature));
    proc.Add("retEvento")
        .Attr("versao", QStringLiteral("1.00"))
        .Add("infEvento")
        .Attr("Id", QStringLiteral("ID") + s.cancelProtocolNumber)
        .Text("tpAmb", s.environment)
        .Text("verAplic", QStringLiteral("SP_EVENTOS_PL_100"))
        .Text("cOrgao", organ)
        .Text("cStat", QStringLiteral("135"))
        .Text("xMotivo", QStringLiteral("Evento registrado e vinculado a NF-e"))
        .Text("chNFe", s.accessKey)
        .Text("tpEvento", QStringLiteral("110111"))
        .Text("xEvento", QStringLiteral("Cancelamento registrado"))
        .Text("nSeqEvento", QStringLiteral("1"))
        .Text("dhRegEvento", FiscalDateTime(s.cancelledAt))
        .Text("nProt", s.cancelProtocolNumber);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + proc.Markup();
}

} // namespace vnd::docgen
