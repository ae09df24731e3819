// The import's branch lookups and stores: getFilialNFce, getFilial, setVendasNfce, setVendas, setVendasCanc.
#include "host/errors.h"
#include "server/docinfo.h"
#include "server/rdm.h"
#include "server/salestore.h"

namespace vnd::server {

namespace {

// A code at its exact width: the screens cut the answer by position, so a short code is padded with
// zeros as keys are stored, and a long one is a registration error, never a silently shifted answer.
QString Fixed(const QString &code, int width, const char *what)
{
    QString c = code.trimmed();
    if (c.size() < width)
        c = c.rightJustified(width, QLatin1Char('0'));
    if (c.size() != width)
        throw Exception(QStringLiteral("Código de %1 \"%2\" cadastrado com mais de %3 caracteres.")
                            .arg(QString::fromUtf8(what), code)
                            .arg(width));
    return c;
}

QString WithoutLeadingZeros(QString s)
{
    while (s.startsWith(QLatin1Char('0')))
        s.remove(0, 1);
    return s;
}

MethodResult getFilialNFce(const RdmGeraXml &rdm, const Args &args)
{
    args.ExpectCount(1);
    const ImportedSale sale = ReadSalePacket(args.Packet(0, "pacote da venda"), false);
    if (sale.saleRows != 1 || sale.issuerCnpj.isEmpty() || sale.series.isEmpty())
        return MethodResult{QString()};
    QSqlQuery q = rdm.Db().Exec(QStringLiteral("SELECT F.CDFILIAL, C.CDCAIXA, F.CDEMPRESA FROM FILIAL F JOIN CAIXA C ON "
                                               "C.CDFILIAL = F.CDFILIAL WHERE F.NRINSJURFILI = ? AND "
                                               "LTRIM(C.CDSERIENFCE, '0') = ? ORDER BY F.CDFILIAL, C.CDCAIXA"),
                                {sale.issuerCnpj, WithoutLeadingZeros(sale.series)}, "procurar a filial da NFC-e");
    if (!q.next())
        return MethodResult{QString()};
    return MethodResult{Fixed(q.value(0).toString(), 4, "filial") + Fixed(q.value(1).toString(), 3, "caixa") +
                        Fixed(q.value(2).toString(), 2, "empresa")};
}

MethodResult getFilial(const RdmGeraXml &rdm, const Args &args)
{
    args.ExpectCount(1);
    const ImportedSale sale = ReadSalePacket(args.Packet(0, "pacote da venda"), true);
    if (sale.saleRows != 1 || sale.issuerCnpj.isEmpty() || sale.series.isEmpty())
        return MethodResult{QString()};
    QSqlQuery q = rdm.Db().Exec(QStringLiteral("SELECT F.CDFILIAL, F.CDEMPRESA FROM FILIAL F JOIN CAIXA C ON "
                                               "C.CDFILIAL = F.CDFILIAL WHERE F.NRINSJURFILI = ? AND C.CDSERIESAT = ? "
                                               "ORDER BY F.CDFILIAL, C.CDCAIXA"),
                                {sale.issuerCnpj, sale.series}, "procurar a filial do CF-e");
    if (!q.next())
        return MethodResult{QString()};
    return MethodResult{Fixed(q.value(0).toString(), 4, "filial") + Fixed(q.value(1).toString(), 2, "empresa")};
}

MethodResult Store(const RdmGeraXml &rdm, const Args &args, bool sat, const char *method)
{
    args.ExpectCount(1);
    const ImportedSale sale = ReadSaleArray(args.List(0, "vetor da venda"));
    if (sale.sat != sat)
        throw Exception(QStringLiteral("%1 recebe %2 (tipo \"%3\" no item 9 do vetor); recebido \"%4\".")
                            .arg(QString::fromLatin1(method), sat ? QStringLiteral("cupons SAT") : QStringLiteral("NFC-e"),
                                 sat ? QStringLiteral("S") : QStringLiteral("N"), sat ? QStringLiteral("N") : QStringLiteral("S")));
    // 1 for a sale stored, 0 for one already held: the import counts what was stored, not what was sent.
    const bool stored = StoreImportedSale(rdm.Db(), sale);
    return MethodResult{stored ? 1 : 0, stored ? 1 : 0};
}

MethodResult setVendasNfce(const RdmGeraXml &rdm, const Args &args) { return Store(rdm, args, false, "setVendasNfce"); }
MethodResult setVendas(const RdmGeraXml &rdm, const Args &args) { return Store(rdm, args, true, "setVendas"); }

MethodResult setVendasCanc(const RdmGeraXml &rdm, const Args &args)
{
    args.ExpectCount(1);
    const ImportedSale cancellation = ReadCancelArray(args.List(0, "vetor do cancelamento"));
    if (!cancellation.document.trimmed().isEmpty()) {
        const DocumentInfo info = ReadDocumentInfo(cancellation.document);
        if (!info.utf8 || !info.parsed)
            throw Exception(QStringLiteral("O XML do cancelamento da chave %1 é inválido: %2")
                                .arg(cancellation.key, info.utf8 ? info.error : QStringLiteral("não está em UTF-8")));
    }
    CancelSale(rdm.Db(), cancellation);
    return MethodResult{1, 1};
}

} // namespace

void AddImportMethods(QHash<QString, RdmGeraXml::Method> &methods)
{
    methods.insert(QStringLiteral("getFilialNFce"), getFilialNFce);
    methods.insert(QStringLiteral("getFilial"), getFilial);
    methods.insert(QStringLiteral("setVendasNfce"), setVendasNfce);
    methods.insert(QStringLiteral("setVendas"), setVendas);
    methods.insert(QStringLiteral("setVendasCanc"), setVendasCanc);
}

} // namespace vnd::server
