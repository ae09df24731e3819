#pragma once
// TfrmFiltroImpXml ("VND04404"): the folder of XML files to import and the fallback branch and cash
// register used when the server finds none for a document. Confirming writes the import state and runs
// the batch import; the screen closes when it has finished.

#include "host/query.h"
#include "host/ui/frmdialogos.h"
#include "import/importacaoxml.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class TBtnPesquisa;
class TDataSource;

class TfrmFiltroImpXml : public TfrmFiltroPadrao
{
    Q_OBJECT
public:
    explicit TfrmFiltroImpXml(vnd::TImportacaoXml &importacao, QWidget *parent = nullptr);
    ~TfrmFiltroImpXml() override;

    QGroupBox *grbDirArqMagnetico;
    QLabel *lblDirArqMagnetico;
    QLineEdit *edtDirArqXml;
    TBtnPesquisa *btnDirArqMagnetico;
    QLabel *lblFilial;
    QLineEdit *medFilial;
    TBtnPesquisa *btnFilial;
    QLineEdit *edtFilial;
    QLabel *lblCaixa;
    QLineEdit *medCaixa;
    TBtnPesquisa *btnCaixa;
    QLineEdit *edtCaixa;
    QLabel *lblObs;

    TADOIBQuery qryFilial;
    TADOIBQuery qryCaixa;
    TDataSource *dtsFilial;
    TDataSource *dtsCaixa;

    // Folder dialog; the chosen folder is shown ending in "/", a cancel changes nothing.
    void btnDirArqMagneticoClick();
    // Changing the branch clears its name and the cash register; changing the register clears its name.
    void medFilialChange();
    void medCaixaChange();
    // Leaving an edit checks it without requiring a value.
    void medFilialExit();
    void medCaixaExit();
    void btnFilialBeforePesq(QObject *sender, bool &proceed);
    void btnFilialAfterPesq(QObject *sender);
    void btnCaixaBeforePesq(QObject *sender, bool &proceed);
    void btnCaixaAfterPesq(QObject *sender);
    // Fallback, folder, then the import; errors keep the screen open with its values.
    void sbtConfirmaClick() override;

    // The branch adjusted to 4 characters and looked up ("FILI_INF" when required and empty,
    // "FILI_N_CAD" when unknown); the focus goes back to the edit on an error.
    void Vd_Filial(bool required);
    // The same for the cash register of the branch ("CAIXA_INF", "CAIXA_N_CAD").
    void Vd_Caixa(bool required);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    vnd::TImportacaoXml &m_importacao;
};

// Creates the import filter, shows it modally (the import runs from its confirmation) and frees it;
// the main screen's "Importar Lote de XMLs" calls this, then refreshes its list.
void criaFiltroImpXml(vnd::TImportacaoXml &importacao, QWidget *parent = nullptr);
