#pragma once
// Helpers shared by the test binaries.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace vndtest {
// Folder of the public sample documents (../shared/samples beside the checkout), or empty when absent.
QString SamplesDir();
// Folder of the official schemas, or empty when absent.
QString SchemasDir();
// tests/data of the source tree.
QString DataDir();
QByteArray ReadFile(const QString &path);
void WriteFile(const QString &path, const QByteArray &bytes);
} // namespace vndtest
