// The module's export table: the entry the shell calls, the screens' creators, and the XML routines the
// module offers the host's other modules. On unload the live screen goes and the unit texts are cleared.
#include "export/ui/frmendarqxml.h"
#include "export/ui/frmfiltgerxml.h"
#include "export/ui/frmgeraxml.h"
#include "host/errors.h"
#include "import/importglobals.h"
#include "import/ui/frmfiltroimpxml.h"
#include "import/ui/frmlogimparqxml.h"
#include "xml/UUtf8.h"
#include "xml/nfe_v310.h"
#include "xml/nfe_v400.h"

#ifdef VND_COM_CONFIGURACAO
#include "settings/frmparamgeraarqauto.h"
#include "settings/frmrelgeraxml.h"
#endif

#include <QCoreApplication>
#include <QMdiSubWindow>

namespace {

TfrmGeraXml &TelaPrincipal()
{
    TfrmGeraXml *tela = vnd::frmGeraXml();
    if (!tela)
        throw Exception(QStringLiteral("A tela Geração do Arquivo XML (NFC-e/Sat) não está aberta."));
    return *tela;
}

// Taking their addresses links the published routines into the module; with default visibility they
// are then in its export table under their own names. The NF-e bindings of both layouts go with their
// entries: the 3.10 one in the global namespace, the 4.00 one in nfe_v400.
[[gnu::used]] const void *const kRotinasPublicadas[] = {
    reinterpret_cast<const void *>(&UnicodeToUtf8), reinterpret_cast<const void *>(&Utf8ToUnicode),
    reinterpret_cast<const void *>(&UTF8Encode),    reinterpret_cast<const void *>(&UTF8Decode),
    reinterpret_cast<const void *>(&AnsiToUtf8),    reinterpret_cast<const void *>(&Utf8ToAnsi),
    reinterpret_cast<const void *>(&GetNFe),        reinterpret_cast<const void *>(&LoadNFe),
    reinterpret_cast<const void *>(&NewNFe),        reinterpret_cast<const void *>(&nfe_v400::GetNFe),
    reinterpret_cast<const void *>(&nfe_v400::LoadNFe), reinterpret_cast<const void *>(&nfe_v400::NewNFe),
    reinterpret_cast<const void *>(&CriaFiltGerXml), reinterpret_cast<const void *>(&CriaEndArqXML),
};

#ifdef VND_COM_CONFIGURACAO
// The settings screens behind the main screen's "parameters" and print buttons.
[[maybe_unused]] const bool kConfiguracaoLigada = [] {
    vnd::TTelasConfiguracao &telas = vnd::TelasConfiguracao();
    telas.CriaParamGeraArqAuto = [] {
        TfrmGeraXml &tela = TelaPrincipal();
        CriaParamGeraArqAuto(tela.netGeraXml, &tela);
    };
    telas.CriaRelGeraXml = [] {
        TfrmGeraXml &tela = TelaPrincipal();
        CriaRelGeraXml(tela.cdsDadosFiltro, &tela);
    };
    return true;
}();
#endif

// Runs when the module is unloaded, before its static objects go: no window of the module may outlive
// its code, and the next load starts with empty unit texts.
[[gnu::destructor]] void DescarregaModulo()
{
    if (QCoreApplication::instance()) {
        if (TfrmGeraXml *tela = vnd::frmGeraXml()) {
            QWidget *janela = qobject_cast<QMdiSubWindow *>(tela->parentWidget());
            delete (janela ? janela : tela);
        }
    }
    vnd::LimpaUnidadeGeraXml();
    vnd::LimpaUnidadeFiltGerXml();
    vnd::LimpaUnidadeEndArqXML();
    vnd::ModuleImportGlobals().Clear();
#ifdef VND_COM_CONFIGURACAO
    vnd::LimpaUnidadeRelGeraXml();
#endif
}

} // namespace

extern "C" {

// The shell's entry: opens the main screen.
Q_DECL_EXPORT void IniProc() { CriaGeraXml(); }

// The log viewer of the last import batch.
Q_DECL_EXPORT void CriaRelConsVenAuto()
{
    TfrmGeraXml &tela = TelaPrincipal();
    CriaRelConsVenAuto(tela.Importacao(), &tela);
}

// The import filter, which runs the batch import on confirmation.
Q_DECL_EXPORT void criaFiltroImpXml()
{
    TfrmGeraXml &tela = TelaPrincipal();
    criaFiltroImpXml(tela.Importacao(), &tela);
}

// The settings screens, when the settings layer is part of the build (see kConfiguracaoLigada); without
// it both creators say the function is not available.
Q_DECL_EXPORT void CriaParamGeraArqAuto()
{
    if (const auto &cria = vnd::TelasConfiguracao().CriaParamGeraArqAuto)
        cria();
    else
        vnd::FuncaoIndisponivel();
}

Q_DECL_EXPORT void CriaRelGeraXml()
{
    if (const auto &cria = vnd::TelasConfiguracao().CriaRelGeraXml)
        cria();
    else
        vnd::FuncaoIndisponivel();
}

} // extern "C"
