// The parameter dialog of the automatic generation against a real server: loading, the script folder's
// backslash rule, what is sent on confirmation, the checks and where they leave the focus, and server
// failures on loading and saving.
#include "host/netconnection.h"
#include "host/ui/controls.h"
#include "host/ui/dateedit.h"
#include "settings/frmparamgeraarqauto.h"
#include "settings/paramgeral.h"
#include "tests/settings/settings_testutil.h"
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

// A caption as the user reads it: the Alt letter's marker is not shown.
QString Visto(QString caption)
{
    return caption.remove(QLatin1Char('&'));
}

QString Utf8(const char *s)
{
    return QString::fromUtf8(s);
}

// The row as stored: first day (yyyy-MM-dd), XML folder, script folder, interpreter folder, compression.
using Linha = QStringList;

class ParamGeraArqAuto : public ::testing::Test
{
  protected:
    static void SetUpTestSuite() { s_server = std::make_unique<vndtest::ServerFixture>(); }
    static void TearDownTestSuite() { s_server.reset(); }
    void SetUp() override { Grava({"2024-03-01", "xml\\automatico", "C:\\php\\scripts\\", "C:\\php", "S"}); }

    static void Grava(std::initializer_list<const char *> valores)
    {
        QSqlQuery q(s_server->Database());
        q.prepare(
            QStringLiteral("UPDATE PARAMGERAL SET DTINIGERAARQXML = ?, DSDIRARQXML = ?, DSDIRARQPHPGXML = ?, "
                           "DSDIRINSTALAPHP = ?, IDENVARQCMP = ?"));
        // The first day as the server stores date-times.
        for (const char *v : valores)
            q.addBindValue(QString::fromLatin1(v) +
                           (q.boundValues().isEmpty() ? QStringLiteral("T00:00:00") : QString()));
        ASSERT_TRUE(q.exec());
    }

    static Linha Le()
    {
        QSqlQuery q(s_server->Database());
        q.exec(QStringLiteral(
            "SELECT SUBSTR(DTINIGERAARQXML, 1, 10), DSDIRARQXML, DSDIRARQPHPGXML, DSDIRINSTALAPHP, "
            "IDENVARQCMP FROM PARAMGERAL"));
        Linha l;
        for (int i = 0; i < 5 && (i > 0 || q.next()); ++i)
            l << q.value(i).toString();
        return l;
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
        EXPECT_EQ(Visto(f.grbDtIniGera->title()), Utf8("Data Inicial Geração"));
        EXPECT_EQ(Visto(f.grbDirDestArqXML->title()), Utf8("Diretório destino dos arquivos XML no servidor"));
        EXPECT_EQ(Visto(f.grbDirDestArqPHP->title()), Utf8("Diretório destino dos arquivos PHP no servidor"));
        EXPECT_EQ(Visto(f.grbDirInsPHP->title()), Utf8("Diretório de instalação do PHP.exe"));
        for (QLabel *l : {f.lblDirDestArqXML, f.lblDirDestArqPHP, f.lblDirInsPHP})
            EXPECT_EQ(l->text(), Utf8("Diretório:"));
        EXPECT_EQ(Visto(f.chbArqZip->text()), Utf8("Gerar arquivos compactados"));
        EXPECT_EQ(f.depDtIniGera->GetDate(), QDate(2024, 3, 1));
        EXPECT_EQ(f.dbeDirDestArqXML->text(), QStringLiteral("xml\\automatico"));
        EXPECT_EQ(f.dbeDirDestArqPHP->text(), QStringLiteral("C:\\php\\scripts\\"));
        EXPECT_EQ(f.dbeDirInsPHP->text(), QStringLiteral("C:\\php"));
        EXPECT_TRUE(f.chbArqZip->isChecked());
        EXPECT_EQ(f.cdsParamGeral.State(), TDataSetState::Edit)
            << "filling the controls leaves the row in edit";
        EXPECT_EQ(platform->BusyShows(), 1);
        EXPECT_FALSE(platform->BusyVisible());
        settingstest::Retrato(f, QStringLiteral("paramgeraarqauto"));
        f.dbeDirDestArqXML->setText(QStringLiteral("descartada"));
        f.sbtCancel->click();
    });
    EXPECT_EQ(Le()[1], QStringLiteral("xml\\automatico")) << "cancelling sends nothing";
}

TEST_F(ParamGeraArqAuto, ScriptFolderGetsOneFinalBackslashOtherFoldersStayAsTyped)
{
    const QString cem(vnd::kTamDiretorioParam, QLatin1Char('p'));
    for (const auto &[digitado, gravado] : {std::pair<QString, QString>{"D:\\scripts", "D:\\scripts\\"},
                                            {"D:\\scripts\\", "D:\\scripts\\"},
                                            {"\\", "\\"},
                                            {cem.left(99), cem.left(99) + "\\"}}) {
        Abre([&](TfrmParamGeraArqAuto &f) {
            f.dbeDirDestArqPHP->setText(digitado);
            f.dbeDirDestArqXML->setText(QStringLiteral("D:\\xml\\saida"));
            f.dbeDirInsPHP->setText(QStringLiteral("D:\\php"));
            f.sbtConfirma->click();
            EXPECT_FALSE(f.isVisible());
        });
        EXPECT_EQ(Le(), (Linha{"2024-03-01", "D:\\xml\\saida", gravado, "D:\\php", "S"}))
            << digitado.toStdString();
    }
    // A full-length text has no room for its backslash: refused rather than stored without it.
    Abre([&](TfrmParamGeraArqAuto &f) {
        f.dbeDirDestArqPHP->setText(cem);
        platform->ExpectError(
            Utf8("Diretório destino dos arquivos PHP no servidor deve ter no máximo 100 caracteres, "
                 "contando a barra final."));
        f.sbtConfirma->click();
        EXPECT_EQ(f.focusWidget(), f.dbeDirDestArqPHP);
        f.sbtCancel->click();
    });
}

TEST_F(ParamGeraArqAuto, ConfirmingWithoutChangesStillSendsTheRowAndTheCheckBoxGoesOutAsSOrN)
{
    Abre([&](TfrmParamGeraArqAuto &f) {
        // Another user changes the row while this dialog is open; confirming states the dialog's row again.
        Grava({"2030-01-01", "outra", "outra\\", "outra", "N"});
        f.sbtConfirma->click();
    });
    EXPECT_EQ(Le(), (Linha{"2024-03-01", "xml\\automatico", "C:\\php\\scripts\\", "C:\\php", "S"}));
    Abre([](TfrmParamGeraArqAuto &f) {
        f.chbArqZip->setChecked(false);
        f.depDtIniGera->SetDate(QDate(2024, 2, 29));
        f.sbtConfirma->click();
    });
    EXPECT_EQ(Le(), (Linha{"2024-02-29", "xml\\automatico", "C:\\php\\scripts\\", "C:\\php", "N"}));
}

TEST_F(ParamGeraArqAuto, EachEmptyFieldFailsInOrderWithTheFocusOnItsControl)
{
    // All four emptied (the date by an impossible one, the script folder by blanks): the date is reported
    // first; each one filled in turn reveals the next.
    Abre([&](TfrmParamGeraArqAuto &f) {
        f.depDtIniGera->setText(QStringLiteral("31/02/2024"));
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
            EXPECT_EQ(Le()[1], QStringLiteral("xml\\automatico")) << "nothing is sent on a failed check";
            passo.preenche();
        }
        f.sbtConfirma->click();
        EXPECT_FALSE(f.isVisible());
    });
    EXPECT_EQ(Le(), (Linha{"2024-03-15", "xml", "php\\", "C:\\php", "S"}));
}

TEST_F(ParamGeraArqAuto, ServerFailuresAreShownAndKeepTheDialogOpen)
{
    vndtest::ServerFixture proprio;
    std::unique_ptr<TNetConnection> net = proprio.Connect();
    const QString falha = Utf8("Não foi possível comunicar com o servidor de aplicação");
    Abre(
        [&](TfrmParamGeraArqAuto &f) {
            // A new database's row holds no values yet.
            EXPECT_FALSE(f.depDtIniGera->IsDateValid());
            EXPECT_FALSE(f.chbArqZip->isChecked());
            f.depDtIniGera->SetDate(QDate(2024, 1, 2));
            for (QLineEdit *e : {f.dbeDirDestArqXML, f.dbeDirDestArqPHP, f.dbeDirInsPHP})
                e->setText(QStringLiteral("pasta"));
            net->Close(); // no idle keep-alive connection for the server to wait on while it stops
            proprio.Stop();
            platform->ExpectError(falha, vndtest::ScriptedPlatform::Match::Contains);
            f.sbtConfirma->click();
            EXPECT_TRUE(f.isVisible()) << "a failed send keeps the dialog open";
            EXPECT_FALSE(platform->BusyVisible());
            f.sbtCancel->click();
        },
        net.get());
    // Opening against a stopped server shows the failure and no dialog.
    platform->ExpectError(falha, vndtest::ScriptedPlatform::Match::Contains);
    vnd::RunHandler([&] { CriaParamGeraArqAuto(*net); });
    EXPECT_FALSE(platform->BusyVisible());
    EXPECT_EQ(platform->HourglassDepth(), 0);
}

} // namespace
