// The server's automatic generation over a seeded database: which sales it writes and where, each once,
// compression, a failing sale retried by the next run without holding the others back, a sale cancelled
// after its generation, refused folders, and the server's command and schedule.
#include "host/errors.h"
#include "server/autogen.h"
#include "tests/settings/settings_testutil.h"
#include "tests/support/testutil.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <zip.h>

#include <csignal>
#include <map>
#include <memory>
#include <sys/prctl.h>

using namespace vnd::server;
using Engine = vndtest::ServerFixture::Engine;

namespace
{

const QDate kPrimeiroDia = settingstest::kInicio.addDays(2);
const QString kPrimeiroDiaTexto = kPrimeiroDia.toString(Qt::ISODate);

std::map<Engine, std::unique_ptr<vndtest::ServerFixture>> g_servidores;
class ServidoresGeracao : public ::testing::Environment
{
  public:
    void TearDown() override { g_servidores.clear(); }
};
[[maybe_unused]] const auto *const kServidores = ::testing::AddGlobalTestEnvironment(new ServidoresGeracao);

// Servers of their own: these tests change sales, which the report tests must not see.
vndtest::ServerFixture *Servidor(Engine engine)
{
    if (engine == Engine::PostgreSQL && vndtest::ServerFixture::PostgresUrl().isEmpty())
        return nullptr;
    auto &s = g_servidores[engine];
    if (!s) {
        s = std::make_unique<vndtest::ServerFixture>(engine);
        s->Seed({QStringLiteral("--sales"), QStringLiteral("60"), QStringLiteral("--from"),
                 settingstest::kInicio.toString(Qt::ISODate), QStringLiteral("--to"),
                 settingstest::kFim.toString(Qt::ISODate), QStringLiteral("--seed"), QStringLiteral("23")});
    }
    return s.get();
}

// Runs a statement on the server's database; the query is finished unless rows are wanted, since an open
// read would keep an old snapshot of the database.
QSqlQuery Sql(vndtest::ServerFixture &s, const QString &sql, const QVariantList &binds = {})
{
    QSqlQuery q(s.Database());
    EXPECT_TRUE(q.prepare(sql)) << sql.toStdString();
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, binds[i]);
    EXPECT_TRUE(q.exec()) << sql.toStdString() << ": " << q.lastError().text().toStdString();
    return q;
}

// The files the due sales must give, sorted, relative to the target folder (flat when compressing); the
// first file of the first one and its access key in primeiro.
QStringList Esperados(vndtest::ServerFixture &s, bool compacta,
                      std::pair<QString, QString> *primeiro = nullptr)
{
    QSqlQuery q = Sql(s, QStringLiteral("SELECT CDFILIAL, CDCAIXA, DTENTRVENDA, IDTPEMISVEND, IDSTATUSNFCE, "
                                        "NRACESSONFCE, DSARQXMLCANCNFCE FROM VENDA ORDER BY NRACESSONFCE"));
    QStringList arquivos;
    while (q.next()) {
        const QDate dia = q.value(2).toDateTime().date();
        const bool cancelada = q.value(4).toString() == QLatin1String("C");
        if (dia < kPrimeiroDia || (!cancelada && q.value(4).toString() != QLatin1String("A")))
            continue;
        const QString k = q.value(5).toString();
        const QString pasta =
            compacta ? QString()
                     : QStringLiteral("%1/%2/%3/")
                           .arg(q.value(0).toString(), q.value(1).toString(), dia.toString(Qt::ISODate));
        if (primeiro && primeiro->first.isEmpty())
            *primeiro = {pasta + (q.value(3).toString() == QLatin1String("N")
                                      ? QStringLiteral("NFCe%1-pro-rec.xml").arg(k)
                                      : QStringLiteral("AD%1.xml").arg(k.mid(3, 44))),
                         k};
        if (q.value(3).toString() == QLatin1String("N")) {
            arquivos << pasta + QStringLiteral("NFCe%1-pro-rec.xml").arg(k);
            if (cancelada)
                arquivos << pasta + QStringLiteral("NFCe%1-pro-can.xml").arg(k);
        } else {
            arquivos << pasta + QStringLiteral("AD%1.xml").arg(k.mid(3, 44));
            if (cancelada && !q.value(6).toString().trimmed().isEmpty())
                arquivos << pasta + QStringLiteral("ADC%1.xml").arg(k.mid(3, 44));
        }
    }
    arquivos.sort();
    return arquivos;
}

// Every file below the folder (hidden ones too), relative to it, sorted; the runs' summaries
// (resumo-*.csv and .pdf at the top) apart, counted in summaries.
QStringList Arquivos(const QString &pasta, int *summaries = nullptr)
{
    QStringList lista;
    if (summaries)
        *summaries = 0;
    QDirIterator it(pasta, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relativo = QDir(pasta).relativeFilePath(it.next());
        if (relativo.startsWith(QLatin1String("resumo-")) &&
            (relativo.endsWith(QLatin1String(".csv")) || relativo.endsWith(QLatin1String(".pdf")))) {
            if (summaries)
                ++*summaries;
            continue;
        }
        lista << relativo;
    }
    lista.sort();
    return lista;
}

QStringList Entradas(const QString &arquivo)
{
    int erro = 0;
    zip_t *z = zip_open(QFile::encodeName(arquivo).constData(), ZIP_RDONLY, &erro);
    QStringList nomes;
    for (zip_int64_t i = 0; z && i < zip_get_num_entries(z, 0); ++i)
        nomes << QString::fromUtf8(zip_get_name(z, zip_uint64_t(i), 0));
    if (z)
        zip_close(z);
    nomes.sort();
    return nomes;
}

class Geracao : public ::testing::TestWithParam<Engine>
{
  protected:
    void SetUp() override
    {
        m_server = Servidor(GetParam());
        if (!m_server)
            GTEST_SKIP() << "no PostgreSQL server for this run (VND_TEST_PG)";
        m_db = std::make_unique<ServerDb>(m_server->DbUrl());
        Sql(*m_server, QStringLiteral("DELETE FROM VENDAGERAXML"));
        Parametros(QStringLiteral("auto\\xml\\"), QStringLiteral("N"));
    }

    void Parametros(const QVariant &pasta, const QString &compacta, const QVariant &inicio = {})
    {
        const bool pg = GetParam() == Engine::PostgreSQL;
        Sql(*m_server,
            QStringLiteral("UPDATE PARAMGERAL SET DTINIGERAARQXML = %1, DSDIRARQXML = ?, IDENVARQCMP = ?")
                .arg(pg ? QStringLiteral("CAST(? AS TIMESTAMP)") : QStringLiteral("?")),
            {inicio.isValid() ? inicio : QVariant(kPrimeiroDiaTexto + QStringLiteral("T10:00:00")), pasta,
             compacta});
    }

    AutoGenReport Gera() { return RunAutoGeneration(*m_db, m_raiz.path()); }
    QString Destino() const { return QDir(m_raiz.path()).filePath(QStringLiteral("auto/xml")); }

    vndtest::ServerFixture *m_server = nullptr;
    std::unique_ptr<ServerDb> m_db;
    QTemporaryDir m_raiz;
};

TEST_P(Geracao, WritesEachDueSaleOnceIntoItsBranchRegisterAndDayFolder)
{
    const QStringList esperados = Esperados(*m_server, false);
    const AutoGenReport primeira = Gera();
    EXPECT_EQ(primeira.errors, QStringList());
    EXPECT_GT(primeira.generated, 10);
    EXPECT_EQ(primeira.generated, primeira.pending);
    EXPECT_EQ(primeira.folder, QDir(Destino()).canonicalPath());
    int resumos = 0;
    EXPECT_EQ(Arquivos(Destino(), &resumos), esperados)
        << "sales before the first day, pending and rejected are left out";
    EXPECT_EQ(resumos, 2) << "the run's summary, CSV and PDF, beside its files";
    EXPECT_EQ(primeira.summaryFiles.size(), 2);

    // Stamped in the past, the files must come out of a second run untouched.
    const QDateTime antigo(QDate(2020, 1, 1), QTime(0, 0));
    for (const QString &f : esperados) {
        QFile arquivo(QDir(Destino()).filePath(f));
        ASSERT_TRUE(arquivo.open(QIODevice::ReadWrite) &&
                    arquivo.setFileTime(antigo, QFileDevice::FileModificationTime));
    }
    const AutoGenReport segunda = Gera();
    EXPECT_EQ(segunda.pending, 0);
    for (const QString &f : esperados)
        EXPECT_EQ(QFileInfo(QDir(Destino()).filePath(f)).lastModified(), antigo) << f.toStdString();
}

TEST_P(Geracao, CompressedRunsLeaveOnlyVerifiedArchivesAndRetryAFailedSale)
{
    Parametros(QStringLiteral("auto/xml"), QStringLiteral("S"));
    // A stored document that does not parse fails its sale; the others are archived.
    QSqlQuery q =
        Sql(*m_server,
            QStringLiteral("SELECT NRACESSONFCE, DSARQXMLNFCE FROM VENDA WHERE IDTPEMISVEND = 'N' AND "
                           "IDSTATUSNFCE = 'A' AND DTENTRVENDA >= ? ORDER BY IDVENDA"),
            {kPrimeiroDiaTexto});
    ASSERT_TRUE(q.next());
    const QString ruim = q.value(0).toString(), documento = q.value(1).toString();
    const QString arquivoRuim = QStringLiteral("NFCe%1-pro-rec.xml").arg(ruim);
    q.finish();
    Sql(*m_server, QStringLiteral("UPDATE VENDA SET DSARQXMLNFCE = '<NFe><infNFe' WHERE NRACESSONFCE = ?"),
        {ruim});

    const AutoGenReport primeira = Gera();
    EXPECT_TRUE(primeira.compressed);
    EXPECT_EQ(primeira.failed, 1);
    ASSERT_EQ(primeira.archives.size(), 1);
    const QStringList arquivos = Arquivos(Destino());
    ASSERT_EQ(arquivos.size(), 1) << "no loose file and no working folder left: "
                                  << arquivos.join(' ').toStdString();
    EXPECT_TRUE(arquivos[0].startsWith(QStringLiteral("ArquivosXML_")) &&
                arquivos[0].endsWith(QStringLiteral(".zip")));
    QStringList semORuim = Esperados(*m_server, true);
    semORuim.removeOne(arquivoRuim);
    EXPECT_EQ(Entradas(primeira.archives[0]), semORuim);

    Sql(*m_server, QStringLiteral("UPDATE VENDA SET DSARQXMLNFCE = ? WHERE NRACESSONFCE = ?"),
        {documento, ruim});
    const AutoGenReport segunda = Gera();
    EXPECT_EQ(segunda.generated, 1);
    ASSERT_EQ(segunda.archives.size(), 1);
    EXPECT_EQ(Entradas(segunda.archives[0]), QStringList{arquivoRuim});
    EXPECT_TRUE(Gera().archives.isEmpty());
}

TEST_P(Geracao, AFileThatCannotBeWrittenFailsOnlyItsSaleUntilTheNextRun)
{
    // A folder standing where one sale's file goes.
    std::pair<QString, QString> primeiro;
    const QStringList esperados = Esperados(*m_server, false, &primeiro);
    const QString bloqueado = primeiro.first;
    ASSERT_TRUE(QDir().mkpath(QDir(Destino()).filePath(bloqueado)));
    const AutoGenReport primeira = Gera();
    EXPECT_EQ(primeira.failed, 1);
    EXPECT_EQ(primeira.generated, primeira.pending - 1);
    ASSERT_EQ(primeira.errors.size(), 1);
    EXPECT_TRUE(primeira.errors[0].endsWith(QStringLiteral(" - ") + primeiro.second))
        << primeira.errors[0].toStdString();
    // The line names the failing sale's own branch and register, not those of a row the list moved to.
    EXPECT_TRUE(primeira.errors[0].startsWith(QStringLiteral("filial %1, caixa %2: ")
                                                  .arg(bloqueado.section(QLatin1Char('/'), 0, 0),
                                                       bloqueado.section(QLatin1Char('/'), 1, 1))))
        << primeira.errors[0].toStdString();

    ASSERT_TRUE(QDir(QDir(Destino()).filePath(bloqueado)).removeRecursively());
    const AutoGenReport segunda = Gera();
    EXPECT_EQ(segunda.pending, 1);
    EXPECT_EQ(segunda.generated, 1);
    EXPECT_EQ(Arquivos(Destino()), esperados);
}

TEST_P(Geracao, ASaleCancelledAfterItsGenerationIsGeneratedAgain)
{
    ASSERT_EQ(Gera().failed, 0);
    QSqlQuery q = Sql(*m_server,
                      QStringLiteral("SELECT NRACESSONFCE, CDFILIAL, CDCAIXA, DTENTRVENDA FROM VENDA WHERE "
                                     "IDTPEMISVEND = 'N' AND IDSTATUSNFCE = 'A' AND DTENTRVENDA >= ?"),
                      {kPrimeiroDiaTexto});
    ASSERT_TRUE(q.next());
    const QString chave = q.value(0).toString();
    const QString evento = QStringLiteral("%1/%2/%3/NFCe%4-pro-can.xml")
                               .arg(q.value(1).toString(), q.value(2).toString(),
                                    q.value(3).toDateTime().date().toString(Qt::ISODate), chave);
    q.finish();
    Sql(*m_server,
        QStringLiteral("UPDATE VENDA SET IDSTATUSNFCE = 'C', DSRAZAOCANCNFCE = 'Cliente desistiu da compra', "
                       "DTHRPROTOCOCANC = %1, NRPROTOCOLOCANC = '135240000000999' WHERE NRACESSONFCE = ?")
            .arg(GetParam() == Engine::PostgreSQL ? QStringLiteral("CAST(? AS TIMESTAMP)")
                                                  : QStringLiteral("?")),
        {QStringLiteral("2024-03-07T18:00:00"), chave});
    const AutoGenReport r = Gera();
    EXPECT_EQ(r.generated, 1);
    EXPECT_TRUE(vndtest::ReadFile(QDir(Destino()).filePath(evento))
                    .contains("<xJust>Cliente desistiu da compra</xJust>"));
    EXPECT_EQ(Gera().pending, 0);
    Sql(*m_server, QStringLiteral("UPDATE VENDA SET IDSTATUSNFCE = 'A' WHERE NRACESSONFCE = ?"), {chave});
}

TEST_P(Geracao, FoldersOutsideTheExportRootAndIncompleteParametersAreRefused)
{
    const auto recusa = [&](const QString &texto) {
        try {
            Gera();
            ADD_FAILURE() << "accepted; expected: " << texto.toStdString();
        } catch (const Exception &e) {
            EXPECT_TRUE(e.Message().startsWith(texto)) << e.Message().toStdString();
        }
    };
    for (const char *pasta : {"C:\\XML\\", "..\\fora", "/tmp/fora-da-raiz"}) {
        Parametros(QString::fromLatin1(pasta), QStringLiteral("N"));
        recusa(QString::fromUtf8(
                   "Geração automática: A pasta \"%1\" fica fora da pasta de exportação do servidor")
                   .arg(QString::fromLatin1(pasta)));
    }
    EXPECT_EQ(Arquivos(m_raiz.path()), QStringList());
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/fora-da-raiz")));
    Parametros(QString(), QStringLiteral("N"));
    recusa(QString::fromUtf8(
        "Geração automática: o diretório destino dos arquivos XML no servidor não está informado "
        "nos parâmetros."));
    Parametros(QStringLiteral("xml"), QStringLiteral("N"), QVariant(QMetaType(QMetaType::QString)));
    recusa(QString::fromUtf8(
        "Geração automática: a data inicial de geração não está informada nos parâmetros."));
}

INSTANTIATE_TEST_SUITE_P(Engines, Geracao, ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto &info) {
                             return std::string(info.param == Engine::SQLite ? "SQLite" : "PostgreSQL");
                         });

TEST(GeracaoOpcoes, TheCommandLineTakesItsOptionsAndLeavesTheRest)
{
    QStringList args = QStringLiteral("--db sqlite:x.db --auto-generate 02:30 --threads 4").split(' ');
    AutoGenOptions o = TakeAutoGenOptions(args);
    EXPECT_EQ(args, QStringLiteral("--db sqlite:x.db --threads 4").split(' '));
    const QDateTime noite(QDate(2024, 3, 9), QTime(23, 0)), hora(QDate(2024, 3, 9), QTime(2, 30));
    EXPECT_EQ(AutoGenScheduler::NextRun(o, noite), hora.addDays(1));
    EXPECT_EQ(AutoGenScheduler::NextRun(o, hora), hora);

    args = QStringLiteral("generate --export-root /x").split(' ');
    o = TakeAutoGenOptions(args);
    EXPECT_TRUE(o.generateCommand && !o.Scheduled());
    EXPECT_EQ(args, QStringLiteral("--export-root /x").split(' '));

    args = QStringLiteral("--auto-generate-every 15").split(' ');
    EXPECT_EQ(AutoGenScheduler::NextRun(TakeAutoGenOptions(args), noite), noite.addSecs(15 * 60));

    for (const char *ruim :
         {"--auto-generate 25:00", "--auto-generate-every 0", "--auto-generate",
          "--auto-generate 01:00 --auto-generate-every 5", "generate --auto-generate-every 5"}) {
        QStringList a = QString::fromLatin1(ruim).split(' ');
        EXPECT_THROW(TakeAutoGenOptions(a), Exception) << ruim;
    }
}

TEST(GeracaoServidor, TheGenerateCommandAndTheScheduleWriteTheFiles)
{
    vndtest::ServerFixture *server = Servidor(Engine::SQLite);
    Sql(*server, QStringLiteral("DELETE FROM VENDAGERAXML"));
    Sql(*server,
        QStringLiteral("UPDATE PARAMGERAL SET DTINIGERAARQXML = '2024-03-06T00:00:00', DSDIRARQXML = 'cmd', "
                       "IDENVARQCMP = 'N'"));
    QTemporaryDir raiz;
    const QString saida = QString::fromUtf8(
        settingstest::Roda(vndtest::ServerFixture::ServerBinary(),
                           {QStringLiteral("generate"), QStringLiteral("--db"), server->DbUrl(),
                            QStringLiteral("--export-root"), raiz.path()}));
    EXPECT_TRUE(saida.contains(QStringLiteral("geradas, 0 com falha"))) << saida.toStdString();
    const QStringList escritos = Arquivos(raiz.filePath(QStringLiteral("cmd")));
    EXPECT_FALSE(escritos.isEmpty());

    // A running server with a periodic schedule generates at once what is due.
    Sql(*server, QStringLiteral("DELETE FROM VENDAGERAXML"));
    QProcess servidor;
    servidor.setProcessChannelMode(QProcess::MergedChannels);
    servidor.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    servidor.start(vndtest::ServerFixture::ServerBinary(),
                   {QStringLiteral("--db"), server->DbUrl(), QStringLiteral("--listen"),
                    QStringLiteral("127.0.0.1:0"), QStringLiteral("--token-file"),
                    raiz.filePath(QStringLiteral("token")), QStringLiteral("--export-root"),
                    raiz.filePath(QStringLiteral("xml")), QStringLiteral("--auto-generate-every"),
                    QStringLiteral("60")});
    QString log;
    for (int i = 0; i < 600 && !log.contains(QStringLiteral("geradas")); ++i) {
        servidor.waitForReadyRead(100);
        log += QString::fromUtf8(servidor.readAll());
    }
    servidor.terminate();
    ASSERT_TRUE(servidor.waitForFinished(30000));
    EXPECT_TRUE(log.contains(QString::fromUtf8("geração automática a cada 60 minuto(s)")))
        << log.toStdString();
    EXPECT_EQ(Arquivos(raiz.filePath(QStringLiteral("xml/cmd"))), escritos) << log.toStdString();
}

} // namespace
