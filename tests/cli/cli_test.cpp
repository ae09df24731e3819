// vnd04400 as a scheduler runs it: a process with options, against a real server on a loopback port
// with a seeded SQLite database; its files, folders, texts and exit codes.
#include "cli/exportar.h"
#include "cli/importar.h"
#include "export/core/geraxmllocal.h"
#include "export/core/salelist.h"
#include "export/ui/listanotas.h"
#include "server/docgen/docgen.h"
#include "tests/support/server_fixture.h"
#include "tests/support/testutil.h"

#include "cli/cliargs.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace
{

const QString kDe = QStringLiteral("2026-11-01");
const QString kAte = QStringLiteral("2026-11-30");

struct Saida {
    int codigo = -1;
    QString out, err;
};

vndtest::ServerFixture &Servidor()
{
    return vndtest::SharedServer(
        {QStringLiteral("--sales"), QStringLiteral("120"), QStringLiteral("--from"), kDe, QStringLiteral("--to"), kAte});
}

QVariant Consulta(const QString &sql, const QVariantList &binds = {})
{
    QSqlQuery q(Servidor().Database());
    if (!q.prepare(sql))
        throw std::runtime_error(q.lastError().text().toStdString());
    for (const QVariant &b : binds)
        q.addBindValue(b);
    if (!q.exec())
        throw std::runtime_error(q.lastError().text().toStdString());
    return q.next() ? q.value(0) : QVariant();
}

QString ArquivoToken()
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("token"));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(Servidor().Token().toUtf8() + '\n');
    return path;
}

// Runs the program with the server's connection in the environment, as a crontab would set it.
Saida Roda(const QStringList &args, const QString &token = {},
           const QList<QPair<const char *, const char *>> &extra = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto &[name, value] : extra)
        env.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    env.insert(QStringLiteral("VND_SERVER_HOST"), QStringLiteral("127.0.0.1"));
    env.insert(QStringLiteral("VND_SERVER_PORT"), QString::number(Servidor().Port()));
    env.insert(QStringLiteral("VND_TOKEN_FILE"), token.isEmpty() ? ArquivoToken() : token);
    env.insert(QStringLiteral("VND_DB_URL"), Servidor().DbUrl());
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VND_CLI_FILE), args);
    p.waitForFinished(600000);
    Saida s;
    s.codigo = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    s.out = QString::fromUtf8(p.readAllStandardOutput());
    s.err = QString::fromUtf8(p.readAllStandardError());
    return s;
}

// Relative path -> SHA-256 of every file under dir, but the export's summary, which names its own time.
QMap<QString, QByteArray> Arquivos(const QString &dir)
{
    QMap<QString, QByteArray> mapa;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileName().startsWith(QLatin1String("resumo-")))
            continue;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        mapa.insert(QDir(dir).relativeFilePath(path),
                    QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256));
    }
    return mapa;
}

std::string S(const Saida &s)
{
    return (s.out + QStringLiteral(" / ") + s.err).toStdString();
}

class Cli : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        // Sales still waiting for the tax authority make every fetch warn; the warning test makes its own.
        Consulta(QStringLiteral("UPDATE VENDA SET IDSTATUSNFCE = 'X' WHERE IDSTATUSNFCE IN ('P', 'R')"));
    }
    QTemporaryDir tmp;
    QString Pasta(const QString &nome) const { return tmp.filePath(nome); }
};

TEST_F(Cli, ExportWritesWhatTheScreenFreeLogicWrites)
{
    const Saida s =
        Roda({QStringLiteral("export"), QStringLiteral("--to"), Pasta(QStringLiteral("cli")),
              QStringLiteral("--from"), kDe, QStringLiteral("--to-date"), kAte, QStringLiteral("--quiet")});
    ASSERT_EQ(s.codigo, 0) << S(s);
    EXPECT_TRUE(s.out.contains(QStringLiteral("Arquivo(s) Xml gerado(s) com sucesso."))) << S(s);
    EXPECT_FALSE(s.out.contains(QStringLiteral("pendente/rejeitada")));

    // The same filter through the list fetch and file assembly the main screen uses, with the documents
    // in the list as it held them before: the command line reads them by key, in batches, and writes the
    // same files.
    vnd::cli::TArgs args(vnd::cli::OpcoesConexao() + QStringList{"from", "to-date"}, {});
    args.Parse({QStringLiteral("--from"), kDe, QStringLiteral("--to-date"), kAte});
    TClientDataSet filtro, notas, temp, penRej;
    vnd::DefineDadosFiltro(filtro);
    vnd::cli::PreencheFiltroExport(args, filtro);
    vnd::DefineCdsNotas(notas);
    vnd::DefineCdsNotas(temp);
    vnd::TTextosGeraXml textos;
    vnd::TBuscaNotas busca(Servidor().Connection(), notas, temp, penRej);
    busca.ComDocumentos = true;
    busca.BuscaPaginas(filtro, textos);
    ASSERT_GT(notas.RecordCount(), 0);
    int marcadas = 0;
    vnd::MarcaDesmarcaTodas(notas, marcadas);
    ASSERT_TRUE(vnd::GeraXmlLocal(notas, Pasta(QStringLiteral("logica")), false));

    const auto cli = Arquivos(Pasta(QStringLiteral("cli")));
    EXPECT_EQ(cli, Arquivos(Pasta(QStringLiteral("logica"))));
    EXPECT_GE(cli.size(), notas.RecordCount());
}

TEST_F(Cli, TheDemoDatabaseExportsBothLayoutsEachValidForItsOwn)
{
    const QString schemas = vndtest::SchemasDir();
    if (schemas.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xmllint")).isEmpty())
        GTEST_SKIP() << "official schemas or xmllint not found";
    const Saida s =
        Roda({QStringLiteral("export"), QStringLiteral("--to"), Pasta(QStringLiteral("demo")),
              QStringLiteral("--from"), kDe, QStringLiteral("--to-date"), kAte, QStringLiteral("--quiet")});
    ASSERT_EQ(s.codigo, 0) << S(s);
    QStringList byLayout[2];
    int alphanumeric = 0;
    QDirIterator it(Pasta(QStringLiteral("demo")), {QStringLiteral("*-pro-rec.xml")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray head = f.read(200);
        byLayout[head.contains("versao=\"4.00\"") ? 1 : 0] << path;
        alphanumeric += QFileInfo(path).fileName().mid(10, 12).contains(QRegularExpression(QStringLiteral("[A-Z]"))) ? 1 : 0;
    }
    ASSERT_FALSE(byLayout[0].isEmpty());
    ASSERT_FALSE(byLayout[1].isEmpty());
    EXPECT_GT(alphanumeric, 0);
    // The end of the run counts the cancellation events rebuilt without a signature.
    int unsignedEvents = 0;
    QDirIterator events(Pasta(QStringLiteral("demo")), {QStringLiteral("*-pro-can.xml")}, QDir::Files,
                        QDirIterator::Subdirectories);
    while (events.hasNext()) {
        QFile f(events.next());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        unsignedEvents += f.readAll().contains("<Signature") ? 0 : 1;
    }
    ASSERT_GT(unsignedEvents, 0);
    EXPECT_TRUE(s.out.contains(QStringLiteral("%1 evento(s) de cancelamento reconstruído(s) sem assinatura").arg(unsignedEvents)))
        << S(s);
    const char *schema[2] = {"/nfe310/procNFe_v3.10.xsd", "/nfe400/procNFe_v4.00.xsd"};
    for (int layout = 0; layout < 2; ++layout) {
        QProcess lint;
        lint.setProcessChannelMode(QProcess::MergedChannels);
        lint.start(QStringLiteral("xmllint"), QStringList{QStringLiteral("--noout"), QStringLiteral("--schema"),
                                                          schemas + QLatin1String(schema[layout])} +
                                                  byLayout[layout]);
        ASSERT_TRUE(lint.waitForFinished(120000));
        for (const QString &line : QString::fromUtf8(lint.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            EXPECT_TRUE(line.endsWith(QLatin1String(" validates"))) << line.toStdString();
    }
}

TEST_F(Cli, ExportZipAndChosenKeys)
{
    Saida s =
        Roda({QStringLiteral("export"), QStringLiteral("--to"), Pasta(QStringLiteral("zip")),
              QStringLiteral("--zip"), QStringLiteral("--from"), kDe, QStringLiteral("--to-date"), kAte});
    ASSERT_EQ(s.codigo, 0) << S(s);
    const auto zip = Arquivos(Pasta(QStringLiteral("zip")));
    ASSERT_FALSE(zip.isEmpty());
    for (const QString &nome : zip.keys())
        EXPECT_TRUE(nome.startsWith(QStringLiteral("ArquivosXML_")) && nome.endsWith(QStringLiteral(".zip")))
            << nome.toStdString();
    // Progress goes to standard error, never into the printed result.
    EXPECT_FALSE(s.out.contains(QRegularExpression(QStringLiteral("\\d+ de \\d+")))) << S(s);

    const QString chave =
        Consulta(QStringLiteral("SELECT MIN(NRACESSONFCE) FROM VENDA WHERE IDTPEMISVEND = 'N' AND "
                                "IDSTATUSNFCE = 'A' AND IDSITUVENDA = 'O'"))
            .toString();
    ASSERT_FALSE(chave.isEmpty());
    QFile chaves(Pasta(QStringLiteral("chaves.txt")));
    ASSERT_TRUE(chaves.open(QIODevice::WriteOnly));
    chaves.write("# uma nota\n\n" + chave.toLatin1() + "\n");
    chaves.close();
    s = Roda({QStringLiteral("export"), QStringLiteral("--to"), Pasta(QStringLiteral("chave")),
              QStringLiteral("--keys"), chaves.fileName(), QStringLiteral("--from"), kDe,
              QStringLiteral("--to-date"), kAte});
    ASSERT_EQ(s.codigo, 0) << S(s);
    const auto uma = Arquivos(Pasta(QStringLiteral("chave")));
    ASSERT_EQ(uma.size(), 1);
    EXPECT_TRUE(uma.firstKey().contains(chave)) << uma.firstKey().toStdString();

    // A key outside the filter's list stops the run before anything is written.
    ASSERT_TRUE(chaves.open(QIODevice::Append));
    chaves.write("35000000000000000000000000000000000000000000\n");
    chaves.close();
    s = Roda({QStringLiteral("export"), QStringLiteral("--to"), Pasta(QStringLiteral("nada")),
              QStringLiteral("--keys"), chaves.fileName(), QStringLiteral("--from"), kDe,
              QStringLiteral("--to-date"), kAte});
    EXPECT_EQ(s.codigo, 1) << S(s);
    EXPECT_TRUE(s.err.contains(QStringLiteral("35000000000000000000000000000000000000000000"))) << S(s);
    EXPECT_TRUE(Arquivos(Pasta(QStringLiteral("nada"))).isEmpty());
}

TEST_F(Cli, ExportOnTheServerAndPendingWarning)
{
    const QString chave =
        Consulta(QStringLiteral("SELECT MIN(NRACESSONFCE) FROM VENDA WHERE IDTPEMISVEND = 'N' AND "
                                "IDSTATUSNFCE = 'X'"))
            .toString();
    ASSERT_FALSE(chave.isEmpty());
    const QString filial =
        Consulta(QStringLiteral("SELECT CDFILIAL FROM VENDA WHERE NRACESSONFCE = ?"), {chave}).toString();
    Consulta(QStringLiteral("UPDATE VENDA SET IDSTATUSNFCE = 'P' WHERE NRACESSONFCE = ?"), {chave});
    const Saida s =
        Roda({QStringLiteral("export"), QStringLiteral("--to"), QStringLiteral("mensal"),
              QStringLiteral("--on-server"), QStringLiteral("--branches"), filial, QStringLiteral("--from"),
              kDe, QStringLiteral("--to-date"), kAte, QStringLiteral("--situation"), QStringLiteral("A")});
    Consulta(QStringLiteral("UPDATE VENDA SET IDSTATUSNFCE = 'X' WHERE NRACESSONFCE = ?"), {chave});
    ASSERT_EQ(s.codigo, 0) << S(s);
    EXPECT_TRUE(s.out.contains(
        QStringLiteral("Existem NFC-e pendente/rejeitada de transmissão para o filtro informado.")))
        << S(s);
    EXPECT_TRUE(s.out.endsWith(QStringLiteral("Arquivo(s) Xml gerado(s) com sucesso.\n"))) << S(s);
    EXPECT_FALSE(Arquivos(Servidor().ExportRoot() + QStringLiteral("/mensal")).isEmpty());

    // The server refuses a folder outside its export root: status 1 with its message.
    const Saida fora = Roda({QStringLiteral("export"), QStringLiteral("--to"), QStringLiteral("../fora"),
                             QStringLiteral("--on-server"), QStringLiteral("--from"), kDe,
                             QStringLiteral("--to-date"), kAte});
    EXPECT_EQ(fora.codigo, 1) << S(fora);
    EXPECT_FALSE(fora.err.isEmpty());
}

TEST_F(Cli, UsageErrorsAndFilterChecks)
{
    const auto exporta = [&](QStringList extra) {
        return Roda(
            QStringList{QStringLiteral("export"), QStringLiteral("--to"), Pasta(QStringLiteral("x"))} +
            extra);
    };
    const QList<std::pair<QStringList, QString>> casos = {
        {{QStringLiteral("--to-date"), kAte}, QStringLiteral("Data inicial deve ser informada.")},
        {{QStringLiteral("--from"), kDe}, QStringLiteral("Data final deve ser informada.")},
        {{QStringLiteral("--from"), kAte, QStringLiteral("--to-date"), kDe},
         QStringLiteral("Data final deve ser maior que data inicial.")},
        {{QStringLiteral("--from"), QStringLiteral("2026-02-30"), QStringLiteral("--to-date"), kDe},
         QStringLiteral("2026-02-30 não é uma data válida.")},
        {{QStringLiteral("--from"), kDe, QStringLiteral("--to-date"), kAte, QStringLiteral("--situation="),
          QString()},
         QStringLiteral("Situação da Venda na SEFAZ deve ser informada.")},
        {{QStringLiteral("--branches"), QStringLiteral(","), QStringLiteral("--from"), kDe,
          QStringLiteral("--to-date"), kAte},
         QStringLiteral("Filial deve ser informada.")},
        {{QStringLiteral("--from"), kDe, QStringLiteral("--to-date"), kAte, QStringLiteral("--invoice"),
          QStringLiteral("12a")},
         QStringLiteral("--invoice")},
        {{QStringLiteral("--desconhecida")}, QStringLiteral("Opção desconhecida: --desconhecida")},
    };
    for (const auto &[extra, texto] : casos) {
        QStringList args = extra;
        args.removeAll(QString());
        const Saida s = exporta(args);
        EXPECT_EQ(s.codigo, 2) << texto.toStdString() << ": " << S(s);
        EXPECT_TRUE(s.err.contains(texto)) << texto.toStdString() << ": " << S(s);
    }
    EXPECT_FALSE(QFileInfo::exists(Pasta(QStringLiteral("x"))));

    for (const QString &comando :
         {QStringLiteral("export"), QStringLiteral("import"), QStringLiteral("params")}) {
        const Saida ajuda = Roda({comando, QStringLiteral("--help")});
        EXPECT_EQ(ajuda.codigo, 0);
        EXPECT_TRUE(ajuda.out.startsWith(QStringLiteral("Uso: vnd04400 ") + comando)) << S(ajuda);
    }
    EXPECT_EQ(Roda({QStringLiteral("gerar")}).codigo, 2);

    // A wrong token: the server refuses the call.
    QFile errado(Pasta(QStringLiteral("token-errado")));
    ASSERT_TRUE(errado.open(QIODevice::WriteOnly));
    errado.write("nao-e-o-token\n");
    errado.close();
    const Saida recusa = Roda({QStringLiteral("export"), QStringLiteral("--to"), Pasta(QStringLiteral("y")),
                               QStringLiteral("--from"), kDe, QStringLiteral("--to-date"), kAte},
                              errado.fileName());
    EXPECT_EQ(recusa.codigo, 1) << S(recusa);
}

TEST_F(Cli, ImportFilesEachSourceAndPrintsTheLog)
{
    vnd::docgen::Generator gen(1);
    gen.SetClock(QDateTime(QDate(2019, 5, 6), QTime(9, 0)));
    vnd::docgen::SaleOptions opcoes;
    opcoes.kind = vnd::docgen::DocKind::Nfce;
    opcoes.status = vnd::docgen::NfceStatus::Authorized;
    const QList<vnd::docgen::Sale> vendas = gen.MakeSales(2, opcoes);
    const QString dir = Pasta(QStringLiteral("entrada"));
    QDir().mkpath(dir);
    for (const auto &venda : vendas) {
        QFile f(dir + QLatin1Char('/') + venda.accessKey + QStringLiteral("-nfce.xml"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(vnd::docgen::ProcessedNfce(venda));
    }
    QFile quebrado(dir + QStringLiteral("/quebrado.xml"));
    ASSERT_TRUE(quebrado.open(QIODevice::WriteOnly));
    quebrado.write("<nfeProc><NFe>sem fim");
    quebrado.close();

    const Saida s =
        Roda({QStringLiteral("import"), dir, QStringLiteral("--log-format"), QStringLiteral("csv")});
    EXPECT_EQ(s.codigo, 1) << S(s);
    EXPECT_TRUE(s.out.contains(QStringLiteral("Foram importadas 2 notas de 3 arquivos/lotes de XML.")))
        << S(s);
    EXPECT_TRUE(s.err.contains(QStringLiteral("Xml Erro"))) << S(s);
    QStringList processados;
    for (const QString &nome : Arquivos(dir + QStringLiteral("/Xml Processados")).keys())
        processados << QFileInfo(nome).fileName();
    processados.sort();
    QStringList esperados;
    for (const auto &venda : vendas)
        esperados << venda.accessKey + QStringLiteral("-nfce.xml");
    esperados.sort();
    EXPECT_EQ(processados, esperados);
    bool quebradoNoErro = false;
    for (const QString &nome : Arquivos(dir + QStringLiteral("/Xml Erro")).keys())
        quebradoNoErro |= nome.endsWith(QStringLiteral("quebrado.xml"));
    EXPECT_TRUE(quebradoNoErro);
    EXPECT_EQ(Consulta(QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE NRACESSONFCE IN (?, ?)"),
                       {vendas[0].accessKey, vendas[1].accessKey})
                  .toInt(),
              2);

    // The same folder again: nothing left to import, and that is no failure.
    const Saida vazia = Roda({QStringLiteral("import"), dir});
    EXPECT_EQ(vazia.codigo, 0) << S(vazia);
    EXPECT_TRUE(vazia.out.contains(QStringLiteral("Não foi encontrado nenhum XML."))) << S(vazia);

    // The same broken file once more, under an English locale: its copy in the error folder is replaced
    // by the same bytes, and the run still fails; the log's dates keep the screens' form.
    ASSERT_TRUE(quebrado.open(QIODevice::WriteOnly));
    quebrado.write("<nfeProc><NFe>sem fim");
    quebrado.close();
    const Saida denovo = Roda({QStringLiteral("import"), dir}, {}, {{"LC_ALL", "en_US.UTF-8"}, {"LANG", "en_US.UTF-8"}});
    EXPECT_EQ(denovo.codigo, 1) << S(denovo);
    EXPECT_TRUE(denovo.err.contains(QStringLiteral("quebrado.xml"))) << S(denovo);
    QString log;
    for (const QString &nome : Arquivos(dir + QStringLiteral("/Xml Erro")).keys()) {
        if (nome.endsWith(QStringLiteral("quebrado.xml-log.txt"))) {
            QFile f(dir + QStringLiteral("/Xml Erro/") + nome);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            log = QString::fromUtf8(f.readAll());
        }
    }
    const QStringList linhas = log.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_GE(linhas.size(), 4) << log.toStdString();
    static const QRegularExpression data(QStringLiteral("^\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d - "));
    for (const QString &linha : linhas)
        EXPECT_TRUE(data.match(linha).hasMatch()) << linha.toStdString();
}

TEST_F(Cli, ImportNeverWaitsOnAFifoAndSaysWhatItLeft)
{
    const QString dir = Pasta(QStringLiteral("hostil"));
    QDir().mkpath(dir);
    if (::mkfifo(QFile::encodeName(dir + QStringLiteral("/caixa.xml")).constData(), 0600) != 0)
        GTEST_SKIP() << "this system makes no FIFO here";
    QFile::link(QStringLiteral("/dev/zero"), dir + QStringLiteral("/zero.xml"));
    const Saida s = Roda({QStringLiteral("import"), dir});
    EXPECT_EQ(s.codigo, 1) << S(s);
    EXPECT_TRUE(s.out.contains(QStringLiteral("Não foi encontrado nenhum XML."))) << S(s);
    EXPECT_TRUE(s.out.contains(QStringLiteral("2 entrada(s) da pasta não foram lidas"))) << S(s);
    EXPECT_TRUE(s.err.contains(QStringLiteral("caixa.xml")) && s.err.contains(QStringLiteral("zero.xml"))) << S(s);
    EXPECT_TRUE(QFileInfo(dir + QStringLiteral("/zero.xml")).isSymLink());
}

TEST_F(Cli, ImportFilterChecks)
{
    const QString filial = Consulta(QStringLiteral("SELECT MIN(CDFILIAL) FROM FILIAL")).toString();
    const QList<std::pair<QStringList, QString>> casos = {
        {{QStringLiteral("--branch"), filial}, QStringLiteral("Caixa deve ser informado.")},
        {{QStringLiteral("--register"), QStringLiteral("001")}, QStringLiteral("Filial deve ser informada.")},
        {{QStringLiteral("--branch"), QStringLiteral("9999"), QStringLiteral("--register"),
          QStringLiteral("001")},
         QStringLiteral("Filial não cadastrada.")},
        {{QStringLiteral("--branch"), filial, QStringLiteral("--register"), QStringLiteral("999")},
         QStringLiteral("Caixa não cadastrado.")},
    };
    QDir().mkpath(Pasta(QStringLiteral("imp")));
    for (const auto &[extra, texto] : casos) {
        const Saida s = Roda(QStringList{QStringLiteral("import"), Pasta(QStringLiteral("imp"))} + extra);
        EXPECT_EQ(s.codigo, 2) << texto.toStdString() << ": " << S(s);
        EXPECT_TRUE(s.err.contains(texto)) << texto.toStdString() << ": " << S(s);
    }
    const Saida semPasta = Roda({QStringLiteral("import")});
    EXPECT_EQ(semPasta.codigo, 2);
    EXPECT_TRUE(semPasta.err.contains(QStringLiteral("Diretório deve ser informado."))) << S(semPasta);
    // A branch with its register, written short as users type them, is accepted.
    const QString caixa =
        Consulta(QStringLiteral("SELECT MIN(CDCAIXA) FROM CAIXA WHERE CDFILIAL = ?"), {filial}).toString();
    const Saida ok = Roda({QStringLiteral("import"), Pasta(QStringLiteral("imp")), QStringLiteral("--branch"),
                           filial, QStringLiteral("--register"), caixa});
    EXPECT_EQ(ok.codigo, 0) << S(ok);
}

TEST_F(Cli, ParamsSetAndShow)
{
    Saida s = Roda({QStringLiteral("params"), QStringLiteral("set"), QStringLiteral("--from-date"),
                    QStringLiteral("2026-01-02"), QStringLiteral("--xml-dir"), QStringLiteral("xml"),
                    QStringLiteral("--php-dir"), QStringLiteral("C:\\scripts"),
                    QStringLiteral("--php-install-dir"), QStringLiteral("C:\\php"), QStringLiteral("--zip")});
    ASSERT_EQ(s.codigo, 0) << S(s);
    s = Roda({QStringLiteral("params"), QStringLiteral("show")});
    ASSERT_EQ(s.codigo, 0) << S(s);
    EXPECT_TRUE(s.out.contains(QStringLiteral("DTINIGERAARQXML=2026-01-02"))) << S(s);
    EXPECT_TRUE(s.out.contains(QStringLiteral("DSDIRARQPHPGXML=C:\\scripts\\\n"))) << S(s);
    EXPECT_TRUE(s.out.contains(QStringLiteral("IDENVARQCMP=S"))) << S(s);

    // A value the dialog refuses changes nothing on the server.
    s = Roda({QStringLiteral("params"), QStringLiteral("set"), QStringLiteral("--xml-dir"),
              QStringLiteral("  "), QStringLiteral("--no-zip")});
    EXPECT_EQ(s.codigo, 2) << S(s);
    EXPECT_TRUE(
        s.err.contains(QStringLiteral("Diretório destino dos arquivos XML no servidor deve ser informado.")))
        << S(s);
    s = Roda({QStringLiteral("params"), QStringLiteral("set"), QStringLiteral("--php-dir"),
              QString(100, QLatin1Char('d'))});
    EXPECT_EQ(s.codigo, 2) << S(s);
    s = Roda({QStringLiteral("params"), QStringLiteral("show")});
    EXPECT_TRUE(s.out.contains(QStringLiteral("DSDIRARQXML=xml\n"))) << S(s);
    EXPECT_TRUE(s.out.contains(QStringLiteral("IDENVARQCMP=S"))) << S(s);
}

// A server reached over TLS: --tls with the authority's file, or the same from the settings file; a
// plain connection to it, or an unknown authority, is refused with status 1.
TEST_F(Cli, ReachesAServerOverTls)
{
    QString cert, key;
    if (!vndtest::MakeCertificate(tmp.path(), cert, key))
        GTEST_SKIP() << "comando openssl indisponível: TLS não testado";
    vndtest::ServerFixture servidor(vndtest::ServerFixture::Engine::SQLite,
                                    {QStringLiteral("--tls-cert"), cert, QStringLiteral("--tls-key"), key});
    const QString token = tmp.filePath(QStringLiteral("token-tls"));
    QFile f(token);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(servidor.Token().toUtf8() + '\n');
    f.close();
    const QString ini = tmp.filePath(QStringLiteral("host.ini"));
    QFile config(ini);
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("[server]\nhost=127.0.0.1\nport=" + QByteArray::number(servidor.Port()) + "\ntoken_file=" + token.toUtf8() +
                 "\ntls=S\nca_file=" + cert.toUtf8() + "\n");
    config.close();
    auto roda = [&](const QStringList &args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"VND_SERVER_HOST", "VND_SERVER_PORT", "VND_TOKEN_FILE", "VND_SERVER_TLS", "VND_CA_FILE"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("VND_DB_URL"), servidor.DbUrl());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VND_CLI_FILE), QStringList{QStringLiteral("params"), QStringLiteral("show")} + args);
        p.waitForFinished(60000);
        Saida s;
        s.codigo = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        s.out = QString::fromUtf8(p.readAllStandardOutput());
        s.err = QString::fromUtf8(p.readAllStandardError());
        return s;
    };
    const QStringList direto = {QStringLiteral("--server"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                                QString::number(servidor.Port()), QStringLiteral("--token-file"), token};
    Saida s = roda(direto + QStringList{QStringLiteral("--tls"), QStringLiteral("--ca-file"), cert});
    EXPECT_EQ(s.codigo, 0) << S(s);
    EXPECT_TRUE(s.out.contains(QStringLiteral("IDENVARQCMP="))) << S(s);
    s = roda({QStringLiteral("--config"), ini});
    EXPECT_EQ(s.codigo, 0) << S(s);
    s = roda(direto);
    EXPECT_EQ(s.codigo, 1) << S(s);
    s = roda(direto + QStringList{QStringLiteral("--tls")});
    EXPECT_EQ(s.codigo, 1) << S(s);
    EXPECT_TRUE(s.err.contains(QStringLiteral("TLS"))) << S(s);
}

} // namespace

TEST_F(Cli, SummaryOnlyWritesTheSummaryOfTheFilterAndNothingElse)
{
    const QString pasta = Pasta(QStringLiteral("conferencia"));
    const Saida s = Roda({QStringLiteral("export"), QStringLiteral("--to"), pasta, QStringLiteral("--from"), kDe,
                          QStringLiteral("--to-date"), kAte, QStringLiteral("--summary-only"), QStringLiteral("--quiet")});
    ASSERT_EQ(s.codigo, 0) << S(s);
    EXPECT_TRUE(s.out.contains(QStringLiteral("sem os arquivos XML"))) << S(s);
    EXPECT_FALSE(s.out.contains(QStringLiteral("Arquivo(s) Xml gerado(s) com sucesso."))) << S(s);
    const QStringList escritos = QDir(pasta).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    ASSERT_EQ(escritos.size(), 2) << escritos.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(escritos[0].startsWith(QLatin1String("resumo-")) && escritos[0].endsWith(QLatin1String(".csv")));
    EXPECT_TRUE(escritos[1].startsWith(QLatin1String("resumo-")) && escritos[1].endsWith(QLatin1String(".pdf")));

    // It names the very files, sizes and digests that the real export of the same filter writes, and
    // counts every sale of them.
    const Saida real = Roda({QStringLiteral("export"), QStringLiteral("--to"), Pasta(QStringLiteral("real")), QStringLiteral("--from"),
                             kDe, QStringLiteral("--to-date"), kAte, QStringLiteral("--quiet")});
    ASSERT_EQ(real.codigo, 0) << S(real);
    const auto escritosDeVerdade = Arquivos(Pasta(QStringLiteral("real")));
    QMap<QString, QByteArray> resumidos;
    int vendas = 0;
    for (const QString &linha :
         QString::fromUtf8(vndtest::ReadFile(QDir(pasta).filePath(escritos[0]))).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        const QStringList campos = linha.split(QLatin1Char(';'));
        if (campos[0] == QLatin1String("movimento"))
            vendas += campos[6].toInt() + campos[7].toInt();
        else if (campos[0] == QLatin1String("arquivo"))
            resumidos.insert(campos[12], QByteArray::fromHex(campos[15].toLatin1()));
    }
    EXPECT_EQ(resumidos, escritosDeVerdade);
    int notas = 0;
    for (const QString &f : escritosDeVerdade.keys()) {
        const QString nome = QFileInfo(f).fileName();
        notas += nome.endsWith(QLatin1String("-pro-rec.xml")) || (nome.startsWith(QLatin1String("AD")) && !nome.startsWith(QLatin1String("ADC")));
    }
    EXPECT_EQ(vendas, notas);
    EXPECT_GT(vendas, 0);
    // The demo documents carry no real signature: each one is named, and the count is told.
    EXPECT_TRUE(s.out.contains(QStringLiteral("arquivo(s) com assinatura inválida:"))) << S(s);

    const Saida remoto = Roda({QStringLiteral("export"), QStringLiteral("--to"), QStringLiteral("x"), QStringLiteral("--on-server"),
                               QStringLiteral("--from"), kDe, QStringLiteral("--to-date"), kAte, QStringLiteral("--summary-only")});
    EXPECT_EQ(remoto.codigo, 2) << S(remoto);
    EXPECT_TRUE(remoto.err.contains(QStringLiteral("--summary-only"))) << S(remoto);
}
