// SAT sale batch reader: every CFe coupon of a LoteCFe becomes one sale.
#include "import/importacaoxml.h"
#include "import/xmlvalues.h"

#include <QScopeGuard>

namespace vnd {

void TImportacaoXml::geraXmlSat(const IXMLNode &loteCfe, bool &primeiroDoc)
{
    m_globals.stSerieSatNovo.clear();
    m_globals.stSerieSatAnterior.clear();
    QHash<QString, FilialSat> filiais;
    int cupons = 0, recusados = 0;
    const IXMLNodeList filhos = loteCfe->ChildNodes();
    m_noLote = true;
    const auto foraDoLote = qScopeGuard([this] { m_noLote = false; });
    for (int i = 0; i < filhos->Count(); ++i) {
        const IXMLNode cfe = filhos->Nodes(i);
        // Anything else in the batch is not a sale: sending it would store an empty one.
        if (cfe->NodeName() != QLatin1String("CFe"))
            continue;
        ++cupons;
        const QString chave = Atributo(cfe->ChildNodes()->Nodes("infCFe"), "Id");
        DocumentoDoLote(chave, recusados, [&] {
            PreencheCupomSat(cfe, primeiroDoc);
            EnviaCupomSat(FilialDoCupom(filiais));
        });
    }
    if (m_adiando && !m_adiados.empty()) {
        // The coupons sent with others are answered later: the batch is judged then.
        ArquivoAdiado &arquivo = m_adiados.back();
        arquivo.recusados = recusados;
        arquivo.documentos = cupons;
        arquivo.tipoLote = "cupons";
        return;
    }
    ConfereLote(recusados, cupons, "cupons");
}

} // namespace vnd
