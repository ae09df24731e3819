#include "host/errors.h"
#include "host/ui/controls.h"
#include "host/ui/datasource.h"
#include "host/ui/dbgrid.h"
#include "host/ui/frmdialogos.h"
#include "host/ui/frmpadraogrid.h"
#include "host/ui/hostwindow.h"
#include "tests/support/scripted_platform.h"

#include <QAction>
#include <QComboBox>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

namespace
{

// A list screen as a module derives it: its own list, a failing refresh on demand, and a record of the
// handlers that ran.
class TfrmLista : public TfrmPadraoGrid
{
  public:
    TClientDataSet cdsLista;
    QStringList ran;
    QString failWith;
    bool abortRefresh = false;
    TCloseAction closeAction = TCloseAction::caFree;

    TfrmLista()
    {
        cdsLista.AddField(QStringLiteral("CODIGO"), TFieldType::String, 4, QStringLiteral("Código"));
        cdsLista.CreateDataSet();
        dtsPadrao->SetDataSet(&cdsLista);
    }
    void FormCreate() override
    {
        TfrmPadraoGrid::FormCreate();
        ran << QStringLiteral("FormCreate");
    }
    void FormClose(TCloseAction &action) override
    {
        TfrmPadraoGrid::FormClose(action);
        ran << QStringLiteral("FormClose");
        action = closeAction;
    }
    void sbtVerificarClick() override
    {
        TfrmPadraoGrid::sbtVerificarClick();
        if (abortRefresh)
            MensErro(QStringLiteral("Filial deve ser informada."));
        if (!failWith.isEmpty())
            throw Exception(failWith);
        ran << QStringLiteral("refresh");
    }
    void dbgPadraoKeyDown(int &key, Qt::KeyboardModifiers shift) override
    {
        TfrmPadraoGrid::dbgPadraoKeyDown(key, shift);
        if (key == Qt::Key_Space)
            ran << QStringLiteral("space");
    }
    void Add(const QString &code)
    {
        cdsLista.Append();
        cdsLista.FieldByName(QStringLiteral("CODIGO")).SetAsString(code);
        cdsLista.Post();
    }
};

// The host window the list screens open in.
class HostWindow
{
  public:
    HostWindow() : area(new QMdiArea(&window))
    {
        window.setCentralWidget(area);
        vnd::SetHostWindow(&window, area);
        window.show();
    }
    ~HostWindow() { vnd::SetHostWindow(nullptr, nullptr); }
    QMainWindow window;
    QMdiArea *area;
};

void ProcessDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class TfrmRotina : public TfrmRotiGeral
{
  public:
    QStringList ran;
    void FormActivate() override
    {
        TfrmRotiGeral::FormActivate();
        ran << QStringLiteral("FormActivate");
    }
    void FormClose(TCloseAction &action) override
    {
        TfrmRotiGeral::FormClose(action);
        ran << QStringLiteral("FormClose");
    }
    void sbtConfirmaClick() override
    {
        TfrmRotiGeral::sbtConfirmaClick();
        ran << QStringLiteral("confirma");
        accept();
    }
};

class TfrmFiltro : public TfrmFiltroPadrao
{
};

} // namespace

TEST(FrmPadraoGrid, OpensAsAChildOfTheHostAndIsDestroyedWhenClosed)
{
    HostWindow host;
    QPointer<TfrmLista> screen = new TfrmLista;
    screen->Show();
    screen->Show(); // a second call brings the same window forward
    ASSERT_EQ(host.area->subWindowList().size(), 1);
    EXPECT_EQ(host.area->subWindowList().first()->widget(), screen.data());
    EXPECT_EQ(screen->ran, QStringList{QStringLiteral("FormCreate")});

    screen->closeAction = TCloseAction::caNone;
    EXPECT_FALSE(screen->Close());
    EXPECT_EQ(host.area->subWindowList().size(), 1);

    screen->closeAction = TCloseAction::caFree;
    screen->sbtFechar->click();
    ProcessDeletes();
    EXPECT_TRUE(screen.isNull());
    EXPECT_TRUE(host.area->subWindowList().isEmpty());
}

TEST(FrmPadraoGrid, ClosingTheChildWindowFrameClosesTheScreenOnce)
{
    HostWindow host;
    QPointer<TfrmLista> screen = new TfrmLista;
    screen->Show();
    QStringList *ran = &screen->ran;
    host.area->subWindowList().first()->close();
    EXPECT_EQ(ran->count(QStringLiteral("FormClose")), 1);
    ProcessDeletes();
    EXPECT_TRUE(screen.isNull());
}

TEST(FrmPadraoGrid, HandlersEndSilentlyOnAbortAndShowOtherErrors)
{
    vndtest::ScopedPlatform platform;
    TfrmLista screen;
    screen.Show();
    screen.abortRefresh = true;
    platform->ExpectError(QStringLiteral("Filial deve ser informada."));
    screen.sbtVerificar->click();
    EXPECT_FALSE(screen.ran.contains(QStringLiteral("refresh")));

    screen.abortRefresh = false;
    screen.failWith = QStringLiteral("Servidor não respondeu");
    platform->ExpectError(QStringLiteral("Servidor não respondeu"));
    screen.mniVerificar->trigger();
    EXPECT_EQ(platform->Seen().size(), 2);
}

TEST(FrmPadraoGrid, ButtonsFollowTheListAndKeysReachTheDerivedScreen)
{
    vndtest::ScopedPlatform platform;
    TfrmLista screen;
    screen.Show();
    EXPECT_FALSE(screen.sbtExcluir->isEnabled());
    screen.Add(QStringLiteral("0001"));
    screen.Add(QStringLiteral("0002"));
    EXPECT_TRUE(screen.sbtExcluir->isEnabled());
    EXPECT_TRUE(screen.mniExcluir->isEnabled());

    QTest::keyClick(screen.dbgPadrao, Qt::Key_F5);
    QTest::keyClick(screen.dbgPadrao, Qt::Key_Space);
    EXPECT_EQ(screen.ran, (QStringList{QStringLiteral("FormCreate"), QStringLiteral("refresh"),
                                       QStringLiteral("space")}));

    // Delete asks first; "Não" keeps the row.
    platform->ExpectQuestion(QStringLiteral("Confirma exclusão?"), false);
    QTest::keyClick(screen.dbgPadrao, Qt::Key_Delete);
    EXPECT_EQ(screen.cdsLista.RecordCount(), 2);
    platform->ExpectQuestion(QStringLiteral("Confirma exclusão?"), true);
    screen.sbtExcluir->click();
    EXPECT_EQ(screen.cdsLista.RecordCount(), 1);
    screen.cdsLista.EmptyDataSet();
    EXPECT_FALSE(screen.sbtAlterar->isEnabled());
}

TEST(ModalScreens, RunWithoutAModalLoopUnderTheScriptedPlatform)
{
    vndtest::ScopedPlatform platform;
    TfrmRotina rotina;
    rotina.setObjectName(QStringLiteral("TfrmRotina"));
    platform->ExpectModal(QStringLiteral("TfrmRotina"), [](QDialog &d) {
        auto &screen = static_cast<TfrmRotina &>(d);
        EXPECT_EQ(screen.ran, QStringList{QStringLiteral("FormActivate")});
        screen.sbtConfirma->click();
    });
    EXPECT_EQ(rotina.ShowModal(), int(QDialog::Accepted));
    EXPECT_EQ(rotina.ran, (QStringList{QStringLiteral("FormActivate"), QStringLiteral("confirma"),
                                       QStringLiteral("FormClose")}));

    rotina.ran.clear();
    platform->ExpectModal(QStringLiteral("TfrmRotina"),
                          [](QDialog &d) { static_cast<TfrmRotina &>(d).sbtCancel->click(); });
    EXPECT_EQ(rotina.ShowModal(), int(QDialog::Rejected));
    EXPECT_EQ(rotina.ran, (QStringList{QStringLiteral("FormActivate"), QStringLiteral("FormClose")}));

    // Escape or the close box count as a cancellation and pass through FormClose too.
    TfrmFiltro filtro;
    platform->ExpectModal(QStringLiteral("TfrmFiltroPadrao"), [](QDialog &d) {
        auto &screen = static_cast<TfrmFiltro &>(d);
        EXPECT_FALSE(screen.btfSaveOpc->isVisible());
        EXPECT_FALSE(screen.btfLoadOpc->isVisible());
        EXPECT_TRUE(screen.sbtConfirma->isVisible());
        QTest::keyClick(&screen, Qt::Key_Escape);
    });
    EXPECT_EQ(filtro.ShowModal(), int(QDialog::Rejected));
}

TEST(ModalScreens, ReportScreenSelectsTheFirstReportAndHelpSaysItIsMissing)
{
    vndtest::ScopedPlatform platform;
    TfrmDadosGerRel report;
    report.SetScreenCode(QStringLiteral("GER01301"));
    report.SetReportNames({QStringLiteral("Geração do Arquivo XML"), QStringLiteral("Resumo")});
    EXPECT_EQ(report.cbxRelatorio->currentIndex(), 0);
    platform->ExpectInfo(QStringLiteral("GER01301"), vndtest::ScriptedPlatform::Match::Contains);
    report.sbtAjuda->click();
}
