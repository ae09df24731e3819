// Single SAT coupon of the other point-of-sale producer: the document element is the CFe itself.
#include "import/importacaoxml.h"

namespace vnd {

void TImportacaoXml::geraXmlSatColibri(const IXMLNode &cfe, bool &primeiroDoc)
{
    m_globals.stSerieSatNovo.clear();
    m_globals.stSerieSatAnterior.clear();
    // A fresh lookup for the file's one coupon, also when its serial is empty: the branch of the file
    // read before must never be taken for this one.
    QHash<QString, FilialSat> filiais;
    PreencheCupomSat(cfe, primeiroDoc);
    EnviaCupomSat(FilialDoCupom(filiais));
}

} // namespace vnd
