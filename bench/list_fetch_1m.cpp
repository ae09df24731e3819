// bench-libs: vnd_export_ui Qt6::Sql
// list_fetch_1m: a million sales (NFC-e of about 6 KB and SAT coupons) listed by the main screen's fetch
// from a real vnd-server on SQLite, then exported here with compression (documents read by key in
// batches): the time per sale and the peak memory of this client, against the same road for the first
// tenth of the period (about 100 000 sales) in the same run.
//
// The database is made once and kept in the build folder (list_fetch_1m.db): vnd-server's seed writes
// VND_BENCH_TEMPLATES generated sales (10 000), which are then copied within SQLite, in one transaction,
// under new access keys (the key's invoice number replaced, in the documents and QR codes too) up to
// VND_BENCH_SALES (1 000 000).
#include "bench/list_common.h"
#include "bench/rpc_common.h"
#include "export/core/documentsource.h"
#include "export/core/geraxmllocal.h"
#include "export/core/salelist.h"
#include "host/platform.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>

namespace {

const QDate kFrom(2024, 1, 1);
const QDate kTo(2024, 12, 31);

int Setting(const char *name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : fallback;
}

QString BinaryDir() { return qEnvironmentVariable("VND_BINARY_DIR", QStringLiteral(VND_BINARY_DIR)); }

bool Exec(QSqlQuery &q, const QString &sql)
{
    if (q.exec(sql))
        return true;
    std::fprintf(stderr, "list_fetch_1m: %s\n  %s\n", qPrintable(q.lastError().text()), qPrintable(sql.left(200)));
    return false;
}

// The seed's sales copied until the table holds `sales` rows: each copy n of a template gets the
// template's key with its invoice number (positions 26 to 34 of the 44 digits) replaced by a number of
// its own, wherever the key appears.
bool Replicate(const QString &file, int sales)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("replica"));
    db.setDatabaseName(file);
    if (!db.open())
        return false;
    bool ok = true;
    {
        QSqlQuery q(db);
        ok = Exec(q, QStringLiteral("PRAGMA journal_mode = WAL")) && Exec(q, QStringLiteral("SELECT COUNT(*), MAX(IDVENDA) FROM VENDA"));
        const int templates = ok && q.next() ? q.value(0).toInt() : 0;
        const int maxId = q.value(1).toInt();
        const int copies = templates > 0 ? (sales - templates + templates - 1) / templates : 0;
        QStringList columns;
        ok = ok && Exec(q, QStringLiteral("PRAGMA table_info(VENDA)"));
        while (ok && q.next())
            if (q.value(1).toString() != QLatin1String("IDVENDA"))
                columns << q.value(1).toString();
        // d: the 44 digits of the key; e: the same with the copy's number.
        const QString digits = QStringLiteral("substr(V.NRACESSONFCE, length(V.NRACESSONFCE) - 43)");
        const QString fresh = QStringLiteral("(substr(%1, 1, 25) || printf('%09d', K.N * %2 + V.IDVENDA) || substr(%1, 35))")
                                  .arg(digits)
                                  .arg(maxId + 1);
        QStringList select;
        for (const QString &c : columns) {
            if (c == QLatin1String("NRACESSONFCE") || c == QLatin1String("DSARQXMLNFCE") || c == QLatin1String("DSARQXMLCANCNFCE") ||
                c == QLatin1String("DSQRCODENFCE") || c == QLatin1String("NRACESSOCANC"))
                select << QStringLiteral("replace(V.%1, %2, %3)").arg(c, digits, fresh);
            else
                select << QStringLiteral("V.") + c;
        }
        ok = ok && db.transaction() &&
             Exec(q, QStringLiteral("WITH RECURSIVE K(N) AS (SELECT 1 UNION ALL SELECT N + 1 FROM K WHERE N < %1) "
                                    "INSERT INTO VENDA (%2) SELECT %3 FROM K CROSS JOIN VENDA V WHERE V.IDVENDA <= %4 "
                                    "AND (K.N - 1) * %5 + V.IDVENDA <= %6")
                             .arg(copies)
                             .arg(columns.join(QStringLiteral(", ")), select.join(QStringLiteral(", ")))
                             .arg(maxId)
                             .arg(templates)
                             .arg(sales - templates)) &&
             db.commit();
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("replica"));
    return ok;
}

bool Prepare(const QString &file, int sales, int templates)
{
    const QString done = file + QStringLiteral(".ok");
    if (QFile::exists(done) && QFile(done).size() > 0 && QFile(done).open(QIODevice::ReadOnly)) {
        QFile f(done);
        f.open(QIODevice::ReadOnly);
        if (f.readAll().trimmed() == QByteArray::number(sales))
            return true;
    }
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral(".ok")})
        QFile::remove(file + suffix);
    std::fprintf(stderr, "list_fetch_1m: seeding %d sales, copied up to %d, into %s (once)\n", templates, sales, qPrintable(file));
    QElapsedTimer t;
    t.start();
    QProcess seed;
    seed.setStandardOutputFile(QProcess::nullDevice());
    seed.start(BinaryDir() + QStringLiteral("/server/vnd-server"),
               {QStringLiteral("seed"), QStringLiteral("--db"), QStringLiteral("sqlite:") + file, QStringLiteral("--sales"),
                QString::number(std::min(templates, sales)), QStringLiteral("--from"), kFrom.toString(Qt::ISODate),
                QStringLiteral("--to"), kTo.toString(Qt::ISODate)});
    // The server's messages are shown only when the seed fails: the figures' output carries figures.
    if (!seed.waitForFinished(-1) || seed.exitStatus() != QProcess::NormalExit || seed.exitCode() != 0) {
        std::fprintf(stderr, "list_fetch_1m: vnd-server seed failed:\n%s", seed.readAllStandardError().constData());
        return false;
    }
    if (sales > templates && !Replicate(file, sales))
        return false;
    std::fprintf(stderr, "list_fetch_1m: database ready in %.0f s\n", t.elapsed() / 1000.0);
    QFile f(done);
    return f.open(QIODevice::WriteOnly) && f.write(QByteArray::number(sales)) > 0;
}

struct Run
{
    qint64 rows = 0;
    double seconds = 0, listSeconds = 0;
    qint64 peakMb = 0, listPeakMb = 0;
    qint64 archiveMb = 0;
    int archives = 0;
};

qint64 FolderBytes(const QString &folder, int &files)
{
    qint64 bytes = 0;
    files = 0;
    for (QDirIterator it(folder, QDir::Files); it.hasNext();) {
        it.next();
        if (it.fileName().startsWith(QLatin1String("ArquivosXML_"))) {
            ++files;
            bytes += it.fileInfo().size();
        }
    }
    return bytes;
}

// The screen's road: the list of the period, every row ticked, exported here with compression.
bool ListAndExport(TNetConnection &net, const QDate &to, const QString &scratch, Run &run)
{
    TClientDataSet notes, temp, pending, filter;
    vnd::DefineCdsNotas(notes);
    vnd::DefineCdsNotas(temp);
    vndbench::FillFilter(filter, kFrom, to);
    vnd::TTextosGeraXml texts;
    vnd::TBuscaNotas fetch(net, notes, temp, pending);
    vndbench::ResetPeak();
    const qint64 before = vndbench::ResidentKb();
    QElapsedTimer t;
    t.start();
    fetch.BuscaPaginas(filter, texts);
    int ticked = 0;
    vnd::MarcaDesmarcaTodas(notes, ticked);
    run.listSeconds = t.elapsed() / 1000.0;
    run.rows = notes.RecordCount();
    run.listPeakMb = vndbench::PeakKb() / 1024;
    QTemporaryDir out(scratch + QStringLiteral("/export-XXXXXX"));
    vnd::RemoteDocumentSource documents(net);
    try {
        vnd::GeraXmlLocal(notes, out.path(), true, nullptr, nullptr, false, &documents);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "list_fetch_1m: the export failed: %s\n", e.what());
        return false;
    }
    run.seconds = t.elapsed() / 1000.0;
    run.peakMb = vndbench::PeakKb() / 1024;
    run.archiveMb = FolderBytes(out.path(), run.archives) / (1024 * 1024);
    std::fprintf(stderr, "list_fetch_1m: %lld sales: list %.1f s (peak %lld MB), export %.1f s, peak %lld MB (%lld MB before), %d archives, %lld MB\n",
                 run.rows, run.listSeconds, run.listPeakMb, run.seconds - run.listSeconds, run.peakMb, before / 1024, run.archives,
                 run.archiveMb);
    return run.rows > 0 && run.archives > 0;
}

} // namespace

int main(int argc, char **argv)
{
    // The export's summary PDF is drawn with Qt Gui, on the offscreen platform.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int sales = Setting("VND_BENCH_SALES", 1000000);
    const int templates = Setting("VND_BENCH_TEMPLATES", 10000);
    const QString folder = BinaryDir() + QStringLiteral("/bench");
    QDir().mkpath(folder);
    const QString file = folder + QStringLiteral("/list_fetch_1m.db");
    if (!Prepare(file, sales, templates)) {
        std::fprintf(stderr, "list_fetch_1m: the database could not be made\n");
        return 1;
    }
    QTemporaryDir dir(folder + QStringLiteral("/list_fetch_1m-XXXXXX"));
    QProcess server;
    TNetConnection net;
    net.Host = QStringLiteral("127.0.0.1");
    if (!vndbench::StartAndConnect(server, dir, QStringLiteral("sqlite:") + file, net, "list_fetch_1m"))
        return 1;

    // The first tenth of the period first (the baseline), then the whole of it.
    Run tenth, whole;
    const bool ok = ListAndExport(net, kFrom.addDays(int(kFrom.daysTo(kTo) + 1) / 10 - 1), dir.path(), tenth) &&
                    ListAndExport(net, kTo, dir.path(), whole);
    vndbench::StopServer(server);
    if (!ok)
        return 1;
    const double perSale = whole.seconds / whole.rows * 1e6, perSaleTenth = tenth.seconds / tenth.rows * 1e6;
    std::printf("list_fetch_1m: %.1f us/sale for %lld sales listed and exported (zip), peak %lld MB, %d archives of %lld MB "
                "(baseline: %.1f us/sale for %lld sales, peak %lld MB; ratio: %.2f)\n",
                perSale, whole.rows, whole.peakMb, whole.archives, whole.archiveMb, perSaleTenth, tenth.rows, tenth.peakMb,
                perSale / perSaleTenth);
    return 0;
}
