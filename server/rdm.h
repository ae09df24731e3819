#pragma once
// The remote data module "VND04400.rdmGeraXml": its methods by name, each a plain function over the
// database and the server's settings. The HTTP layer only decodes, calls and encodes.

#include "server/rpcargs.h"
#include "server/serverdb.h"

#include <QHash>
#include <functional>

namespace vnd::server {

struct ServerConfig
{
    QString exportRoot; // canonical folder under which geraXml may write
};

struct MethodResult
{
    QVariant value;
    int rows = -1; // rows of a packet result, for the call log; -1 for other results
};

class RdmGeraXml
{
public:
    RdmGeraXml(const ServerDb &db, ServerConfig config);

    // Whether the short name ("getNotas") is a method of the module.
    bool Has(const QString &method) const { return m_methods.contains(method); }
    // Runs the method. Exception (Portuguese message) for bad arguments or a failure inside it.
    MethodResult Call(const QString &method, const QVariantList &params) const;

    const ServerDb &Db() const { return m_db; }
    const ServerConfig &Config() const { return m_config; }

    using Method = std::function<MethodResult(const RdmGeraXml &, const Args &)>;

private:
    const ServerDb &m_db;
    ServerConfig m_config;
    QHash<QString, Method> m_methods;
};

// The method groups, each in its own file.
void AddNotasMethods(QHash<QString, RdmGeraXml::Method> &methods);
void AddParamMethods(QHash<QString, RdmGeraXml::Method> &methods);
void AddValidationMethods(QHash<QString, RdmGeraXml::Method> &methods);
void AddImportMethods(QHash<QString, RdmGeraXml::Method> &methods);
void AddPastaMethods(QHash<QString, RdmGeraXml::Method> &methods);

// A record set's packet as a method result.
MethodResult PacketResult(const TClientDataSet &cds);

} // namespace vnd::server
