#pragma once
// What the screen tests of the export share: one application server on a seeded SQLite database for the
// whole run (the host's own lookups open the same file), the seeded period, and opening the main screen
// through its creator with the filter confirmed.

#include "tests/support/scripted_platform.h"
#include "tests/support/server_fixture.h"

#include <QDate>
#include <QString>
#include <functional>

class TfrmGeraXml;
class TfrmFiltGerXml;

namespace exporttest {

// Every seeded sale lies in these days.
inline const QDate kInicio(2024, 3, 1);
inline const QDate kFim(2024, 3, 10);

// The run's server, started and seeded on first use.
vndtest::ServerFixture &Servidor();
// One value of the server's database ("SELECT COUNT(*) ..."), bound positionally.
QVariant Consulta(const QString &sql, const QVariantList &binds = {});
// Sales the list shows for the whole period (authorised or cancelled).
int VendasListaveis();

// Empties the module-level state the screens keep between openings (selections, unit texts).
void LimpaUnidades();

// Fills the filter with the seeded period, lets ajuste change it, and confirms with a click.
void ConfirmaFiltro(TfrmFiltGerXml &filtro, const std::function<void(TfrmFiltGerXml &)> &ajuste = {});
// Opens the main screen as the module's entry does; the filter that opens with it is confirmed as
// ConfirmaFiltro does.
TfrmGeraXml &AbreTela(vndtest::ScriptedPlatform &platform, const std::function<void(TfrmFiltGerXml &)> &ajuste = {});
// Closes the main screen (if open) and lets it be destroyed.
void FechaTela();

} // namespace exporttest
