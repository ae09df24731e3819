#include "tests/export/ui/telas_testutil.h"

#include "export/ui/frmendarqxml.h"
#include "export/ui/frmfiltgerxml.h"
#include "export/ui/frmgeraxml.h"
#include "host/query.h"
#include "host/session.h"
#include "host/ui/controls.h"
#include "host/ui/dateedit.h"
#include "import/importglobals.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <gtest/gtest.h>
#include <memory>

namespace exporttest {

namespace {

std::unique_ptr<vndtest::ServerFixture> g_servidor;

// Started lazily by the first test that needs it and stopped before the application object goes.
class AmbienteServidor : public ::testing::Environment
{
public:
    void TearDown() override
    {
        FechaTela();
        g_servidor.reset();
    }
};

[[maybe_unused]] const auto *const kAmbiente = ::testing::AddGlobalTestEnvironment(new AmbienteServidor);

} // namespace

vndtest::ServerFixture &Servidor()
{
    if (!g_servidor) {
        g_servidor = std::make_unique<vndtest::ServerFixture>();
        // Two pages and a bit: 501 rows in the first, the rest in the second.
        g_servidor->Seed({QStringLiteral("--sales"), QStringLiteral("700"), QStringLiteral("--from"),
                          kInicio.toString(Qt::ISODate), QStringLiteral("--to"), kFim.toString(Qt::ISODate),
                          QStringLiteral("--seed"), QStringLiteral("7")});
        // NFC-e still awaiting the tax authority would make every fetch warn; they are set aside (an
        // unknown status is neither listed nor pending) and the warning test makes its own.
        Consulta(QStringLiteral("UPDATE VENDA SET IDSTATUSNFCE = 'X' WHERE IDSTATUSNFCE IN ('P', 'R')"));
        g_servidor->Connection();
        vnd::OpenHostDatabase(g_servidor->DbUrl());
    }
    return *g_servidor;
}

QVariant Consulta(const QString &sql, const QVariantList &binds)
{
    QSqlQuery q(Servidor().Database());
    if (!q.prepare(sql))
        throw std::runtime_error(q.lastError().text().toStdString());
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, binds[i]);
    if (!q.exec())
        throw std::runtime_error(q.lastError().text().toStdString());
    return q.next() ? q.value(0) : QVariant();
}

int VendasListaveis()
{
    return Consulta(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE IDSTATUSNFCE IN ('A', 'C')")).toInt();
}

void LimpaUnidades()
{
    vnd::LimpaUnidadeGeraXml();
    vnd::LimpaUnidadeFiltGerXml();
    vnd::LimpaUnidadeEndArqXML();
    vnd::ModuleImportGlobals().Clear();
    Quorvel::ModuFili = false;
}

void ConfirmaFiltro(TfrmFiltGerXml &filtro, const std::function<void(TfrmFiltGerXml &)> &ajuste)
{
    filtro.DepPeriodDe->SetDate(kInicio);
    filtro.depPeriodAte->SetDate(kFim);
    if (ajuste)
        ajuste(filtro);
    filtro.sbtConfirma->click();
}

TfrmGeraXml &AbreTela(vndtest::ScriptedPlatform &platform, const std::function<void(TfrmFiltGerXml &)> &ajuste)
{
    Servidor();
    platform.ExpectModal(QStringLiteral("TfrmFiltGerXml"),
                         [ajuste](QDialog &d) { ConfirmaFiltro(static_cast<TfrmFiltGerXml &>(d), ajuste); });
    CriaGeraXml();
    TfrmGeraXml *tela = vnd::frmGeraXml();
    if (!tela)
        throw std::runtime_error("main screen not created");
    return *tela;
}

void FechaTela()
{
    if (TfrmGeraXml *tela = vnd::frmGeraXml())
        tela->Close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace exporttest
