#include "server/salearray.h"

#include "host/errors.h"
#include "host/salepackets.h"

namespace vnd::server {

namespace {

// The union of both sale shapes: one reader for NFC-e and SAT packets. The screens' ambient field carries
// a trailing blank in its name; a packet without the blank is read too.
void DefineSale(TClientDataSet &cds)
{
    DefineVendaNfcePacote(cds);
    cds.AddField(QStringLiteral("CDSERIESAT"), TFieldType::String, 10);
    cds.AddField(QStringLiteral("IDTPAMBNFCE"), TFieldType::String, 1);
    cds.AddField(QStringLiteral("CDCAIXA"), TFieldType::String, 3);
    cds.AddField(QStringLiteral("NRACESSOCANC"), TFieldType::String, 50);
}

// Loads a packet into the set; Exception naming the packet when it does not read.
void Load(TClientDataSet &cds, const TDataPacket &packet, const char *name)
{
    try {
        cds.SetData(packet);
    } catch (const Exception &e) {
        throw Exception(QStringLiteral("Pacote %1 inválido: %2").arg(QString::fromUtf8(name), e.Message()));
    }
}

std::optional<double> Number(TClientDataSet &cds, const char *field)
{
    TField f = cds.FieldByName(QString::fromLatin1(field));
    if (f.IsNull())
        return std::nullopt;
    return f.AsFloat();
}

QString Text(TClientDataSet &cds, const char *field) { return cds.FieldByName(QString::fromLatin1(field)).AsString(); }

} // namespace

ImportedSale ReadSalePacket(const TDataPacket &packet, bool sat)
{
    ImportedSale s;
    s.sat = sat;
    TClientDataSet sale;
    DefineSale(sale);
    Load(sale, packet, "da venda");
    s.saleRows = sale.RecordCount();
    if (s.saleRows == 0)
        return s;
    sale.First();
    s.key = Text(sale, "NRACESSONFCE").trimmed();
    s.series = Text(sale, sat ? "CDSERIESAT" : "CDSERIENFCE").trimmed();
    s.invoice = Text(sale, "NRNOTAFISCALCE").trimmed();
    s.date = sale.FieldByName(QStringLiteral("DTVENDA")).AsDateTime();
    s.environment = Text(sale, "IDTPAMBNFCE ").trimmed();
    if (s.environment.isEmpty())
        s.environment = Text(sale, "IDTPAMBNFCE").trimmed();
    s.packetRegister = Text(sale, "CDCAIXA").trimmed();
    s.consumerCpf = Text(sale, "NRINSCRCONS").trimmed();
    s.entryNumber = Text(sale, "NRLANCTONFCE").trimmed();
    s.issuerCnpj = Text(sale, "NRINSJURFILI").trimmed();
    s.authorisedAt = sale.FieldByName(QStringLiteral("DTHRPROTOCONFCE")).AsDateTime();
    s.protocol = Text(sale, "NRPROTOCOLONFCE").trimmed();
    s.statusText = Text(sale, "DSOBSSTATUSNFCE").trimmed();
    s.document = sale.FieldByName(QStringLiteral("DSARQXMLNFCE")).AsBytes();
    s.cancelKey = Text(sale, "NRACESSOCANC").trimmed();
    s.total = Number(sale, "VRTOTVENDA");
    return s;
}

qint64 ParseBatchNumber(const QString &text)
{
    bool ok = false;
    const qint64 n = text.trimmed().toLongLong(&ok);
    if (!ok || n <= 0)
        throw Exception(QStringLiteral("Número de lote de validação inválido: \"%1\".").arg(text.left(30)));
    return n;
}

ImportedSale ReadSaleArray(const Args &array)
{
    array.ExpectCount(10);
    const QString kind = array.Text(8, "tipo do documento");
    if (kind != QLatin1String("N") && kind != QLatin1String("S"))
        throw Exception(QStringLiteral("Tipo do documento inválido no vetor da venda: \"%1\" (use \"N\" para NFC-e "
                                       "ou \"S\" para SAT).")
                            .arg(kind.left(10)));
    ImportedSale s = ReadSalePacket(array.Packet(0, "pacote da venda"), kind == QLatin1String("S"));

    TClientDataSet items;
    DefineItensVendaPacote(items);
    Load(items, array.Packet(1, "pacote dos itens"), "dos itens");
    for (items.First(); !items.Eof(); items.Next()) {
        ImportedItem it;
        it.sequence = Text(items, "NRSEQUITVEND").trimmed();
        it.product = Text(items, "CDPRODUTO").trimmed();
        it.quantity = Number(items, "QTPRODVEND");
        it.unitPrice = Number(items, "VRUNITVEND");
        it.discount = Number(items, "VRDESITVEND").value_or(0);
        it.surcharge = Number(items, "VRACRITVEND").value_or(0);
        s.items << it;
    }
    TClientDataSet payments;
    DefineMeioPgtoPacote(payments);
    Load(payments, array.Packet(2, "pacote dos pagamentos"), "dos pagamentos");
    for (payments.First(); !payments.Eof(); payments.Next())
        s.payments << ImportedPayment{Text(payments, "IDPGTO").trimmed(), Number(payments, "VRPGTO").value_or(0)};

    s.branch = array.Text(3, "filial").trimmed();
    s.company = array.Text(4, "empresa").trimmed();
    s.fileName = array.Text(5, "nome do arquivo");
    s.operatorCode = array.Text(6, "operador").trimmed();
    s.registerCode = array.Text(7, "caixa").trimmed();
    const QString batch = array.Text(9, "lote de validação");
    s.batch = batch.trimmed().isEmpty() ? 0 : ParseBatchNumber(batch);
    return s;
}

ImportedSale ReadCancelArray(const Args &array)
{
    array.ExpectCount(3);
    ImportedSale s = ReadSalePacket(array.Packet(0, "pacote do cancelamento"), true);
    s.branch = array.Text(1, "filial").trimmed();
    s.registerCode = array.Text(2, "caixa").trimmed();
    return s;
}

} // namespace vnd::server
