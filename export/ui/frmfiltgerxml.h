#pragma once
// TfrmFiltGerXml ("Vnd04401"): the filter of the sale list. Branches, cash registers, customers and
// receipt types (all, or a list chosen with PesquisaLista), the situation at the tax authority, a period
// and an invoice number. Confirming writes the main screen's filter record and has it fetch its list.

#include "host/query.h"
#include "host/ui/frmdialogos.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class TBtnPesquisa;
class TDataSource;
class TDateEditPlus;
class TfrmGeraXml;

namespace vnd {
// The filter's selection texts, kept for the module's lifetime (they survive closing and reopening the
// dialog); the module's unload clears them. Each holds what PesquisaLista returned.
struct TSelecoesFiltGerXml
{
    QString stFilial;   // branches
    QString stCaixa;    // cash registers, by branch + register (7 characters each)
    QString stCliente;  // customers
    QString stTipoRece; // receipt types

    void Clear();
};
TSelecoesFiltGerXml &SelecoesFiltGerXml();
// The filter unit's state as on module unload: no dialog created, selections empty.
void LimpaUnidadeFiltGerXml();
} // namespace vnd

class TfrmFiltGerXml : public TfrmFiltroPadrao
{
    Q_OBJECT
public:
    explicit TfrmFiltGerXml(TfrmGeraXml &principal, QWidget *parent = nullptr);
    ~TfrmFiltGerXml() override;

    QGroupBox *grbFilial = nullptr;
    QRadioButton *rbtTodFil = nullptr;
    QRadioButton *rbtListFil = nullptr;
    TBtnPesquisa *btpListFil = nullptr;
    QGroupBox *grbCaixa = nullptr;
    QRadioButton *rbtTodCaix = nullptr;
    QRadioButton *rbtListCaix = nullptr;
    TBtnPesquisa *btpListCaix = nullptr;
    QGroupBox *grbCliente = nullptr;
    QRadioButton *rbtTodCli = nullptr;
    QRadioButton *rbtListCli = nullptr;
    TBtnPesquisa *btpListCli = nullptr;
    QGroupBox *grbTipoRece = nullptr;
    QRadioButton *rbtTodTpRec = nullptr;
    QRadioButton *rbtListTpRec = nullptr;
    TBtnPesquisa *btpListTpRec = nullptr;
    // Beside each list button: the codes chosen (or their count), all of them in the tooltip.
    QLabel *lblSelFil = nullptr;
    QLabel *lblSelCaix = nullptr;
    QLabel *lblSelCli = nullptr;
    QLabel *lblSelTpRec = nullptr;
    QGroupBox *grbSituacao = nullptr;
    QCheckBox *chbVendConc = nullptr;
    QCheckBox *chbVendCanc = nullptr;
    QGroupBox *grbPeriodo = nullptr;
    TDateEditPlus *DepPeriodDe = nullptr;
    TDateEditPlus *depPeriodAte = nullptr;
    QGroupBox *grbNrNotaFiscal = nullptr;
    QLineEdit *medNrNotaFiscal = nullptr;

    TADOIBQuery qryFilial;
    TADOIBQuery qryCaixa;
    TADOIBQuery qryCliente;
    TADOIBQuery qryTipoRece;
    TDataSource *dtsFilial = nullptr;
    TDataSource *dtsCaixa = nullptr;
    TDataSource *dtsCliente = nullptr;
    TDataSource *dtsTipoRece = nullptr;

    // Restores the branch and cash-register choices, invoice number and period of the filter record.
    void FormCreate() override;
    // One-branch users get their branch, fixed; then the filter record's choices are restored.
    void FormActivate() override;
    void FormClose(TCloseAction &action) override;
    void sbtConfirmaClick() override;

    void rbtFilialClick();
    void rbtTodCaixClick();
    void rbtListCaixClick();
    void rbtClienteClick();
    void rbtTipoReceClick();
    // Shows the chosen codes beside each list button (none while "Todas"/"Todos" is checked).
    void AtualizaSelecoes();
    void btpListFilClick();
    void btpListCaixClick();
    void btpListCliClick();
    void btpListTpRecClick();
    // Leaving the period group checks it.
    void grbPeriodoExit();

    // Checks; each fails through MensErro with the focus on the offending control.
    void Vd_Filial();
    void Vd_Caixa();
    void Vd_Cliente();
    void Vd_TipoRece();
    void Vd_Datas();

private:
    void CriaConsultas();
    void CriaControles();
    void RestauraFiltro(bool comNotaFiscal);
    void AplicaModuFili();
    [[noreturn]] void Falha(QWidget *foco, const QString &texto);
    void FocoMudou(QWidget *antes, QWidget *agora);

    TfrmGeraXml &m_principal;
    bool m_verificandoPeriodo = false;
};

// Creates the filter (a new one on each opening), shows it modally and frees it when it closes.
extern "C" void CriaFiltGerXml();
