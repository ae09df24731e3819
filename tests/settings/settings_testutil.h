#pragma once
// What the settings tests share: seeded servers (SQLite always, PostgreSQL when the run has one), the
// sales of the seeded period added up apart from the report's own query, a filter record like the main
// screen's, and running the poppler tools.

#include "tests/support/server_fixture.h"

#include <QDate>
#include <QMap>
#include <QString>

class QWidget;
class TClientDataSet;

namespace settingstest
{

// Every seeded sale lies in these days.
inline const QDate kInicio(2024, 3, 1);
inline const QDate kFim(2024, 3, 7);

// The run's seeded server on that engine, started on first use; nullptr for PostgreSQL without one.
vndtest::ServerFixture *
Servidor(vndtest::ServerFixture::Engine engine = vndtest::ServerFixture::Engine::SQLite);

// Figures of one branch, register and day (register or day empty when added over them).
struct Soma {
    qint64 nfceAut = 0, nfceCanc = 0, satAut = 0, satCanc = 0;
    double vrAut = 0, vrCanc = 0;
    qint64 Vendas() const { return nfceAut + nfceCanc + satAut + satCanc; }
};
// The authorised and cancelled sales of the server's database in the period, read row by row and added
// up here, keyed "branch|register|yyyy-MM-dd"; branch and register "" add over everything.
QMap<QString, Soma> Somas(vndtest::ServerFixture &server, const QDate &de, const QDate &ate,
                          const QString &filial = {}, const QString &caixa = {});

// Defines and fills a one-row filter record with the fields of the main screen's.
void Filtro(TClientDataSet &cds, const QString &filial, const QString &caixa, const QDate &de,
            const QDate &ate);

// Saves a picture of the widget in the build folder (tests/settings/NAME.png), for a look.
void Retrato(QWidget &widget, const QString &nome);

// Runs a program; its standard output. Fails the test (and returns empty) on a non-zero exit.
QByteArray Roda(const QString &program, const QStringList &args);

} // namespace settingstest
