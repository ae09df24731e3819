#include "export/core/documentsource.h"

#include "host/errors.h"
#include "host/netconnection.h"
#include "host/recordset.h"
#include "host/rpc.h"

namespace vnd {

QString SaleNotFoundText(const QByteArray &key)
{
    return QStringLiteral("Venda não encontrada no servidor: chave de acesso %1.").arg(QString::fromUtf8(key));
}

RemoteDocumentSource::RemoteDocumentSource(TNetConnection &net, int batchSize)
    : m_net(net), m_batchSize(std::max(1, batchSize))
{
}

QHash<QByteArray, SaleDocuments> RemoteDocumentSource::Fetch(const QList<QByteArray> &keys)
{
    QVariantList list;
    list.reserve(keys.size());
    for (const QByteArray &key : keys)
        list << QString::fromUtf8(key);
    // One argument, the list of keys (a braced list alone would be taken as the arguments themselves).
    const QVariant result = CheckResultServ(m_net.Call(QStringLiteral("getDocumentosNotas"), {QVariant(list)}));
    return ReadDocumentsPacket(rpc::ToPacket(result, "documentos das vendas"), keys);
}

QHash<QByteArray, SaleDocuments> ReadDocumentsPacket(const TDataPacket &packet, const QList<QByteArray> &keys)
{
    TClientDataSet rows;
    rows.SetData(packet);
    const int key = rows.FieldIndex(QStringLiteral("NRACESSONFCE"));
    const int document = rows.FieldIndex(QStringLiteral("DSARQXMLNFCE"));
    const int cancel = rows.FieldIndex(QStringLiteral("DSARQXMLCANCNFCE"));
    if (key < 0 || document < 0 || cancel < 0)
        throw Exception(QStringLiteral("O servidor respondeu aos documentos das vendas sem os campos NRACESSONFCE, "
                                       "DSARQXMLNFCE e DSARQXMLCANCNFCE."));
    QHash<QByteArray, SaleDocuments> out;
    out.reserve(rows.RowCount());
    for (int r = 0; r < rows.RowCount(); ++r)
        out.insert(rows.RowValue(r, key).toByteArray(),
                   SaleDocuments{rows.RowValue(r, document).toByteArray(), rows.RowValue(r, cancel).toByteArray()});
    for (const QByteArray &k : keys)
        if (!out.contains(k))
            throw Exception(SaleNotFoundText(k));
    return out;
}

DocumentFeed::DocumentFeed(const TClientDataSet &cdsNotas, DocumentSource &source)
    : m_notas(cdsNotas), m_source(source), m_keyField(cdsNotas.FieldIndex(QStringLiteral("NRACESSONFCE"))),
      m_tickField(cdsNotas.FieldIndex(QStringLiteral("IDCHECK")))
{
    if (m_keyField < 0 || m_tickField < 0)
        throw Exception(QStringLiteral("A lista de vendas deve ter os campos IDCHECK e NRACESSONFCE."));
    StartNext();
}

DocumentFeed::~DocumentFeed()
{
    // A batch still on its way is waited for (its connection is in use until then); its failure, if
    // any, is of no interest any more.
    if (m_next.valid())
        m_next.wait();
}

QList<QByteArray> DocumentFeed::NextKeys()
{
    QList<QByteArray> keys;
    const int batch = std::max(1, m_source.BatchSize());
    while (m_nextRow < m_notas.RowCount() && keys.size() < batch) {
        const int r = m_nextRow++;
        if (m_notas.RowValue(r, m_tickField).toByteArray() != "S")
            continue;
        const QByteArray key = m_notas.RowValue(r, m_keyField).toByteArray();
        // A row without a key has no documents to ask for: the assembly names what it lacks.
        if (!key.isEmpty())
            keys << key;
    }
    return keys;
}

void DocumentFeed::StartNext()
{
    m_nextKeys = NextKeys();
    if (m_nextKeys.isEmpty())
        return;
    // The source is used by one call at a time: this one runs while the current batch is written (or,
    // for a source bound to its thread, when the batch is needed).
    m_next = std::async(m_source.FetchAhead() ? std::launch::async : std::launch::deferred,
                        [this, keys = m_nextKeys] { return m_source.Fetch(keys); });
}

void DocumentFeed::Fill(assembly::SaleRow &row)
{
    if (row.accessKey.isEmpty())
        return;
    while (!m_current.contains(row.accessKey)) {
        if (!m_next.valid())
            throw Exception(QStringLiteral("Os documentos da venda não foram lidos do servidor."));
        m_current = m_next.get(); // the batch before is written: its documents go
        StartNext();
    }
    const SaleDocuments &docs = m_current.value(row.accessKey);
    row.document = docs.document;
    row.cancelDocument = docs.cancelDocument;
}

TDataPacket TickedKeysPacket(const TClientDataSet &cdsNotas)
{
    TClientDataSet shape;
    shape.AddField(QStringLiteral("IDCHECK"), TFieldType::FixedChar, 1);
    shape.AddField(QStringLiteral("NRACESSONFCE"), TFieldType::String, 50);
    const int tick = cdsNotas.FieldIndex(QStringLiteral("IDCHECK"));
    const int key = cdsNotas.FieldIndex(QStringLiteral("NRACESSONFCE"));
    if (tick < 0 || key < 0)
        throw Exception(QStringLiteral("A lista de vendas deve ter os campos IDCHECK e NRACESSONFCE."));
    // Written straight into the packet: a record set of a million keys would cost more than the list.
    TPacketWriter packet(shape.FieldDefs(), 64 * 1024);
    for (int r = 0; r < cdsNotas.RowCount(); ++r) {
        if (cdsNotas.RowValue(r, tick).toByteArray() != "S")
            continue;
        const QVariant v = cdsNotas.RowValue(r, key);
        packet.BeginRow();
        packet.Text("S", 1);
        if (v.isNull()) {
            packet.Null();
        } else {
            const QByteArray k = v.toByteArray();
            packet.Text(k.constData(), k.size());
        }
        packet.EndRow();
    }
    return packet.Finish();
}

} // namespace vnd
