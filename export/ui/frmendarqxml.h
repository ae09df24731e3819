#pragma once
// TfrmEndArqXML ("VND04402"): where the XML files of the ticked sales go — this machine or the
// application server — and whether they are packed into archives. The outcome is kept on the main
// screen (its server, confirmation and compression flags).

#include "host/ui/frmdialogos.h"

class QCheckBox;
class QGroupBox;
class QRadioButton;
class TfrmGeraXml;

namespace vnd {
// True after the last destination dialog was confirmed, false after it was cancelled or closed.
bool EndArqXmlConfirmado();
// The destination unit's state as on module unload.
void LimpaUnidadeEndArqXML();
} // namespace vnd

class TfrmEndArqXML : public TfrmRotiGeral
{
    Q_OBJECT
public:
    explicit TfrmEndArqXML(TfrmGeraXml &principal, QWidget *parent = nullptr);

    QGroupBox *grbLocalArmazenamento = nullptr;
    QRadioButton *rbtLocal = nullptr;
    QRadioButton *rbtServidor = nullptr;
    QCheckBox *chbArqZip = nullptr;

    // Enables the children of the main screen's grid.
    void FormActivate() override;
    // Anything but a confirmation leaves the main screen's confirmation flag false.
    void FormClose(TCloseAction &action) override;
    void sbtConfirmaClick() override;
    void sbtCancelClick() override;
    void rbtLocalClick();
    void rbtServidorClick();

private:
    TfrmGeraXml &m_principal;
    bool m_confirmando = false;
};

// Creates the destination dialog (a new one, with its defaults, on each use) and shows it modally.
extern "C" void CriaEndArqXML();
