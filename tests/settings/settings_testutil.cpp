#include "tests/settings/settings_testutil.h"

#include "host/recordset.h"

#include <QProcess>
#include <QSqlQuery>
#include <QWidget>
#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace settingstest
{

namespace
{

std::map<vndtest::ServerFixture::Engine, std::unique_ptr<vndtest::ServerFixture>> g_servers;

// The servers stop before the application object goes.
class Servidores : public ::testing::Environment
{
  public:
    void TearDown() override { g_servers.clear(); }
};

[[maybe_unused]] const auto *const kServidores = ::testing::AddGlobalTestEnvironment(new Servidores);

} // namespace

vndtest::ServerFixture *Servidor(vndtest::ServerFixture::Engine engine)
{
    if (engine == vndtest::ServerFixture::Engine::PostgreSQL &&
        vndtest::ServerFixture::PostgresUrl().isEmpty())
        return nullptr;
    auto &server = g_servers[engine];
    if (!server) {
        server = std::make_unique<vndtest::ServerFixture>(engine);
        server->Seed({QStringLiteral("--sales"), QStringLiteral("160"), QStringLiteral("--from"),
                      kInicio.toString(Qt::ISODate), QStringLiteral("--to"), kFim.toString(Qt::ISODate),
                      QStringLiteral("--seed"), QStringLiteral("11")});
    }
    return server.get();
}

QMap<QString, Soma> Somas(vndtest::ServerFixture &server, const QDate &de, const QDate &ate,
                          const QString &filial, const QString &caixa)
{
    QSqlQuery q(server.Database());
    EXPECT_TRUE(q.exec(QStringLiteral(
        "SELECT CDFILIAL, CDCAIXA, DTENTRVENDA, IDTPEMISVEND, IDSTATUSNFCE, VRTOTVENDA FROM VENDA")));
    QMap<QString, Soma> somas;
    while (q.next()) {
        const QDate dia = q.value(2).toDateTime().date();
        const QString status = q.value(4).toString();
        if (dia < de || dia > ate || (status != QLatin1String("A") && status != QLatin1String("C")))
            continue;
        if ((!filial.isEmpty() && q.value(0).toString() != filial) ||
            (!caixa.isEmpty() && q.value(1).toString() != caixa))
            continue;
        const bool nfce = q.value(3).toString() == QLatin1String("N");
        const bool aut = status == QLatin1String("A");
        const double valor = q.value(5).toDouble();
        for (const QString &chave : {q.value(0).toString() + QLatin1Char('|') + q.value(1).toString() +
                                         QLatin1Char('|') + dia.toString(Qt::ISODate),
                                     q.value(0).toString() + QStringLiteral("||"), QStringLiteral("||")}) {
            Soma &s = somas[chave];
            (nfce ? (aut ? s.nfceAut : s.nfceCanc) : (aut ? s.satAut : s.satCanc))++;
            (aut ? s.vrAut : s.vrCanc) += valor;
        }
    }
    return somas;
}

void Filtro(TClientDataSet &cds, const QString &filial, const QString &caixa, const QDate &de,
            const QDate &ate)
{
    if (cds.FieldCount() == 0) {
        cds.AddField(QStringLiteral("FILIAL"), TFieldType::String, 1000);
        cds.AddField(QStringLiteral("CAIXA"), TFieldType::String, 5000);
        cds.AddField(QStringLiteral("DATAINI"), TFieldType::DateTime);
        cds.AddField(QStringLiteral("DATAFIM"), TFieldType::DateTime);
        cds.AddField(QStringLiteral("SITUACAONF"), TFieldType::String, 10);
        cds.AddField(QStringLiteral("NRNOTAFISCAL"), TFieldType::String, 9);
        cds.AddField(QStringLiteral("CLIENTE"), TFieldType::String, 21);
        cds.AddField(QStringLiteral("TIPORECE"), TFieldType::String, 3);
    }
    if (cds.Active())
        cds.EmptyDataSet();
    else
        cds.CreateDataSet();
    cds.Append();
    cds.FieldByName(QStringLiteral("FILIAL")).SetAsString(filial);
    cds.FieldByName(QStringLiteral("CAIXA")).SetAsString(caixa);
    cds.FieldByName(QStringLiteral("DATAINI")).SetAsDateTime(de.startOfDay());
    cds.FieldByName(QStringLiteral("DATAFIM")).SetAsDateTime(ate.startOfDay());
    cds.Post();
}

void Retrato(QWidget &widget, const QString &nome)
{
    const QString pasta = qEnvironmentVariable("VND_BINARY_DIR", QStringLiteral(VND_BINARY_DIR)) +
                          QStringLiteral("/tests/settings/");
    EXPECT_TRUE(widget.grab().save(pasta + nome + QStringLiteral(".png"))) << nome.toStdString();
}

QByteArray Roda(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " failed: " << p.readAllStandardError().toStdString();
        return {};
    }
    return p.readAllStandardOutput();
}

} // namespace settingstest
