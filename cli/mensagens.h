#pragma once
// The screens' message tables, so the command line prints the same texts.

#include "host/messages.h"

namespace vnd::cli
{

// The main screen's ("Xml_Ok", "Nota_Pen_Rej", "Xml_proc", "Xml_n_Enc", "CONF_LOG", "Erro", "Alerta", ...).
const TMessages &MensagensGeraXml();
// The export filter's ("Filial_deve", "Data_de_deve", "DT_MENOR", "SITU_INF", ...).
const TMessages &MensagensFiltro();
// The import filter's ("DIR_INF", "FILI_INF", "FILI_N_CAD", "CAIXA_INF", "CAIXA_N_CAD").
const TMessages &MensagensFiltroImport();

} // namespace vnd::cli
