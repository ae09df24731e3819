// vnd-server: the application server of the remote data module "VND04400.rdmGeraXml", or, with "seed",
// the filler of demo data.
#include "host/errors.h"
#include "server/autogen.h"
#include "server/httpserver.h"
#include "server/options.h"
#include "server/rdm.h"
#include "server/schema.h"
#include "server/seed.h"
#include "server/token.h"

#include <QGuiApplication>
#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>
#include <unistd.h>

using namespace vnd::server;

namespace {

void PrepareSqliteFolder(const QString &url)
{
    if (url.startsWith(QLatin1String("sqlite:")))
        QDir().mkpath(QFileInfo(url.mid(7)).absolutePath());
}

int RunSeed(const ServerDb &db, const ServerOptions &o)
{
    SeedOptions so;
    so.sales = o.sales;
    so.from = o.from;
    so.to = o.to;
    so.importDir = o.importDir;
    so.seed = o.randomSeed;
    const SeedReport r = SeedDatabase(db, so);
    std::printf("seed: %d filiais, %d caixas, %d clientes, %d tipos de recebimento, %d produtos, %d vendas "
                "(%s a %s)",
                r.branches, r.registers, r.customers, r.receiptTypes, r.products, r.sales,
                qPrintable(o.from.toString(Qt::ISODate)), qPrintable(o.to.toString(Qt::ISODate)));
    if (!o.importDir.isEmpty())
        std::printf(", %d arquivos em %s", r.importFiles, qPrintable(o.importDir));
    std::printf("\n");
    return 0;
}

int Serve(const ServerDb &db, const ServerOptions &o, const sigset_t &stopSignals, const AutoGenOptions &autoGen)
{
    if (!QDir().mkpath(o.exportRoot))
        throw Exception(QStringLiteral("Não foi possível criar a pasta de exportação %1.").arg(o.exportRoot));
    const QString root = QFileInfo(o.exportRoot).canonicalFilePath();
    const QString token = LoadOrCreateToken(o.tokenFile);
    RdmGeraXml rdm(db, ServerConfig{root});
    const AutoGenScheduler scheduler(db, root, autoGen);
    RpcServer server(rdm, token, o.threads);
    server.SetBodyLimit(std::size_t(o.maxBodyMb) * 1024 * 1024);
    if (!o.tlsCert.isEmpty())
        server.UseTls(o.tlsCert, o.tlsKey);
    const int port = server.Bind(o.host, o.port);
    const bool loopback = o.host == QLatin1String("localhost") || o.host == QLatin1String("::1") ||
                          o.host.startsWith(QLatin1String("127."));
    if (!loopback && o.tlsCert.isEmpty())
        std::fprintf(stderr, "aviso: escutando em %s, fora da máquina local; o token viaja sem criptografia\n",
                     qPrintable(o.host));
    std::printf("listening %s:%d\n", qPrintable(o.host), port);
    std::fflush(stdout);

    // Signals are taken by this thread alone (every other thread blocks them), so stopping never runs
    // inside a signal handler.
    std::atomic<bool> waiterDone{false};
    std::thread waiter([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        if (sig != SIGUSR1) {
            std::fprintf(stderr, "parando: sinal %d recebido; terminando as chamadas em andamento\n", sig);
            server.Stop();
        }
        waiterDone = true;
    });
    server.Run();
    if (!waiterDone)
        ::kill(::getpid(), SIGUSR1);
    waiter.join();
    std::fprintf(stderr, "servidor parado\n");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // Blocked before any thread starts, so that every worker inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // The export summaries are PDF files drawn with Qt Gui; the offscreen platform needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    try {
        QStringList args = app.arguments().mid(1);
        const AutoGenOptions autoGen = TakeAutoGenOptions(args);
        const ServerOptions o = ParseOptions(args);
        if (o.help) {
            std::printf("%s%s", qPrintable(Usage()), qPrintable(AutoGenUsage()));
            return 0;
        }
        PrepareSqliteFolder(o.db);
        const ServerDb db(o.db);
        const int version = UpgradeSchema(db);
        std::fprintf(stderr, "banco de dados %s, esquema versão %d\n", qPrintable(o.db), version);
        if (autoGen.generateCommand)
            return RunGenerateCommand(db, o.exportRoot);
        return o.seed ? RunSeed(db, o) : Serve(db, o, stopSignals, autoGen);
    } catch (const Exception &e) {
        std::fprintf(stderr, "vnd-server: %s\n", qPrintable(e.Message()));
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vnd-server: %s\n", e.what());
        return 1;
    }
}
