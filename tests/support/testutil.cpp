#include "tests/support/testutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

namespace vndtest {

static QString SharedDir(const char *name)
{
    const QString env = qEnvironmentVariable("VND_SHARED_DIR");
    const QString base = env.isEmpty() ? QStringLiteral(VND_SOURCE_DIR "/../shared") : env;
    const QString dir = QDir(base).absoluteFilePath(QString::fromLatin1(name));
    return QFileInfo(dir).isDir() ? QDir::cleanPath(dir) : QString();
}

QString SamplesDir() { return SharedDir("samples"); }
QString SchemasDir() { return SharedDir("schemas"); }
QString DataDir() { return QStringLiteral(VND_SOURCE_DIR "/tests/data"); }

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return f.readAll();
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

} // namespace vndtest
