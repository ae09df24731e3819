#pragma once
// Where the export takes the stored documents of the sales it writes when the sale list does not hold
// them: the list of the main screen keeps its rows without their documents (a million sales fit in the
// client's memory that way), and the documents are read by access key, a batch at a time, while the
// files are written.

#include "export/core/nfceassembly.h"

#include <QByteArray>
#include <QHash>
#include <QList>

#include <future>
#include <memory>

class TClientDataSet;
class TNetConnection;
struct TDataPacket;

namespace vnd {

// The two stored documents of one sale.
struct SaleDocuments
{
    QByteArray document;       // DSARQXMLNFCE
    QByteArray cancelDocument; // DSARQXMLCANCNFCE
};

// Reads the documents of a batch of sales by access key.
class DocumentSource
{
public:
    virtual ~DocumentSource() = default;
    // The documents of every key asked for. Exception naming the first key that is not stored.
    // May be called from a thread other than the one that made the source, one call at a time.
    virtual QHash<QByteArray, SaleDocuments> Fetch(const QList<QByteArray> &keys) = 0;
    // Keys asked for in one call.
    virtual int BatchSize() const { return 400; }
    // Whether the next batch may be fetched on another thread while the current one is written (false
    // for a source bound to its thread, as a database connection is).
    virtual bool FetchAhead() const { return true; }
};

// The documents from the application server (getDocumentosNotas). The connection is used only by the
// source while the export runs.
class RemoteDocumentSource : public DocumentSource
{
public:
    explicit RemoteDocumentSource(TNetConnection &net, int batchSize = 400);
    QHash<QByteArray, SaleDocuments> Fetch(const QList<QByteArray> &keys) override;
    int BatchSize() const override { return m_batchSize; }

private:
    TNetConnection &m_net;
    int m_batchSize;
};

// Reads the documents packet getDocumentosNotas answers (NRACESSONFCE, DSARQXMLNFCE, DSARQXMLCANCNFCE)
// and checks that it holds every key asked for; Exception naming the first one missing.
QHash<QByteArray, SaleDocuments> ReadDocumentsPacket(const TDataPacket &packet, const QList<QByteArray> &keys);

// The "Venda não encontrada no servidor: chave de acesso ..." text.
QString SaleNotFoundText(const QByteArray &key);

// Hands the export the documents of the ticked rows of a sale list, in the list's order: the keys of the
// next batch are read from the list ahead of the export's current row and fetched while the current
// batch is written.
class DocumentFeed
{
public:
    DocumentFeed(const TClientDataSet &cdsNotas, DocumentSource &source);
    ~DocumentFeed();
    DocumentFeed(const DocumentFeed &) = delete;
    DocumentFeed &operator=(const DocumentFeed &) = delete;

    // Puts the stored documents of the row's sale into row. The rows must be asked for in the list's
    // order of ticked rows. Exception when the source fails or does not have the sale.
    void Fill(assembly::SaleRow &row);

private:
    QList<QByteArray> NextKeys();
    void StartNext();

    const TClientDataSet &m_notas;
    DocumentSource &m_source;
    int m_nextRow = 0; // first list row not yet taken into a batch
    int m_keyField, m_tickField;
    QHash<QByteArray, SaleDocuments> m_current; // documents of the batch being written
    std::future<QHash<QByteArray, SaleDocuments>> m_next; // the next batch, on its way
    QList<QByteArray> m_nextKeys;
};

// The ticked rows of a sale list as the server destination needs them: a packet of IDCHECK and
// NRACESSONFCE, ticked rows only. The server reads the rest of each sale from its own database.
TDataPacket TickedKeysPacket(const TClientDataSet &cdsNotas);

} // namespace vnd
