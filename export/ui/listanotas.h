#pragma once
// The sale list of the main screen without the screen: the filter record, the pairs of unit texts a
// filter travels in, the page-by-page fetch, the ticking rules and the display texts. Qt Core only, so
// tests and the benchmark drive it without widgets.

#include "host/messages.h"
#include "host/netconnection.h"
#include "host/recordset.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace vnd {

// The main screen's unit texts: each list filter as a value text and its "T" text, exactly one of them
// empty. Kept for the module's lifetime; the module's unload clears them.
struct TTextosGeraXml
{
    QString stCdFilial, stTCdFilial;
    QString stCdcaixa, stTCdCaixa;
    QString stCdCliente, stTCdCliente;
    QString stCdTipoRece, stTCdTipoRece;
    QString stNrNotaFiscal, stTNrNotafiscal;

    // Empties every text, as on module unload.
    void Clear();
};

// The module's one instance.
TTextosGeraXml &TextosGeraXml();

// Rows of a page as the main screen asks for them: 0 to 500, then 501 to 1000, and so on.
inline constexpr int kTamanhoPagina = 500;

// Defines and opens the filter record cdsDadosFiltro. CLIENTE and TIPORECE are as wide as CAIXA: a
// selection of several customers or receipt types must reach the server whole.
void DefineDadosFiltro(TClientDataSet &cds);

// Fills the five pairs from the filter record's one row: a field holding "T" empties the value text
// and sets the "T" text; any other value goes into the value text and empties the "T" text.
// Exception when the record holds no row.
void PreenchePares(TClientDataSet &cdsDadosFiltro, TTextosGeraXml &textos);

// "Qtde. de Registros Listados: " and the count with at least four digits.
QString TextoQtdeNotas(int count);

// The message tables ("KEY|text" lines) of the main screen and of the export filter, shared by the
// screens and the command line so that both say the same.
const QStringList &LinhasMensagensGeraXml();
const QStringList &LinhasMensagensFiltGerXml();

// Display text of IDSITUVENDA ("O" Concluida, "C" Cancelada, else Devolucao) and IDTPEMISVEND ("N"
// Nfce, else Sat) from the screen's message table.
QString TextoSituacaoVenda(const TMessages &msg, const QString &value);
QString TextoOrigemVenda(const TMessages &msg, const QString &value);
// Installs both display texts, and the day of DTENTRVENDA, on a sale list (cdsNotas, cdsNotasTemp).
void InstalaTextosNotas(TClientDataSet &cds, const TMessages &msg);

// The fetch of the sale list for the filter record (steps of getNotas).
class TBuscaNotas
{
public:
    TBuscaNotas(TNetConnection &net, TClientDataSet &cdsNotas, TClientDataSet &cdsNotasTemp,
                TClientDataSet &cdsNotasPenRej);

    // Told the running row count after each page (the count label follows it).
    std::function<void(int rows)> OnPagina;
    // Whether the rows come with their stored documents. Without them (the default) the list grows with
    // its rows only; the export then reads the documents by key (RemoteDocumentSource).
    bool ComDocumentos = false;
    // Told the short name and arguments of every remote call before it is made.
    std::function<void(const QString &method, const QVariantList &params)> OnChamada;

    // Fills the pairs, empties the list and appends page after page until one arrives empty, under the
    // busy indicator. A server failure ends it with the pages already appended kept.
    void BuscaPaginas(TClientDataSet &cdsDadosFiltro, TTextosGeraXml &textos);
    // Loads the pending or rejected NFC-e of the same filter into cdsNotasPenRej; returns their count.
    int BuscaPendentes(TClientDataSet &cdsDadosFiltro, const TTextosGeraXml &textos);

private:
    TServerResult Chama(const QString &method, const QVariantList &params);

    TNetConnection &m_net;
    TClientDataSet &m_notas;
    TClientDataSet &m_temp;
    TClientDataSet &m_penRej;
};

// Toggles the tick of the current row: "N" becomes "S" (count + 1), anything else "N" (count - 1).
// Nothing happens on an empty list.
void AlternaMarca(TClientDataSet &cdsNotas, int &marcadas);
// Ticks every row when marcadas is 0 or less (count + 1 per row), else unticks the ticked rows (count
// 0). Redraws once and ends on the first row.
void MarcaDesmarcaTodas(TClientDataSet &cdsNotas, int &marcadas);
// The ticked rows of the list and the sum of their VRTOTVENDA (the current row does not move).
struct TResumoMarcadas
{
    int quantidade = 0;
    double valor = 0;
};
TResumoMarcadas ResumoMarcadas(const TClientDataSet &cdsNotas);
// "3 notas marcadas, total R$ 1.234,56" ("Nenhuma nota marcada" for none).
QString TextoResumoMarcadas(const TResumoMarcadas &resumo);

// Moves to the first ticked row; false (current row unchanged) when none is ticked.
bool LocalizaMarcada(TClientDataSet &cdsNotas);

} // namespace vnd
