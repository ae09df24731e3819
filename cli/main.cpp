// vnd04400: the export, import and parameter row of the screens, without a screen.
#include "cli/cliargs.h"
#include "cli/console.h"
#include "cli/exportar.h"
#include "cli/importar.h"
#include "cli/parametros.h"
#include "host/errors.h"
#include "host/platform.h"

#include <QGuiApplication>
#include <cstdio>
#include <functional>
#include <memory>

namespace
{

const char *const kAjudaGeral =
    "Uso: vnd04400 COMANDO [opções]\n"
    "Comandos:\n"
    "  export   gera os arquivos XML das vendas de um filtro\n"
    "  import   importa uma pasta de arquivos XML dos caixas\n"
    "  params   mostra ou altera os parâmetros da geração automática\n"
    "Conexão (também por --config ARQUIVO.ini ou pelo ambiente VND_SERVER_HOST, VND_SERVER_PORT,\n"
    "VND_TOKEN_FILE, VND_SERVER_TLS, VND_CA_FILE, VND_OPERADOR, VND_FILIAL, VND_DB_URL):\n"
    "  --server HOST --port N --token-file ARQUIVO --operador X --filial 0001 --db URL\n"
    "  --tls [--ca-file ARQUIVO.pem]   conexão criptografada com o servidor (certificado conferido)\n"
    "Saída: 0 sucesso; 1 quando algum arquivo falhou ou o servidor recusou; 2 uso incorreto.\n"
    "Use vnd04400 COMANDO --help para as opções de cada comando.\n";

void Escreve(std::FILE *f, const QString &text)
{
    std::fputs(text.toUtf8().constData(), f);
    std::fflush(f);
}

} // namespace

int main(int argc, char **argv)
{
    // The export summary is a PDF drawn with Qt Gui; the offscreen platform needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h")) {
        Escreve(args.isEmpty() ? stderr : stdout, QString::fromUtf8(kAjudaGeral));
        return args.isEmpty() ? 2 : 0;
    }
    const QString comando = args.takeFirst();
    const bool quiet = args.contains(QLatin1String("--quiet"));
    SetPlatform(
        std::make_shared<vnd::cli::TConsolePlatform>(quiet, vnd::cli::TConsolePlatform::ErroEhTerminal()));

    QString ajuda;
    std::function<int(const QStringList &)> executa;
    if (comando == QLatin1String("export")) {
        ajuda = vnd::cli::AjudaExport();
        executa = vnd::cli::ComandoExport;
    } else if (comando == QLatin1String("import")) {
        ajuda = vnd::cli::AjudaImport();
        executa = vnd::cli::ComandoImport;
    } else if (comando == QLatin1String("params")) {
        ajuda = vnd::cli::AjudaParams();
        executa = vnd::cli::ComandoParams;
    } else {
        Escreve(stderr,
                QStringLiteral("Comando desconhecido: %1\n").arg(comando) + QString::fromUtf8(kAjudaGeral));
        return 2;
    }
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        Escreve(stdout, ajuda);
        return 0;
    }
    try {
        return executa(args);
    } catch (const vnd::cli::EUsage &e) {
        Escreve(stderr,
                e.Message() + QStringLiteral("\nUse vnd04400 %1 --help para ver as opções.\n").arg(comando));
        return 2;
    } catch (const EAbort &) {
        // The message was shown when the run was aborted.
        return 1;
    } catch (const Exception &e) {
        Platform().Error(e.Message());
        return 1;
    } catch (const std::exception &e) {
        Platform().Error(QString::fromLocal8Bit(e.what()));
        return 1;
    }
}
