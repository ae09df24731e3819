#pragma once
// TfrmRelGeraXml ("GER01301"): the generation report screen. It lists the reports of the code "Vnd044"
// and hands the main screen's current filter to the chosen report's query.

#include "host/ui/frmdialogos.h"

class TADOIBQuery;
class TClientDataSet;

class TfrmRelGeraXml : public TfrmDadosGerRel
{
    Q_OBJECT
  public:
    // cdsDadosFiltro: the main screen's filter record, read each time a report runs.
    explicit TfrmRelGeraXml(TClientDataSet &cdsDadosFiltro, QWidget *parent = nullptr);

    // Help of the screen in the help file of the general reports.
    static constexpr int HelpContext = 12401301;
    static QString HelpFile() { return QStringLiteral("GerHelp.hlp"); }

    // Fills the query's period, branch and register parameters from the filter record.
    void rpddPadraoBeforeGetQueryParams(TADOIBQuery &params);
    // Clears the unit's created flag; the creator then destroys the screen.
    void FormClose(TCloseAction &action) override;
    void sbtAjudaClick() override;

  private:
    TClientDataSet &m_filtro;
};

namespace vnd
{
// The report unit's state as on module unload: no screen created.
void LimpaUnidadeRelGeraXml();
} // namespace vnd

// Creates the report screen unless the unit's screen is up (then brings it forward), shows it modally
// and destroys it when it closes.
void CriaRelGeraXml(TClientDataSet &cdsDadosFiltro, QWidget *parent = nullptr);
