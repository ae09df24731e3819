#pragma once
// The generation reports of the code "Vnd044" and how the main screen's filter reaches their queries.
// Free of widgets beyond the report definitions, so tests call them directly.

#include <QString>

class TADOIBQuery;
class TClientDataSet;

namespace vnd
{

// Report code of the generation report screen.
QString CodRelGeraXml();
// Names of the reports registered under it.
QString RelGeraXmlFilialCaixaDia(); // "Geração do Arquivo XML por Filial/Caixa/Dia"
QString RelGeraXmlFilialDia();      // "Geração do Arquivo XML por Filial/Dia"

// Registers the reports of "Vnd044"; calling it again changes nothing.
void RegistraRelatoriosVnd044();

// Fills the report's parameters from the filter record (FILIAL, CAIXA, DATAINI, DATAFIM): the period
// as date-times, each list as its pair — "T" in the second and the first empty for all, else the
// selection text in the first and the second empty. A pair is filled only when the query declares both
// of its parameters. An empty filter record fills nothing.
void PreencheParametrosRelGeraXml(TClientDataSet &cdsDadosFiltro, TADOIBQuery &params);

// The parameters line of a report page: period, branches and registers as the query received them.
QString CriteriosRelGeraXml(TADOIBQuery &params);

} // namespace vnd
