#pragma once
// TfrmParamGeraArqAuto ("VND04403"): the parameter row of the server's automatic generation — first
// sale date, the server's XML folder, its script folder and interpreter folder, compression — loaded
// with getParamGeral and saved with setParamGeral over the main screen's connection.

#include "host/recordset.h"
#include "host/ui/frmdialogos.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class TDataSource;
class TDateEditPlus;
class TNetConnection;

class TfrmParamGeraArqAuto : public TfrmRotiGeral
{
    Q_OBJECT
  public:
    explicit TfrmParamGeraArqAuto(TNetConnection &netGeraXml, QWidget *parent = nullptr);

    TClientDataSet cdsParamGeral;
    TDataSource *dtsParamGeral;

    QGroupBox *grbDtIniGera;
    TDateEditPlus *depDtIniGera;
    QGroupBox *grbDirDestArqXML;
    QLabel *lblDirDestArqXML;
    QLineEdit *dbeDirDestArqXML;
    QGroupBox *grbDirDestArqPHP;
    QLabel *lblDirDestArqPHP;
    QLineEdit *dbeDirDestArqPHP;
    QGroupBox *grbDirInsPHP;
    QLabel *lblDirInsPHP;
    QLineEdit *dbeDirInsPHP;
    QCheckBox *chbArqZip;

    // Loads the row from the server under the busy indicator and fills the controls.
    void FormCreate() override;
    // Checks, completes and posts the row, sends it and closes; a failed check or send keeps it open.
    void sbtConfirmaClick() override;
    // Copy the control's value into the row, which goes into edit mode.
    void depDtIniGeraChange();
    void dbeDirDestArqXMLChange();
    void dbeDirDestArqPHPChange();
    void dbeDirInsPHPChange();

  private:
    void EditaRegistro();
    void CopiaTexto(QLineEdit *edit, const char *campo);
    [[noreturn]] void Falha(QWidget *controle, const char *chave);

    TNetConnection &m_net;
};

// Creates a new parameter dialog on every call and shows it modally. A failure to load the row is
// raised to the caller's handler, which shows it.
void CriaParamGeraArqAuto(TNetConnection &netGeraXml, QWidget *parent = nullptr);
