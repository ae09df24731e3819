// The main screen against a real server: the page-by-page fetch and its count, the pending warning,
// ticking, the tick column's drawing, the display texts, the toolbar and the screen's life.
#include "export/ui/checkcolumn.h"
#include "export/ui/frmfiltgerxml.h"
#include "export/ui/frmgeraxml.h"
#include "host/ui/controls.h"
#include "host/ui/datasource.h"
#include "host/ui/dbgrid.h"
#include "tests/export/ui/telas_testutil.h"

#include <QAction>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScopeGuard>
#include <QSet>
#include <QTest>
#include <gtest/gtest.h>

using namespace exporttest;

namespace {

QString Utf8(const char *s) { return QString::fromUtf8(s); }

class TelaPrincipal : public ::testing::Test
{
protected:
    void SetUp() override { LimpaUnidades(); }
    void TearDown() override { FechaTela(); }

    // The IDCHECK values of the list, in order.
    static QStringList Marcas(TClientDataSet &cds)
    {
        QStringList marcas;
        const int campo = cds.FieldIndex(QStringLiteral("IDCHECK"));
        for (int r = 0; r < cds.RowCount(); ++r)
            marcas << QString::fromUtf8(cds.RowValue(r, campo).toByteArray());
        return marcas;
    }

    static void DefineMarca(TClientDataSet &cds, int linha, const QString &valor)
    {
        cds.SetRecNo(linha);
        cds.Edit();
        cds.FieldByName(QStringLiteral("IDCHECK")).SetAsString(valor);
        cds.Post();
    }

    static void ClicaTitulo(TfrmGeraXml &tela, int coluna)
    {
        QHeaderView *titulos = tela.dbgPadrao->horizontalHeader();
        const QPoint ponto(titulos->sectionViewportPosition(coluna) + 4, titulos->height() / 2);
        QTest::mouseClick(titulos->viewport(), Qt::LeftButton, {}, ponto);
    }

    vndtest::ScopedPlatform platform;
};

TEST_F(TelaPrincipal, FetchesPageByPageShowingTheRunningCountAndReplacesTheListOnRefresh)
{
    TfrmGeraXml &tela = AbreTela(*platform);
    const int total = VendasListaveis();
    ASSERT_GT(total, 501) << "the seed must fill more than one page";
    ASSERT_LE(total, 1001);
    const QString final = vnd::TextoQtdeNotas(total);
    // The first page holds rows 0 to 500, the second the rest, the third arrives empty.
    EXPECT_EQ(platform->BusyTexts(), (QStringList{vnd::TextoQtdeNotas(501), final, final}));
    EXPECT_EQ(tela.lblQtdeNotas->text(), final);
    EXPECT_EQ(tela.cdsNotas.RecordCount(), total);
    EXPECT_FALSE(platform->BusyVisible());

    QStringList chamadas;
    tela.OnChamadaRemota = [&](const QString &metodo, const QVariantList &params) {
        chamadas << (metodo == QLatin1String("getNotas") ? metodo + QLatin1Char(' ') + params[10].toString() + QLatin1Char('-') +
                                                               params[11].toString()
                                                         : metodo);
    };
    tela.sbtVerificar->click();
    EXPECT_EQ(chamadas, (QStringList{QStringLiteral("getNotas 0-500"), QStringLiteral("getNotas 501-1000"),
                                     QStringLiteral("getNotas 1001-1500"), QStringLiteral("getNotasPedRej")}));
    EXPECT_EQ(tela.cdsNotas.RecordCount(), total);
    QSet<QByteArray> chaves;
    const int chave = tela.cdsNotas.FieldIndex(QStringLiteral("NRACESSONFCE"));
    for (int r = 0; r < tela.cdsNotas.RowCount(); ++r)
        chaves.insert(tela.cdsNotas.RowValue(r, chave).toByteArray());
    EXPECT_EQ(chaves.size(), total) << "a second fetch must replace the list, not add to it";
    EXPECT_EQ(tela.cdsNotas.ChangeCount(), 0) << "fetched rows count as unchanged";
}

TEST_F(TelaPrincipal, AFilterWithoutSalesMakesOnePageCallAndStillChecksPendingInvoices)
{
    const auto semNotas = [](TfrmFiltGerXml &f) { f.medNrNotaFiscal->setText(QStringLiteral("999999999")); };
    TfrmGeraXml &tela = AbreTela(*platform, semNotas);
    EXPECT_EQ(platform->BusyTexts(), QStringList{Utf8("Qtde. de Registros Listados: 0000")});
    EXPECT_EQ(tela.lblQtdeNotas->text(), Utf8("Qtde. de Registros Listados: 0000"));
    EXPECT_FALSE(tela.sbtGeraXml->isEnabled());
    EXPECT_FALSE(tela.sbtImprimir->isEnabled());
    // A confirmed filter can always be fetched again, with rows or without.
    EXPECT_TRUE(tela.sbtVerificar->isEnabled());

    QStringList chamadas;
    tela.OnChamadaRemota = [&](const QString &metodo, const QVariantList &) { chamadas << metodo; };
    platform->ExpectModal(QStringLiteral("TfrmFiltGerXml"), [&](QDialog &d) { ConfirmaFiltro(static_cast<TfrmFiltGerXml &>(d), semNotas); });
    tela.sbtFiltro->click();
    EXPECT_EQ(chamadas, (QStringList{QStringLiteral("getNotas"), QStringLiteral("getNotasPedRej")}));
}

TEST_F(TelaPrincipal, WarnsOfPendingOrRejectedInvoicesOfTheFilter)
{
    const QString filial = Consulta(QStringLiteral("SELECT MIN(CDFILIAL) FROM VENDA WHERE IDTPEMISVEND = 'N' AND IDSTATUSNFCE = 'A'")).toString();
    const QString chave = Consulta(QStringLiteral("SELECT MIN(NRACESSONFCE) FROM VENDA WHERE CDFILIAL = ? AND IDTPEMISVEND = 'N' "
                                                  "AND IDSTATUSNFCE = 'A'"),
                                   {filial})
                              .toString();
    Consulta(QStringLiteral("UPDATE VENDA SET IDSTATUSNFCE = 'P' WHERE NRACESSONFCE = ?"), {chave});
    const auto restaura = qScopeGuard([&] { Consulta(QStringLiteral("UPDATE VENDA SET IDSTATUSNFCE = 'A' WHERE NRACESSONFCE = ?"), {chave}); });

    Servidor();
    platform->ExpectModal(QStringLiteral("TfrmFiltGerXml"), [](QDialog &d) { ConfirmaFiltro(static_cast<TfrmFiltGerXml &>(d)); });
    platform->ExpectInfo(Utf8("Existem NFC-e pendente/rejeitada de transmissão para o filtro informado. Favor verificar as notas "
                              "através da tela Transmissão de NFC-e."));
    CriaGeraXml();
    TfrmGeraXml &tela = *vnd::frmGeraXml();
    EXPECT_EQ(tela.cdsNotasPenRej.RecordCount(), 1);
    EXPECT_EQ(tela.cdsNotas.RecordCount(), VendasListaveis());
}

TEST_F(TelaPrincipal, AFailureInTheMiddleOfTheFetchKeepsThePagesAlreadyListed)
{
    TfrmGeraXml &tela = AbreTela(*platform);
    int paginas = 0;
    tela.OnChamadaRemota = [&](const QString &metodo, const QVariantList &) {
        if (metodo == QLatin1String("getNotas") && ++paginas == 2)
            tela.netGeraXml.Token = QStringLiteral("chave-errada");
    };
    const QString token = tela.netGeraXml.Token;
    platform->ExpectError(Utf8("recusou a chave de acesso"), vndtest::ScriptedPlatform::Match::Contains);
    tela.sbtVerificar->click();
    tela.netGeraXml.Token = token;
    EXPECT_EQ(tela.cdsNotas.RecordCount(), 501);
    EXPECT_EQ(tela.lblQtdeNotas->text(), vnd::TextoQtdeNotas(501));
    EXPECT_FALSE(platform->BusyVisible());
}

TEST_F(TelaPrincipal, TicksByDoubleClickSpaceAndTheTickColumnTitle)
{
    TfrmGeraXml &tela = AbreTela(*platform);
    TClientDataSet &notas = tela.cdsNotas;
    const int total = notas.RecordCount();
    notas.SetRecNo(0);
    tela.dbgPadraoDblClick();
    notas.SetRecNo(1);
    QTest::keyClick(tela.dbgPadrao, Qt::Key_Space);
    notas.SetRecNo(2);
    QTest::keyClick(tela.dbgPadrao, Qt::Key_Space);
    EXPECT_EQ(tela.inQtdeMarcadas, 3);
    EXPECT_EQ(Marcas(notas).mid(0, 4), (QStringList{"S", "S", "S", "N"}));
    notas.SetRecNo(1);
    tela.dbgPadraoDblClick();
    EXPECT_EQ(Marcas(notas).mid(0, 3), (QStringList{"S", "N", "S"}));
    EXPECT_EQ(tela.inQtdeMarcadas, 2);

    ClicaTitulo(tela, 1); // another title does nothing
    EXPECT_EQ(Marcas(notas).count(QStringLiteral("S")), 2);
    ClicaTitulo(tela, 0);
    EXPECT_EQ(Marcas(notas).count(QStringLiteral("S")), 0);
    EXPECT_EQ(tela.inQtdeMarcadas, 0);
    EXPECT_EQ(notas.RecNo(), 0);
    ClicaTitulo(tela, 0);
    EXPECT_EQ(Marcas(notas).count(QStringLiteral("S")), total);
    EXPECT_EQ(tela.inQtdeMarcadas, total);
    EXPECT_TRUE(tela.dbgPadrao->updatesEnabled());

    // A row with no mark at all becomes unticked.
    DefineMarca(notas, 5, QString());
    notas.SetRecNo(5);
    tela.dbgPadraoDblClick();
    EXPECT_EQ(Marcas(notas)[5], QStringLiteral("N"));

    // The ticked count survives a fetch: the next title click unticks (nothing) before ticking again.
    tela.sbtVerificar->click();
    EXPECT_EQ(Marcas(notas).count(QStringLiteral("S")), 0);
    EXPECT_GT(tela.inQtdeMarcadas, 0);
}

TEST_F(TelaPrincipal, TheTickColumnDrawsTheTwoPicturesOnTheCellsBrushAndNothingForOtherValues)
{
    TfrmGeraXml &tela = AbreTela(*platform);
    DefineMarca(tela.cdsNotas, 0, QStringLiteral("S"));
    DefineMarca(tela.cdsNotas, 1, QStringLiteral("N"));
    DefineMarca(tela.cdsNotas, 2, QString());
    auto *delegado = qobject_cast<vnd::TColunaMarcaDelegate *>(tela.dbgPadrao->itemDelegateForColumn(0));
    ASSERT_NE(delegado, nullptr);
    const QColor fundo(10, 200, 30);
    const auto desenha = [&](int linha) {
        QImage imagem(24, 18, QImage::Format_RGB32);
        imagem.fill(Qt::black);
        QPainter p(&imagem);
        QStyleOptionViewItem opcao;
        opcao.rect = imagem.rect();
        opcao.state = QStyle::State_Enabled;
        opcao.palette.setColor(QPalette::Base, fundo);
        delegado->paint(&p, opcao, tela.dbgPadrao->Model()->index(linha, 0));
        return imagem;
    };
    const auto cores = [](const QImage &imagem) {
        QSet<QRgb> set;
        for (int y = 0; y < imagem.height(); ++y)
            for (int x = 0; x < imagem.width(); ++x)
                set.insert(imagem.pixel(x, y));
        return set;
    };
    const QImage marcada = desenha(0), desmarcada = desenha(1), vazia = desenha(2);
    EXPECT_EQ(cores(vazia), QSet<QRgb>{fundo.rgb()}) << "an unknown mark leaves the cell empty";
    for (const QImage *imagem : {&marcada, &desmarcada}) {
        EXPECT_FALSE(cores(*imagem).contains(vnd::kCorTransparente.rgb())) << "olive is the transparent colour";
        EXPECT_GT(cores(*imagem).size(), 1);
        for (int y = 0; y < imagem->height(); ++y)
            for (int x = 0; x < 4; ++x)
                ASSERT_EQ(imagem->pixel(x, y), fundo.rgb()) << "the picture starts 4 pixels from the left";
    }
    EXPECT_NE(marcada, desmarcada);
}

TEST_F(TelaPrincipal, ShowsSituationAndOriginAsTextsInTheListAndTheReceivedPage)
{
    TfrmGeraXml &tela = AbreTela(*platform);
    TClientDataSet &notas = tela.cdsNotas;
    const struct
    {
        const char *situacao, *origem, *textoSituacao, *textoOrigem;
    } casos[] = {{"O", "N", "Concluída", "NFC-e"}, {"C", "S", "Cancelada", "SAT"}, {"D", "", "Devolução", "SAT"}, {"", "N", "Devolução", "NFC-e"}};
    for (int i = 0; i < 4; ++i) {
        notas.SetRecNo(i);
        notas.Edit();
        notas.FieldByName(QStringLiteral("IDSITUVENDA")).SetAsString(QString::fromLatin1(casos[i].situacao));
        notas.FieldByName(QStringLiteral("IDTPEMISVEND")).SetAsString(QString::fromLatin1(casos[i].origem));
        notas.Post();
    }
    const auto coluna = [&](const char *campo) {
        for (int c = 0; c < tela.dbgPadrao->Model()->columnCount(); ++c)
            if (tela.dbgPadrao->ColumnField(c) == QLatin1String(campo))
                return c;
        return -1;
    };
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(tela.dbgPadrao->Model()->index(i, coluna("IDSITUVENDA")).data().toString(), Utf8(casos[i].textoSituacao));
        EXPECT_EQ(tela.dbgPadrao->Model()->index(i, coluna("IDTPEMISVEND")).data().toString(), Utf8(casos[i].textoOrigem));
    }
    // The page as received shows the same texts.
    ASSERT_FALSE(tela.cdsNotasTemp.Active() && tela.cdsNotasTemp.RecordCount() > 0) << "the last page arrived empty";
    tela.cdsNotasTemp.Append();
    tela.cdsNotasTemp.FieldByName(QStringLiteral("IDSITUVENDA")).SetAsString(QStringLiteral("C"));
    tela.cdsNotasTemp.Post();
    EXPECT_EQ(tela.cdsNotasTemp.FieldByName(QStringLiteral("IDSITUVENDA")).DisplayText(), QStringLiteral("Cancelada"));
    EXPECT_EQ(tela.cdsNotasTemp.FieldByName(QStringLiteral("IDTPEMISVEND")).DisplayText(), QStringLiteral("SAT"));
}

TEST_F(TelaPrincipal, ToolbarGridAndFooterAreLaidOutAsTheUsersKnowThem)
{
    TfrmGeraXml &tela = AbreTela(*platform);
    EXPECT_EQ(tela.windowTitle(), Utf8("Geração do Arquivo XML (NFC-e/Sat)"));
    EXPECT_EQ(tela.ScreenCode(), QStringLiteral("VND04400"));
    EXPECT_EQ(tela.sbtFiltro->toolTip(), QStringLiteral("Filtrar"));
    EXPECT_EQ(tela.sbtGeraXml->toolTip(), QStringLiteral("Gerar Xml"));
    EXPECT_EQ(tela.sbtParamGeraArqAuto->toolTip(), Utf8("Parametrizar Geração Automática Arquivo XML (NFC-e/SAT)"));
    EXPECT_EQ(tela.btnImporXml->toolTip(), QStringLiteral("Importar Lote de XMLs"));
    // Left to right: filter, generate, parameters, import, print, then the base screen's buttons.
    const auto x = [](QWidget *w) { return w->mapTo(w->window(), QPoint(0, 0)).x(); };
    EXPECT_LT(x(tela.sbtFiltro), x(tela.sbtGeraXml));
    EXPECT_LT(x(tela.sbtGeraXml), x(tela.sbtParamGeraArqAuto));
    EXPECT_LT(x(tela.sbtParamGeraArqAuto), x(tela.btnImporXml));
    EXPECT_LT(x(tela.btnImporXml), x(tela.sbtImprimir));
    EXPECT_LT(x(tela.sbtImprimir), x(tela.sbtAjuda));
    for (TButtonFlat *b : {tela.sbtGeraXml, tela.sbtImprimir, tela.sbtVerificar})
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_TRUE(tela.mniVerificar->isEnabled());
    for (TButtonFlat *b : {tela.sbtIncluir, tela.sbtAlterar, tela.sbtExcluir})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    for (QAction *a : {tela.mniIncluir, tela.mniAlterar, tela.mniExcluir})
        EXPECT_FALSE(a->isEnabled());

    const QStringList campos = {"IDCHECK",        "CDFILIAL",     "CDCAIXA",     "DTENTRVENDA",  "NRSEQVENDA", "CDSERIE",
                                "NRNOTAFISCALCE", "NRACESSONFCE", "IDSITUVENDA", "IDTPEMISVEND", "CDCLIENTE"};
    const QStringList titulos = {Utf8("✔"), "Filial", "Caixa", "Data Mov.", "Nr. Venda", Utf8("Série"), "Nr. Nota Fiscal",
                                 "Chave de Acesso", Utf8("Situação Venda"), "Origem", "Cliente"};
    ASSERT_EQ(tela.dbgPadrao->Model()->columnCount(), campos.size());
    for (int c = 0; c < campos.size(); ++c) {
        EXPECT_EQ(tela.dbgPadrao->ColumnField(c), campos[c]);
        EXPECT_EQ(tela.dbgPadrao->Model()->headerData(c, Qt::Horizontal).toString(), titulos[c]);
    }
    // The narrow columns still show their codes and days whole.
    EXPECT_GE(tela.dbgPadrao->columnWidth(0), 24);
    EXPECT_GE(tela.dbgPadrao->columnWidth(5), 128);
    EXPECT_GE(tela.dbgPadrao->columnWidth(10), 84);
    const QFontMetrics fm = tela.dbgPadrao->fontMetrics();
    for (int c = 1; c <= 4; ++c)
        for (int r = 0; r < 20; ++r) {
            const QString texto = tela.dbgPadrao->Model()->index(r, c).data().toString();
            ASSERT_GE(tela.dbgPadrao->columnWidth(c), fm.horizontalAdvance(texto) + 6) << texto.toStdString();
        }
    EXPECT_EQ(tela.dbgPadrao->Model()->index(0, 3).data().toString().size(), 10) << "the movement column shows the day";
    EXPECT_TRUE(tela.lblQtdeNotas->alignment() & Qt::AlignRight);
    EXPECT_TRUE(tela.lblAvisoXml->font().bold());
    EXPECT_EQ(tela.lblAvisoXml->text(), Utf8("* Os Xml que não aparecem nesta tela, só podem ser baixados pelo sistema Vantor"));
    EXPECT_EQ(tela.imgCheck->pixmap().size(), QSize(16, 16));
    EXPECT_FALSE(tela.imgCheck->isVisible());
    tela.cdsNotas.SetRecNo(3);
    EXPECT_TRUE(tela.lblNavegador->text().endsWith(tela.cdsNotas.FieldByName(QStringLiteral("NRNOTAFISCALCE")).AsString()));
}

TEST_F(TelaPrincipal, TheEntryShowsALiveScreenAgainAfterTheUserClosedIt)
{
    TfrmGeraXml *primeira = &AbreTela(*platform);
    EXPECT_TRUE(primeira->isVisible());
    // Opening again while it lives brings the same screen forward.
    platform->ExpectModal(QStringLiteral("TfrmFiltGerXml"));
    CriaGeraXml();
    EXPECT_EQ(vnd::frmGeraXml(), primeira);
    FechaTela();
    EXPECT_EQ(vnd::frmGeraXml(), nullptr);
    TfrmGeraXml &segunda = AbreTela(*platform);
    EXPECT_TRUE(segunda.isVisible());
    EXPECT_TRUE(segunda.netGeraXml.Connected());
    EXPECT_EQ(segunda.inQtdeMarcadas, 0);
}

TEST_F(TelaPrincipal, SettingsFunctionsNotInThisBuildSayThatInsteadOfFailing)
{
    TfrmGeraXml &tela = AbreTela(*platform);
    platform->ExpectInfo(Utf8("Esta função não está disponível nesta versão do módulo."));
    tela.sbtParamGeraArqAuto->click();
    platform->ExpectInfo(Utf8("Esta função não está disponível nesta versão do módulo."));
    tela.sbtImprimir->click();
}

TEST(TextosDaLista, CountLabelHasAtLeastFourDigits)
{
    EXPECT_EQ(vnd::TextoQtdeNotas(0), QStringLiteral("Qtde. de Registros Listados: 0000"));
    EXPECT_EQ(vnd::TextoQtdeNotas(501), QStringLiteral("Qtde. de Registros Listados: 0501"));
    EXPECT_EQ(vnd::TextoQtdeNotas(12345), QStringLiteral("Qtde. de Registros Listados: 12345"));
}

} // namespace
