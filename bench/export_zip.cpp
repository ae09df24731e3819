// bench-libs: vnd_export_core vnd_docgen vnd_assinatura PkgConfig::XMLSEC OpenSSL::Crypto
// export_zip: the whole local export with compression, against `zip -9 -q -j` of the same output files
// (in the same 1000-file archives) in the same run. Also reports the export's peak memory above the list.
// The export includes what every export does: the signature check of each NFC-e and CF-e (the documents
// are signed first with a key of the run, so that each check does its whole work) and the summary.
#include "bench/export_common.h"
#include "export/core/geraxmllocal.h"
#include "tests/sign/assinador.h"

#include <QGuiApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char **argv)
{
    // The summary's PDF is drawn with Qt Gui, on the offscreen platform.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TClientDataSet cds;
    // The signer writes an XML declaration; the generator's stored forms add their own.
    auto signedBare = [](const QByteArray &doc, const QString &id) {
        QByteArray out = vndtest::Assina(doc, id);
        if (out.startsWith("<?xml"))
            out.remove(0, out.indexOf("?>") + 2);
        return out.trimmed();
    };
    benchutil::MakeSales(cds, 20000, 2000, [&](vnd::docgen::Sale &s) {
        if (s.kind == vnd::docgen::DocKind::Nfce)
            s.nfe = signedBare(s.nfe, QStringLiteral("NFe") + s.accessKey);
        else
            s.cfe = signedBare(s.cfe, s.StoredAccessKey());
        if (!s.cfeCanc.isEmpty())
            s.cfeCanc = signedBare(s.cfeCanc, QStringLiteral("CFe") + s.cancelAccessKey);
    });
    QTemporaryDir plain, zipped, baseline;

    // The loose files the baseline compresses: the export without compression.
    vnd::GeraXmlLocal(cds, plain.path(), false);
    QStringList files;
    QDirIterator it(plain.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        if (const QString f = it.next(); !it.fileName().startsWith(QLatin1String("resumo-")))
            files << f; // the fiscal files, not the run's summary
    files.sort();

    const double rssBefore = benchutil::PeakRssMb();
    QElapsedTimer t;
    t.start();
    vnd::ExportSummary summary;
    vnd::GeraXmlLocal(cds, zipped.path(), true, nullptr, &summary);
    const double ours = t.elapsed() / 1000.0;
    if (summary.summaryFiles.size() != 2 || summary.invalidSignatures.size() != 0)
        qFatal("export_zip: the summary is missing or %d signed documents did not verify",
               int(summary.invalidSignatures.size()));
    const double rssAfter = benchutil::PeakRssMb();

    t.restart();
    for (qsizetype i = 0, n = 0; i < files.size(); i += 1000, ++n) {
        QStringList args{QStringLiteral("-9"), QStringLiteral("-q"), QStringLiteral("-j"),
                         baseline.filePath(QStringLiteral("a%1.zip").arg(n))};
        args += files.mid(i, 1000);
        benchutil::Run(QStringLiteral("zip"), args);
    }
    const double base = t.elapsed() / 1000.0;

    // The archives must stay standard zip, no larger than zip's: their total sizes, and unzip -t on ours.
    auto archives = [](const QString &dir, QStringList *paths = nullptr) {
        qint64 bytes = 0;
        for (QDirIterator a(dir, {QStringLiteral("*.zip")}, QDir::Files); a.hasNext();) {
            const QString path = a.next();
            bytes += a.fileInfo().size();
            if (paths)
                *paths << path;
        }
        return bytes;
    };
    QStringList ourArchives;
    const qint64 ourBytes = archives(zipped.path(), &ourArchives), baseBytes = archives(baseline.path());
    for (const QString &a : ourArchives)
        benchutil::Run(QStringLiteral("unzip"), {QStringLiteral("-tqq"), a});
    std::printf("export_zip: %.2f s for %lld files, %.1f MB in %lld archives, peak memory +%.0f MB "
                "(baseline: %.2f s, %.1f MB, ratio: %.2f)\n",
                ours, qint64(files.size()), ourBytes / 1048576.0, qint64(ourArchives.size()), rssAfter - rssBefore,
                base, baseBytes / 1048576.0, ours / base);
    if (ourBytes > baseBytes)
        std::printf("export_zip: our archives are larger than zip -9's (%lld against %lld bytes)\n", ourBytes, baseBytes);
    return 0;
}
