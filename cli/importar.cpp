#include "cli/importar.h"

#include "cli/cliargs.h"
#include "cli/conexao.h"
#include "cli/mensagens.h"
#include "host/errors.h"
#include "host/hostutil.h"
#include "host/platform.h"
#include "host/query.h"
#include "import/importacaoxml.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <algorithm>

namespace vnd::cli
{

namespace
{

// Columns of the log as the viewer shows them; the batch and sequence numbers say nothing to a reader.
const QStringList kColunasLog = {QStringLiteral("IDTPVALIDXML"),   QStringLiteral("NMARQXML"),
                                 QStringLiteral("CDFILIAL"),       QStringLiteral("CDCAIXA"),
                                 QStringLiteral("NRNOTAFISCALCE"), QStringLiteral("NRACESSONFCE"),
                                 QStringLiteral("CDPRODUTO"),      QStringLiteral("NMPRODUTO"),
                                 QStringLiteral("DSERROXML"),      QStringLiteral("DSAJUDAXML")};

QVariant Consulta(const QString &sql, const QVariantList &binds, const QString &coluna)
{
    QSqlQuery q(HostDatabase());
    if (!q.prepare(sql))
        throw Exception(QStringLiteral("Erro ao consultar o banco de dados: %1").arg(q.lastError().text()));
    for (const QVariant &b : binds)
        q.addBindValue(b);
    if (!q.exec())
        throw Exception(QStringLiteral("Erro ao consultar o banco de dados: %1").arg(q.lastError().text()));
    return q.next() ? q.value(coluna) : QVariant();
}

QString Csv(QString texto)
{
    if (texto.contains(QLatin1Char(';')) || texto.contains(QLatin1Char('"')) ||
        texto.contains(QLatin1Char('\n')))
        return QLatin1Char('"') + texto.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    return texto;
}

} // namespace

QString FilialCaixaPadrao(const QString &filial, const QString &caixa)
{
    const TMessages &msg = MensagensFiltroImport();
    if (filial.trimmed().isEmpty() && caixa.trimmed().isEmpty())
        return {};
    if (filial.trimmed().isEmpty())
        throw EUsage(msg.Msg(QStringLiteral("FILI_INF")));
    if (caixa.trimmed().isEmpty())
        throw EUsage(msg.Msg(QStringLiteral("CAIXA_INF")));
    const QString cdFilial = Ajusta(filial.trimmed(), 4);
    const QString cdCaixa = Ajusta(caixa.trimmed(), 3);
    const QVariant empresa = Consulta(QStringLiteral("SELECT CDEMPRESA FROM FILIAL WHERE CDFILIAL = ?"),
                                      {cdFilial}, QStringLiteral("CDEMPRESA"));
    if (!empresa.isValid())
        throw EUsage(msg.Msg(QStringLiteral("FILI_N_CAD")) + QStringLiteral(" (--branch %1)").arg(cdFilial));
    const QVariant achado =
        Consulta(QStringLiteral("SELECT CDCAIXA FROM CAIXA WHERE CDFILIAL = ? AND CDCAIXA = ?"),
                 {cdFilial, cdCaixa}, QStringLiteral("CDCAIXA"));
    if (!achado.isValid())
        throw EUsage(msg.Msg(QStringLiteral("CAIXA_N_CAD")) +
                     QStringLiteral(" (--register %1)").arg(cdCaixa));
    return cdFilial + cdCaixa + empresa.toString();
}

QString FormataLog(TClientDataSet &cds, const QString &formato)
{
    QStringList colunas;
    for (const QString &c : kColunasLog)
        if (cds.FieldIndex(c) >= 0)
            colunas << c;
    QList<QStringList> linhas;
    QStringList cabecalho;
    for (const QString &c : colunas)
        cabecalho << cds.FieldByName(c).DisplayLabel();
    linhas << cabecalho;
    const int atual = cds.RecNo();
    for (cds.First(); !cds.Eof(); cds.Next()) {
        QStringList linha;
        for (const QString &c : colunas)
            linha << cds.FieldByName(c).DisplayText().simplified();
        linhas << linha;
    }
    if (atual >= 0 && !cds.IsEmpty())
        cds.SetRecNo(atual);

    QString saida;
    if (formato == QLatin1String("csv")) {
        for (QStringList linha : linhas) {
            for (QString &campo : linha)
                campo = Csv(campo);
            saida += linha.join(QLatin1Char(';')) + QLatin1Char('\n');
        }
        return saida;
    }
    QList<int> largura(colunas.size(), 0);
    for (const QStringList &linha : linhas)
        for (int i = 0; i < linha.size(); ++i)
            largura[i] = std::max<int>(largura[i], linha.at(i).size());
    for (const QStringList &linha : linhas) {
        QString texto;
        for (int i = 0; i < linha.size(); ++i)
            texto += (i ? QStringLiteral(" | ") : QString()) + linha.at(i).leftJustified(largura[i]);
        saida += texto.trimmed() + QLatin1Char('\n');
    }
    return saida;
}

int ComandoImport(const QStringList &argv)
{
    TArgs args(OpcoesConexao() + QStringList{"branch", "register", "log-format"}, FlagsComuns());
    args.Parse(argv);
    if (args.Positional().size() > 1)
        throw EUsage(QStringLiteral("Argumento inesperado: %1").arg(args.Positional().at(1)));
    const QString formato = args.Value(QStringLiteral("log-format"), QStringLiteral("table"));
    if (formato != QLatin1String("table") && formato != QLatin1String("csv"))
        throw EUsage(QStringLiteral("--log-format: use csv ou table (recebido \"%1\").").arg(formato));

    AplicaSessao(args);
    QString padrao;
    if (args.Has(QStringLiteral("branch")) || args.Has(QStringLiteral("register"))) {
        AbreBancoHost(args);
        padrao =
            FilialCaixaPadrao(args.Value(QStringLiteral("branch")), args.Value(QStringLiteral("register")));
    }
    if (args.Positional().isEmpty() || args.Positional().first().trimmed().isEmpty())
        throw EUsage(MensagensFiltroImport().Msg(QStringLiteral("DIR_INF")));
    const QFileInfo info(args.Positional().first());
    if (!info.isDir())
        throw EUsage(QStringLiteral("Pasta de importação não encontrada: %1").arg(args.Positional().first()));
    const QString pasta = info.absoluteFilePath() + QLatin1Char('/');

    std::unique_ptr<TNetConnection> net = Conecta();
    TImportacaoXml importacao(*net, MensagensGeraXml());
    importacao.stFilialCaixaPadrao = padrao;
    importacao.stDirXml = pasta;
    importacao.stDirXmlErro = pasta + QStringLiteral("Xml Erro/");
    importacao.stDirXmlProc = pasta + QStringLiteral("Xml Processados/");
    importacao.importaXml();

    if (!importacao.cdsPreValidXml.IsEmpty()) {
        QTextStream out(stdout);
        out << FormataLog(importacao.cdsPreValidXml, formato);
        out.flush();
    }
    // Every file the driver did not import whole counts, whatever lay in the error folder before.
    if (!importacao.ImportacaoCompleta()) {
        QTextStream err(stderr);
        for (const TImportacaoXml::ArquivoComErro &a : importacao.arquivosComErro)
            err << QStringLiteral("erro: %1%2: %3\n").arg(a.pasta, a.nome, a.motivo);
        for (const EntradaRecusada &e : importacao.entradasRecusadas)
            err << QStringLiteral("não lido: %1%2: %3\n").arg(importacao.stDirXml, e.nome, e.motivo);
        return 1;
    }
    return 0;
}

QString AjudaImport()
{
    return QStringLiteral(
        "Uso: vnd04400 import PASTA [--branch 0001 --register 001] [opções]\n"
        "Importa os arquivos XML da pasta; cada arquivo vai para \"Xml Processados\" ou \"Xml Erro\".\n\n"
        "  --branch F             filial usada quando o servidor não encontra a do documento\n"
        "  --register C           caixa dessa filial (informe os dois ou nenhum)\n"
        "  --log-format csv|table formato do log de validação (padrão: table)\n"
        "  --quiet                sem progresso\n");
}

} // namespace vnd::cli
