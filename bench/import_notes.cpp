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
#include <thread>

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
    const QString importDir = dir.filePath(QStringLiteral("lote/"));
    const QString parseDir = dir.filePath(QStringLiteral("so-leitura/"));
    QDir().mkpath(importDir);
    QDir().mkpath(parseDir);

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
    QList<Sale> sales;
    SaleOptions nfce;
    nfce.kind = DocKind::Nfce;
    nfce.status = NfceStatus::Authorized;
    for (int i = 0; i < 5000; ++i) {
        sales << gen.MakeSale(nfce);
        const QString name = QStringLiteral("%1-procNFe.xml").arg(sales.last().accessKey);
        const QByteArray bytes = ProcessedNfce(sales.last());
        Write(importDir + name, bytes);
        Write(parseDir + name, bytes);
    }
    SaleOptions sat;
    sat.kind = DocKind::Sat;
    sat.status = NfceStatus::Authorized;
    sat.branchCode = sp.code;
    sat.registerCode = satRegister->code;
    for (int b = 0; b < 50; ++b) {
        const QList<Sale> coupons = gen.MakeSales(100, sat);
        sales << coupons;
        const QString name = QStringLiteral("LoteCFe_%1.xml").arg(b, 3, 10, QLatin1Char('0'));
        const QByteArray bytes = BigBatch(coupons, QString::number(b));
        Write(importDir + name, bytes);
        Write(parseDir + name, bytes);
    }
    const int notes = int(sales.size());

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

    TNetConnection net;
    net.Port = port;
    net.Token = QStringLiteral("bench");
    net.Open();
    TMessages msg({QStringLiteral("Xml_proc|Foram importadas %s notas de %s arquivos/lotes de XML."),
                   QStringLiteral("Xml_n_Enc|Não foi encontrado nenhum XML."), QStringLiteral("CONF_LOG|?"),
                   QStringLiteral("Erro|Erro"), QStringLiteral("Alerta|Alerta")});
    vnd::ImportGlobals globals;
    vnd::TImportacaoXml import(net, msg, globals);
    import.stDirXml = importDir;
    import.stDirXmlErro = importDir + QStringLiteral("Xml Erro/");
    import.stDirXmlProc = importDir + QStringLiteral("Xml Processados/");
    QElapsedTimer t;
    t.start();
    import.importaXml();
    const double importSeconds = Seconds(t);
    const int stored = import.inQtdeNotasImp;
    server.Stop();
    serving.join();

    // (a) The same files read, decoded, parsed and serialised, as the driver does before its readers.
    t.restart();
    const IXMLDocument doc = TXMLDocument::Create();
    qsizetype chars = 0;
    for (const QString &name : vnd::ListaArquivosXml(parseDir)) {
        doc->LoadFromXML(vnd::LeTextoXml(parseDir + name));
        chars += doc->XML().size();
    }
    const double parseSeconds = Seconds(t);

    // (b) The same rows straight into a database of their own, one transaction per sale.
    ServerDb direct(QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("direto.db")));
    UpgradeSchema(direct);
    SeedDatabase(direct, seed);
    QList<SaleRows> rows;
    for (const Sale &s : sales)
        rows << RowsFor(gen, s, 3);
    t.restart();
    for (int i = 0; i < rows.size(); ++i)
        direct.Write([&] { InsertVenda(direct, rows[i].row, rows[i].items, rows[i].payments); });
    const double insertSeconds = Seconds(t);

    if (stored != notes || chars == 0) {
        std::fprintf(stderr, "import_notes: %d of %d notes stored\n", stored, notes);
        return 1;
    }
    const double baseline = parseSeconds + insertSeconds;
    std::fprintf(stderr, "import %.1f s, parse %.1f s, insert %.1f s\n", importSeconds, parseSeconds,
                 insertSeconds);
    std::printf("import_notes: %.0f notes/s (baseline: %.0f notes/s, ratio: %.2f)\n", notes / importSeconds,
                notes / baseline, importSeconds / baseline);
    return 0;
}
