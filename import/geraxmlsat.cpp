// SAT sale batch reader: every CFe coupon of a LoteCFe becomes one sale.
#include "import/importacaoxml.h"

namespace vnd {

void TImportacaoXml::geraXmlSat(const IXMLNode &loteCfe, bool &primeiroDoc)
{
    m_globals.stSerieSatNovo.clear();
    m_globals.stSerieSatAnterior.clear();
    QHash<QString, FilialSat> filiais;
    const IXMLNodeList filhos = loteCfe->ChildNodes();
    for (int i = 0; i < filhos->Count(); ++i) {
        const IXMLNode cfe = filhos->Nodes(i);
        // Anything else in the batch is not a sale: sending it would store an empty one.
        if (cfe->NodeName() != QLatin1String("CFe"))
            continue;
        PreencheCupomSat(cfe, primeiroDoc);
        EnviaCupomSat(FilialDoCupom(filiais));
    }
}

} // namespace vnd
