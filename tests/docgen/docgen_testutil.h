#pragma once
// Helpers of the generator's tests: schema validation through xmllint and a parsed view of documents.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <pugixml.hpp>

namespace docgentest
{

// Empty when xmllint and the schemas are at hand, else why the schema tests cannot run.
QString SchemaSkipReason();
// Validates every document against the schema (path under the schemas folder) in one xmllint run;
// returns xmllint's complaints, empty when all documents validate.
QString Validate(const QString &schema, const QList<QPair<QString, QByteArray>> &documents);

// Cents of a decimal text with two places ("12.50" -> 1250); -1 when the text is not such a number.
qint64 Cents(const char *text);
// Sum of the cents of the named child over a node set.
qint64 SumCents(const pugi::xpath_node_set &nodes, const char *child);

} // namespace docgentest
