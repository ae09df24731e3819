// SAT cancellation batch reader: every CFeCanc of a LoteCFeCanc cancels its coupon on the server.
#include "host/errors.h"
#include "import/importacaoxml.h"
#include "import/xmlvalues.h"

namespace vnd {

void TImportacaoXml::geraXmlSatCanc(const IXMLNode &loteCfeCanc, bool &primeiroDoc)
{
    m_globals.stSerieSatNovo.clear();
    m_globals.stSerieSatAnterior.clear();
    QHash<QString, FilialSat> filiais;
    int cancelamentos = 0, recusados = 0;
    const IXMLNodeList filhos = loteCfeCanc->ChildNodes();
    for (int i = 0; i < filhos->Count(); ++i) {
        const IXMLNode cfeCanc = filhos->Nodes(i);
        // Anything else in the batch cancels nothing: sending it would count an empty cancellation.
        if (cfeCanc->NodeName() != QLatin1String("CFeCanc"))
            continue;
        ++cancelamentos;
        const QString chave = Atributo(cfeCanc->ChildNodes()->Nodes("infCFe"), "chCanc");
        DocumentoDoLote(chave, recusados, [&] { CancelaCupomSat(cfeCanc, primeiroDoc, filiais); });
    }
    ConfereLote(recusados, cancelamentos, "cancelamentos");
}

void TImportacaoXml::CancelaCupomSat(const IXMLNode &cfeCanc, bool &primeiroDoc, QHash<QString, FilialSat> &filiais)
{
    AbreVazio(cdsVendaXmlSat);
    TClientDataSet &venda = cdsVendaXmlSat;
    venda.Append();
    stXmlArquivo = cfeCanc->XML();
    venda.FieldByName(QStringLiteral("DSARQXMLNFCE")).SetAsString(stXmlArquivo);
    const IXMLNode infCFe = cfeCanc->ChildNodes()->Nodes("infCFe");
    venda.FieldByName(QStringLiteral("NRACESSONFCE")).SetAsString(Atributo(infCFe, "chCanc"));
    venda.FieldByName(QStringLiteral("NRACESSOCANC")).SetAsString(Atributo(infCFe, "Id"));
    venda.FieldByName(QStringLiteral("DTVENDA")).SetAsDateTime(DataSat(TextoFilho(infCFe, "dEmi")));
    const IXMLNode ide = infCFe->ChildNodes()->Nodes("ide");
    const IXMLNode emitente = infCFe->ChildNodes()->Nodes("emit");
    venda.FieldByName(QStringLiteral("NRINSJURFILI")).SetAsString(TextoFilho(emitente, "CNPJ"));
    venda.FieldByName(QStringLiteral("CDSERIESAT")).SetAsString(TextoFilho(ide, "nserieSAT"));
    venda.FieldByName(QStringLiteral("CDCAIXA")).SetAsString(TextoFilho(ide, "numeroCaixa"));
    const QString serie = venda.FieldByName(QStringLiteral("CDSERIESAT")).AsString();
    AnotaSerieSat(serie, primeiroDoc);
    venda.Post();

    // Only the branch (1-4) of the answer counts here; the cash register comes from the fallback.
    const FilialSat filial = FilialDoCupom(filiais);
    m_globals.stCdcaixa = filial.caixa;
    ConfereAssinatura(Atributo(infCFe, "Id"), Atributo(infCFe, "chCanc"));

    const QVariantList argumentos = {QVariant::fromValue(cdsVendaXmlSat.Data()), m_globals.stFilial,
                                     m_globals.stCdcaixa};
    CriaPastasFilial();
    if (!m_globals.stFilial.isEmpty()) {
        ContaGravacao(CheckResultServ(Chama(QStringLiteral("setVendasCanc"), {QVariant(argumentos)})));
    }
}

} // namespace vnd
