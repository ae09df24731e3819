#include "import/importacaoxml.h"

#include "host/errors.h"
#include "host/hostutil.h"
#include "host/salepackets.h"
#include "import/importfiles.h"

#include <QDir>

namespace vnd {

namespace {

void DefinePreValid(TClientDataSet &cds)
{
    auto add = [&](const char *name, int size, const char *label, bool visible = true) {
        TFieldDef def;
        def.name = QString::fromLatin1(name);
        def.type = TFieldType::String;
        def.size = size;
        def.label = QString::fromUtf8(label);
        def.visible = visible;
        def.readOnly = true;
        cds.AddField(def);
    };
    add("NRSEQVALIDXML", 10, "", false);
    add("NRSEQERROXML", 5, "", false);
    add("IDTPVALIDXML", 1, "Tipo");
    add("NMARQXML", 150, "Arquivo XML");
    add("CDFILIAL", 4, "Filial");
    add("CDCAIXA", 3, "Caixa");
    add("NRNOTAFISCALCE", 9, "Nota Fiscal");
    add("NRACESSONFCE", 50, "Chave de Acesso");
    add("CDPRODUTO", 30, "Produto");
    add("NMPRODUTO", 50, "Nome do Produto");
    add("DSERROXML", 300, "Descrição do Problema");
    add("DSAJUDAXML", 300, "Solução do Problema");
}

} // namespace

TImportacaoXml::TImportacaoXml(TNetConnection &net, const TMessages &msgPadrao, ImportGlobals &globals)
    : m_net(net), m_msg(msgPadrao), m_globals(globals)
{
    DefineVendaNfcePacote(cdsVendaXmlNfce);
    DefineItensVendaPacote(cdsItensXmlNfce);
    DefineMeioPgtoPacote(cdsMeioPgtoXmlNfce);
    DefineVendaSatPacote(cdsVendaXmlSat);
    DefineItensVendaPacote(cdsItensXmlSat);
    DefineMeioPgtoPacote(cdsMeioPgtoXmlSat);
    DefinePreValid(cdsPreValidXml);
    // cdsPreValidXmlIDTPVALIDXMLGetText: the kind column shows the main screen's words.
    cdsPreValidXml.SetOnGetText(QStringLiteral("IDTPVALIDXML"), [this](const TField &field) {
        const QString kind = field.AsString();
        if (kind == QLatin1String("E"))
            return m_msg.Msg(QStringLiteral("Erro"));
        if (kind == QLatin1String("A"))
            return m_msg.Msg(QStringLiteral("Alerta"));
        return QString();
    });
}

TImportacaoXml::~TImportacaoXml() = default;

TServerResult TImportacaoXml::Chama(const QString &method, const QVariantList &params)
{
    if (onRemoteCall)
        onRemoteCall(method);
    return m_net.Call(method, params);
}

void TImportacaoXml::AbreVazio(TClientDataSet &cds)
{
    if (cds.Active())
        cds.EmptyDataSet();
    else
        cds.CreateDataSet();
}

void TImportacaoXml::DefineFilial(const QString &resposta, bool comCaixa, QString &empresa, QString &caixa)
{
    QString texto = resposta;
    caixa.clear();
    if (comCaixa) {
        // NFC-e answer: branch (4) + cash register (3) + company (2).
        empresa = texto.mid(7, 2);
        caixa = texto.mid(4, 3);
    } else {
        // SAT answer: branch (4) + company (2).
        empresa = texto.mid(4, 2);
    }
    m_globals.stFilial = texto.left(4);
    if (EmptyString(m_globals.stFilial)) {
        texto = stFilialCaixaPadrao;
        empresa = texto.mid(7, 2);
        caixa = texto.mid(4, 3);
        m_globals.stFilial = texto.left(4);
    }
    // The branch names folders of the processed and error files: a code that would leave them is none.
    if (EmptyString(m_globals.stFilial) || !NomePastaSeguro(m_globals.stFilial))
        m_globals.stFilial.clear();
}

} // namespace vnd
