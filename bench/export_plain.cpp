// bench-libs: vnd_export_core vnd_docgen
// export_plain: the local export without compression (folders per branch, register and day) against
// `cp -r` of the same output in the same run.
#include "bench/export_common.h"
#include "export/core/geraxmllocal.h"

#include <QGuiApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char **argv)
{
    // The summary's PDF is drawn with Qt Gui, on the offscreen platform.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TClientDataSet cds;
    benchutil::MakeSales(cds, 20000, 2000);
    QTemporaryDir out, copy;

    const double rssBefore = benchutil::PeakRssMb();
    QElapsedTimer t;
    t.start();
    vnd::GeraXmlLocal(cds, out.path(), false);
    const double ours = t.elapsed() / 1000.0;
    const double rssAfter = benchutil::PeakRssMb();

    t.restart();
    benchutil::Run(QStringLiteral("cp"), {QStringLiteral("-r"), out.path() + QStringLiteral("/."), copy.path()});
    const double base = t.elapsed() / 1000.0;
    std::printf("export_plain: %.2f s, peak memory +%.0f MB (baseline: %.2f s, ratio: %.2f)\n", ours,
                rssAfter - rssBefore, base, ours / base);
    return 0;
}
