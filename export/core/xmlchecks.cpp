#include "export/core/xmlchecks.h"

#include "export/core/nfceassembly.h"
#include "host/errors.h"
#include "xml/nfe_v310.h"
#include "xml/nfe_v400.h"
#include "xml/xmldoc.h"

namespace vnd::assembly {

void CheckNfeParses(const QByteArray &nfe, const QByteArray &version)
{
    // Into a new document of the note's own layout. The bytes are already UTF-8: loading them directly
    // spares a round trip through wide text.
    if (version.trimmed() == "4.00") {
        nfe_v400::IXMLTNFe doc = nfe_v400::NewNFe();
        doc->OwnerDocument()->LoadFromUtf8(nfe);
    } else {
        IXMLTNFe doc = NewNFe();
        doc->OwnerDocument()->LoadFromUtf8(nfe);
    }
}

QByteArray BuildCancellationEvent(const SaleRow &row)
{
    const QString ns = QString::fromLatin1(kNfeNamespace);
    const QString key = QString::fromUtf8(row.accessKey);
    const QString organ = key.left(2);
    const QString when = QString::fromLatin1(FiscalDateTime(row.cancelTime, DocumentOffset(row.document)));
    auto text = [](const IXMLNode &parent, const char *name, const QString &value) {
        parent->AddChild(QString::fromLatin1(name))->NodeValue(value);
    };

    IXMLDocument doc = TXMLDocument::Create();
    doc->Encoding(QStringLiteral("UTF-8"));
    IXMLNode proc = doc->AddChild(QStringLiteral("procEventoNFe"));
    proc->SetAttribute(QStringLiteral("versao"), QStringLiteral("1.00"));
    proc->SetAttribute(QStringLiteral("xmlns"), ns);

    IXMLNode evento = proc->AddChild(QStringLiteral("evento"));
    evento->SetAttribute(QStringLiteral("versao"), QStringLiteral("1.00"));
    evento->SetAttribute(QStringLiteral("xmlns"), ns);
    IXMLNode inf = evento->AddChild(QStringLiteral("infEvento"));
    inf->SetAttribute(QStringLiteral("Id"), QStringLiteral("ID110111") + key + QStringLiteral("01"));
    text(inf, "cOrgao", organ);
    text(inf, "tpAmb", QString::fromUtf8(row.environment));
    text(inf, "CNPJ", QString::fromUtf8(row.issuerCnpj));
    text(inf, "chNFe", key);
    text(inf, "dhEvento", when);
    text(inf, "tpEvento", QStringLiteral("110111"));
    text(inf, "nSeqEvento", QStringLiteral("1"));
    text(inf, "verEvento", QStringLiteral("1.00"));
    IXMLNode det = inf->AddChild(QStringLiteral("detEvento"));
    det->SetAttribute(QStringLiteral("versao"), QStringLiteral("1.00"));
    text(det, "descEvento", QStringLiteral("Cancelamento"));
    text(det, "nProt", QString::fromUtf8(row.protocol));
    text(det, "xJust", QString::fromUtf8(row.cancelReason));

    IXMLNode ret = proc->AddChild(QStringLiteral("retEvento"));
    ret->SetAttribute(QStringLiteral("versao"), QStringLiteral("1.00"));
    ret->SetAttribute(QStringLiteral("xmlns"), ns);
    IXMLNode retInf = ret->AddChild(QStringLiteral("infEvento"));
    text(retInf, "tpAmb", QString::fromUtf8(row.environment));
    text(retInf, "verAplic", QStringLiteral("SEFAZ"));
    text(retInf, "cOrgao", organ);
    text(retInf, "cStat", QStringLiteral("135"));
    text(retInf, "xMotivo", QStringLiteral("Evento registrado e vinculado a NF-e"));
    text(retInf, "chNFe", key);
    text(retInf, "tpEvento", QStringLiteral("110111"));
    text(retInf, "xEvento", QStringLiteral("Cancelamento"));
    text(retInf, "nSeqEvento", QStringLiteral("1"));
    text(retInf, "dhRegEvento", when);
    text(retInf, "nProt", QString::fromUtf8(row.cancelProtocol));

    // The file carries the element only, without the declaration.
    const QByteArray xml = doc->XMLUtf8();
    const qsizetype from = xml.indexOf("<procEventoNFe");
    const QByteArray close = "</procEventoNFe>";
    const qsizetype to = xml.lastIndexOf(close);
    if (from < 0 || to < from)
        throw Exception(QStringLiteral("Falha ao montar o evento de cancelamento."));
    return xml.mid(from, to + close.size() - from);
}

} // namespace vnd::assembly
