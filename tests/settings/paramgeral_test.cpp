// The parameter dialog of the automatic generation against a real server: loading, the script folder's
// backslash rule, what is sent on confirmation, the checks and where they leave the focus, and server
// failures on loading and saving.
#include "host/errors.h"
#include "host/netconnection.h"
#include "host/ui/controls.h"
#include "host/ui/dateedit.h"
#include "settings/frmparamgeraarqauto.h"
#include "settings/paramgeral.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/server_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSqlQuery>
#include <gtest/gtest.h>

#include <memory>

namespace
{

QString Utf8(const char *s)
{
    return QString::fromUtf8(s);
}

struct Linha {
    QVariant dtIni, dirXml, dirPhp, dirInsPhp, compacta;
};

class ParamGeraArqAuto : public ::testing::Test
{
  protected:
    static void SetUpTestSuite() { s_server = std::make_unique<vndtest::ServerFixture>(); }
    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override
    {
        Grava({QStringLiteral("2024-03-01T00:00:00"), QStringLiteral("xml\\automatico"),
               QStringLiteral("C:\\php\\scripts\\"), QStringLiteral("C:\\php"), QStringLiteral("S")});
    }

    static void Grava(const Linha &l)
    {
        QSqlQuery q(s_server->Database());
        q.prepare(
            QStringLiteral("UPDATE PARAMGERAL SET DTINIGERAARQXML = ?, DSDIRARQXML = ?, DSDIRARQPHPGXML = ?, "
                           "DSDIRINSTALAPHP = ?, IDENVARQCMP = ? WHERE IDPARAMGERAL = 1"));
        for (const QVariant &v : {l.dtIni, l.dirXml, l.dirPhp, l.dirInsPhp, l.compacta})
            q.addBindValue(v);
        ASSERT_TRUE(q.exec());
    }

    static Linha Le()
    {
        QSqlQuery q(s_server->Database());
        q.exec(QStringLiteral(
            "SELECT SUBSTR(CAST(DTINIGERAARQXML AS VARCHAR(30)), 1, 10), DSDIRARQXML, DSDIRARQPHPGXML, "
            "DSDIRINSTALAPHP, IDENVARQCMP FROM PARAMGERAL"));
        EXPECT_TRUE(q.next());
        return {q.value(0), q.value(1), q.value(2), q.value(3), q.value(4)};
    }

    // Opens the dialog through its creator and lets act drive it.
    void Abre(const std::function<void(TfrmParamGeraArqAuto &)> &act, TNetConnection *net = nullptr)
    {
        platform->ExpectModal(QStringLiteral("TfrmParamGeraArqAuto"), [act](QDialog &d) {
            auto &f = static_cast<TfrmParamGeraArqAuto &>(d);
            QApplication::setActiveWindow(&f);
            act(f);
        });
        vnd::RunHandler([&] { CriaParamGeraArqAuto(net ? *net : s_server->Connection()); });
    }

    static std::unique_ptr<vndtest::ServerFixture> s_server;
    vndtest::ScopedPlatform platform;
};

std::unique_ptr<vndtest::ServerFixture> ParamGeraArqAuto::s_server;

TEST_F(ParamGeraArqAuto, OpensWithTheServersRowInItsControls)
{
    Abre([&](TfrmParamGeraArqAuto &f) {
        EXPECT_EQ(f.windowTitle(), Utf8("Parametrização Geração Automática Arquivo XML (NFC-e/SAT)"));
        EXPECT_EQ(f.ScreenCode(), QStringLiteral("VND04403"));
        EXPECT_EQ(f.grbDtIniGera->title(), Utf8("Data Inicial Geração"));
        EXPECT_EQ(f.grbDirDestArqXML->title(), Utf8("Diretório destino dos arquivos XML no servidor"));
        EXPECT_EQ(f.grbDirDestArqPHP->title(), Utf8("Diretório destino dos arquivos PHP no servidor"));
        EXPECT_EQ(f.grbDirInsPHP->title(), Utf8("Diretório de instalação do PHP.exe"));
        for (QLabel *l : {f.lblDirDestArqXML, f.lblDirDestArqPHP, f.lblDirInsPHP})
            EXPECT_EQ(l->text(), Utf8("Diretório:"));
        EXPECT_EQ(f.chbArqZip->text(), Utf8("Gerar arquivos compactados"));

        EXPECT_EQ(f.depDtIniGera->GetDate(), QDate(2024, 3, 1));
        EXPECT_EQ(f.dbeDirDestArqXML->text(), QStringLiteral("xml\\automatico"));
        EXPECT_EQ(f.dbeDirDestArqPHP->text(), QStringLiteral("C:\\php\\scripts\\"));
        EXPECT_EQ(f.dbeDirInsPHP->text(), QStringLiteral("C:\\php"));
        EXPECT_TRUE(f.chbArqZip->isChecked());
        EXPECT_EQ(f.cdsParamGeral.State(), TDataSetState::Edit)
            << "filling the controls leaves the row in edit";
        EXPECT_EQ(platform->BusyShows(), 1);
        EXPECT_FALSE(platform->BusyVisible());
        f.sbtCancel->click();
    });
    EXPECT_EQ(Le().dirXml, QStringLiteral("xml\\automatico"));
}

TEST_F(ParamGeraArqAuto, ScriptFolderGetsOneFinalBackslashOtherFoldersStayAsTyped)
{
    const struct {
        const char *digitado, *gravado;
    } casos[] = {{"D:\\scripts", "D:\\scripts\\"},
                 {"D:\\scripts\\", "D:\\scripts\\"},
                 {"scripts/php", "scripts/php\\"}};
    for (const auto &caso : casos) {
        Abre([&](TfrmParamGeraArqAuto &f) {
            f.dbeDirDestArqPHP->setText(QString::fromLatin1(caso.digitado));
            f.dbeDirDestArqXML->setText(QStringLiteral("D:\\xml\\saida"));
            f.dbeDirInsPHP->setText(QStringLiteral("D:\\php"));
            f.sbtConfirma->click();
            EXPECT_FALSE(f.isVisible());
        });
        const Linha l = Le();
        EXPECT_EQ(l.dirPhp, QString::fromLatin1(caso.gravado)) << caso.digitado;
        EXPECT_EQ(l.dirXml, QStringLiteral("D:\\xml\\saida"));
        EXPECT_EQ(l.dirInsPhp, QStringLiteral("D:\\php"));
    }
    EXPECT_EQ(vnd::DirScriptComBarra(QStringLiteral("\\")), QStringLiteral("\\"));
}

TEST_F(ParamGeraArqAuto, ConfirmingWithoutChangesStillSendsTheRow)
{
    Abre([&](TfrmParamGeraArqAuto &f) {
        // Another user changes the row while this dialog is open; confirming states the dialog's row again.
        Grava({QStringLiteral("2030-01-01T00:00:00"), QStringLiteral("outra"), QStringLiteral("outra\\"),
               QStringLiteral("outra"), QStringLiteral("N")});
        f.sbtConfirma->click();
    });
    const Linha l = Le();
    EXPECT_EQ(l.dtIni, QStringLiteral("2024-03-01"));
    EXPECT_EQ(l.dirXml, QStringLiteral("xml\\automatico"));
    EXPECT_EQ(l.dirPhp, QStringLiteral("C:\\php\\scripts\\"));
    EXPECT_EQ(l.compacta, QStringLiteral("S"));
}

TEST_F(ParamGeraArqAuto, TheCheckBoxIsCopiedOutAsSOrN)
{
    Abre([](TfrmParamGeraArqAuto &f) {
        f.chbArqZip->setChecked(false);
        f.sbtConfirma->click();
    });
    EXPECT_EQ(Le().compacta, QStringLiteral("N"));
    Abre([](TfrmParamGeraArqAuto &f) {
        EXPECT_FALSE(f.chbArqZip->isChecked());
        f.chbArqZip->setChecked(true);
        f.depDtIniGera->SetDate(QDate(2024, 2, 29));
        f.sbtConfirma->click();
    });
    EXPECT_EQ(Le().compacta, QStringLiteral("S"));
    EXPECT_EQ(Le().dtIni, QStringLiteral("2024-02-29"));
}

TEST_F(ParamGeraArqAuto, EachEmptyFieldFailsInOrderWithTheFocusOnItsControl)
{
    // All four emptied: the date is reported first; each one filled in turn reveals the next.
    Abre([&](TfrmParamGeraArqAuto &f) {
        f.depDtIniGera->clear();
        f.dbeDirDestArqXML->clear();
        f.dbeDirDestArqPHP->setText(QStringLiteral("   "));
        f.dbeDirInsPHP->clear();
        const struct {
            const char *mensagem;
            QWidget *controle;
            std::function<void()> preenche;
        } passos[] = {
            {"Data inicial de geração deve ser informada.", f.depDtIniGera,
             [&] { f.depDtIniGera->setText(QStringLiteral("15/03/2024")); }},
            {"Diretório destino dos arquivos XML no servidor deve ser informado.", f.dbeDirDestArqXML,
             [&] { f.dbeDirDestArqXML->setText(QStringLiteral("xml")); }},
            {"Diretório destino dos arquivos PHP no servidor deve ser informado.", f.dbeDirDestArqPHP,
             [&] { f.dbeDirDestArqPHP->setText(QStringLiteral("php")); }},
            {"Diretório de instalação do PHP.exe deve ser informado.", f.dbeDirInsPHP,
             [&] { f.dbeDirInsPHP->setText(QStringLiteral("C:\\php")); }},
        };
        for (const auto &passo : passos) {
            platform->ExpectError(Utf8(passo.mensagem));
            f.sbtConfirma->setFocus();
            f.sbtConfirma->click();
            EXPECT_TRUE(f.isVisible()) << passo.mensagem;
            EXPECT_EQ(f.focusWidget(), passo.controle) << passo.mensagem;
            EXPECT_EQ(Le().dirXml, QStringLiteral("xml\\automatico")) << "nothing is sent on a failed check";
            passo.preenche();
        }
        f.sbtConfirma->click();
        EXPECT_FALSE(f.isVisible());
    });
    const Linha l = Le();
    EXPECT_EQ(l.dtIni, QStringLiteral("2024-03-15"));
    EXPECT_EQ(l.dirPhp, QStringLiteral("php\\"));
}

TEST_F(ParamGeraArqAuto, APartlyTypedDateCountsAsNoDate)
{
    Abre([&](TfrmParamGeraArqAuto &f) {
        f.depDtIniGera->setText(QStringLiteral("31/02/2024"));
        platform->ExpectError(Utf8("Data inicial de geração deve ser informada."));
        f.sbtConfirma->click();
        EXPECT_EQ(f.focusWidget(), f.depDtIniGera);
        f.sbtCancel->click();
    });
    EXPECT_EQ(Le().dtIni, QStringLiteral("2024-03-01"));
}

TEST_F(ParamGeraArqAuto, AFullLengthScriptFolderIsRefusedRatherThanLosingItsBackslash)
{
    Abre([&](TfrmParamGeraArqAuto &f) {
        const QString cem(vnd::kTamDiretorioParam, QLatin1Char('p'));
        f.dbeDirDestArqPHP->setText(cem);
        platform->ExpectError(
            Utf8("Diretório destino dos arquivos PHP no servidor deve ter no máximo 100 caracteres, "
                 "contando a barra final."));
        f.sbtConfirma->click();
        EXPECT_EQ(f.focusWidget(), f.dbeDirDestArqPHP);
        f.dbeDirDestArqPHP->setText(cem.left(99));
        f.sbtConfirma->click();
    });
    EXPECT_EQ(Le().dirPhp, QString(99, QLatin1Char('p')) + QLatin1Char('\\'));
}

TEST_F(ParamGeraArqAuto, ServerFailuresAreShownAndKeepTheDialogOpen)
{
    vndtest::ServerFixture proprio;
    std::unique_ptr<TNetConnection> net = proprio.Connect();
    Abre(
        [&](TfrmParamGeraArqAuto &f) {
            // A new database's row holds no values yet.
            EXPECT_FALSE(f.depDtIniGera->IsDateValid());
            EXPECT_FALSE(f.chbArqZip->isChecked());
            f.depDtIniGera->SetDate(QDate(2024, 1, 2));
            f.dbeDirDestArqXML->setText(QStringLiteral("novo"));
            f.dbeDirDestArqPHP->setText(QStringLiteral("php"));
            f.dbeDirInsPHP->setText(QStringLiteral("php"));
            proprio.Stop();
            platform->ExpectError(Utf8("Não foi possível comunicar com o servidor de aplicação"),
                                  vndtest::ScriptedPlatform::Match::Contains);
            f.sbtConfirma->click();
            EXPECT_TRUE(f.isVisible()) << "a failed send keeps the dialog open";
            EXPECT_FALSE(platform->BusyVisible());
            f.sbtCancel->click();
        },
        net.get());
    // Opening against a stopped server shows the failure and no dialog.
    platform->ExpectError(Utf8("Não foi possível comunicar com o servidor de aplicação"),
                          vndtest::ScriptedPlatform::Match::Contains);
    vnd::RunHandler([&] { CriaParamGeraArqAuto(*net); });
    EXPECT_FALSE(platform->BusyVisible());
    EXPECT_EQ(platform->HourglassDepth(), 0);
}

} // namespace
