#include "cli/exportar.h"

#include "cli/cliargs.h"
#include "cli/conexao.h"
#include "cli/mensagens.h"
#include "export/core/documentsource.h"
#include "export/core/geraxmllocal.h"
#include "export/core/salelist.h"
#include "export/ui/listanotas.h"
#include "host/errors.h"
#include "host/hostutil.h"
#include "host/platform.h"
#include "host/session.h"
#include "host/ui/pesquisalista.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

namespace vnd::cli
{

namespace
{

const QString kT = QStringLiteral("T");

// "0001,0002" as a selection text of codes of width n; an option given empty stays empty, which the
// checks refuse as the screen refuses an empty list.
QString Selecao(const QString &lista, int n, const QString &campo)
{
    QStringList codigos;
    for (const QString &parte : lista.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString codigo = parte.trimmed();
        if (codigo.isEmpty())
            continue;
        if (n > 0 && codigo.size() > n)
            throw EUsage(
                QStringLiteral("%1: código \"%2\" tem mais de %3 caracteres.").arg(campo, codigo).arg(n));
        if (codigo.contains(QLatin1Char('_')))
            throw EUsage(QStringLiteral("%1: código inválido \"%2\".").arg(campo, codigo));
        codigos << (n > 0 ? Ajusta(codigo, n) : codigo);
    }
    return BuildSelection(codigos);
}

QDate Data(const TArgs &args, const QString &opcao, const QString &vazia)
{
    const QString texto = args.Value(opcao).trimmed();
    if (texto.isEmpty())
        throw EUsage(vazia);
    QDate data = QDate::fromString(texto, Qt::ISODate);
    if (!data.isValid())
        data = QDate::fromString(texto, QStringLiteral("dd/MM/yyyy"));
    if (!data.isValid())
        throw EUsage(texto + QLatin1Char(' ') + MensagensFiltro().Msg(QStringLiteral("N_DT_VAL")));
    return data;
}

} // namespace

void PreencheFiltroExport(const TArgs &args, TClientDataSet &cdsDadosFiltro)
{
    const TMessages &msg = MensagensFiltro();
    const auto lista = [&](const char *opcao, int n, const char *chaveVazia) {
        const QString nome = QString::fromLatin1(opcao);
        if (!args.Has(nome))
            return kT;
        const QString sel = Selecao(args.Value(nome), n, QStringLiteral("--") + nome);
        if (sel.isEmpty())
            throw EUsage(msg.Msg(QString::fromLatin1(chaveVazia)));
        return sel;
    };
    // The screen's order of checks: branches, registers, period, customers, receipt types, situation.
    QString filial = lista("branches", 4, "Filial_deve");
    if (Quorvel::ModuFili) {
        // A one-branch operator's filter always holds that branch alone, as the screen fixes it.
        const QString propria = BuildSelection({Quorvel::FiliProc});
        if (filial != kT && filial != propria)
            throw EUsage(QStringLiteral("O operador trabalha somente na filial %1.").arg(Quorvel::FiliProc));
        filial = propria;
    }
    const QString caixa = lista("registers", 7, "Caixa_deve");
    if (caixa != kT) {
        for (const QString &c : ParseSelection(caixa))
            if (c.size() != 7)
                throw EUsage(QStringLiteral("--registers: informe filial e caixa juntos (7 dígitos): \"%1\".")
                                 .arg(c.trimmed()));
    }
    const QDate de = Data(args, QStringLiteral("from"), msg.Msg(QStringLiteral("Data_de_deve")));
    const QDate ate = Data(args, QStringLiteral("to-date"), msg.Msg(QStringLiteral("Data_ate_deve")));
    if (de > ate)
        throw EUsage(msg.Msg(QStringLiteral("DT_MENOR")));
    const QString cliente = lista("customers", 0, "Cliente_deve");
    const QString tipoRece = lista("receipt-types", 0, "Tipo_Rece_deve");

    const QString sit = args.Value(QStringLiteral("situation"), QStringLiteral("AC")).trimmed().toUpper();
    QString situacao;
    if (sit.isEmpty())
        throw EUsage(msg.Msg(QStringLiteral("SITU_INF")));
    if (sit == QLatin1String("A"))
        situacao = QStringLiteral("A");
    else if (sit == QLatin1String("C"))
        situacao = QStringLiteral("_C");
    else if (sit == QLatin1String("AC") || sit == QLatin1String("CA"))
        situacao = QStringLiteral("A_C");
    else
        throw EUsage(QStringLiteral("--situation: use A, C ou AC (recebido \"%1\").").arg(sit));

    QString nota = kT;
    if (args.Has(QStringLiteral("invoice"))) {
        nota = args.Value(QStringLiteral("invoice")).trimmed();
        static const QRegularExpression numero(QStringLiteral("^[0-9]{1,9}$"));
        if (!numero.match(nota).hasMatch())
            throw EUsage(QStringLiteral("--invoice: número da nota fiscal inválido \"%1\" (até 9 dígitos).")
                             .arg(nota));
    }

    if (cdsDadosFiltro.Active())
        cdsDadosFiltro.EmptyDataSet();
    else
        cdsDadosFiltro.CreateDataSet();
    cdsDadosFiltro.Append();
    cdsDadosFiltro.FieldByName(QStringLiteral("FILIAL")).SetAsString(filial);
    cdsDadosFiltro.FieldByName(QStringLiteral("CAIXA")).SetAsString(caixa);
    cdsDadosFiltro.FieldByName(QStringLiteral("CLIENTE")).SetAsString(cliente);
    cdsDadosFiltro.FieldByName(QStringLiteral("TIPORECE")).SetAsString(tipoRece);
    cdsDadosFiltro.FieldByName(QStringLiteral("DATAINI")).SetAsDateTime(QDateTime(de, QTime(0, 0)));
    cdsDadosFiltro.FieldByName(QStringLiteral("DATAFIM")).SetAsDateTime(QDateTime(ate, QTime(0, 0)));
    cdsDadosFiltro.FieldByName(QStringLiteral("SITUACAONF")).SetAsString(situacao);
    cdsDadosFiltro.FieldByName(QStringLiteral("NRNOTAFISCAL")).SetAsString(nota);
    cdsDadosFiltro.Post();
}

int MarcaChaves(TClientDataSet &cdsNotas, const QString &arquivoChaves)
{
    QFile arquivo(arquivoChaves);
    if (!arquivo.open(QIODevice::ReadOnly | QIODevice::Text))
        throw Exception(QStringLiteral("Arquivo de chaves não encontrado: %1").arg(arquivoChaves));
    QStringList chaves;
    QSet<QString> pedidas;
    for (const QByteArray &bruta : arquivo.readAll().split('\n')) {
        const QString linha = QString::fromUtf8(bruta).trimmed();
        if (linha.isEmpty() || linha.startsWith(QLatin1Char('#')))
            continue;
        if (!pedidas.contains(linha))
            chaves << linha;
        pedidas.insert(linha);
    }
    if (chaves.isEmpty())
        throw Exception(
            QStringLiteral("Arquivo de chaves sem nenhuma chave de acesso: %1").arg(arquivoChaves));

    // Every key is checked before any tick: a wrong key must not turn into a partial export.
    QSet<QString> encontradas;
    QList<int> linhas;
    const TField chave = cdsNotas.FieldByName(QStringLiteral("NRACESSONFCE"));
    for (cdsNotas.First(); !cdsNotas.Eof(); cdsNotas.Next())
        if (pedidas.contains(chave.AsString())) {
            encontradas.insert(chave.AsString());
            linhas << cdsNotas.RecNo();
        }
    QStringList faltam;
    for (const QString &c : chaves)
        if (!encontradas.contains(c))
            faltam << c;
    if (!faltam.isEmpty())
        throw Exception(QStringLiteral("Chave(s) de acesso de %1 fora da lista do filtro: %2")
                            .arg(arquivoChaves, faltam.join(QStringLiteral(", "))));
    cdsNotas.DisableControls();
    for (int linha : linhas) {
        cdsNotas.SetRecNo(linha);
        cdsNotas.Edit();
        cdsNotas.FieldByName(QStringLiteral("IDCHECK")).SetAsString(QStringLiteral("S"));
        cdsNotas.Post();
    }
    cdsNotas.EnableControls();
    cdsNotas.First();
    return linhas.size();
}

int ComandoExport(const QStringList &argv)
{
    TArgs args(OpcoesConexao() + QStringList{"to", "branches", "registers", "from", "to-date", "situation",
                                             "invoice", "customers", "receipt-types", "keys"},
               FlagsComuns() + QStringList{"zip", "on-server", "summary-only"});
    args.Parse(argv);
    if (!args.Positional().isEmpty())
        throw EUsage(QStringLiteral("Argumento inesperado: %1").arg(args.Positional().first()));
    const QString destino = args.Value(QStringLiteral("to")).trimmed();
    if (destino.isEmpty())
        throw EUsage(QStringLiteral("Informe a pasta de destino com --to PASTA."));

    const bool soResumo = args.Has(QStringLiteral("summary-only"));
    if (soResumo && args.Has(QStringLiteral("on-server")))
        throw EUsage(QStringLiteral("--summary-only grava o resumo nesta máquina e não se usa com --on-server."));

    // The session first: a one-branch operator's filter depends on it.
    AplicaSessao(args);
    TClientDataSet cdsDadosFiltro, cdsNotas, cdsNotasTemp, cdsNotasPenRej;
    DefineDadosFiltro(cdsDadosFiltro);
    PreencheFiltroExport(args, cdsDadosFiltro);
    std::unique_ptr<TNetConnection> net = Conecta();
    DefineCdsNotas(cdsNotas);
    DefineCdsNotas(cdsNotasTemp);

    const TMessages &msg = MensagensGeraXml();
    TTextosGeraXml textos;
    TBuscaNotas busca(*net, cdsNotas, cdsNotasTemp, cdsNotasPenRej);
    busca.BuscaPaginas(cdsDadosFiltro, textos);
    if (busca.BuscaPendentes(cdsDadosFiltro, textos) > 0)
        Platform().Info(msg.Msg(QStringLiteral("Nota_Pen_Rej")));

    if (args.Has(QStringLiteral("keys"))) {
        MarcaChaves(cdsNotas, args.Value(QStringLiteral("keys")));
    } else {
        int marcadas = 0;
        MarcaDesmarcaTodas(cdsNotas, marcadas);
    }
    if (!LocalizaMarcada(cdsNotas))
        MensErro(msg.Msg(QStringLiteral("Nenh_Sele")));

    const bool compacta = args.Has(QStringLiteral("zip"));
    bool gerado = false;
    ExportSummary resumo;
    if (args.Has(QStringLiteral("on-server"))) {
        BusyGuard ocupado;
        // Only the ticked rows' keys travel: the server reads everything else from its own database.
        const QVariantList params{QVariant::fromValue(TickedKeysPacket(cdsNotas)), destino, iif(compacta, "S", "N"),
                                  false};
        gerado = CheckResultServ(net->Call(QStringLiteral("geraXml"), params)).toBool();
    } else {
        // The folder dialog creates a typed folder; the command line creates it as well.
        if (!QDir().mkpath(destino))
            throw Exception(QStringLiteral("Não foi possível criar a pasta de destino: %1").arg(destino));
        BusyGuard ocupado;
        // The list holds its rows without their documents: they are read from the server in batches.
        RemoteDocumentSource documentos(*net);
        gerado = GeraXmlLocal(cdsNotas, QDir(destino).absolutePath(), compacta, nullptr, &resumo, soResumo,
                              &documentos);
    }
    if (!gerado)
        MensErro(msg.Msg(QStringLiteral("Xml_Err")));
    if (soResumo)
        Platform().Info(QStringLiteral("Resumo de %1 venda(s) gravado, sem os arquivos XML: %2")
                            .arg(resumo.sales)
                            .arg(resumo.summaryFiles.join(QStringLiteral(", "))));
    else
        Platform().Info(msg.Msg(QStringLiteral("Xml_Ok")));
    // A file whose signature does not verify is written all the same: the accountant must see it named.
    if (resumo.invalidSignatureCount > 0) {
        Platform().Info(QStringLiteral("%1 arquivo(s) com assinatura inválida:").arg(resumo.invalidSignatureCount));
        for (const QString &item : resumo.invalidSignatures)
            Platform().Info(QStringLiteral("  assinatura inválida: ") + item);
        if (resumo.invalidSignatureCount > resumo.invalidSignatures.size())
            Platform().Info(QStringLiteral("  e mais %1; o resumo CSV da pasta nomeia todos.")
                                .arg(resumo.invalidSignatureCount - resumo.invalidSignatures.size()));
    }
    // Nothing here holds the issuer's certificate: an event rebuilt from columns is not signed.
    if (!resumo.unsignedEvents.isEmpty())
        Platform().Info(QStringLiteral("%1 evento(s) de cancelamento reconstruído(s) sem assinatura (o XML "
                                       "armazenado do evento não foi encontrado).")
                            .arg(resumo.unsignedEvents.size()));
    return 0;
}

QString AjudaExport()
{
    return QStringLiteral(
        "Uso: vnd04400 export --to PASTA --from AAAA-MM-DD --to-date AAAA-MM-DD [opções]\n"
        "Gera os arquivos XML (NFC-e, cancelamento, SAT) das vendas do filtro.\n\n"
        "  --to PASTA             pasta de destino (no servidor, com --on-server)\n"
        "  --zip                  compacta os arquivos em ZIP (até 1000 arquivos cada)\n"
        "  --on-server            o servidor de aplicação grava os arquivos\n"
        "  --branches 0001,0002   filiais (padrão: todas)\n"
        "  --registers 0001001    caixas, filial e caixa juntos (padrão: todos)\n"
        "  --from DATA            data inicial (AAAA-MM-DD ou DD/MM/AAAA)\n"
        "  --to-date DATA         data final\n"
        "  --situation A|C|AC     situação na SEFAZ: autorizada, cancelada ou ambas (padrão: AC)\n"
        "  --invoice N            número da nota fiscal\n"
        "  --customers C1,C2      clientes (padrão: todos)\n"
        "  --receipt-types T1,T2  tipos de recebimento (padrão: todos)\n"
        "  --keys ARQUIVO         gera só as chaves de acesso listadas (uma por linha)\n"
        "  --summary-only         grava só o resumo (CSV e PDF) do que seria exportado, para conferência\n"
        "  --quiet                sem progresso\n");
}

} // namespace vnd::cli
