#include "tests/docgen/docgen_testutil.h"

#include "tests/support/testutil.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace docgentest
{

QString SchemaSkipReason()
{
    if (vndtest::SchemasDir().isEmpty())
        return QStringLiteral("schemas folder not found beside the checkout");
    if (QStandardPaths::findExecutable(QStringLiteral("xmllint")).isEmpty())
        return QStringLiteral("xmllint is not installed");
    return {};
}

QString Validate(const QString &schema, const QList<QPair<QString, QByteArray>> &documents)
{
    QTemporaryDir dir;
    QStringList args = {QStringLiteral("--noout"), QStringLiteral("--schema"),
                        QDir(vndtest::SchemasDir()).filePath(schema)};
    for (const auto &[name, bytes] : documents) {
        vndtest::WriteFile(dir.filePath(name), bytes);
        args.append(dir.filePath(name));
    }
    QProcess lint;
    lint.start(QStringLiteral("xmllint"), args);
    if (!lint.waitForFinished(120000))
        return QStringLiteral("xmllint did not finish");
    QString complaints;
    const QStringList lines = QString::fromUtf8(lint.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines)
        if (!line.endsWith(QStringLiteral(" validates")))
            complaints += line + u'\n';
    if (complaints.isEmpty() && lint.exitCode() != 0)
        complaints = QStringLiteral("xmllint exit code %1").arg(lint.exitCode());
    return complaints;
}

qint64 Cents(const char *text)
{
    static const QRegularExpression money(QStringLiteral("^(0|[1-9][0-9]*)\\.([0-9]{2})$"));
    const auto m = money.match(QString::fromUtf8(text));
    if (!m.hasMatch())
        return -1;
    return m.captured(1).toLongLong() * 100 + m.captured(2).toLongLong();
}

qint64 SumCents(const pugi::xpath_node_set &nodes, const char *child)
{
    qint64 sum = 0;
    for (const pugi::xpath_node &n : nodes) {
        const pugi::xml_node c = n.node().child(child);
        if (c)
            sum += Cents(c.text().get());
    }
    return sum;
}

} // namespace docgentest
