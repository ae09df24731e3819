// bench-libs: vnd_export_core
// recordset_packet: 100 000 rows of the sale-list shape (a 6 KB memo each) appended into a record set,
// turned into a data packet and loaded back, against copying the same bytes with memcpy.
#include "export/core/salelist.h"
#include "host/recordset.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rows = 100000;
    QByteArray memo;
    while (memo.size() < 6 * 1024)
        memo += "<det nItem=\"1\"><prod><cProd>000123</cProd><xProd>Pão de queijo</xProd><qCom>1.0000</qCom></prod></det>";
    const QDateTime when(QDate(2026, 11, 5), QTime(10, 30, 0));

    QElapsedTimer t;
    t.start();
    TClientDataSet cds;
    vnd::DefineCdsNotas(cds);
    cds.DisableControls();
    for (int i = 0; i < rows; ++i) {
        cds.Append();
        cds.Fields(0).SetAsString(QStringLiteral("N"));
        cds.Fields(1).SetAsString(QStringLiteral("0001"));
        cds.Fields(2).SetAsString(QStringLiteral("001"));
        cds.Fields(4).SetAsString(QString::number(i));
        cds.Fields(5).SetAsBytes(memo);
        cds.Fields(6).SetAsDateTime(when);
        cds.Fields(7).SetAsString(QStringLiteral("35261112345678000190650010000000011000000010"));
        cds.Fields(10).SetAsString(QString::number(i));
        cds.Fields(11).SetAsString(QStringLiteral("O"));
        cds.Fields(13).SetAsDateTime(when);
        cds.Post();
    }
    const TDataPacket packet = cds.Data();
    TClientDataSet back;
    vnd::DefineCdsNotas(back);
    back.SetData(packet);
    const double ours = t.elapsed() / 1000.0;
    if (back.RecordCount() != rows) {
        std::fprintf(stderr, "recordset_packet: lost rows\n");
        return 1;
    }

    // Baseline: the same bytes copied three times (into the set, into the packet, back out).
    t.restart();
    std::vector<char> a(size_t(memo.size()) * rows), b(a.size()), c(a.size());
    for (int i = 0; i < rows; ++i)
        std::memcpy(a.data() + size_t(i) * memo.size(), memo.constData(), size_t(memo.size()));
    std::memcpy(b.data(), a.data(), a.size());
    std::memcpy(c.data(), b.data(), b.size());
    const double base = t.elapsed() / 1000.0;
    volatile char sink = c[c.size() / 2];
    (void)sink;

    const double mb = double(memo.size()) * rows / (1024.0 * 1024.0);
    std::printf("recordset_packet: %.0f MB/s (baseline: %.0f MB/s, ratio: %.3f)\n", mb / ours, mb / base,
                (mb / ours) / (mb / base));
    return 0;
}
