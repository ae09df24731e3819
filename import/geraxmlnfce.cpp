// NFC-e reader: one processed (nfeProc) or bare NFe document becomes one sale on the server.
#include "host/hostutil.h"
#include "host/session.h"
#include "import/importacaoxml.h"
#include "import/xmlvalues.h"

namespace vnd {

void TImportacaoXml::geraXmlNfce(const IXMLNode &nfe, const IXMLNode &protNfe, bool &primeiroDoc)
{
    Q_UNUSED(primeiroDoc); // one document per file: nothing to tell apart
    AbreVazio(cdsVendaXmlNfce);
    AbreVazio(cdsItensXmlNfce);
    AbreVazio(cdsMeioPgtoXmlNfce);

    const IXMLNode infNFe = nfe->ChildNodes()->Nodes("infNFe");
    const IXMLNode ide = infNFe->ChildNodes()->Nodes("ide");
    const IXMLNode emitente = infNFe->ChildNodes()->Nodes("emit");
    const IXMLNode dest = infNFe->ChildNodes()->Nodes("dest");
    const IXMLNode icmsTot = infNFe->ChildNodes()->Nodes("total")->ChildNodes()->Nodes("ICMSTot");

    TClientDataSet &venda = cdsVendaXmlNfce;
    venda.Append();
    venda.FieldByName(QStringLiteral("DSARQXMLNFCE")).SetAsString(stXmlArquivo);
    // The Id is "NFe" followed by the 44 digits of the key.
    venda.FieldByName(QStringLiteral("NRACESSONFCE")).SetAsString(Atributo(infNFe, "Id").mid(3));
    venda.FieldByName(QStringLiteral("NRINSJURFILI")).SetAsString(TextoFilho(emitente, "CNPJ"));
    venda.FieldByName(QStringLiteral("CDSERIENFCE")).SetAsString(Ajusta(TextoFilho(ide, "serie"), 3));
    const QString dhEmi = TextoFilho(ide, "dhEmi");
    venda.FieldByName(QStringLiteral("DTVENDA")).SetAsDateTime(DataHoraNfe(dhEmi, "dhEmi"));
    venda.FieldByName(QStringLiteral("NRLANCTONFCE")).SetAsString(dhEmi.mid(8, 2) + TextoFilho(ide, "cNF"));
    venda.FieldByName(QStringLiteral("IDTPAMBNFCE ")).SetAsString(TextoFilho(ide, "tpAmb"));
    venda.FieldByName(QStringLiteral("NRNOTAFISCALCE")).SetAsString(Ajusta(TextoFilho(ide, "nNF"), 9));
    venda.FieldByName(QStringLiteral("NRINSCRCONS")).SetAsString(TextoFilho(dest, "CPF"));
    if (const IXMLNode infProt = protNfe->ChildNodes()->FindNode("infProt")) {
        venda.FieldByName(QStringLiteral("DTHRPROTOCONFCE"))
            .SetAsDateTime(DataHoraNfe(TextoFilho(infProt, "dhRecbto"), "dhRecbto"));
        venda.FieldByName(QStringLiteral("NRPROTOCOLONFCE")).SetAsString(TextoFilho(infProt, "nProt"));
        venda.FieldByName(QStringLiteral("DSOBSSTATUSNFCE"))
            .SetAsString(TextoFilho(infProt, "cStat") + QStringLiteral(" - ") + TextoFilho(infProt, "xMotivo"));
    }
    venda.FieldByName(QStringLiteral("VRTOTVENDA")).SetAsFloat(DecimalFilho(icmsTot, "vNF"));
    venda.Post();

    // Items and payments as written: no total is recomputed and no discount spread.
    const IXMLNodeList filhos = infNFe->ChildNodes();
    for (int i = 0; i < filhos->Count(); ++i) {
        const IXMLNode filho = filhos->Nodes(i);
        const QString nome = filho->NodeName();
        if (nome == QLatin1String("det")) {
            const IXMLNode prod = filho->ChildNodes()->Nodes("prod");
            TClientDataSet &itens = cdsItensXmlNfce;
            itens.Append();
            itens.FieldByName(QStringLiteral("CDPRODUTO")).SetAsString(TextoFilho(prod, "cProd"));
            itens.FieldByName(QStringLiteral("QTPRODVEND")).SetAsFloat(DecimalFilho(prod, "qCom"));
            itens.FieldByName(QStringLiteral("VRUNITVEND")).SetAsFloat(DecimalFilho(prod, "vUnCom"));
            itens.FieldByName(QStringLiteral("NRSEQUITVEND")).SetAsString(Ajusta(Atributo(filho, "nItem"), 3));
            itens.FieldByName(QStringLiteral("VRDESITVEND")).SetAsFloat(DecimalOpcional(prod, "vDesc"));
            itens.FieldByName(QStringLiteral("VRACRITVEND")).SetAsFloat(DecimalOpcional(prod, "vOutro"));
            itens.Post();
        } else if (nome == QLatin1String("pag")) {
            // Layout 3.10: each pag is one payment, its tPag and vPag directly inside. Layout 4.00: one pag
            // holding a detPag per payment and the change in vTroco.
            if (filho->ChildNodes()->FindNode("tPag"))
                AcrescentaPagamentoNfce(TextoFilho(filho, "tPag"), DecimalFilho(filho, "vPag"));
            const IXMLNodeList pagamentos = filho->ChildNodes();
            for (int j = 0; j < pagamentos->Count(); ++j) {
                const IXMLNode pagamento = pagamentos->Nodes(j);
                const QString tipo = pagamento->NodeName();
                if (tipo == QLatin1String("detPag")) {
                    AcrescentaPagamentoNfce(TextoFilho(pagamento, "tPag"), DecimalFilho(pagamento, "vPag"));
                } else if (tipo == QLatin1String("vTroco")) {
                    double troco = 0;
                    try {
                        troco = StrToFloatBr(pagamento->Text());
                    } catch (const EConvertError &) {
                        throw EConvertError(QStringLiteral("Valor numérico inválido em pag/vTroco: \"%1\"")
                                                .arg(pagamento->Text()));
                    }
                    AcrescentaPagamentoNfce(QStringLiteral("TR"), troco);
                }
            }
        }
    }

    // Branch: the server's answer, else the filter's fallback (branch 4 + register 3 + company 2).
    const QVariant pacoteVenda = QVariant::fromValue(cdsVendaXmlNfce.Data());
    QString empresa, caixa;
    DefineFilial(RespostaFilialNfce(pacoteVenda), true, empresa, caixa);
    ConfereAssinatura(Atributo(infNFe, "Id"), cdsVendaXmlNfce.FieldByName(QStringLiteral("NRACESSONFCE")).AsString());

    const QVariantList argumentos = {pacoteVenda,
                                QVariant::fromValue(cdsItensXmlNfce.Data()),
                                QVariant::fromValue(cdsMeioPgtoXmlNfce.Data()),
                                m_globals.stFilial,
                                empresa,
                                stNomeArqXml,
                                Quorvel::Operador,
                                caixa,
                                QStringLiteral("N"),
                                stNrSeqValidXml};
    CriaPastasFilial();
    ValidaEGrava(argumentos);
}

void TImportacaoXml::AcrescentaPagamentoNfce(const QString &tipo, double valor)
{
    cdsMeioPgtoXmlNfce.Append();
    cdsMeioPgtoXmlNfce.FieldByName(QStringLiteral("IDPGTO")).SetAsString(tipo);
    cdsMeioPgtoXmlNfce.FieldByName(QStringLiteral("VRPGTO")).SetAsFloat(valor);
    cdsMeioPgtoXmlNfce.Post();
}

QString TImportacaoXml::RespostaFilialNfce(const QVariant &pacoteVenda)
{
    // The server finds the branch by these two values alone; a set without them is always asked.
    const QString serie = cdsVendaXmlNfce.FieldByName(QStringLiteral("CDSERIENFCE")).AsString().trimmed();
    const QString cnpj = cdsVendaXmlNfce.FieldByName(QStringLiteral("NRINSJURFILI")).AsString().trimmed();
    const bool guardavel = cdsVendaXmlNfce.RecordCount() == 1 && !serie.isEmpty() && !cnpj.isEmpty();
    const QString chave = cnpj + QLatin1Char('|') + serie;
    if (guardavel) {
        const auto found = m_filiaisNfce.constFind(chave);
        if (found != m_filiaisNfce.constEnd())
            return *found;
    }
    const QString resposta = CheckResultServ(Chama(QStringLiteral("getFilialNFce"), {pacoteVenda})).toString();
    if (guardavel)
        m_filiaisNfce.insert(chave, resposta);
    return resposta;
}

} // namespace vnd
