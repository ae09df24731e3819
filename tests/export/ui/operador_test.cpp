// What an operator meets every day besides the fiscal rules: the server folder chooser working on the
// server's export root alone, the ticked count and sum, stopping a long generation, a lost server,
// Enter and Escape in the dialogs, the menu entries and the help pages.
#include "export/ui/frmendarqxml.h"
#include "export/ui/frmfiltgerxml.h"
#include "export/ui/frmgeraxml.h"
#include "export/ui/frmpastaservidor.h"
#include "export/ui/listanotas.h"
#include "host/session.h"
#include "host/ui/controls.h"
#include "host/ui/dateedit.h"
#include "host/ui/helpwindow.h"
#include "host/ui/uiplatform.h"
#include "tests/export/ui/telas_testutil.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace exporttest;
using Match = vndtest::ScriptedPlatform::Match;

namespace {

QString Utf8(const char *s) { return QString::fromUtf8(s); }

const QString kPergunta = QStringLiteral("Confirma geração dos arquivos XML?");

QStringList Filhos(QTreeWidgetItem *item)
{
    QStringList nomes;
    for (int i = 0; i < item->childCount(); ++i)
        nomes << item->child(i)->text(0);
    return nomes;
}

QStringList Conteudo(const QString &pasta)
{
    QStringList nomes;
    for (QDirIterator it(pasta, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDirIterator::Subdirectories);
         it.hasNext();)
        nomes << QDir(pasta).relativeFilePath(it.next());
    nomes.sort();
    return nomes;
}

class Operador : public ::testing::Test
{
protected:
    void SetUp() override
    {
        LimpaUnidades();
        m_tela = &AbreTela(*platform);
    }
    void TearDown() override { FechaTela(); }

    void Marca(std::initializer_list<int> linhas)
    {
        for (int linha : linhas) {
            m_tela->cdsNotas.SetRecNo(linha);
            m_tela->dbgPadraoDblClick();
        }
    }

    vndtest::ScopedPlatform platform;
    TfrmGeraXml *m_tela = nullptr;
};

TEST_F(Operador, TheServerFolderChooserBrowsesAndCreatesOnTheServerOnly)
{
    const QString raiz = Servidor().ExportRoot();
    ASSERT_TRUE(QDir(raiz).mkpath(QStringLiteral("mensal/2026-11")));
    ASSERT_TRUE(QDir(raiz).mkpath(QStringLiteral("contador")));
    // A link out of the root and a FIFO are no folders of the export.
    QTemporaryDir fora;
    QFile::link(fora.path(), raiz + QStringLiteral("/atalho"));
    ::mkfifo(QFile::encodeName(raiz + QStringLiteral("/fila")).constData(), 0600);
    const QString aqui = QDir::currentPath();
    const QStringList antesAqui = Conteudo(aqui);

    TfrmPastaServidor f(m_tela->netGeraXml);
    f.Create();
    QTreeWidgetItem *topo = f.tvwPastas->topLevelItem(0);
    ASSERT_NE(topo, nullptr);
    const QStringList primeiras = Filhos(topo);
    EXPECT_TRUE(primeiras.contains(QStringLiteral("contador")));
    EXPECT_TRUE(primeiras.contains(QStringLiteral("mensal")));
    EXPECT_FALSE(primeiras.contains(QStringLiteral("atalho")));
    EXPECT_FALSE(primeiras.contains(QStringLiteral("fila")));

    f.SelecionaPasta(QStringLiteral("mensal\\2026-11"));
    EXPECT_EQ(f.Pasta(), QStringLiteral("mensal/2026-11"));
    f.edtNovaPasta->setText(QStringLiteral("lote 1"));
    f.sbtCriaPasta->click();
    EXPECT_EQ(f.Pasta(), QStringLiteral("mensal/2026-11/lote 1"));
    EXPECT_TRUE(QFileInfo(raiz + QStringLiteral("/mensal/2026-11/lote 1")).isDir());

    // Names that would make a path, or leave the root, are refused by the server with the reason.
    for (const char *nome : {"..", "a/b", "..\\fora", "x:y", "nome?"}) {
        platform->ExpectError(Utf8("Nome de pasta inválido"), Match::Contains);
        f.edtNovaPasta->setText(QString::fromUtf8(nome));
        f.sbtCriaPasta->click();
    }
    platform->ExpectError(Utf8("fica fora da pasta de exportação do servidor"), Match::Contains);
    vnd::RunHandler([&] { CheckResultServ(m_tela->netGeraXml.Call(QStringLiteral("getPastasExportacao"), {QStringLiteral("../")})); });

    // The root itself is no destination.
    f.SelecionaPasta(QString());
    platform->ExpectError(Utf8("Escolha ou crie uma pasta dentro da pasta de exportação do servidor."));
    f.sbtConfirma->click();
    EXPECT_EQ(Conteudo(aqui), antesAqui) << "nothing was made on this machine";
    EXPECT_FALSE(QFileInfo::exists(aqui + QStringLiteral("/lote 1")));
    QFile::remove(raiz + QStringLiteral("/fila"));
    QFile::remove(raiz + QStringLiteral("/atalho"));
}

TEST_F(Operador, TheStatusBarCountsTheTickedSalesAndAddsTheirValues)
{
    EXPECT_EQ(m_tela->lblMarcadas->text(), QStringLiteral("Nenhuma nota marcada"));
    Marca({0, 2});
    double soma = 0;
    for (int linha : {0, 2}) {
        const QString chave = m_tela->cdsNotas.RowField(linha, m_tela->cdsNotas.FieldIndex(QStringLiteral("NRACESSONFCE"))).AsString();
        soma += Consulta(QStringLiteral("SELECT VRTOTVENDA FROM VENDA WHERE NRACESSONFCE = ?"), {chave}).toDouble();
    }
    ASSERT_GT(soma, 0);
    const QString total = QLocale(QLocale::Portuguese, QLocale::Brazil).toString(soma, 'f', 2);
    EXPECT_EQ(m_tela->lblMarcadas->text(), QStringLiteral("2 notas marcadas, total R$ ") + total);
    m_tela->dbgPadraoTitleClick(QStringLiteral("IDCHECK"));
    EXPECT_EQ(m_tela->lblMarcadas->text(), QStringLiteral("Nenhuma nota marcada"));
    m_tela->dbgPadraoTitleClick(QStringLiteral("IDCHECK"));
    EXPECT_TRUE(m_tela->lblMarcadas->text().startsWith(QStringLiteral("%1 notas marcadas").arg(VendasListaveis())));
}

TEST_F(Operador, AGenerationStoppedFromTheBusyIndicatorLeavesOnlyWholeFiles)
{
    Marca({0, 1, 2, 3, 4});
    for (const bool compacta : {false, true}) {
        QTemporaryDir pasta;
        platform->ExpectQuestion(kPergunta, true);
        platform->ExpectModal(QStringLiteral("TfrmEndArqXML"), [compacta](QDialog &d) {
            auto &f = static_cast<TfrmEndArqXML &>(d);
            f.chbArqZip->setChecked(compacta);
            f.sbtConfirma->click();
        });
        platform->ExpectFolder(pasta.path());
        platform->CancelBusyAfter(2);
        platform->ExpectInfo(Utf8("Geração cancelada pelo usuário: arquivos de 2 de 5 notas gravados em"), Match::Contains);
        m_tela->sbtGeraXml->click();
        const QStringList arquivos = Conteudo(pasta.path()).filter(QRegularExpression(QStringLiteral("\\.[a-z]+$")));
        EXPECT_TRUE(arquivos.filter(QStringLiteral(".tmp")).isEmpty()) << arquivos.join(QLatin1Char(' ')).toStdString();
        // No summary: it would tell the accountant that the export is complete.
        EXPECT_TRUE(arquivos.filter(QStringLiteral("resumo-")).isEmpty()) << arquivos.join(QLatin1Char(' ')).toStdString();
        if (compacta) {
            ASSERT_EQ(arquivos.size(), 1) << arquivos.join(QLatin1Char(' ')).toStdString();
            EXPECT_TRUE(arquivos.first().endsWith(QStringLiteral(".zip")));
        } else {
            EXPECT_GE(arquivos.size(), 2);
            EXPECT_LE(arquivos.size(), 4) << "two sales, at most two files each";
        }
        EXPECT_TRUE(m_tela->statusBar()->currentMessage().startsWith(Utf8("Geração cancelada")));
    }
    EXPECT_FALSE(platform->BusyVisible());
}

TEST_F(Operador, EnterConfirmsEscapeCancelsAndTheFirstTabStopIsTheForm)
{
    platform->ExpectModal(QStringLiteral("TfrmFiltGerXml"), [](QDialog &d) {
        auto &f = static_cast<TfrmFiltGerXml &>(d);
        EXPECT_TRUE(f.pnlClient->isAncestorOf(f.focusWidget())) << "the toolbar is not the first stop";
        EXPECT_EQ(f.DefaultButton(), f.sbtConfirma);
        f.DepPeriodDe->SetDate(kInicio);
        f.depPeriodAte->SetDate(kFim);
        QTest::keyClick(f.depPeriodAte, Qt::Key_Return);
        EXPECT_FALSE(f.isVisible()) << "Enter confirmed the filter";
    });
    m_tela->sbtFiltro->click();

    m_tela->cdsNotas.SetRecNo(0);
    m_tela->dbgPadraoDblClick();
    platform->ExpectQuestion(kPergunta, true);
    platform->ExpectModal(QStringLiteral("TfrmEndArqXML"), [](QDialog &d) {
        auto &f = static_cast<TfrmEndArqXML &>(d);
        EXPECT_EQ(f.CancelButton(), f.sbtCancel);
        QTest::keyClick(f.rbtLocal, Qt::Key_Escape);
        EXPECT_FALSE(f.isVisible());
    });
    m_tela->sbtGeraXml->click();
    EXPECT_FALSE(m_tela->boConfirmado);

    // The toolbar's functions are in the "Registro" menu with keys, and every button has its letter.
    for (QAction *entrada : {m_tela->mniFiltro, m_tela->mniGeraXml, m_tela->mniParamGeraArqAuto, m_tela->mniImporXml}) {
        EXPECT_TRUE(m_tela->mnuRegistro->actions().contains(entrada));
        EXPECT_FALSE(entrada->shortcut().isEmpty()) << entrada->text().toStdString();
    }
    for (TButtonFlat *b : {m_tela->sbtFiltro, m_tela->sbtGeraXml, m_tela->sbtParamGeraArqAuto, m_tela->btnImporXml,
                           m_tela->sbtImprimir, m_tela->sbtVerificar, m_tela->sbtAjuda, m_tela->sbtFechar})
        EXPECT_TRUE(b->text().contains(QLatin1Char('&'))) << b->text().toStdString();
}

TEST_F(Operador, FilterListsShowTheChosenCodes)
{
    platform->ExpectModal(QStringLiteral("TfrmFiltGerXml"), [&](QDialog &d) {
        auto &f = static_cast<TfrmFiltGerXml &>(d);
        f.rbtListFil->click();
        platform->ExpectPick({0, 1});
        f.btpListFil->click();
        EXPECT_EQ(f.lblSelFil->text(), QStringLiteral("%1, %2")
                                           .arg(f.qryFilial.RowField(0, 0).AsString(), f.qryFilial.RowField(1, 0).AsString()));
        f.rbtTodFil->click();
        EXPECT_EQ(f.lblSelFil->text(), QString()) << "nothing beside \"Todas\"";
        f.sbtFechar->click();
    });
    m_tela->sbtFiltro->click();
}

TEST(Ajuda, EveryScreenHasAPageAndTheWindowShowsIt)
{
    vndtest::ScopedPlatform platform;
    for (const char *codigo : {"VND04400", "Vnd04401", "VND04402", "VND04403", "VND04404", "VND04406", "12401301"}) {
        const QString pagina = vnd::HelpPage(QString::fromLatin1(codigo));
        EXPECT_TRUE(pagina.contains(QStringLiteral("<h2>"))) << codigo;
    }
    vnd::HelpWindow *janela = vnd::ShowHelp(QStringLiteral("VND04402"));
    ASSERT_NE(janela, nullptr);
    EXPECT_TRUE(janela->txtAjuda->toPlainText().contains(Utf8("Salvar arquivo no servidor de aplicação")));
    EXPECT_EQ(janela->windowTitle(), Utf8("Ajuda - Confirmação do Endereço do Arquivo XML"));
    janela->close();
    platform->ExpectInfo(Utf8("A ajuda da tela XYZ não está instalada neste computador."));
    EXPECT_EQ(vnd::ShowHelp(QStringLiteral("XYZ")), nullptr);
}

TEST(ServidorPerdido, TheCountFollowsTheListAndTheListCanBeFetchedAgain)
{
    LimpaUnidades();
    Servidor();
    vndtest::ServerFixture proprio;
    // The screen connects to this server of its own, which the test then stops.
    Quorvel::WebPort = proprio.Port();
    Quorvel::WebToken = proprio.Token();
    proprio.Seed({QStringLiteral("--sales"), QStringLiteral("30"), QStringLiteral("--from"), kInicio.toString(Qt::ISODate),
                  QStringLiteral("--to"), kFim.toString(Qt::ISODate)});
    QSqlQuery(proprio.Database()).exec(QStringLiteral("UPDATE VENDA SET IDSTATUSNFCE = 'X' WHERE IDSTATUSNFCE IN ('P', 'R')"));
    vndtest::ScopedPlatform platform;
    platform->ExpectModal(QStringLiteral("TfrmFiltGerXml"),
                          [](QDialog &d) { ConfirmaFiltro(static_cast<TfrmFiltGerXml &>(d)); });
    CriaGeraXml();
    TfrmGeraXml *tela = vnd::frmGeraXml();
    ASSERT_NE(tela, nullptr);
    ASSERT_GT(tela->cdsNotas.RecordCount(), 0);

    proprio.Stop();
    platform->ExpectError(Utf8("Verifique se o servidor está em execução"), Match::Contains);
    tela->sbtVerificar->click();
    EXPECT_EQ(tela->lblQtdeNotas->text(), vnd::TextoQtdeNotas(tela->cdsNotas.RecordCount()));
    EXPECT_EQ(tela->cdsNotas.RecordCount(), 0);
    EXPECT_TRUE(tela->sbtVerificar->isEnabled()) << "the list can be fetched again";
    EXPECT_FALSE(platform->Seen().join(QLatin1Char(' ')).contains(QStringLiteral("refused")));
    FechaTela();
    // The next tests talk to the shared server again.
    Quorvel::WebPort = Servidor().Port();
    Quorvel::WebToken = Servidor().Token();
}

} // namespace
