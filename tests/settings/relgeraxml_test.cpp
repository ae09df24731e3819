// The generation report: the filter's parameters as each query declares them, and the report screen
// with its preview and the saved PDF.
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
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QSpinBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace settingstest;

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

TEST(RelGeraXmlParametros, PairsFollowTheFilterWhereTheQueryDeclaresBoth)
{
    // "Todas" branches: "T" in the second and an empty (not null) first; a register list in the first.
    TClientDataSet filtro;
    Filtro(filtro, QStringLiteral("T"), QStringLiteral("_0001001__0002001_"), kInicio, kFim);
    TADOIBQuery q;
    Sql(q, {"SELECT 1 FROM VENDA WHERE DTENTRVENDA BETWEEN :P_DTVENDAINI AND :P_DTVENDAFIN",
            "AND (INSTR(:P_CDFILIAL, CDFILIAL) > 0 OR :P_TCDFILIAL = 'T')",
            "AND (INSTR(:p_cdcaixa, CDCAIXA) > 0 OR :P_TCDCAIXA = 'T')"});
    vnd::PreencheParametrosRelGeraXml(filtro, q);
    EXPECT_EQ(Param(q, "P_TCDFILIAL"), QStringLiteral("T"));
    EXPECT_EQ(Param(q, "P_CDFILIAL"), QVariant(QString()));
    EXPECT_EQ(Param(q, "P_CDCAIXA"), QStringLiteral("_0001001__0002001_"));
    EXPECT_EQ(Param(q, "P_TCDCAIXA"), QVariant(QString()));
    EXPECT_EQ(Param(q, "P_DTVENDAINI"), QVariant(kInicio.startOfDay()));
    EXPECT_EQ(Param(q, "P_DTVENDAFIN"), QVariant(kFim.startOfDay()));

    // P_CDFILIAL without P_TCDFILIAL and P_DTVENDAINI without P_DTVENDAFIN get nothing; the whole register
    // pair is filled.
    Filtro(filtro, QStringLiteral("_0001_"), QStringLiteral("T"), kInicio, kFim);
    TADOIBQuery meia;
    Sql(meia, {"SELECT 1 FROM VENDA WHERE INSTR(:P_CDFILIAL, CDFILIAL) > 0 AND DTENTRVENDA >= :P_DTVENDAINI",
               "AND (INSTR(:P_CDCAIXA, CDCAIXA) > 0 OR :P_TCDCAIXA = 'T')"});
    vnd::PreencheParametrosRelGeraXml(filtro, meia);
    EXPECT_FALSE(Param(meia, "P_CDFILIAL").isValid());
    EXPECT_FALSE(Param(meia, "P_DTVENDAINI").isValid());
    EXPECT_EQ(Param(meia, "P_TCDCAIXA"), QStringLiteral("T"));
    EXPECT_TRUE(ExistParam(meia, QStringLiteral(":p_cdfilial")));
    EXPECT_FALSE(ExistParam(meia, QStringLiteral("P_TCDFILIAL")));

    // No filter yet: nothing is filled.
    filtro.EmptyDataSet();
    TADOIBQuery vazia;
    Sql(vazia, {"SELECT 1 FROM VENDA WHERE (:P_TCDFILIAL = 'T' OR :P_CDFILIAL = CDFILIAL)"});
    vnd::PreencheParametrosRelGeraXml(filtro, vazia);
    EXPECT_FALSE(Param(vazia, "P_TCDFILIAL").isValid());
}

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
        EXPECT_EQ(tela.windowTitle(), Utf8("Relatório de Geração do Arquivo XML"));
        EXPECT_EQ(tela.ScreenCode(), QStringLiteral("GER01301"));
        EXPECT_EQ(tela.lblCodRel->text(), QStringLiteral("Vnd044"));
        EXPECT_EQ(tela.cbxRelatorio->count(), 2);
        EXPECT_EQ(tela.cbxRelatorio->currentText(), Utf8("Geração do Arquivo XML por Filial/Caixa/Dia"));
        platform->ExpectInfo(QStringLiteral("GerHelp.hlp"), vndtest::ScriptedPlatform::Match::Contains);
        tela.sbtAjuda->click();
        platform->ExpectModal(QStringLiteral("TfrmVisualizaRel"), [&](QDialog &p) {
            auto &previa = static_cast<TfrmVisualizaRel &>(p);
            const int paginas = int(previa.Document().pages.size());
            EXPECT_GE(paginas, 1);
            EXPECT_EQ(previa.lblPaginas->text(),
                      paginas == 1 ? Utf8("1 página") : Utf8("%1 páginas").arg(paginas));
            const QImage primeira = previa.pnlPaginas->PageImage(0);
            EXPECT_EQ(primeira.width(), 794);
            // The save asks for a file name, the report's suggested, without ".pdf" typed.
            platform->ExpectSaveFile(QDir(pasta.path()).filePath(Utf8("Geração por dia")));
            platform->ExpectInfo(Utf8("Relatório salvo em "), vndtest::ScriptedPlatform::Match::Contains);
            previa.sbtSalvar->click();
            salvo = previa.SavedPath();
            EXPECT_TRUE(platform->LastSave().startsWith(Utf8("relatorio|Geração do Arquivo XML por Filial-Caixa-Dia ")))
                << platform->LastSave().toStdString();
            // Zoom and page moves keep the pages' images in step.
            previa.SetZoom(50);
            EXPECT_EQ(previa.pnlPaginas->PageImage(0).width(), 397);
            previa.SetZoom(100);
            previa.IrParaPagina(paginas - 1);
            EXPECT_EQ(previa.spnPagina->value(), paginas);
            previa.resize(900, 700);
            Retrato(previa, QStringLiteral("visualizarel"));
            previa.sbtFechar->click();
        });
        Retrato(tela, QStringLiteral("relgeraxml"));
        tela.sbtImprimir->click();
        tela.sbtFechar->click();
    });
    CriaRelGeraXml(filtro);
    ASSERT_FALSE(salvo.isEmpty());
    EXPECT_EQ(QFileInfo(salvo).absolutePath(), QFileInfo(pasta.path()).absoluteFilePath());
    EXPECT_EQ(QFileInfo(salvo).fileName(), Utf8("Geração por dia.pdf"));
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
