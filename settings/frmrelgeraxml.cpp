#include "settings/frmrelgeraxml.h"

#include "host/platform.h"
#include "host/ui/helpwindow.h"
#include "host/query.h"
#include "host/ui/reportdialog.h"
#include "settings/relgeraxml.h"

#include <QPointer>
#include <QScopeGuard>

#include <memory>

namespace
{
QPointer<TfrmRelGeraXml> g_frmRelGeraXml;
bool boIdCriado = false;
} // namespace

namespace vnd
{
void LimpaUnidadeRelGeraXml()
{
    boIdCriado = false;
}
} // namespace vnd

TfrmRelGeraXml::TfrmRelGeraXml(TClientDataSet &cdsDadosFiltro, QWidget *parent)
    : TfrmDadosGerRel(parent), m_filtro(cdsDadosFiltro)
{
    setObjectName(QStringLiteral("frmRelGeraXml"));
    setWindowTitle(QStringLiteral("Relatório de Geração do Arquivo XML"));
    SetScreenCode(QStringLiteral("GER01301"));
    vnd::RegistraRelatoriosVnd044();
    SetReportCode(vnd::CodRelGeraXml());
    rpddPadrao->Footer = QStringLiteral("Geração do Arquivo XML (NFC-e/Sat) - ") + windowTitle();
    rpddPadrao->OnBeforeGetQueryParams = [this](TADOIBQuery &params) {
        rpddPadraoBeforeGetQueryParams(params);
    };
    resize(520, 140);
}

void TfrmRelGeraXml::rpddPadraoBeforeGetQueryParams(TADOIBQuery &params)
{
    vnd::PreencheParametrosRelGeraXml(m_filtro, params);
}

void TfrmRelGeraXml::FormClose(TCloseAction &action)
{
    TfrmDadosGerRel::FormClose(action);
    boIdCriado = false;
}

void TfrmRelGeraXml::sbtAjudaClick()
{
    // The report's page is found by its help context.
    if (vnd::HelpPage(QString::number(HelpContext)).isEmpty()) {
        Platform().Info(QStringLiteral("A ajuda da tela %1 (%2, contexto %3) não está instalada neste computador.")
                            .arg(ScreenCode(), HelpFile())
                            .arg(HelpContext));
        return;
    }
    vnd::ShowHelp(QString::number(HelpContext));
}

void CriaRelGeraXml(TClientDataSet &cdsDadosFiltro, QWidget *parent)
{
    // The screen of the unit is still up (a second request while it runs): it is brought forward.
    if (boIdCriado && g_frmRelGeraXml) {
        g_frmRelGeraXml->raise();
        g_frmRelGeraXml->activateWindow();
        return;
    }
    std::unique_ptr<TfrmRelGeraXml> tela;
    {
        vnd::HourglassGuard hourglass;
        tela = std::make_unique<TfrmRelGeraXml>(cdsDadosFiltro, parent);
        tela->Create();
    }
    g_frmRelGeraXml = tela.get();
    boIdCriado = true;
    const auto limpa = qScopeGuard([] { boIdCriado = false; });
    tela->ShowModal();
}
