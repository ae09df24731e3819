// The module as the shell sees it: loaded by file name, every exported routine resolvable, IniProc
// opening the main screen with its filter over a real server, a live screen after the user closed it,
// and the unit texts gone after an unload.
#include "host/query.h"
#include "host/ui/hostwindow.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/server_fixture.h"
#include "xml/UUtf8.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QRadioButton>
#include <QSqlQuery>
#include <QToolButton>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <memory>

namespace {

using Rotina = void (*)();

class Modulo : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_servidor = std::make_unique<vndtest::ServerFixture>();
        s_servidor->Seed({QStringLiteral("--sales"), QStringLiteral("40"), QStringLiteral("--from"), QStringLiteral("2024-03-01"),
                          QStringLiteral("--to"), QStringLiteral("2024-03-02")});
        // NFC-e awaiting the tax authority would add a warning to every fetch.
        QSqlQuery(s_servidor->Database()).exec(QStringLiteral("UPDATE VENDA SET IDSTATUSNFCE = 'X' WHERE IDSTATUSNFCE IN ('P', 'R')"));
        s_servidor->Connection();
        vnd::OpenHostDatabase(s_servidor->DbUrl());
        // The shell's main window, as the module finds it: its list screen becomes a child window here.
        s_janela = std::make_unique<QMainWindow>();
        s_area = new QMdiArea(s_janela.get());
        s_janela->setCentralWidget(s_area);
        s_janela->resize(1200, 700);
        s_janela->show();
        vnd::SetHostWindow(s_janela.get(), s_area);
    }
    static void TearDownTestSuite()
    {
        vnd::SetHostWindow(nullptr, nullptr);
        s_janela.reset();
        s_servidor.reset();
    }

    void SetUp() override { Carrega(); }
    void TearDown() override
    {
        FechaTelas();
        m_biblioteca->unload();
    }

    void Carrega()
    {
        m_biblioteca = std::make_unique<QLibrary>(QStringLiteral(VND_MODULE_FILE));
        m_biblioteca->setLoadHints(QLibrary::ResolveAllSymbolsHint);
        ASSERT_TRUE(m_biblioteca->load()) << m_biblioteca->errorString().toStdString();
    }

    Rotina Exportada(const char *nome)
    {
        auto rotina = reinterpret_cast<Rotina>(m_biblioteca->resolve(nome));
        EXPECT_NE(rotina, nullptr) << nome;
        return rotina;
    }

    // The module's list screen among the shell's child windows.
    static QMainWindow *TelaPrincipal()
    {
        for (QMdiSubWindow *sub : s_area->subWindowList())
            if (sub->widget() && sub->widget()->objectName() == QLatin1String("frmGeraXml") && sub->isVisible())
                return qobject_cast<QMainWindow *>(sub->widget());
        return nullptr;
    }

    static void FechaTelas()
    {
        if (QMainWindow *tela = TelaPrincipal())
            tela->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The filter that IniProc opens, confirmed for the seeded days; antes runs first.
    void EsperaFiltro(const std::function<void(QDialog &)> &antes = {})
    {
        platform->ExpectModal(QStringLiteral("TfrmFiltGerXml"), [antes](QDialog &d) {
            if (antes)
                antes(d);
            d.findChild<QLineEdit *>(QStringLiteral("DepPeriodDe"))->setText(QStringLiteral("01/03/2024"));
            d.findChild<QLineEdit *>(QStringLiteral("depPeriodAte"))->setText(QStringLiteral("02/03/2024"));
            d.findChild<QToolButton *>(QStringLiteral("sbtConfirma"))->click();
        });
    }

    static void EscolheFiliais(QDialog &d)
    {
        d.findChild<QRadioButton *>(QStringLiteral("rbtListFil"))->click();
        d.findChild<QToolButton *>(QStringLiteral("btpListFil"))->click();
    }

    static inline std::unique_ptr<vndtest::ServerFixture> s_servidor;
    static inline std::unique_ptr<QMainWindow> s_janela;
    static inline QMdiArea *s_area = nullptr;
    std::unique_ptr<QLibrary> m_biblioteca;
    vndtest::ScopedPlatform platform;
};

TEST_F(Modulo, ExportsTheEntryTheCreatorsAndThePublishedXmlRoutines)
{
    for (const char *nome : {"IniProc", "CriaGeraXml", "CriaFiltGerXml", "CriaEndArqXML", "CriaRelConsVenAuto", "criaFiltroImpXml",
                             "CriaParamGeraArqAuto", "CriaRelGeraXml", "UnicodeToUtf8", "Utf8ToUnicode"})
        Exportada(nome);
    // The C++ routines are exported under their C++ names.
    for (const char *nome : {"_Z10UTF8EncodeRK7QString", "_Z10UTF8DecodeRK10QByteArray", "_Z10AnsiToUtf8RK10QByteArray",
                             "_Z10Utf8ToAnsiRK10QByteArray", "_Z6GetNFeRKSt10shared_ptrI12TXMLDocumentE", "_Z7LoadNFeRK7QString", "_Z6NewNFev",
                             "_ZN8nfe_v4006GetNFeERKSt10shared_ptrI12TXMLDocumentE", "_ZN8nfe_v4007LoadNFeERK7QString",
                             "_ZN8nfe_v4006NewNFeEv"})
        EXPECT_NE(m_biblioteca->resolve(nome), nullptr) << nome;

    using Codifica = uint32_t (*)(char *, uint32_t, const char16_t *, uint32_t);
    const auto codifica = reinterpret_cast<Codifica>(m_biblioteca->resolve("UnicodeToUtf8"));
    ASSERT_NE(codifica, nullptr);
    char destino[16] = {};
    const std::u16string texto = u"ação";
    EXPECT_EQ(codifica(destino, sizeof destino, texto.data(), uint32_t(texto.size())), 7u);
    EXPECT_EQ(QByteArray(destino), QByteArray("a\xc3\xa7\xc3\xa3o"));
    using Encode = UTF8String (*)(const QString &);
    const auto encode = reinterpret_cast<Encode>(m_biblioteca->resolve("_Z10UTF8EncodeRK7QString"));
    ASSERT_NE(encode, nullptr);
    EXPECT_EQ(QByteArray(encode(QStringLiteral("ação"))), QByteArray("a\xc3\xa7\xc3\xa3o"));
}

TEST_F(Modulo, IniProcOpensTheListWithItsFilterAndShowsALiveScreenAfterItWasClosed)
{
    EsperaFiltro();
    Exportada("IniProc")();
    QMainWindow *tela = TelaPrincipal();
    ASSERT_NE(tela, nullptr);
    const QString contagem = tela->findChild<QLabel *>(QStringLiteral("lblQtdeNotas"))->text();
    EXPECT_TRUE(contagem.startsWith(QStringLiteral("Qtde. de Registros Listados: 00")));
    EXPECT_NE(contagem, QStringLiteral("Qtde. de Registros Listados: 0000"));

    FechaTelas();
    EXPECT_EQ(TelaPrincipal(), nullptr);
    EsperaFiltro();
    Exportada("IniProc")();
    EXPECT_NE(TelaPrincipal(), nullptr) << "a destroyed screen is built again";

#ifdef VND_COM_CONFIGURACAO
    platform->ExpectModal(QStringLiteral("TfrmParamGeraArqAuto"));
#else
    platform->ExpectInfo(QString::fromUtf8("Esta função não está disponível nesta versão do módulo."));
#endif
    Exportada("CriaParamGeraArqAuto")();
}

TEST_F(Modulo, SelectionsLiveAsLongAsTheModuleAndGoWithItsUnload)
{
    EsperaFiltro(&EscolheFiliais);
    platform->ExpectPick({0, 1});
    Exportada("IniProc")();
    // Reopened while the module is loaded, the filter offers the same branches.
    EsperaFiltro(&EscolheFiliais);
    platform->ExpectPickCancel();
    Exportada("CriaFiltGerXml")();
    EXPECT_EQ(platform->LastPickPreselected(), (std::vector<int>{0, 1}));

    FechaTelas();
    ASSERT_TRUE(m_biblioteca->unload());
    void *aindaCarregado = dlopen(VND_MODULE_FILE, RTLD_NOW | RTLD_NOLOAD);
    if (aindaCarregado)
        dlclose(aindaCarregado);
    ASSERT_EQ(aindaCarregado, nullptr) << "the module must really leave memory";
    Carrega();
    EsperaFiltro([](QDialog &d) {
        EscolheFiliais(d);
        d.findChild<QRadioButton *>(QStringLiteral("rbtTodFil"))->click();
    });
    platform->ExpectPickCancel();
    Exportada("IniProc")();
    EXPECT_TRUE(platform->LastPickPreselected().empty()) << "the unload emptied the selections";
}

} // namespace
