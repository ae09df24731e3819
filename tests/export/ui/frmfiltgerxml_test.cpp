// The export filter: defaults, the checks and where they leave the focus, the filter record it writes,
// the lists and their selections kept for the module's lifetime, the one-branch user, and the lookup
// queries on both database engines.
#include "export/ui/frmfiltgerxml.h"
#include "export/ui/frmgeraxml.h"
#include "host/query.h"
#include "host/session.h"
#include "host/ui/controls.h"
#include "host/ui/datasource.h"
#include "host/ui/dateedit.h"
#include "host/ui/pesquisalista.h"
#include "tests/export/ui/telas_testutil.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace exporttest;

namespace {

QString Utf8(const char *s) { return QString::fromUtf8(s); }

class FiltroExportacao : public ::testing::Test
{
protected:
    void SetUp() override
    {
        LimpaUnidades();
        m_tela = &AbreTela(*platform);
    }
    void TearDown() override { FechaTela(); }

    // Opens the filter from the main screen and lets act drive it.
    void Filtro(const std::function<void(TfrmFiltGerXml &)> &act)
    {
        platform->ExpectModal(QStringLiteral("TfrmFiltGerXml"), [act](QDialog &d) {
            auto &f = static_cast<TfrmFiltGerXml &>(d);
            QApplication::setActiveWindow(&f);
            act(f);
        });
        m_tela->sbtFiltro->click();
    }

    QString Filtro(const char *campo)
    {
        m_tela->cdsDadosFiltro.First();
        return m_tela->cdsDadosFiltro.FieldByName(QString::fromLatin1(campo)).AsString();
    }

    // Expects the error and that the focus ends on the control.
    void EsperaFalha(TfrmFiltGerXml &f, const QString &texto, QWidget *foco)
    {
        platform->ExpectError(texto);
        f.sbtConfirma->click();
        EXPECT_TRUE(f.isVisible()) << "a failed check keeps the dialog open";
        EXPECT_EQ(f.focusWidget(), foco) << texto.toStdString();
    }

    vndtest::ScopedPlatform platform;
    TfrmGeraXml *m_tela = nullptr;
};

TEST_F(FiltroExportacao, OpensWithItsDefaults)
{
    Filtro([](TfrmFiltGerXml &f) {
        EXPECT_EQ(f.windowTitle(), Utf8("Filtro Geração do Arquivo XML (NFC-e/Sat)"));
        EXPECT_EQ(f.ScreenCode(), QStringLiteral("Vnd04401"));
        EXPECT_FALSE(f.btfSaveOpc->isVisible());
        EXPECT_FALSE(f.btfLoadOpc->isVisible());
        for (QRadioButton *r : {f.rbtTodCli, f.rbtTodTpRec})
            EXPECT_TRUE(r->isChecked());
        for (TBtnPesquisa *b : {f.btpListCli, f.btpListTpRec})
            EXPECT_FALSE(b->isEnabled());
        EXPECT_TRUE(f.chbVendConc->isChecked());
        EXPECT_TRUE(f.chbVendCanc->isChecked());
        EXPECT_EQ(f.btpListFil->toolTip(), QStringLiteral("Pesquisar"));
        // The period of the last confirmation comes back.
        EXPECT_EQ(f.DepPeriodDe->GetDate(), kInicio);
        EXPECT_EQ(f.depPeriodAte->GetDate(), kFim);
        f.medNrNotaFiscal->setText(QStringLiteral("12a34567890"));
        EXPECT_TRUE(f.medNrNotaFiscal->text().isEmpty() || f.medNrNotaFiscal->text().size() <= 9);
    });
}

TEST_F(FiltroExportacao, WritesSituationInvoiceAndListsIntoTheFilterRecord)
{
    Filtro([](TfrmFiltGerXml &f) { ConfirmaFiltro(f); });
    EXPECT_EQ(Filtro("SITUACAONF"), QStringLiteral("A_C"));
    EXPECT_EQ(Filtro("NRNOTAFISCAL"), QStringLiteral("T"));
    for (const char *campo : {"FILIAL", "CAIXA", "CLIENTE", "TIPORECE"})
        EXPECT_EQ(Filtro(campo), QStringLiteral("T")) << campo;

    Filtro([](TfrmFiltGerXml &f) {
        ConfirmaFiltro(f, [](TfrmFiltGerXml &g) {
            g.chbVendConc->setChecked(false);
            g.medNrNotaFiscal->setText(QStringLiteral("123"));
        });
    });
    EXPECT_EQ(Filtro("SITUACAONF"), QStringLiteral("_C"));
    EXPECT_EQ(Filtro("NRNOTAFISCAL"), QStringLiteral("123"));
    EXPECT_EQ(m_tela->cdsDadosFiltro.FieldByName(QStringLiteral("DATAINI")).AsDateTime(), QDateTime(kInicio, QTime(0, 0)));
}

TEST_F(FiltroExportacao, ChecksFailWithTheirMessageAndTheFocusOnTheOffendingControl)
{
    Filtro([this](TfrmFiltGerXml &f) {
        f.chbVendConc->setChecked(false);
        f.chbVendCanc->setChecked(false);
        EsperaFalha(f, Utf8("Situação da Venda na SEFAZ deve ser informada."), f.chbVendConc);
        f.chbVendCanc->setChecked(true);

        f.DepPeriodDe->clear();
        EsperaFalha(f, QStringLiteral("Data inicial deve ser informada."), f.DepPeriodDe);
        f.DepPeriodDe->SetDate(kInicio);
        f.depPeriodAte->clear();
        EsperaFalha(f, QStringLiteral("Data final deve ser informada."), f.depPeriodAte);
        f.depPeriodAte->setText(QStringLiteral("31/02/2024"));
        EsperaFalha(f, Utf8("31/02/2024 não é uma data válida."), f.depPeriodAte);
        f.DepPeriodDe->setText(QStringLiteral("12/13/2024"));
        EsperaFalha(f, Utf8("12/13/2024 não é uma data válida."), f.DepPeriodDe);
        f.DepPeriodDe->SetDate(kFim);
        f.depPeriodAte->SetDate(kInicio);
        EsperaFalha(f, QStringLiteral("Data final deve ser maior que data inicial."), f.DepPeriodDe);

        f.rbtListCli->click();
        EXPECT_TRUE(f.btpListCli->isEnabled());
        f.DepPeriodDe->SetDate(kInicio);
        f.depPeriodAte->SetDate(kInicio); // the same day passes
        EsperaFalha(f, QStringLiteral("Cliente deve ser informado."), f.rbtListCli);
        f.rbtTodCli->click();
        f.rbtListTpRec->click();
        EsperaFalha(f, QStringLiteral("Tipo de Recebimento deve ser informado."), f.rbtListTpRec);
        f.rbtTodTpRec->click();
        f.rbtListFil->click();
        EsperaFalha(f, QStringLiteral("Filial deve ser informada."), f.rbtListFil);
        // The register list needs the branches first.
        platform->ExpectError(QStringLiteral("Filial deve ser informada."));
        f.rbtListCaix->click();
        EXPECT_TRUE(f.rbtTodCaix->isChecked());
        EXPECT_FALSE(f.btpListCaix->isEnabled());
    });
    EXPECT_EQ(Filtro("SITUACAONF"), QStringLiteral("A_C")) << "nothing was written by the failed confirmations";
}

TEST_F(FiltroExportacao, LeavingThePeriodGroupChecksIt)
{
    Filtro([this](TfrmFiltGerXml &f) {
        f.DepPeriodDe->setFocus();
        f.depPeriodAte->setText(QStringLiteral("40/01/2024"));
        f.depPeriodAte->setFocus();
        EXPECT_TRUE(platform->Seen().isEmpty()) << "moving inside the group checks nothing";
        platform->ExpectError(Utf8("40/01/2024 não é uma data válida."));
        f.medNrNotaFiscal->setFocus();
        EXPECT_EQ(f.focusWidget(), f.depPeriodAte);
    });
}

TEST_F(FiltroExportacao, BranchAndRegisterListsNarrowTheListAndComeBackOnReopening)
{
    QStringList filiais, caixas;
    Filtro([&](TfrmFiltGerXml &f) {
        ConfirmaFiltro(f, [&](TfrmFiltGerXml &g) {
            g.rbtListFil->click();
            platform->ExpectPick({0, 1});
            g.btpListFil->click();
            EXPECT_EQ(platform->LastPickTitle(), QStringLiteral("Filial"));
            filiais = vnd::ParseSelection(vnd::SelecoesFiltGerXml().stFilial);
            ASSERT_EQ(filiais.size(), 2);
            g.rbtListCaix->click();
            platform->ExpectPick({0, 2});
            g.btpListCaix->click();
            EXPECT_EQ(platform->LastPickTitle(), QStringLiteral("Caixa"));
            EXPECT_EQ(g.qryCaixa.RecordCount(),
                      Consulta(QStringLiteral("SELECT COUNT(*) FROM CAIXA WHERE CDFILIAL IN (?, ?)"), {filiais[0], filiais[1]}).toInt())
                << "only the registers of the chosen branches are offered";
            caixas = vnd::ParseSelection(vnd::SelecoesFiltGerXml().stCaixa);
            // Choosing customers or receipt types leaves the registers alone.
            g.rbtListTpRec->click();
            platform->ExpectPick({0});
            g.btpListTpRec->click();
            EXPECT_EQ(vnd::ParseSelection(vnd::SelecoesFiltGerXml().stCaixa), caixas);
            g.rbtTodTpRec->click();
        });
    });
    ASSERT_EQ(caixas.size(), 2);
    EXPECT_EQ(Filtro("FILIAL"), vnd::SelecoesFiltGerXml().stFilial);
    EXPECT_EQ(Filtro("CAIXA"), vnd::SelecoesFiltGerXml().stCaixa);
    EXPECT_EQ(vnd::TextosGeraXml().stCdcaixa, vnd::SelecoesFiltGerXml().stCaixa);
    EXPECT_TRUE(vnd::TextosGeraXml().stTCdCaixa.isEmpty());
    EXPECT_EQ(vnd::TextosGeraXml().stTCdTipoRece, QStringLiteral("T"));
    const int filial = m_tela->cdsNotas.FieldIndex(QStringLiteral("CDFILIAL"));
    const int caixa = m_tela->cdsNotas.FieldIndex(QStringLiteral("CDCAIXA"));
    for (int r = 0; r < m_tela->cdsNotas.RowCount(); ++r) {
        const QString chave = QString::fromUtf8(m_tela->cdsNotas.RowValue(r, filial).toByteArray() +
                                                m_tela->cdsNotas.RowValue(r, caixa).toByteArray());
        ASSERT_TRUE(caixas.contains(chave)) << chave.toStdString();
    }

    Filtro([&](TfrmFiltGerXml &f) {
        EXPECT_TRUE(f.rbtListFil->isChecked());
        EXPECT_TRUE(f.btpListFil->isEnabled());
        EXPECT_TRUE(f.rbtListCaix->isChecked());
        EXPECT_TRUE(f.btpListCaix->isEnabled());
        platform->ExpectPick({1});
        f.btpListFil->click();
        EXPECT_EQ(platform->LastPickPreselected(), (std::vector<int>{0, 1})) << "the earlier choice is still in force";
        EXPECT_TRUE(vnd::SelecoesFiltGerXml().stCaixa.isEmpty()) << "other branches drop the registers chosen";
        // With every branch, every register of every branch is offered.
        f.rbtTodFil->click();
        platform->ExpectPickCancel();
        f.btpListCaix->click();
        EXPECT_EQ(f.qryCaixa.RecordCount(), Consulta(QStringLiteral("SELECT COUNT(*) FROM CAIXA")).toInt());
    });
}

TEST_F(FiltroExportacao, SeveralCustomersReachTheServerWhole)
{
    const QStringList clientes = {Consulta(QStringLiteral("SELECT MIN(CDCLIENTE) FROM VENDA")).toString(),
                                  Consulta(QStringLiteral("SELECT MAX(CDCLIENTE) FROM VENDA")).toString()};
    ASSERT_NE(clientes[0], clientes[1]);
    std::vector<int> linhas;
    Filtro([&](TfrmFiltGerXml &f) {
        ConfirmaFiltro(f, [&](TfrmFiltGerXml &g) {
            g.rbtListCli->click();
            g.qryCliente.Close();
            g.qryCliente.Open();
            for (int r = 0; r < g.qryCliente.RowCount(); ++r)
                if (clientes.contains(g.qryCliente.RowField(r, 0).AsString()))
                    linhas.push_back(r);
            platform->ExpectPick(linhas);
            g.btpListCli->click();
            EXPECT_EQ(platform->LastPickTitle(), QStringLiteral("Cliente"));
        });
    });
    const QString selecao = vnd::SelecoesFiltGerXml().stCliente;
    EXPECT_EQ(vnd::ParseSelection(selecao), clientes);
    EXPECT_EQ(Filtro("CLIENTE"), selecao) << "a selection of several customers is not cut";
    EXPECT_EQ(vnd::TextosGeraXml().stCdCliente, selecao);
    EXPECT_EQ(m_tela->cdsNotas.RecordCount(),
              Consulta(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE IDSTATUSNFCE IN ('A','C') AND CDCLIENTE IN (?, ?)"),
                       {clientes[0], clientes[1]})
                  .toInt());

    // Customers start at "Todos" on reopening, but the choice made is still the one offered.
    Filtro([&](TfrmFiltGerXml &f) {
        EXPECT_TRUE(f.rbtTodCli->isChecked());
        f.rbtListCli->click();
        platform->ExpectPickCancel();
        f.btpListCli->click();
        EXPECT_EQ(platform->LastPickPreselected(), linhas);
    });
}

TEST_F(FiltroExportacao, AOneBranchUserKeepsTheirBranchFixed)
{
    Quorvel::ModuFili = true;
    const QString antes = Quorvel::FiliProc;
    Quorvel::FiliProc = Consulta(QStringLiteral("SELECT MIN(CDFILIAL) FROM FILIAL")).toString();
    const auto restaura = qScopeGuard([&] {
        Quorvel::ModuFili = false;
        Quorvel::FiliProc = antes;
    });
    for (int vez = 0; vez < 2; ++vez) {
        Filtro([&](TfrmFiltGerXml &f) {
            EXPECT_TRUE(f.rbtListFil->isChecked());
            EXPECT_FALSE(f.rbtTodFil->isEnabled());
            EXPECT_FALSE(f.btpListFil->isEnabled()) << "opening " << vez;
            EXPECT_EQ(vnd::SelecoesFiltGerXml().stFilial, QLatin1Char('_') + Quorvel::FiliProc + QLatin1Char('_'));
            ConfirmaFiltro(f);
        });
        EXPECT_EQ(Filtro("FILIAL"), QLatin1Char('_') + Quorvel::FiliProc + QLatin1Char('_'));
    }
    const int filial = m_tela->cdsNotas.FieldIndex(QStringLiteral("CDFILIAL"));
    for (int r = 0; r < m_tela->cdsNotas.RowCount(); ++r)
        ASSERT_EQ(QString::fromUtf8(m_tela->cdsNotas.RowValue(r, filial).toByteArray()), Quorvel::FiliProc);
}

// The lookups run their text on the host's own connection; PostgreSQL gets the same answers as SQLite.
TEST(ConsultasDoFiltro, RunOnSQLiteAndPostgreSQL)
{
    std::vector<std::unique_ptr<vndtest::ServerFixture>> bancos;
    std::vector<QString> urls{Servidor().DbUrl()};
    if (!vndtest::ServerFixture::PostgresUrl().isEmpty()) {
        bancos.push_back(std::make_unique<vndtest::ServerFixture>(vndtest::ServerFixture::Engine::PostgreSQL));
        bancos.back()->Seed({QStringLiteral("--sales"), QStringLiteral("0")});
        urls.push_back(bancos.back()->DbUrl());
    }
    const auto volta = qScopeGuard([] { vnd::OpenHostDatabase(Servidor().DbUrl()); });
    for (const QString &url : urls) {
        SCOPED_TRACE(url.toStdString());
        vnd::OpenHostDatabase(url);
        TfrmGeraXml principal;
        TfrmFiltGerXml f(principal);
        for (TADOIBQuery *q : {&f.qryFilial, &f.qryCliente, &f.qryTipoRece}) {
            q->Open();
            EXPECT_GT(q->RecordCount(), 1);
        }
        f.qryFilial.First();
        const QString primeira = f.qryFilial.FieldByName(QStringLiteral("CDFILIAL")).AsString();
        EXPECT_EQ(primeira.size(), 4);
        f.qryCaixa.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(vnd::BuildSelection({primeira}));
        f.qryCaixa.ParamByName(QStringLiteral("P_TCDFILIAL")).SetAsString(QString());
        f.qryCaixa.Open();
        ASSERT_GT(f.qryCaixa.RecordCount(), 0);
        for (f.qryCaixa.First(); !f.qryCaixa.Eof(); f.qryCaixa.Next()) {
            EXPECT_EQ(f.qryCaixa.FieldByName(QStringLiteral("CDFILIAL")).AsString(), primeira);
            EXPECT_EQ(f.qryCaixa.FieldByName(QStringLiteral("CAIXA")).AsString(),
                      primeira + f.qryCaixa.FieldByName(QStringLiteral("CDCAIXA")).AsString());
        }
        const int daFilial = f.qryCaixa.RecordCount();
        f.qryCaixa.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(QString());
        f.qryCaixa.ParamByName(QStringLiteral("P_TCDFILIAL")).SetAsString(QStringLiteral("T"));
        f.qryCaixa.Open();
        EXPECT_GT(f.qryCaixa.RecordCount(), daFilial);
    }
}

} // namespace
