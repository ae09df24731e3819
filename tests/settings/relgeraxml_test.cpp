// The generation report: the filter's parameters as each query declares them, the query's figures on
// both database engines against the sales added up apart, and the report screen with its preview.
#include "host/query.h"
#include "host/ui/controls.h"
#include "host/ui/reportdialog.h"
#include "host/ui/reportpreview.h"
#include "settings/frmrelgeraxml.h"
#include "settings/relgeraxml.h"
#include "tests/settings/settings_testutil.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/testutil.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace settingstest;
using Engine = vndtest::ServerFixture::Engine;

namespace
{

QString Utf8(const char *s)
{
    return QString::fromUtf8(s);
}

QVariant Param(TADOIBQuery &q, const char *name)
{
    return q.ParamByName(QString::fromLatin1(name)).Value();
}

void Sql(TADOIBQuery &q, std::initializer_list<const char *> linhas)
{
    for (const char *l : linhas)
        q.SQL << QString::fromLatin1(l);
}

TEST(RelGeraXmlParametros, AllBranchesGiveTInTheSecondAndAnEmptyFirst)
{
    TClientDataSet filtro;
    Filtro(filtro, QStringLiteral("T"), QStringLiteral("_0001001__0002001_"), kInicio, kFim);
    TADOIBQuery q;
    Sql(q, {"SELECT 1 FROM VENDA WHERE DTENTRVENDA BETWEEN :P_DTVENDAINI AND :P_DTVENDAFIN",
            "AND (INSTR(:P_CDFILIAL, CDFILIAL) > 0 OR :P_TCDFILIAL = 'T')",
            "AND (INSTR(:p_cdcaixa, CDCAIXA) > 0 OR :P_TCDCAIXA = 'T')"});
    vnd::PreencheParametrosRelGeraXml(filtro, q);
    EXPECT_EQ(Param(q, "P_TCDFILIAL"), QStringLiteral("T"));
    EXPECT_TRUE(Param(q, "P_CDFILIAL").isValid());
    EXPECT_EQ(Param(q, "P_CDFILIAL").toString(), QString());
    EXPECT_EQ(Param(q, "P_CDCAIXA"), QStringLiteral("_0001001__0002001_"));
    EXPECT_EQ(Param(q, "P_TCDCAIXA").toString(), QString());
    EXPECT_EQ(Param(q, "P_DTVENDAINI"), QVariant(kInicio.startOfDay()));
    EXPECT_EQ(Param(q, "P_DTVENDAFIN"), QVariant(kFim.startOfDay()));
    EXPECT_EQ(Param(q, "P_DTVENDAINI").typeId(), QMetaType::QDateTime);
}

TEST(RelGeraXmlParametros, APairIsFilledOnlyWhenTheQueryDeclaresBoth)
{
    TClientDataSet filtro;
    Filtro(filtro, QStringLiteral("_0001_"), QStringLiteral("T"), kInicio, kFim);
    // P_CDFILIAL without P_TCDFILIAL, P_DTVENDAINI without P_DTVENDAFIN; the register pair is whole.
    TADOIBQuery q;
    Sql(q, {"SELECT 1 FROM VENDA WHERE INSTR(:P_CDFILIAL, CDFILIAL) > 0 AND DTENTRVENDA >= :P_DTVENDAINI",
            "AND (INSTR(:P_CDCAIXA, CDCAIXA) > 0 OR :P_TCDCAIXA = 'T')"});
    vnd::PreencheParametrosRelGeraXml(filtro, q);
    EXPECT_FALSE(Param(q, "P_CDFILIAL").isValid());
    EXPECT_FALSE(Param(q, "P_DTVENDAINI").isValid());
    EXPECT_EQ(Param(q, "P_TCDCAIXA"), QStringLiteral("T"));
    EXPECT_EQ(Param(q, "P_CDCAIXA").toString(), QString());

    EXPECT_TRUE(ExistParam(q, QStringLiteral("p_cdfilial")));
    EXPECT_TRUE(ExistParam(q, QStringLiteral(":P_CDCAIXA")));
    EXPECT_FALSE(ExistParam(q, QStringLiteral("P_TCDFILIAL")));

    // A query without any of them, and an empty filter record, get nothing and raise nothing.
    TADOIBQuery nada;
    Sql(nada, {"SELECT 1 FROM VENDA"});
    vnd::PreencheParametrosRelGeraXml(filtro, nada);
    TClientDataSet vazio;
    Filtro(vazio, QStringLiteral("T"), QStringLiteral("T"), kInicio, kFim);
    vazio.EmptyDataSet();
    TADOIBQuery q2;
    Sql(q2, {"SELECT 1 FROM VENDA WHERE (:P_TCDFILIAL = 'T' OR :P_CDFILIAL = CDFILIAL)"});
    vnd::PreencheParametrosRelGeraXml(vazio, q2);
    EXPECT_FALSE(Param(q2, "P_TCDFILIAL").isValid());
}

TEST(RelGeraXmlParametros, TheScreenHandsItsFilterToTheReportDialog)
{
    vndtest::ScopedPlatform platform;
    TClientDataSet filtro;
    Filtro(filtro, QStringLiteral("_0002_"), QStringLiteral("T"), kInicio, kFim);
    TfrmRelGeraXml tela(filtro);
    EXPECT_EQ(tela.windowTitle(), Utf8("Relatório de Geração do Arquivo XML"));
    EXPECT_EQ(tela.ScreenCode(), QStringLiteral("GER01301"));
    EXPECT_EQ(tela.lblCodRel->text(), QStringLiteral("Vnd044"));
    ASSERT_GE(tela.cbxRelatorio->count(), 2);
    EXPECT_EQ(tela.cbxRelatorio->currentText(), Utf8("Geração do Arquivo XML por Filial/Caixa/Dia"));
    TADOIBQuery q;
    q.SQL = vnd::FindReport(QStringLiteral("Vnd044"), tela.cbxRelatorio->currentText())->sql;
    tela.rpddPadrao->OnBeforeGetQueryParams(q);
    EXPECT_EQ(Param(q, "P_CDFILIAL"), QStringLiteral("_0002_"));
    EXPECT_EQ(Param(q, "P_TCDFILIAL").toString(), QString());
    EXPECT_EQ(Param(q, "P_TCDCAIXA"), QStringLiteral("T"));
    platform->ExpectInfo(QStringLiteral("GerHelp.hlp"), vndtest::ScriptedPlatform::Match::Contains);
    tela.sbtAjuda->click();
}

// The report's rows against the sales added up apart, for the whole period and for one branch and
// register, on each engine the run has.
class RelGeraXmlConsulta : public ::testing::TestWithParam<Engine>
{
};

TEST_P(RelGeraXmlConsulta, RowsMatchTheSalesOfEachBranchRegisterAndDay)
{
    vndtest::ServerFixture *server = Servidor(GetParam());
    if (!server)
        GTEST_SKIP() << "no PostgreSQL server for this run (VND_TEST_PG)";
    vnd::OpenHostDatabase(server->DbUrl());
    vnd::RegistraRelatoriosVnd044();
    const QDate de = kInicio.addDays(1), ate = kFim.addDays(-1);
    for (const auto &[filial, caixa] : {std::pair<QString, QString>{QStringLiteral("T"), QStringLiteral("T")},
                                        {QStringLiteral("_0001_"), QStringLiteral("_0001002_")}}) {
        TClientDataSet filtro;
        Filtro(filtro, filial, caixa, de, ate);
        TReportDialog dialogo;
        dialogo.ReportCode = vnd::CodRelGeraXml();
        dialogo.OnBeforeGetQueryParams = [&](TADOIBQuery &p) {
            vnd::PreencheParametrosRelGeraXml(filtro, p);
        };
        TADOIBQuery q;
        QString criterios;
        dialogo.OpenQuery(vnd::RelGeraXmlFilialCaixaDia(), q, &criterios);
        const bool todas = filial == QLatin1String("T");
        EXPECT_EQ(criterios,
                  todas ? Utf8("Período: 02/03/2024 a 06/03/2024     Filiais: Todas     Caixas: Todos")
                        : Utf8("Período: 02/03/2024 a 06/03/2024     Filiais: 0001     Caixas: 0001/002"));
        const QMap<QString, Soma> somas = Somas(*server, de, ate, todas ? QString() : QStringLiteral("0001"),
                                                todas ? QString() : QStringLiteral("002"));
        int linhas = 0;
        QString anterior;
        for (q.First(); !q.Eof(); q.Next(), ++linhas) {
            auto campo = [&](const char *f) { return q.FieldByName(QString::fromLatin1(f)); };
            const QString chave = campo("CDFILIAL").AsString() + QLatin1Char('|') +
                                  campo("CDCAIXA").AsString() + QLatin1Char('|') +
                                  campo("DTVENDA").AsString();
            EXPECT_LT(anterior, chave) << "ordered by branch, register and day";
            anterior = chave;
            ASSERT_TRUE(somas.contains(chave)) << chave.toStdString();
            const Soma &s = somas[chave];
            EXPECT_EQ(campo("QTNFCEAUT").Value().toLongLong(), s.nfceAut) << chave.toStdString();
            EXPECT_EQ(campo("QTNFCECANC").Value().toLongLong(), s.nfceCanc) << chave.toStdString();
            EXPECT_EQ(campo("QTSATAUT").Value().toLongLong(), s.satAut) << chave.toStdString();
            EXPECT_EQ(campo("QTSATCANC").Value().toLongLong(), s.satCanc) << chave.toStdString();
            EXPECT_EQ(campo("QTVENDAS").Value().toLongLong(), s.Vendas()) << chave.toStdString();
            EXPECT_NEAR(campo("VRAUTORIZADO").Value().toDouble(), s.vrAut, 0.005) << chave.toStdString();
            EXPECT_NEAR(campo("VRCANCELADO").Value().toDouble(), s.vrCanc, 0.005) << chave.toStdString();
            EXPECT_FALSE(campo("NMFILIAL").AsString().isEmpty());
        }
        int esperadas = 0;
        for (auto it = somas.cbegin(); it != somas.cend(); ++it)
            esperadas += it.key().endsWith(QLatin1Char('|')) ? 0 : 1;
        EXPECT_EQ(linhas, esperadas);
        EXPECT_GT(linhas, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, RelGeraXmlConsulta, ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto &info) {
                             return std::string(info.param == Engine::SQLite ? "SQLite" : "PostgreSQL");
                         });

TEST(RelGeraXmlTela, PrintsThroughThePreviewSavesThePdfAndCanBeOpenedAgain)
{
    vndtest::ServerFixture *server = Servidor();
    vnd::OpenHostDatabase(server->DbUrl());
    vndtest::ScopedPlatform platform;
    QTemporaryDir pasta;
    TClientDataSet filtro;
    Filtro(filtro, QStringLiteral("T"), QStringLiteral("T"), kInicio, kFim);
    QString salvo;
    platform->ExpectModal(QStringLiteral("TfrmRelGeraXml"), [&](QDialog &d) {
        auto &tela = static_cast<TfrmRelGeraXml &>(d);
        platform->ExpectModal(QStringLiteral("TfrmVisualizaRel"), [&](QDialog &p) {
            auto &previa = static_cast<TfrmVisualizaRel &>(p);
            const int paginas = int(previa.Document().pages.size());
            EXPECT_GE(paginas, 1);
            EXPECT_EQ(previa.lblPaginas->text(),
                      paginas == 1 ? Utf8("1 página") : Utf8("%1 páginas").arg(paginas));
            const QImage primeira = previa.pnlPaginas->PageImage(0);
            EXPECT_EQ(primeira.width(), 794);
            platform->ExpectFolder(pasta.path());
            platform->ExpectInfo(Utf8("Relatório salvo em "), vndtest::ScriptedPlatform::Match::Contains);
            previa.sbtSalvar->click();
            salvo = previa.SavedPath();
            previa.sbtFechar->click();
        });
        tela.sbtImprimir->click();
        tela.sbtFechar->click();
    });
    CriaRelGeraXml(filtro);
    ASSERT_FALSE(salvo.isEmpty());
    EXPECT_EQ(QFileInfo(salvo).absolutePath(), QFileInfo(pasta.path()).absoluteFilePath());
    EXPECT_TRUE(QFileInfo(salvo).fileName().startsWith(Utf8("Geração do Arquivo XML por Filial-Caixa-Dia ")));
    EXPECT_TRUE(vndtest::ReadFile(salvo).startsWith("%PDF-"));

    // Closed, the unit creates a new screen on the next call; a period without sales is told, not shown.
    Filtro(filtro, QStringLiteral("T"), QStringLiteral("T"), QDate(2031, 1, 1), QDate(2031, 1, 31));
    platform->ExpectModal(QStringLiteral("TfrmRelGeraXml"), [&](QDialog &d) {
        auto &tela = static_cast<TfrmRelGeraXml &>(d);
        platform->ExpectInfo(
            Utf8("Não há dados para emitir o relatório \"Geração do Arquivo XML por Filial/Caixa/Dia\" "
                 "com os parâmetros informados."));
        tela.sbtImprimir->click();
        tela.sbtFechar->click();
    });
    CriaRelGeraXml(filtro);
    EXPECT_FALSE(platform->BusyVisible());
}

} // namespace
