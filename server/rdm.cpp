#include "server/rdm.h"

#include "host/errors.h"

namespace vnd::server {

RdmGeraXml::RdmGeraXml(const ServerDb &db, ServerConfig config) : m_db(db), m_config(std::move(config))
{
    m_methods.insert(QStringLiteral("ping"), [](const RdmGeraXml &, const Args &) { return MethodResult{true}; });
    AddNotasMethods(m_methods);
    AddParamMethods(m_methods);
    AddValidationMethods(m_methods);
    AddImportMethods(m_methods);
    AddPastaMethods(m_methods);
}

MethodResult RdmGeraXml::Call(const QString &method, const QVariantList &params) const
{
    const auto it = m_methods.find(method);
    if (it == m_methods.end())
        throw Exception(QStringLiteral("Método desconhecido: %1.").arg(method.left(100)));
    return it.value()(*this, Args::ForMethod(method, params));
}

MethodResult PacketResult(const TClientDataSet &cds)
{
    return MethodResult{QVariant::fromValue(cds.Data()), cds.RowCount()};
}

} // namespace vnd::server
