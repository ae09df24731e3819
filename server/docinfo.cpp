#include "server/docinfo.h"

#include <QStringDecoder>
#include <pugixml.hpp>

#include <cstring>

namespace vnd::server {

namespace {

const char *LocalName(const char *name)
{
    const char *colon = std::strrchr(name, ':');
    return colon ? colon + 1 : name;
}

bool Named(const pugi::xml_node &node, const char *name)
{
    return node.type() == pugi::node_element && std::strcmp(LocalName(node.name()), name) == 0;
}

QString Text(const pugi::xml_node &node)
{
    // child_value covers plain text; CDATA (the usual form of qrCode) is its own child node.
    QString out;
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata)
            out += QString::fromUtf8(c.value());
    return out.trimmed();
}

} // namespace

DocumentInfo ReadDocumentInfo(const QByteArray &xml)
{
    DocumentInfo info;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    (void)decoder.decode(xml);
    if (decoder.hasError()) {
        info.utf8 = false;
        return info;
    }
    pugi::xml_document doc;
    const pugi::xml_parse_result result =
        doc.load_buffer(xml.constData(), size_t(xml.size()), pugi::parse_default, pugi::encoding_utf8);
    if (!result) {
        info.error = QStringLiteral("%1 (posição %2)").arg(QString::fromUtf8(result.description())).arg(result.offset);
        return info;
    }
    info.parsed = true;
    info.root = QString::fromUtf8(doc.document_element().name());
    const pugi::xml_node inf =
        doc.find_node([](const pugi::xml_node &n) { return Named(n, "infNFe") || Named(n, "infCFe"); });
    if (inf) {
        info.id = QString::fromUtf8(inf.attribute("Id").value());
        info.version = QString::fromUtf8(inf.attribute("versao").value());
    }
    const pugi::xml_node supl = doc.find_node([](const pugi::xml_node &n) { return Named(n, "infNFeSupl"); });
    if (supl) {
        for (pugi::xml_node c = supl.first_child(); c; c = c.next_sibling()) {
            if (Named(c, "qrCode"))
                info.qrCode = Text(c);
            else if (Named(c, "urlChave"))
                info.urlChave = Text(c);
        }
    }
    return info;
}

} // namespace vnd::server
