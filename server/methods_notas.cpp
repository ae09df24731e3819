// getNotas, getNotasPedRej and geraXml: the sale list and the server-side generation.
#include "export/core/documentsource.h"
#include "export/core/geraxmllocal.h"
#include "host/errors.h"
#include "server/exportpath.h"
#include "server/notas.h"
#include "server/rdm.h"

namespace vnd::server {

namespace {

// A page may not be larger than this: a client asking for everything at once would hold the server's
// memory hostage.
constexpr qint64 kMaxPageRows = 100000;

qint64 RowNumber(const Args &args, int i, const char *name)
{
    bool ok = false;
    const QString text = args.Text(i, name);
    const qint64 n = text.trimmed().toLongLong(&ok);
    if (!ok || n < 0)
        throw Exception(QStringLiteral("Linha da página inválida (%1): \"%2\".").arg(QString::fromUtf8(name), text.left(20)));
    return n;
}

MethodResult getNotas(const RdmGeraXml &rdm, const Args &args)
{
    // A 17th argument, true, leaves the two documents out of the rows: the list of the screens reads
    // them by key when it writes the files (getDocumentosNotas). Callers of 16 get them as always.
    if (args.Count() != 17)
        args.ExpectCount(16);
    const bool withDocuments = args.Count() == 17 ? !args.Bool(16, "sem documentos") : true;
    SaleFilter f;
    f.branches = ParseListFilter(args.Text(0, "filiais"), args.Text(1, "todas as filiais"), QStringLiteral("filiais"));
    f.registers = ParseListFilter(args.Text(2, "caixas"), args.Text(3, "todos os caixas"), QStringLiteral("caixas"));
    f.from = args.Date(4, "data inicial");
    f.to = args.Date(5, "data final");
    f.invoice = ParseInvoiceFilter(args.Text(6, "nota fiscal"), args.Text(7, "todas as notas"));
    ParseSituation(args.Text(8, "situação"), f);
    args.Bool(9, "reservado");
    const qint64 first = RowNumber(args, 10, "primeira linha");
    const qint64 last = RowNumber(args, 11, "última linha");
    f.customers = ParseListFilter(args.Text(12, "clientes"), args.Text(13, "todos os clientes"), QStringLiteral("clientes"));
    f.receiptTypes = ParseListFilter(args.Text(14, "tipos de recebimento"), args.Text(15, "todos os tipos"),
                                     QStringLiteral("tipos de recebimento"));
    // Both are at least 0, so the difference cannot overflow; the count is told unsigned for the same
    // reason (last 2^63 - 1 and first 0 is 2^63 rows).
    if (last >= first && last - first >= kMaxPageRows)
        throw Exception(QStringLiteral("Página grande demais: %1 linhas (o máximo é %2).")
                            .arg(quint64(last - first) + 1)
                            .arg(kMaxPageRows));
    int rows = 0;
    TDataPacket page = NotasPagePacket(rdm.Db(), f, first, last, rows, withDocuments);
    return MethodResult{QVariant::fromValue(std::move(page)), rows};
}

// The stored documents of a batch of sales, by access key (a list of texts).
MethodResult getDocumentosNotas(const RdmGeraXml &rdm, const Args &args)
{
    args.ExpectCount(1);
    const Args list = args.List(0, "chaves de acesso");
    QStringList keys;
    keys.reserve(list.Count());
    for (int i = 0; i < list.Count(); ++i) {
        const QString key = list.Text(i, "chave de acesso").trimmed();
        if (key.isEmpty())
            throw Exception(QStringLiteral("Chave de acesso vazia no item %1 da lista.").arg(i + 1));
        keys << key;
    }
    TDataPacket packet = QueryDocumentosNotas(rdm.Db(), keys);
    return MethodResult{QVariant::fromValue(std::move(packet)), int(keys.size())};
}

MethodResult getNotasPedRej(const RdmGeraXml &rdm, const Args &args)
{
    args.ExpectCount(8);
    SaleFilter f;
    f.branches = ParseListFilter(args.Text(0, "filiais"), args.Text(1, "todas as filiais"), QStringLiteral("filiais"));
    f.registers = ParseListFilter(args.Text(2, "caixas"), args.Text(3, "todos os caixas"), QStringLiteral("caixas"));
    f.invoice = ParseInvoiceFilter(args.Text(4, "nota fiscal"), args.Text(5, "todas as notas"));
    f.from = args.Date(6, "data inicial");
    f.to = args.Date(7, "data final");
    TClientDataSet rows;
    QueryNotasPendingRejected(rdm.Db(), f, rows);
    return PacketResult(rows);
}

// The documents of the sales this server writes, read from its database a batch at a time.
class StoredDocuments : public DocumentSource
{
public:
    explicit StoredDocuments(const ServerDb &db) : m_db(db) {}
    QHash<QByteArray, SaleDocuments> Fetch(const QList<QByteArray> &keys) override
    {
        QStringList texts;
        texts.reserve(keys.size());
        for (const QByteArray &key : keys)
            texts << QString::fromUtf8(key);
        return ReadDocumentsPacket(QueryDocumentosNotas(m_db, texts), keys);
    }
    // The connection belongs to the thread of the call.
    bool FetchAhead() const override { return false; }

private:
    const ServerDb &m_db;
};

// The same assembly as the local export writes the rows this server fetched, every one of them ticked.
bool WriteNotasFiles(const ServerDb &db, TClientDataSet &rows, const QString &folder, bool compress)
{
    rows.DisableControls();
    for (rows.First(); !rows.Eof(); rows.Next()) {
        rows.Edit();
        rows.FieldByName(QStringLiteral("IDCHECK")).SetAsString(QStringLiteral("S"));
        rows.Post();
    }
    rows.EnableControls();
    StoredDocuments documents(db);
    return GeraXmlLocal(rows, folder, compress, nullptr, nullptr, false, &documents);
}

MethodResult geraXml(const RdmGeraXml &rdm, const Args &args)
{
    args.ExpectCount(4);
    const TDataPacket packet = args.Packet(0, "lista de vendas");
    const QString folder = ResolveExportFolder(rdm.Config().exportRoot, args.Text(1, "pasta"));
    const QString compress = args.Text(2, "compactar");
    if (compress != QLatin1String("S") && compress != QLatin1String("N"))
        throw Exception(QStringLiteral("Indicador de compactação inválido: \"%1\" (use \"S\" ou \"N\").").arg(compress.left(10)));
    args.Bool(3, "reservado");

    // Only the keys of the ticked rows are taken from the client: the documents written are the ones
    // this server stores, never texts a client sent.
    TClientDataSet list;
    list.SetData(packet);
    if (list.FieldIndex(QStringLiteral("IDCHECK")) < 0 || list.FieldIndex(QStringLiteral("NRACESSONFCE")) < 0)
        throw Exception(QStringLiteral("A lista de vendas deve ter os campos IDCHECK e NRACESSONFCE."));
    QStringList keys;
    for (list.First(); !list.Eof(); list.Next()) {
        if (list.FieldByName(QStringLiteral("IDCHECK")).AsString() != QLatin1String("S"))
            continue;
        const QString key = list.FieldByName(QStringLiteral("NRACESSONFCE")).AsString().trimmed();
        if (key.isEmpty())
            throw Exception(QStringLiteral("Venda marcada sem chave de acesso na linha %1 da lista.").arg(list.RecNo() + 1));
        keys << key;
    }
    // Every key is checked before anything is written; the documents are read a batch at a time.
    TClientDataSet rows;
    QueryNotasByKeys(rdm.Db(), keys, rows, false);
    return MethodResult{WriteNotasFiles(rdm.Db(), rows, folder, compress == QLatin1String("S")), rows.RowCount()};
}

} // namespace

void AddNotasMethods(QHash<QString, RdmGeraXml::Method> &methods)
{
    methods.insert(QStringLiteral("getNotas"), getNotas);
    methods.insert(QStringLiteral("getNotasPedRej"), getNotasPedRej);
    methods.insert(QStringLiteral("getDocumentosNotas"), getDocumentosNotas);
    methods.insert(QStringLiteral("geraXml"), geraXml);
}

} // namespace vnd::server
