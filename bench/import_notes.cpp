// import_notes: 5 000 NFC-e files and 50 SAT batches of 100 coupons imported through the real server on
// loopback, in notes per second, against the same files only read and parsed plus the same rows
// inserted straight into a database of their own (one transaction per sale, as the server stores them).
// bench-libs: vnd_import_core vnd_server_lib vnd_docgen
#include "host/platform.h"
#include "import/importacaoxml.h"
#include "import/importfiles.h"
#include "server/docgen/docgen.h"
#include "server/httpserver.h"
#include "server/rdm.h"
#include "server/salestore.h"
#include "server/schema.h"
#include "server/seed.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace vnd::docgen;
using namespace vnd::server;

namespace
{

// Answers every dialog at once: a figure measures the work, not a user.
class SilentPlatform : public IPlatform
{
  public:
    bool AskYesNo(const QString &) override { return false; }
    void Info(const QString &) override {}
    void Error(const QString &text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    bool SelectFolder(const QString &, QString &) override { return false; }
    void SetHourglass(bool) override {}
    void BusyShow() override {}
    void BusyProgress(const QString &) override {}
    void BusyHide() override {}
};

void Write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

// A LoteCFe of any size: the generator's batches hold at most 50 coupons, so two are joined.
QByteArray BigBatch(const QList<Sale> &sales, const QString &id)
{
    QByteArray first = SatBatch(sales.mid(0, 50), id);
    const QByteArray second = SatBatch(sales.mid(50), id);
    const qsizetype from = second.indexOf("<CFe>");
    const qsizetype to = second.indexOf("</LoteCFe>");
    first.insert(first.indexOf("</LoteCFe>"), second.mid(from, to - from));
    return first;
}

double Seconds(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    SetPlatform(std::make_shared<SilentPlatform>());
    QTemporaryDir dir;
    // The work is cut in rounds, each one a fifth of the files: every round imports its share, then
    // reads and parses it, then inserts its rows, so that a change of the machine's pace (the disk's
    // above all) weighs on both sides alike instead of on whichever ran at that moment.
    constexpr int kRounds = 5;
    auto importDir = [&](int r) { return dir.filePath(QStringLiteral("lote%1/").arg(r)); };
    auto parseDir = [&](int r) { return dir.filePath(QStringLiteral("so-leitura%1/").arg(r)); };
    for (int r = 0; r < kRounds; ++r) {
        QDir().mkpath(importDir(r));
        QDir().mkpath(parseDir(r));
    }

    // The documents, written twice: one folder for the import, one for reading alone.
    // Production documents, as shops import them: homologation ones would each add a warning to the log.
    MasterOptions production;
    production.environment = QStringLiteral("1");
    Generator gen(1, production);
    gen.SetClock(QDateTime(QDate(2017, 3, 1), QTime(8, 0)));
    const Branch &sp = gen.Branches().first();
    const CashRegister *satRegister = nullptr;
    for (const CashRegister &r : gen.CashRegisters())
        if (r.branchCode == sp.code && !r.satSerial.isEmpty())
            satRegister = &r;
    QList<Sale> sales[kRounds];
    SaleOptions nfce;
    nfce.kind = DocKind::Nfce;
    nfce.status = NfceStatus::Authorized;
    for (int i = 0; i < 5000; ++i) {
        QList<Sale> &round = sales[i % kRounds];
        round << gen.MakeSale(nfce);
        const QString name = QStringLiteral("%1-procNFe.xml").arg(round.last().accessKey);
        const QByteArray bytes = ProcessedNfce(round.last());
        Write(importDir(i % kRounds) + name, bytes);
        Write(parseDir(i % kRounds) + name, bytes);
    }
    SaleOptions sat;
    sat.kind = DocKind::Sat;
    sat.status = NfceStatus::Authorized;
    sat.branchCode = sp.code;
    sat.registerCode = satRegister->code;
    for (int b = 0; b < 50; ++b) {
        const QList<Sale> coupons = gen.MakeSales(100, sat);
        sales[b % kRounds] << coupons;
        const QString name = QStringLiteral("LoteCFe_%1.xml").arg(b, 3, 10, QLatin1Char('0'));
        const QByteArray bytes = BigBatch(coupons, QString::number(b));
        Write(importDir(b % kRounds) + name, bytes);
        Write(parseDir(b % kRounds) + name, bytes);
    }
    int notes = 0;
    for (const QList<Sale> &round : sales)
        notes += int(round.size());

    // The real server on loopback, over a database with the generator's master data.
    ServerDb db(QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("servidor.db")));
    UpgradeSchema(db);
    SeedOptions seed;
    seed.sales = 0;
    SeedDatabase(db, seed);
    QDir().mkpath(dir.filePath(QStringLiteral("export")));
    RdmGeraXml rdm(db, ServerConfig{dir.filePath(QStringLiteral("export"))});
    RpcServer server(rdm, QStringLiteral("bench"), 4);
    const int port = server.Bind(QStringLiteral("127.0.0.1"), 0);
    std::thread serving([&] { server.Run(); });

    // The server writes a line per call on its error output: it goes to a file for the measurement.
    const QString serverLog = dir.filePath(QStringLiteral("servidor.log"));
    std::fflush(stderr);
    const int savedErr = dup(2);
    const int logFd = open(QFile::encodeName(serverLog).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(logFd, 2);
    close(logFd);

    TNetConnection net;
    net.Port = port;
    net.Token = QStringLiteral("bench");
    net.Open();
    TMessages msg({QStringLiteral("Xml_proc|Foram importadas %s notas de %s arquivos/lotes de XML."),
                   QStringLiteral("Xml_n_Enc|Não foi encontrado nenhum XML."), QStringLiteral("CONF_LOG|?"),
                   QStringLiteral("Erro|Erro"), QStringLiteral("Alerta|Alerta")});
    vnd::ImportGlobals globals;

    // (b) inserts the same rows straight into a database of their own, one transaction per sale.
    ServerDb direct(QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("direto.db")));
    UpgradeSchema(direct);
    SeedDatabase(direct, seed);
    QList<SaleRows> rows[kRounds];
    for (int r = 0; r < kRounds; ++r)
        for (const Sale &s : sales[r])
            rows[r] << RowsFor(gen, s, 3);

    double importSeconds = 0, parseSeconds = 0, insertSeconds = 0;
    int stored = 0;
    qsizetype chars = 0;
    const IXMLDocument doc = TXMLDocument::Create();
    for (int r = 0; r < kRounds; ++r) {
        vnd::TImportacaoXml import(net, msg, globals);
        import.stDirXml = importDir(r);
        import.stDirXmlErro = importDir(r) + QStringLiteral("Xml Erro/");
        import.stDirXmlProc = importDir(r) + QStringLiteral("Xml Processados/");
        QElapsedTimer t;
        t.start();
        import.importaXml();
        importSeconds += Seconds(t);
        stored += import.inQtdeNotasImp;

        // (a) The same files read, decoded, parsed and serialised, as the driver does before its readers.
        t.restart();
        for (const QString &name : vnd::ListaArquivosXml(parseDir(r))) {
            doc->LoadFromXML(vnd::LeTextoXml(parseDir(r) + name));
            chars += doc->XML().size();
        }
        parseSeconds += Seconds(t);

        t.restart();
        for (const SaleRows &sale : rows[r])
            direct.Write([&] { InsertVenda(direct, sale.row, sale.items, sale.payments); });
        insertSeconds += Seconds(t);
    }
    server.Stop();
    serving.join();
    std::fflush(stderr);
    dup2(savedErr, 2);
    close(savedErr);

    if (stored != notes || chars == 0) {
        std::fprintf(stderr, "import_notes: %d of %d notes stored (server log: %s)\n", stored, notes,
                     qPrintable(serverLog));
        dir.setAutoRemove(false);
        return 1;
    }
    const double baseline = parseSeconds + insertSeconds;
    std::fprintf(stderr, "import %.1f s, parse %.1f s, insert %.1f s\n", importSeconds, parseSeconds,
                 insertSeconds);
    std::printf("import_notes: %.0f notes/s (baseline: %.0f notes/s, ratio: %.2f)\n", notes / importSeconds,
                notes / baseline, importSeconds / baseline);
    return 0;
}
