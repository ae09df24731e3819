#include "cli/parametros.h"

#include "cli/cliargs.h"
#include "cli/conexao.h"
#include "host/errors.h"
#include "host/hostutil.h"
#include "host/messages.h"
#include "host/platform.h"
#include "host/recordset.h"
#include "host/rpc.h"
#include "settings/paramgeral.h"

#include <QDate>
#include <QTextStream>

namespace vnd::cli
{

namespace
{

void Mostra(TClientDataSet &cds)
{
    QTextStream out(stdout);
    if (cds.IsEmpty()) {
        out << "Nenhum parâmetro cadastrado.\n";
        return;
    }
    cds.First();
    const auto texto = [&](const char *nome) {
        return cds.FieldByName(QString::fromLatin1(nome)).AsString();
    };
    out << "DTINIGERAARQXML="
        << cds.FieldByName(QStringLiteral("DTINIGERAARQXML")).AsDateTime().date().toString(Qt::ISODate)
        << '\n'
        << "DSDIRARQXML=" << texto("DSDIRARQXML") << '\n'
        << "DSDIRARQPHPGXML=" << texto("DSDIRARQPHPGXML") << '\n'
        << "DSDIRINSTALAPHP=" << texto("DSDIRINSTALAPHP") << '\n'
        << "IDENVARQCMP=" << texto("IDENVARQCMP") << '\n';
}

} // namespace

int ComandoParams(const QStringList &argv)
{
    TArgs args(OpcoesConexao() + QStringList{"from-date", "xml-dir", "php-dir", "php-install-dir"},
               FlagsComuns() + QStringList{"zip", "no-zip"});
    args.Parse(argv);
    const QStringList pos = args.Positional();
    if (pos.size() != 1 || (pos.first() != QLatin1String("show") && pos.first() != QLatin1String("set")))
        throw EUsage(QStringLiteral("Informe show ou set."));
    const bool altera = pos.first() == QLatin1String("set");
    if (!altera && (args.Has(QStringLiteral("from-date")) || args.Has(QStringLiteral("xml-dir")) ||
                    args.Has(QStringLiteral("php-dir")) || args.Has(QStringLiteral("php-install-dir")) ||
                    args.Has(QStringLiteral("zip")) || args.Has(QStringLiteral("no-zip"))))
        throw EUsage(QStringLiteral("show não altera parâmetros; use set."));
    if (args.Has(QStringLiteral("zip")) && args.Has(QStringLiteral("no-zip")))
        throw EUsage(QStringLiteral("Use --zip ou --no-zip, não os dois."));
    QDate data;
    if (args.Has(QStringLiteral("from-date"))) {
        data = QDate::fromString(args.Value(QStringLiteral("from-date")).trimmed(), Qt::ISODate);
        if (!data.isValid())
            throw EUsage(QStringLiteral("--from-date: \"%1\" não é uma data válida.")
                             .arg(args.Value(QStringLiteral("from-date"))));
    }

    AplicaSessao(args);
    std::unique_ptr<TNetConnection> net = Conecta();
    TClientDataSet cds;
    DefineCdsParamGeral(cds);
    cds.CreateDataSet();
    {
        BusyGuard ocupado;
        const QVariant linha = CheckResultServ(net->Call(QStringLiteral("getParamGeral")));
        // A pending row, as the dialog loads it: the whole row goes back on a confirmation.
        cds.AppendData(rpc::ToPacket(linha, "parâmetros da geração automática"));
    }
    if (!altera) {
        Mostra(cds);
        return 0;
    }

    if (cds.IsEmpty())
        cds.Append();
    else {
        cds.First();
        cds.Edit();
    }
    const auto campo = [&](const char *nome) { return cds.FieldByName(QString::fromLatin1(nome)); };
    if (data.isValid())
        campo("DTINIGERAARQXML").SetAsDateTime(data.startOfDay());
    const auto copia = [&](const char *opcao, const char *nome) {
        if (args.Has(QString::fromLatin1(opcao)))
            campo(nome).SetAsString(args.Value(QString::fromLatin1(opcao)));
    };
    copia("xml-dir", "DSDIRARQXML");
    copia("php-dir", "DSDIRARQPHPGXML");
    copia("php-install-dir", "DSDIRINSTALAPHP");

    const TMessages msg(MensagensParamGeraArqAuto());
    if (campo("DTINIGERAARQXML").IsNull())
        throw EUsage(msg.Msg(QStringLiteral("DTINI_INF")));
    if (EmptyString(campo("DSDIRARQXML").AsString()))
        throw EUsage(msg.Msg(QStringLiteral("DIRARQXML_INF")));
    if (EmptyString(campo("DSDIRARQPHPGXML").AsString()))
        throw EUsage(msg.Msg(QStringLiteral("DIRARQPHP_INF")));
    if (EmptyString(campo("DSDIRINSTALAPHP").AsString()))
        throw EUsage(msg.Msg(QStringLiteral("DIRINSPHP_INF")));
    if (args.Has(QStringLiteral("zip")))
        campo("IDENVARQCMP").SetAsString(QStringLiteral("S"));
    else if (args.Has(QStringLiteral("no-zip")))
        campo("IDENVARQCMP").SetAsString(QStringLiteral("N"));
    else if (campo("IDENVARQCMP").AsString() != QLatin1String("S"))
        campo("IDENVARQCMP").SetAsString(QStringLiteral("N"));
    const QString script = DirScriptComBarra(campo("DSDIRARQPHPGXML").AsString());
    if (script.size() > kTamDiretorioParam)
        throw EUsage(msg.Msg(QStringLiteral("DIRARQPHP_TAM")));
    campo("DSDIRARQPHPGXML").SetAsString(script);
    cds.Post();
    {
        BusyGuard ocupado;
        CheckResultServ(net->Call(QStringLiteral("setParamGeral"), {QVariant::fromValue(cds.Delta())}));
    }
    cds.MergeChangeLog();
    Mostra(cds);
    return 0;
}

QString AjudaParams()
{
    return QStringLiteral(
        "Uso: vnd04400 params show\n"
        "     vnd04400 params set [--from-date AAAA-MM-DD] [--xml-dir PASTA] [--php-dir PASTA]\n"
        "                         [--php-install-dir PASTA] [--zip | --no-zip]\n"
        "Mostra ou altera os parâmetros da geração automática de arquivos XML no servidor.\n"
        "Os valores não informados ficam como estão; todos devem estar preenchidos ao final.\n");
}

} // namespace vnd::cli
