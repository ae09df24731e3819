// bench-libs: vnd_export_ui
// list_fetch: the main screen's list fetch of 100 000 sales (rows/s and peak memory) from a real vnd-server
// on a seeded SQLite database, against a bare client that asks for the same pages and throws them away.
// The database is seeded once and kept in the build folder (list_fetch.db) for later runs.
#include "bench/list_common.h"
#include "export/core/salelist.h"
#include "export/ui/listanotas.h"
#include "host/netconnection.h"
#include "host/rpc.h"
#include "host/session.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int kVendas = 100000;
const QDate kInicio(2024, 1, 1);
const QDate kFim(2024, 12, 31);

QString Pasta(const char *variavel, const char *padrao)
{
    const QString v = qEnvironmentVariable(variavel);
    return v.isEmpty() ? QString::fromLatin1(padrao) : v;
}

QString Servidor() { return Pasta("VND_BINARY_DIR", VND_BINARY_DIR) + QStringLiteral("/server/vnd-server"); }

// The server's messages are shown only when the command fails: the figures' output carries figures.
bool Roda(const QStringList &args, int timeoutMs)
{
    QProcess p;
    p.start(Servidor(), args);
    const bool ok = p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok)
        std::fprintf(stderr, "list_fetch: vnd-server %s failed:\n%s", qPrintable(args.value(0)),
                     p.readAllStandardError().constData());
    return ok;
}

int PortaLivre()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    int porta = 0;
    if (::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &n) == 0)
        porta = ntohs(a.sin_port);
    ::close(s);
    return porta;
}

// The same pages as the screen asks for (its rows without their documents), thrown away as they arrive. Returns the rows seen.
qint64 ClienteNu(TNetConnection &net, qint64 &bytes)
{
    const QDateTime ini(kInicio, QTime(0, 0)), fim(kFim, QTime(0, 0));
    qint64 linhas = 0;
    for (qint64 primeira = 0, ultima = vnd::kTamanhoPagina;; primeira = ultima + 1, ultima += vnd::kTamanhoPagina) {
        const QVariantList params{QString(), QStringLiteral("T"), QString(), QStringLiteral("T"), ini, fim, QString(), QStringLiteral("T"),
                                  QStringLiteral("A_C"), false, QString::number(primeira), QString::number(ultima), QString(),
                                  QStringLiteral("T"), QString(), QStringLiteral("T"), true};
        const TDataPacket pagina = vnd::rpc::ToPacket(CheckResultServ(net.Call(QStringLiteral("getNotas"), params)));
        bytes += pagina.json.size();
        // Rows are counted without building them: each row of the packet opens with "[".
        const qsizetype inicio = pagina.json.indexOf("\"rows\"");
        qint64 n = 0;
        bool texto = false;
        int nivel = 0;
        for (qsizetype i = inicio; i < pagina.json.size(); ++i) {
            const char c = pagina.json[i];
            if (texto) {
                if (c == '\\')
                    ++i;
                else if (c == '"')
                    texto = false;
            } else if (c == '"') {
                texto = true;
            } else if (c == '[') {
                if (++nivel == 2)
                    ++n;
            } else if (c == ']') {
                --nivel;
            }
        }
        if (n == 0)
            break;
        linhas += n;
    }
    return linhas;
}

// Bytes of the values the list holds: texts as stored, 8 for a date-time.
qint64 BytesDasLinhas(const TClientDataSet &cds)
{
    qint64 total = 0;
    for (int r = 0; r < cds.RowCount(); ++r)
        for (int f = 0; f < cds.FieldCount(); ++f) {
            const QVariant v = cds.RowValue(r, f);
            total += v.typeId() == QMetaType::QByteArray ? v.toByteArray().size() : (v.isValid() ? 8 : 0);
        }
    return total;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString pasta = Pasta("VND_BINARY_DIR", VND_BINARY_DIR) + QStringLiteral("/bench");
    const QString banco = pasta + QStringLiteral("/list_fetch.db");
    const QString url = QStringLiteral("sqlite:") + banco;
    const QString marca = banco + QStringLiteral(".ok");
    if (!QFile::exists(marca)) {
        for (const QString &sufixo : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
            QFile::remove(banco + sufixo);
        std::fprintf(stderr, "list_fetch: seeding %d sales into %s (once)\n", kVendas, qPrintable(banco));
        if (!Roda({QStringLiteral("seed"), QStringLiteral("--db"), url, QStringLiteral("--sales"), QString::number(kVendas),
                   QStringLiteral("--from"), kInicio.toString(Qt::ISODate), QStringLiteral("--to"), kFim.toString(Qt::ISODate)},
                  -1)) {
            std::fprintf(stderr, "list_fetch: seeding failed\n");
            return 1;
        }
        QFile(marca).open(QIODevice::WriteOnly);
    }

    const QString tokenFile = pasta + QStringLiteral("/list_fetch.token");
    const QByteArray token = QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    {
        QFile f(tokenFile);
        f.open(QIODevice::WriteOnly);
        f.write(token);
    }
    const int porta = PortaLivre();
    QProcess servidor;
    // One log line per call would drown the figures: the log goes to a file, shown when the server fails.
    const QString logServidor = pasta + QStringLiteral("/list_fetch-servidor.log");
    servidor.setProcessChannelMode(QProcess::MergedChannels);
    servidor.setStandardOutputFile(logServidor);
    servidor.start(Servidor(), {QStringLiteral("--db"), url, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(porta),
                                QStringLiteral("--token-file"), tokenFile, QStringLiteral("--export-root"), pasta + QStringLiteral("/list_fetch_xml")});
    Quorvel::WebURL = QStringLiteral("127.0.0.1");
    Quorvel::WebPort = porta;
    TNetConnection net;
    net.Host = Quorvel::WebURL;
    net.Port = porta;
    net.Token = QString::fromLatin1(token);
    for (int tentativa = 0;; ++tentativa) {
        try {
            net.Open();
            break;
        } catch (const std::exception &) {
            if (tentativa > 100 || servidor.state() == QProcess::NotRunning) {
                std::fprintf(stderr, "list_fetch: the server did not start (log: %s)\n", qPrintable(logServidor));
                return 1;
            }
            QThread::msleep(100);
        }
    }

    // Bare client: same pages, discarded.
    QElapsedTimer t;
    qint64 bytesPacotes = 0;
    t.start();
    const qint64 linhasNu = ClienteNu(net, bytesPacotes);
    const double segNu = t.elapsed() / 1000.0;

    // The screen's fetch into the list.
    TClientDataSet notas, temp, penRej, filtro;
    vnd::DefineCdsNotas(notas);
    vnd::DefineCdsNotas(temp);
    vndbench::FillFilter(filtro, kInicio, kFim);
    vnd::TTextosGeraXml textos;
    vnd::TBuscaNotas busca(net, notas, temp, penRej);
    const qint64 antesKb = vndbench::ResidentKb();
    vndbench::ResetPeak();
    t.restart();
    busca.BuscaPaginas(filtro, textos);
    const double segLista = t.elapsed() / 1000.0;
    const qint64 picoMb = (vndbench::PeakKb() - antesKb) / 1024;
    const qint64 linhas = notas.RecordCount();
    const double mbLinhas = BytesDasLinhas(notas) / (1024.0 * 1024.0);

    servidor.terminate();
    servidor.waitForFinished(10000);
    if (linhas != linhasNu || linhas < kVendas / 2) {
        std::fprintf(stderr, "list_fetch: the list holds %lld rows, the bare client saw %lld\n", linhas, linhasNu);
        return 1;
    }
    const double taxa = linhas / segLista, taxaNu = linhasNu / segNu;
    std::printf("list_fetch: %.0f rows/s, peak %lld MB for %.0f MB of rows (baseline: %.0f rows/s, ratio: %.2f; memory ratio: %.2f)\n",
                taxa, picoMb, mbLinhas, taxaNu, taxa / taxaNu, picoMb / mbLinhas);
    return 0;
}
