#include "export/ui/frmendarqxml.h"

#include "export/ui/frmgeraxml.h"
#include "host/errors.h"
#include "host/platform.h"
#include "host/ui/controls.h"
#include "host/ui/datasource.h"
#include "host/ui/dbgrid.h"
#include "host/ui/handlers.h"
#include "host/ui/hostwindow.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPointer>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
QPointer<TfrmEndArqXML> g_frmEndArqXML;
bool boIdCriado = false;
bool boOk = false;
} // namespace

namespace vnd {
bool EndArqXmlConfirmado() { return boOk; }

void LimpaUnidadeEndArqXML()
{
    boIdCriado = false;
    boOk = false;
}
} // namespace vnd

TfrmEndArqXML::TfrmEndArqXML(TfrmGeraXml &principal, QWidget *parent) : TfrmRotiGeral(parent), m_principal(principal)
{
    setObjectName(QStringLiteral("frmEndArqXML"));
    setWindowTitle(QStringLiteral("Confirmação do Endereço do Arquivo XML"));
    SetScreenCode(QStringLiteral("VND04402"));

    grbLocalArmazenamento = new QGroupBox(QStringLiteral("Local de Armazenamento do Arquivo XML"), pnlClient);
    grbLocalArmazenamento->setObjectName(QStringLiteral("grbLocalArmazenamento"));
    rbtLocal = new QRadioButton(QStringLiteral("Salvar arquivo na máquina local"), grbLocalArmazenamento);
    rbtLocal->setObjectName(QStringLiteral("rbtLocal"));
    rbtServidor = new QRadioButton(QStringLiteral("Salvar arquivo no servidor de aplicação"), grbLocalArmazenamento);
    rbtServidor->setObjectName(QStringLiteral("rbtServidor"));
    rbtLocal->setChecked(true);
    chbArqZip = new QCheckBox(QStringLiteral("Gerar arquivos compactados"), pnlClient);
    chbArqZip->setObjectName(QStringLiteral("chbArqZip"));
    chbArqZip->setChecked(false);
    // Alt letters beside Confirmar (C) and Cancelar (N).
    rbtLocal->setText(vnd::Mnemonic(rbtLocal->text(), QLatin1Char('l')));
    rbtServidor->setText(vnd::Mnemonic(rbtServidor->text(), QLatin1Char('s')));
    chbArqZip->setText(vnd::Mnemonic(chbArqZip->text(), QLatin1Char('g')));

    auto *grupo = new QVBoxLayout(grbLocalArmazenamento);
    grupo->addWidget(rbtLocal);
    grupo->addWidget(rbtServidor);
    auto *layout = new QVBoxLayout(pnlClient);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(grbLocalArmazenamento);
    layout->addWidget(chbArqZip);
    layout->addStretch(1);

    setMinimumWidth(380);
    vnd::Connect(rbtLocal, &QRadioButton::clicked, this, [this] { rbtLocalClick(); });
    vnd::Connect(rbtServidor, &QRadioButton::clicked, this, [this] { rbtServidorClick(); });
}

void TfrmEndArqXML::rbtLocalClick()
{
    rbtLocal->setChecked(true);
    rbtServidor->setChecked(false);
}

void TfrmEndArqXML::rbtServidorClick()
{
    rbtServidor->setChecked(true);
    rbtLocal->setChecked(false);
}

void TfrmEndArqXML::FormActivate()
{
    TfrmRotiGeral::FormActivate();
    SetChildEnabled(m_principal.dbgPadrao, true);
}

void TfrmEndArqXML::sbtConfirmaClick()
{
    TfrmRotiGeral::sbtConfirmaClick();
    m_principal.boServidor = !rbtLocal->isChecked();
    boOk = true;
    m_principal.boConfirmado = boOk;
    m_principal.boCompactado = chbArqZip->isChecked();
    m_confirmando = true;
    accept();
}

void TfrmEndArqXML::sbtCancelClick()
{
    TfrmRotiGeral::sbtCancelClick();
    boOk = false;
    m_principal.boConfirmado = false;
}

void TfrmEndArqXML::FormClose(TCloseAction &action)
{
    TfrmRotiGeral::FormClose(action);
    // Escape or the window's close box count as a cancellation: a confirmation left over from an
    // earlier generation must not start this one.
    if (!m_confirmando) {
        boOk = false;
        m_principal.boConfirmado = false;
    }
    m_confirmando = false;
    boIdCriado = false;
    action = TCloseAction::caFree;
}

extern "C" void CriaEndArqXML()
{
    TfrmGeraXml *principal = vnd::frmGeraXml();
    if (!principal)
        throw Exception(QStringLiteral("A tela Geração do Arquivo XML (NFC-e/Sat) não está aberta."));
    {
        vnd::HourglassGuard ampulheta;
        if (!boIdCriado || !g_frmEndArqXML) {
            auto tela = std::make_unique<TfrmEndArqXML>(*principal, vnd::DialogParent());
            tela->Create();
            g_frmEndArqXML = tela.release();
            boIdCriado = true;
        }
    }
    g_frmEndArqXML->ShowModal();
}
