#pragma once
// TfrmGeraXml ("VND04400"): the list window of the sales the application server returns for the filter,
// with the ticks and the toolbar that leads to every other function of the module. It owns the one
// connection to the server, the filter record, the sale list and the import state.

#include "export/ui/listanotas.h"
#include "host/netconnection.h"
#include "host/recordset.h"
#include "host/ui/frmpadraogrid.h"
#include "import/importacaoxml.h"

#include <functional>
#include <memory>

class QAction;
class QLabel;

class TfrmGeraXml : public TfrmPadraoGrid
{
    Q_OBJECT
public:
    explicit TfrmGeraXml(QWidget *parent = nullptr);
    ~TfrmGeraXml() override;

    TNetConnection netGeraXml;
    // The sale list, one page as received, the pending/rejected NFC-e of the filter, the filter record.
    TClientDataSet cdsNotas;
    TClientDataSet cdsNotasTemp;
    TClientDataSet cdsNotasPenRej;
    TClientDataSet cdsDadosFiltro;

    TButtonFlat *sbtFiltro = nullptr;
    TButtonFlat *sbtGeraXml = nullptr;
    TButtonFlat *sbtParamGeraArqAuto = nullptr;
    TButtonFlat *btnImporXml = nullptr;
    QAction *mniFiltro = nullptr;
    QAction *mniGeraXml = nullptr;
    QAction *mniParamGeraArqAuto = nullptr;
    QAction *mniImporXml = nullptr;
    QLabel *lblQtdeNotas = nullptr;
    // Status bar: how many sales are ticked and their total value.
    QLabel *lblMarcadas = nullptr;
    QLabel *lblAvisoXml = nullptr;
    // The navigator panel: the invoice number of the current row.
    QLabel *lblNavegador = nullptr;
    // The tick pictures (hidden), drawn by the tick column.
    QLabel *imgCheck = nullptr;
    QLabel *imgUncheck = nullptr;

    // Ticked count; not reset by a fetch.
    int inQtdeMarcadas = 0;
    // Outcome of the destination dialog: server destination, confirmed, compressed.
    bool boServidor = false;
    bool boConfirmado = false;
    bool boCompactado = false;

    // Import state, record sets and driver (the import filter and readers work on it).
    vnd::TImportacaoXml &Importacao() { return *m_importacao; }

    // Told the short name and arguments of every remote call of the list and the generation before it
    // is made (diagnostics and tests).
    std::function<void(const QString &method, const QVariantList &params)> OnChamadaRemota;

    void FormCreate() override;
    void FormClose(TCloseAction &action) override;
    void dtsPadraoStateChange() override;
    // Space toggles the current row's tick after the base screen's keys.
    void dbgPadraoKeyDown(int &key, Qt::KeyboardModifiers shift) override;
    // Refresh: fetches the list again for the same filter.
    void sbtVerificarClick() override;
    // Opens the generation report.
    void sbtImprimirClick() override;
    void dbgPadraoDblClick();
    // The IDCHECK title ticks or unticks every row; other titles do nothing.
    void dbgPadraoTitleClick(const QString &fieldName);
    void sbtFiltroClick();
    void sbtGeraXmlClick();
    void sbtParamGeraArqAutoClick();
    void btnImporXmlClick();
    // Host, port and token of the application server from the session values.
    void netGeraXmlBeforeConnect(TNetConnection &connection);

    // Fetches the list for the filter record page by page, then warns of pending or rejected NFC-e.
    void getNotas();
    // Moves to the first ticked row; "Nenh_Sele" through MensErro when there is none.
    void vd_Check();
    // Writes the files of the ticked rows into the folder on this machine; true on success.
    bool geraXmlLocal(const QString &pasta);

private:
    TServerResult Chama(const QString &method, const QVariantList &params);
    void AtualizaNavegador();
    void AtualizaMarcadas();
    void CriaControles();

    std::unique_ptr<vnd::TImportacaoXml> m_importacao;
    // Sales written before the user stopped the last local generation; -1 when it ran to its end.
    int m_canceladaApos = -1;
    // Cancellation events of the last local generation rebuilt from columns, hence without a signature.
    int m_semAssinatura = 0;
    // "<file>: <reason>" of the files of the last local generation whose signature does not verify.
    QStringList m_assinaturaInvalida; // the first ones, by name
    int m_assinaturasInvalidas = 0;   // all of them
    // The server folder chosen last, offered again by the next server generation.
    QString m_ultimaPastaServidor;
};

namespace vnd {
// The main screen while it exists (nullptr before its creation and after its destruction).
TfrmGeraXml *frmGeraXml();

// The settings screens the toolbar opens; the module sets them when the settings layer is built.
// Unset, their buttons say the function is not available.
struct TTelasConfiguracao
{
    std::function<void()> CriaParamGeraArqAuto;
    std::function<void()> CriaRelGeraXml;
};
TTelasConfiguracao &TelasConfiguracao();
// What a toolbar function whose screen is not part of this build shows.
void FuncaoIndisponivel();

// The main screen's unit state, as on module unload: no screen created, unit texts empty.
void LimpaUnidadeGeraXml();
} // namespace vnd

// Creates the main screen unless a live one exists, shows it and opens the export filter.
extern "C" void CriaGeraXml();
