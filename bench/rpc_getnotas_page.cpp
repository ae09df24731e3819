// bench-libs: vnd_server_lib
// rpc_getnotas_page: one getNotas page of 500 sales with 6 KB documents, called on a vnd-server process
// over loopback and loaded into the sale list (rows/s; MB/s of documents on standard error), against
// reading the same page straight from the same SQLite database into the same record set in this process.
#include "host/netconnection.h"
#include "bench/rpc_common.h"
#include "host/rpc.h"
#include "server/notas.h"
#include "server/salestore.h"
#include "server/schema.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace vnd::server;

namespace {

constexpr int kSales = 2000;
constexpr int kPage = 500;
constexpr int kRounds = 40; // pages read per side

QByteArray Document(int n)
{
    QByteArray doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><nfeProc versao=\"3.10\" "
                     "xmlns=\"http://www.portalfiscal.inf.br/nfe\"><NFe><infNFe Id=\"NFe" +
                     QByteArray::number(n) + "\" versao=\"3.10\">";
    for (int i = 1; doc.size() < 6 * 1024 - 40; ++i)
        doc += "<det nItem=\"" + QByteArray::number(i) + "\"><prod><cProd>" + QByteArray::number(1000 + i) +
               "</cProd><xProd>Pão de queijo – recheio \"especial\"</xProd><qCom>1.0000</qCom><vUnCom>4.50</vUnCom>"
               "</prod></det>";
    return doc + "</infNFe></NFe></nfeProc>";
}

void Fill(const ServerDb &db)
{
    UpgradeSchema(db);
    db.Write([&] {
        db.Exec(QStringLiteral("INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA, NRINSJURFILI) VALUES "
                               "('0001', 'Loja', '01', '11111111000191')"));
        db.Exec(QStringLiteral("INSERT INTO CAIXA (CDFILIAL, CDCAIXA, NMCAIXA) VALUES ('0001', '001', 'Caixa 1')"));
        for (int i = 0; i < kSales; ++i) {
            VendaRow r;
            r.CDFILIAL = QStringLiteral("0001");
            r.CDCAIXA = QStringLiteral("001");
            r.NRSEQVENDA = QString::number(i).rightJustified(10, QLatin1Char('0'));
            r.DTENTRVENDA = QDateTime(QDate(2024, 5, 1), QTime(8, 0)).addSecs(i * 30);
            r.NRACESSONFCE = QStringLiteral("3524051111111100019165001%1").arg(i, 19, 10, QLatin1Char('0'));
            r.CDSERIE = QStringLiteral("001");
            r.IDTPEMISVEND = QStringLiteral("N");
            r.NRNOTAFISCALCE = QString::number(i).rightJustified(9, QLatin1Char('0'));
            r.IDSITUVENDA = QStringLiteral("O");
            r.IDSTATUSNFCE = QStringLiteral("A");
            r.NRPROTOCOLONFCE = QStringLiteral("135240000000001");
            r.DTHRPROTOCONFCE = r.DTENTRVENDA.addSecs(2);
            r.IDTPAMBNFCE = QStringLiteral("1");
            r.NRINSJURIEST = QStringLiteral("11111111000191");
            r.DSQRCODENFCE = QStringLiteral("https://www.fazenda.sp.gov.br/nfce/qrcode?p=%1|2|1|1|ABCDEF").arg(i);
            r.CDVERSAOXMLNFCE = QStringLiteral("3.10");
            r.DSARQXMLNFCE = Document(i);
            InsertVenda(db, r, {}, {});
        }
    });
}

QVariantList Params(qint64 first, qint64 last)
{
    return {QString(), QStringLiteral("T"), QString(), QStringLiteral("T"), QDateTime(QDate(2024, 5, 1), QTime(0, 0)),
            QDateTime(QDate(2024, 5, 31), QTime(0, 0)), QString(), QStringLiteral("T"), QStringLiteral("A_C"), false,
            QString::number(first), QString::number(last), QString(), QStringLiteral("T"), QString(), QStringLiteral("T")};
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

qint64 DocumentBytes(TClientDataSet &cds)
{
    qint64 n = 0;
    const int field = cds.FieldIndex(QStringLiteral("DSARQXMLNFCE"));
    for (int r = 0; r < cds.RowCount(); ++r)
        n += cds.RowValue(r, field).toByteArray().size();
    return n;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString url = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("bench.db"));
    const ServerDb db(url);
    Fill(db);
    QProcess server;
    TNetConnection net;
    if (!vndbench::StartAndConnect(server, dir, url, net, "rpc_getnotas_page"))
        return 1;

    SaleFilter filter;
    filter.from = QDate(2024, 5, 1);
    filter.to = QDate(2024, 5, 31);
    const int pages = kSales / kPage;

    // Warm both paths once (page cache, prepared connections).
    {
        TClientDataSet warm;
        warm.SetData(vnd::rpc::ToPacket(CheckResultServ(net.Call(QStringLiteral("getNotas"), Params(0, kPage - 1)))));
        TClientDataSet direct;
        QueryNotasPage(db, filter, 0, kPage - 1, direct);
    }

    // The two paths take turns page by page, and each side's figure is its median page: on a shared or
    // virtual machine a burst of other work then spoils a few pages of either side, not one side's run.
    std::vector<double> remoteTimes, directTimes, callTimes;
    qint64 remoteRows = 0, remoteBytes = 0, directRows = 0, directBytes = 0;
    QElapsedTimer t;
    for (int i = 0; i < kRounds; ++i) {
        const qint64 first = qint64(i % pages) * kPage;
        {
            TClientDataSet page;
            t.start();
            const TDataPacket packet = vnd::rpc::ToPacket(
                CheckResultServ(net.Call(QStringLiteral("getNotas"), Params(first, first + kPage - 1))));
            callTimes.push_back(t.nsecsElapsed() / 1e9);
            page.SetData(packet);
            remoteTimes.push_back(t.nsecsElapsed() / 1e9);
            remoteRows += page.RowCount();
            remoteBytes += DocumentBytes(page);
        }
        {
            TClientDataSet page;
            t.start();
            QueryNotasPage(db, filter, first, first + kPage - 1, page);
            directTimes.push_back(t.nsecsElapsed() / 1e9);
            directRows += page.RowCount();
            directBytes += DocumentBytes(page);
        }
    }
    const double remote = Median(remoteTimes);
    const double direct = Median(directTimes);

    vndbench::StopServer(server);
    if (remoteRows != qint64(kRounds) * kPage || directRows != remoteRows || directBytes != remoteBytes) {
        std::fprintf(stderr, "rpc_getnotas_page: the two paths read different rows\n");
        return 1;
    }
    const double mbPerPage = remoteBytes / (1024.0 * 1024.0) / kRounds;
    std::fprintf(stderr,
                 "rpc_getnotas_page: remote %.1f MB/s of documents, direct %.1f MB/s; median page %.1f ms remote "
                 "(%.1f ms of it in the call), %.1f ms direct\n",
                 mbPerPage / remote, mbPerPage / direct, remote * 1000, Median(callTimes) * 1000, direct * 1000);
    std::printf("rpc_getnotas_page: %.0f rows/s (baseline: %.0f rows/s, ratio: %.2f)\n", kPage / remote,
                kPage / direct, direct / remote);
    return 0;
}
