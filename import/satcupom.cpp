// What the SAT readers share: filling the SAT sets from one CFe coupon, the branch lookup of a coupon and
// the sending of its sale.
#include "host/errors.h"
#include "host/hostutil.h"
#include "host/session.h"
#include "import/importacaoxml.h"
#include "import/xmlvalues.h"

namespace vnd {

namespace {

// Each tax group of an item must hold its situation element; a coupon without them is malformed.
void ExigeGrupoImposto(const IXMLNode &imposto, const char *grupo, const QString &item)
{
    if (imposto->ChildNodes()->Nodes(grupo)->ChildNodes()->Count() == 0)
        throw Exception(QStringLiteral("Item %1 do cupom sem o grupo imposto/%2").arg(item, QLatin1String(grupo)));
}

} // namespace

void TImportacaoXml::PreencheCupomSat(const IXMLNode &cfe, bool &primeiroDoc)
{
    AbreVazio(cdsVendaXmlSat);
    AbreVazio(cdsItensXmlSat);
    AbreVazio(cdsMeioPgtoXmlSat);
    TClientDataSet &venda = cdsVendaXmlSat;
    stXmlArquivo = cfe->XML();
    venda.Append();
    venda.FieldByName(QStringLiteral("DSARQXMLNFCE")).SetAsString(stXmlArquivo);

    const IXMLNode infCFe = cfe->ChildNodes()->Nodes("infCFe");
    // The key is stored whole, with its leading "CFe".
    venda.FieldByName(QStringLiteral("NRACESSONFCE")).SetAsString(Atributo(infCFe, "Id"));
    const IXMLNode ide = infCFe->ChildNodes()->Nodes("ide");
    const IXMLNode emitente = infCFe->ChildNodes()->Nodes("emit");
    const IXMLNode dest = infCFe->ChildNodes()->Nodes("dest");
    const IXMLNode total = infCFe->ChildNodes()->Nodes("total");
    const IXMLNode pgto = infCFe->ChildNodes()->Nodes("pgto");

    venda.FieldByName(QStringLiteral("NRINSJURFILI")).SetAsString(TextoFilho(emitente, "CNPJ"));
    venda.FieldByName(QStringLiteral("CDSERIESAT")).SetAsString(TextoFilho(ide, "nserieSAT"));
    const QString serie = venda.FieldByName(QStringLiteral("CDSERIESAT")).AsString();
    AnotaSerieSat(serie, primeiroDoc);
    venda.FieldByName(QStringLiteral("DTVENDA"))
        .SetAsDateTime(DataHoraSat(TextoFilho(ide, "dEmi"), TextoFilho(ide, "hEmi")));
    venda.FieldByName(QStringLiteral("NRLANCTONFCE")).SetAsString(TextoFilho(ide, "cNF"));
    venda.FieldByName(QStringLiteral("IDTPAMBNFCE ")).SetAsString(TextoFilho(ide, "tpAmb"));
    venda.FieldByName(QStringLiteral("NRNOTAFISCALCE")).SetAsString(TextoFilho(ide, "nCFe"));
    venda.FieldByName(QStringLiteral("CDCAIXA")).SetAsString(TextoFilho(ide, "numeroCaixa"));
    venda.FieldByName(QStringLiteral("NRINSCRCONS")).SetAsString(TextoFilho(dest, "CPF"));
    venda.FieldByName(QStringLiteral("VRTOTVENDA")).SetAsFloat(DecimalFilho(total, "vCFe"));
    venda.Post();

    const IXMLNodeList meios = pgto->ChildNodes();
    for (int i = 0; i < meios->Count(); ++i) {
        const IXMLNode mp = meios->Nodes(i);
        if (mp->NodeName() != QLatin1String("MP"))
            continue;
        cdsMeioPgtoXmlSat.Append();
        cdsMeioPgtoXmlSat.FieldByName(QStringLiteral("IDPGTO")).SetAsString(TextoFilho(mp, "cMP"));
        cdsMeioPgtoXmlSat.FieldByName(QStringLiteral("VRPGTO")).SetAsFloat(DecimalFilho(mp, "vMP"));
        cdsMeioPgtoXmlSat.Post();
    }
    const double troco = DecimalFilho(pgto, "vTroco");
    if (troco > 0) {
        cdsMeioPgtoXmlSat.Append();
        cdsMeioPgtoXmlSat.FieldByName(QStringLiteral("IDPGTO")).SetAsString(QStringLiteral("00"));
        cdsMeioPgtoXmlSat.FieldByName(QStringLiteral("VRPGTO")).SetAsFloat(troco);
        cdsMeioPgtoXmlSat.Post();
    }

    const IXMLNodeList filhos = infCFe->ChildNodes();
    for (int i = 0; i < filhos->Count(); ++i) {
        const IXMLNode det = filhos->Nodes(i);
        if (det->NodeName() != QLatin1String("det"))
            continue;
        const IXMLNode prod = det->ChildNodes()->Nodes("prod");
        const QString nItem = Atributo(det, "nItem");
        TClientDataSet &itens = cdsItensXmlSat;
        itens.Append();
        itens.FieldByName(QStringLiteral("CDPRODUTO")).SetAsString(TextoFilho(prod, "cProd"));
        itens.FieldByName(QStringLiteral("QTPRODVEND")).SetAsFloat(DecimalFilho(prod, "qCom"));
        itens.FieldByName(QStringLiteral("VRUNITVEND")).SetAsFloat(DecimalFilho(prod, "vUnCom"));
        itens.FieldByName(QStringLiteral("NRSEQUITVEND")).SetAsString(Ajusta(nItem, 3));
        // The item's own discount plus its share of a subtotal discount; the same for surcharges.
        itens.FieldByName(QStringLiteral("VRDESITVEND"))
            .SetAsFloat(DecimalOpcional(prod, "vDesc") + DecimalOpcional(prod, "vRatDesc"));
        itens.FieldByName(QStringLiteral("VRACRITVEND"))
            .SetAsFloat(DecimalOpcional(prod, "vOutro") + DecimalOpcional(prod, "vRatAcr"));
        itens.Post();
        const IXMLNode imposto = det->ChildNodes()->Nodes("imposto");
        // A service item carries ISSQN where goods carry ICMS; the coupon's schema takes either.
        ExigeGrupoImposto(imposto, imposto->ChildNodes()->FindNode("ISSQN") ? "ISSQN" : "ICMS", nItem);
        ExigeGrupoImposto(imposto, "PIS", nItem);
        ExigeGrupoImposto(imposto, "COFINS", nItem);
    }
}

TImportacaoXml::FilialSat TImportacaoXml::FilialDoCupom(QHash<QString, FilialSat> &cache)
{
    // A SAT device belongs to one branch: its serial (with the issuer) names the branch for every coupon
    // of the file that carries it, whatever coupons of other serials came in between.
    const QString chave = cdsVendaXmlSat.FieldByName(QStringLiteral("CDSERIESAT")).AsString() + QLatin1Char('|') +
                          cdsVendaXmlSat.FieldByName(QStringLiteral("NRINSJURFILI")).AsString();
    const auto found = cache.constFind(chave);
    if (found != cache.constEnd()) {
        m_globals.stFilial = found->filial;
        return *found;
    }
    const TServerResult resposta = Chama(QStringLiteral("getFilial"), {QVariant::fromValue(cdsVendaXmlSat.Data())});
    FilialSat filial;
    DefineFilial(CheckResultServ(resposta).toString(), false, filial.empresa, filial.caixa);
    filial.filial = m_globals.stFilial;
    cache.insert(chave, filial);
    return filial;
}

void TImportacaoXml::EnviaCupomSat(const FilialSat &filial)
{
    const QString chave = cdsVendaXmlSat.FieldByName(QStringLiteral("NRACESSONFCE")).AsString();
    ConfereAssinatura(chave, chave);
    const QVariantList argumentos = {QVariant::fromValue(cdsVendaXmlSat.Data()),
                                     QVariant::fromValue(cdsItensXmlSat.Data()),
                                     QVariant::fromValue(cdsMeioPgtoXmlSat.Data()),
                                     m_globals.stFilial,
                                     filial.empresa,
                                     stNomeArqXml,
                                     Quorvel::Operador,
                                     filial.caixa,
                                     QStringLiteral("S"),
                                     stNrSeqValidXml};
    CriaPastasFilial();
    ValidaEGrava(argumentos, chave);
}

void TImportacaoXml::AnotaSerieSat(const QString &serie, bool &primeiroDoc)
{
    // The first document's serial is the new one, every later one's the previous.
    if (primeiroDoc) {
        m_globals.stSerieSatNovo = serie;
        primeiroDoc = false;
    } else {
        m_globals.stSerieSatAnterior = serie;
    }
}

void TImportacaoXml::DocumentoDoLote(const QString &chave, int &recusados, const std::function<void()> &envia)
{
    try {
        envia();
    } catch (const EConnectionError &) {
        throw; // no document can be judged without the server
    } catch (const Exception &e) {
        ++recusados;
        const QString qual = chave.isEmpty() ? QStringLiteral("sem chave") : chave;
        RegistraFalha(QStringLiteral("Documento %1 do lote não foi gravado: %2").arg(qual, e.Message()));
        m_linhasLocais << LinhaLocal{QLatin1Char('E'), stNomeArqXml, m_globals.stFilial, chave,
                                     QStringLiteral("Não foi gravado: %1").arg(e.Message()),
                                     QStringLiteral("Corrija a causa e importe o arquivo de novo (em Xml Erro): os "
                                                    "documentos já gravados não são gravados duas vezes.")};
    }
}

void TImportacaoXml::ConfereLote(int recusados, int documentos, const char *tipo)
{
    if (recusados == 0)
        return;
    throw Exception(QStringLiteral("%1 de %2 %3 do lote não foram gravados (ver acima); os demais foram gravados. "
                                   "Corrija a causa e importe o arquivo de novo: os já gravados não são gravados "
                                   "duas vezes.")
                        .arg(recusados)
                        .arg(documentos)
                        .arg(QString::fromLatin1(tipo)));
}

} // namespace vnd
