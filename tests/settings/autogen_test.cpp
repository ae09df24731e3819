// The server's automatic generation over a seeded database: which sales it writes and where, that each
// is written once, compression, a failing sale retried on the next run without holding the others back,
// a sale cancelled after its generation, folders outside the export root, and the server's command and
// schedule.
#include "host/errors.h"
#include "host/recordset.h"
#include "server/autogen.h"
#include "server/serverdb.h"
#include "tests/settings/settings_testutil.h"
#include "tests/support/server_fixture.h"
#include "tests/support/testutil.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QSet>
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

std::map<Engine, std::unique_ptr<vndtest::ServerFixture>> g_servidores;

class ServidoresGeracao : public ::testing::Environment
{
  public:
    void TearDown() override { g_servidores.clear(); }
};
[[maybe_unused]] const auto *const kServidores = ::testing::AddGlobalTestEnvironment(new ServidoresGeracao);

// A server of its own: these tests change sales, which the report tests must not see.
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

QSqlQuery Sql(vndtest::ServerFixture &s, const QString &sql, const QVariantList &binds = {})
{
    QSqlQuery q(s.Database());
    EXPECT_TRUE(q.prepare(sql)) << sql.toStdString();
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, binds[i]);
    EXPECT_TRUE(q.exec()) << sql.toStdString() << ": " << q.lastError().text().toStdString();
    return q;
}

// The files each due sale must give, relative to the target folder (without the per-sale folders when
// compressing), keyed by access key.
QMap<QString, QStringList> Esperados(vndtest::ServerFixture &s, bool compacta)
{
    QSqlQuery q = Sql(
        s, QStringLiteral("SELECT CDFILIAL, CDCAIXA, DTENTRVENDA, IDTPEMISVEND, IDSTATUSNFCE, NRACESSONFCE, "
                          "DSARQXMLCANCNFCE FROM VENDA"));
    QMap<QString, QStringList> arquivos;
    while (q.next()) {
        const QDate dia = q.value(2).toDateTime().date();
        const QString status = q.value(4).toString();
        if (dia < kPrimeiroDia || (status != QLatin1String("A") && status != QLatin1String("C")))
            continue;
        const QString chave = q.value(5).toString();
        const QString pasta =
            compacta ? QString()
                     : QStringLiteral("%1/%2/%3/")
                           .arg(q.value(0).toString(), q.value(1).toString(), dia.toString(Qt::ISODate));
        QStringList &lista = arquivos[chave];
        if (q.value(3).toString() == QLatin1String("N")) {
            lista << pasta + QStringLiteral("NFCe%1-pro-rec.xml").arg(chave);
            if (status == QLatin1String("C"))
                lista << pasta + QStringLiteral("NFCe%1-pro-can.xml").arg(chave);
        } else {
            lista << pasta + QStringLiteral("AD%1.xml").arg(chave.mid(3, 44));
            if (status == QLatin1String("C") && !q.value(6).toString().trimmed().isEmpty())
                lista << pasta + QStringLiteral("ADC%1.xml").arg(chave.mid(3, 44));
        }
    }
    return arquivos;
}

QStringList Todos(const QMap<QString, QStringList> &porVenda)
{
    QStringList todos;
    for (const QStringList &l : porVenda)
        todos << l;
    todos.sort();
    return todos;
}

// Every file below the folder, relative to it.
QStringList Arquivos(const QString &pasta)
{
    QStringList lista;
    QDirIterator it(pasta, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        lista << QDir(pasta).relativeFilePath(it.next());
    lista.sort();
    return lista;
}

QStringList Entradas(const QString &arquivo)
{
    int erro = 0;
    zip_t *z = zip_open(QFile::encodeName(arquivo).constData(), ZIP_RDONLY, &erro);
    EXPECT_NE(z, nullptr) << arquivo.toStdString();
    QStringList nomes;
    if (!z)
        return nomes;
    for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i)
        nomes << QString::fromUtf8(zip_get_name(z, zip_uint64_t(i), 0));
    zip_close(z);
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

    void Parametros(const QVariant &pasta, const QString &compacta, const QVariant &inicio = QVariant())
    {
        const QVariant dia = inicio.isValid()
                                 ? inicio
                                 : QVariant(kPrimeiroDia.toString(Qt::ISODate) + QStringLiteral("T10:00:00"));
        Sql(*m_server,
            QStringLiteral("UPDATE PARAMGERAL SET DTINIGERAARQXML = %1, DSDIRARQXML = ?, IDENVARQCMP = ?")
                .arg(GetParam() == Engine::PostgreSQL ? QStringLiteral("CAST(? AS TIMESTAMP)")
                                                      : QStringLiteral("?")),
            {dia, pasta, compacta});
    }

    AutoGenReport Gera() { return RunAutoGeneration(*m_db, m_raiz.path()); }
    QString Destino() const { return QDir(m_raiz.path()).filePath(QStringLiteral("auto/xml")); }
    qint64 Contagem(const QString &sql)
    {
        QSqlQuery q = Sql(*m_server, sql);
        return q.next() ? q.value(0).toLongLong() : -1;
    }

    vndtest::ServerFixture *m_server = nullptr;
    std::unique_ptr<ServerDb> m_db;
    QTemporaryDir m_raiz;
};

TEST_P(Geracao, WritesEachDueSaleOnceIntoItsBranchRegisterAndDayFolder)
{
    const QMap<QString, QStringList> esperados = Esperados(*m_server, false);
    ASSERT_GT(esperados.size(), 10);
    const AutoGenReport primeira = Gera();
    EXPECT_EQ(primeira.errors, QStringList());
    EXPECT_EQ(primeira.pending, esperados.size());
    EXPECT_EQ(primeira.generated, esperados.size());
    EXPECT_EQ(primeira.folder, QDir(Destino()).canonicalPath());
    EXPECT_EQ(Arquivos(Destino()), Todos(esperados))
        << "sales before the first day, pending and rejected are left out";
    EXPECT_EQ(Contagem(QStringLiteral("SELECT COUNT(*) FROM VENDAGERAXML")), esperados.size());

    // Files stamped in the past: a second run must not touch them.
    const QDateTime antigo(QDate(2020, 1, 1), QTime(0, 0));
    for (const QString &f : Arquivos(Destino())) {
        QFile arquivo(QDir(Destino()).filePath(f));
        ASSERT_TRUE(arquivo.open(QIODevice::ReadWrite));
        ASSERT_TRUE(arquivo.setFileTime(antigo, QFileDevice::FileModificationTime));
    }
    const AutoGenReport segunda = Gera();
    EXPECT_EQ(segunda.pending, 0);
    EXPECT_EQ(segunda.generated, 0);
    for (const QString &f : Arquivos(Destino()))
        EXPECT_EQ(QFileInfo(QDir(Destino()).filePath(f)).lastModified(), antigo) << f.toStdString();
}

TEST_P(Geracao, CompressedRunsLeaveOnlyVerifiedArchivesInTheFolder)
{
    Parametros(QStringLiteral("auto/xml"), QStringLiteral("S"));
    const QMap<QString, QStringList> esperados = Esperados(*m_server, true);
    const AutoGenReport primeira = Gera();
    EXPECT_EQ(primeira.errors, QStringList());
    EXPECT_TRUE(primeira.compressed);
    EXPECT_EQ(primeira.generated, esperados.size());
    ASSERT_EQ(primeira.archives.size(), 1);
    const QStringList arquivos = Arquivos(Destino());
    ASSERT_EQ(arquivos.size(), 1) << "no loose file and no working folder left: "
                                  << arquivos.join(' ').toStdString();
    EXPECT_TRUE(arquivos[0].startsWith(QStringLiteral("ArquivosXML_")) &&
                arquivos[0].endsWith(QStringLiteral(".zip")));
    QStringList entradas = Entradas(primeira.archives[0]);
    entradas.sort();
    EXPECT_EQ(entradas, Todos(esperados));

    const AutoGenReport segunda = Gera();
    EXPECT_EQ(segunda.generated, 0);
    EXPECT_TRUE(segunda.archives.isEmpty());
    EXPECT_EQ(Arquivos(Destino()).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, Geracao, ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto &info) {
                             return std::string(info.param == Engine::SQLite ? "SQLite" : "PostgreSQL");
                         });

class GeracaoSQLite : public Geracao
{
};

TEST_P(GeracaoSQLite, AFailingSaleIsReportedAndTakenAgainByTheNextRun)
{
    // Uncompressed: a folder standing where one sale's file goes makes that file fail.
    const QMap<QString, QStringList> esperados = Esperados(*m_server, false);
    const QString chave = esperados.firstKey();
    const QString bloqueio = QDir(Destino()).filePath(esperados[chave].first());
    ASSERT_TRUE(QDir().mkpath(bloqueio));
    const AutoGenReport primeira = Gera();
    EXPECT_EQ(primeira.failed, 1);
    EXPECT_EQ(primeira.generated, esperados.size() - 1);
    ASSERT_EQ(primeira.errors.size(), 1);
    EXPECT_TRUE(primeira.errors[0].contains(chave)) << primeira.errors[0].toStdString();
    EXPECT_EQ(
        Contagem(QStringLiteral("SELECT COUNT(*) FROM VENDAGERAXML G JOIN VENDA V ON V.IDVENDA = G.IDVENDA "
                                "WHERE V.NRACESSONFCE = '%1'")
                     .arg(chave)),
        0);
    ASSERT_TRUE(QDir(bloqueio).removeRecursively());
    const AutoGenReport segunda = Gera();
    EXPECT_EQ(segunda.pending, 1);
    EXPECT_EQ(segunda.generated, 1);
    EXPECT_EQ(Arquivos(Destino()), Todos(esperados));

    // Compressed: a stored document that does not parse fails its sale; the others are archived.
    Sql(*m_server, QStringLiteral("DELETE FROM VENDAGERAXML"));
    Parametros(QStringLiteral("zip"), QStringLiteral("S"));
    QSqlQuery q =
        Sql(*m_server,
            QStringLiteral("SELECT NRACESSONFCE, DSARQXMLNFCE FROM VENDA WHERE IDTPEMISVEND = 'N' AND "
                           "IDSTATUSNFCE = 'A' AND DTENTRVENDA >= ? ORDER BY IDVENDA"),
            {kPrimeiroDia.toString(Qt::ISODate)});
    ASSERT_TRUE(q.next());
    const QString ruim = q.value(0).toString();
    const QString documento = q.value(1).toString();
    q.finish(); // an open read would hold an old snapshot of the database
    Sql(*m_server, QStringLiteral("UPDATE VENDA SET DSARQXMLNFCE = '<NFe><infNFe' WHERE NRACESSONFCE = ?"),
        {ruim});
    const AutoGenReport terceira = Gera();
    EXPECT_EQ(terceira.failed, 1);
    ASSERT_EQ(terceira.archives.size(), 1);
    EXPECT_FALSE(Entradas(terceira.archives[0]).contains(QStringLiteral("NFCe%1-pro-rec.xml").arg(ruim)));
    Sql(*m_server, QStringLiteral("UPDATE VENDA SET DSARQXMLNFCE = ? WHERE NRACESSONFCE = ?"),
        {documento, ruim});
    const AutoGenReport quarta = Gera();
    EXPECT_EQ(quarta.generated, 1);
    ASSERT_EQ(quarta.archives.size(), 1);
    EXPECT_EQ(Entradas(quarta.archives[0]), QStringList{QStringLiteral("NFCe%1-pro-rec.xml").arg(ruim)});
}

TEST_P(GeracaoSQLite, ASaleCancelledAfterItsGenerationIsGeneratedAgain)
{
    ASSERT_EQ(Gera().failed, 0);
    QSqlQuery q = Sql(*m_server,
                      QStringLiteral("SELECT NRACESSONFCE, CDFILIAL, CDCAIXA, DTENTRVENDA FROM VENDA WHERE "
                                     "IDTPEMISVEND = 'N' AND IDSTATUSNFCE = 'A' AND DTENTRVENDA >= ?"),
                      {kPrimeiroDia.toString(Qt::ISODate)});
    ASSERT_TRUE(q.next());
    const QString chave = q.value(0).toString();
    const QString pasta = QStringLiteral("%1/%2/%3/")
                              .arg(q.value(1).toString(), q.value(2).toString(),
                                   q.value(3).toDateTime().date().toString(Qt::ISODate));
    q.finish();
    Sql(*m_server,
        QStringLiteral("UPDATE VENDA SET IDSTATUSNFCE = 'C', IDSITUVENDA = 'C', DSRAZAOCANCNFCE = ?, "
                       "DTHRPROTOCOCANC = ?, NRPROTOCOLOCANC = '135240000000999' WHERE NRACESSONFCE = ?"),
        {QStringLiteral("Cliente desistiu da compra"), QStringLiteral("2024-03-07T18:00:00"), chave});
    const AutoGenReport r = Gera();
    EXPECT_EQ(r.pending, 1);
    EXPECT_EQ(r.generated, 1);
    const QByteArray evento =
        vndtest::ReadFile(QDir(Destino()).filePath(pasta + QStringLiteral("NFCe%1-pro-can.xml").arg(chave)));
    EXPECT_TRUE(evento.contains("<xJust>Cliente desistiu da compra</xJust>")) << evento.toStdString();
    EXPECT_EQ(Gera().pending, 0);
}

TEST_P(GeracaoSQLite, FoldersOutsideTheExportRootAndIncompleteParametersAreRefused)
{
    for (const char *pasta : {"C:\\XML\\", "..\\fora", "/tmp/fora-da-raiz"}) {
        Parametros(QString::fromLatin1(pasta), QStringLiteral("N"));
        try {
            Gera();
            ADD_FAILURE() << pasta << " was accepted";
        } catch (const Exception &e) {
            EXPECT_TRUE(e.Message().contains(QStringLiteral("fica fora da pasta de exportação do servidor")))
                << e.Message().toStdString();
        }
    }
    EXPECT_EQ(Arquivos(m_raiz.path()), QStringList());
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/fora-da-raiz")));

    const auto recusa = [&](const QString &texto) {
        try {
            Gera();
            ADD_FAILURE() << texto.toStdString() << " was not refused";
        } catch (const Exception &e) {
            EXPECT_EQ(e.Message(), texto);
        }
    };
    Parametros(QString(), QStringLiteral("N"));
    recusa(QString::fromUtf8(
        "Geração automática: o diretório destino dos arquivos XML no servidor não está informado nos "
        "parâmetros."));
    Parametros(QStringLiteral("xml"), QStringLiteral("N"), QVariant(QMetaType(QMetaType::QString)));
    recusa(QString::fromUtf8(
        "Geração automática: a data inicial de geração não está informada nos parâmetros."));
    EXPECT_EQ(Contagem(QStringLiteral("SELECT COUNT(*) FROM VENDAGERAXML")), 0);
}

INSTANTIATE_TEST_SUITE_P(Engine, GeracaoSQLite, ::testing::Values(Engine::SQLite),
                         [](const auto &) { return std::string("SQLite"); });

TEST(GeracaoOpcoes, TheCommandLineTakesItsOptionsAndLeavesTheRest)
{
    QStringList args = {
        QStringLiteral("--db"),  QStringLiteral("sqlite:x.db"), QStringLiteral("--auto-generate"),
        QStringLiteral("02:30"), QStringLiteral("--threads"),   QStringLiteral("4")};
    AutoGenOptions o = TakeAutoGenOptions(args);
    EXPECT_EQ(o.dailyAt, QTime(2, 30));
    EXPECT_FALSE(o.generateCommand);
    EXPECT_EQ(args, (QStringList{QStringLiteral("--db"), QStringLiteral("sqlite:x.db"),
                                 QStringLiteral("--threads"), QStringLiteral("4")}));
    const QDateTime noite(QDate(2024, 3, 9), QTime(23, 0));
    EXPECT_EQ(AutoGenScheduler::NextRun(o, noite), QDateTime(QDate(2024, 3, 10), QTime(2, 30)));
    EXPECT_EQ(AutoGenScheduler::NextRun(o, QDateTime(QDate(2024, 3, 9), QTime(2, 30))),
              QDateTime(QDate(2024, 3, 9), QTime(2, 30)));

    args = {QStringLiteral("generate"), QStringLiteral("--export-root"), QStringLiteral("/x")};
    o = TakeAutoGenOptions(args);
    EXPECT_TRUE(o.generateCommand);
    EXPECT_FALSE(o.Scheduled());
    EXPECT_EQ(args, (QStringList{QStringLiteral("--export-root"), QStringLiteral("/x")}));

    args = {QStringLiteral("--auto-generate-every"), QStringLiteral("15")};
    o = TakeAutoGenOptions(args);
    EXPECT_EQ(AutoGenScheduler::NextRun(o, noite), noite.addSecs(15 * 60));

    for (const QStringList &ruim :
         {QStringList{QStringLiteral("--auto-generate"), QStringLiteral("25:00")},
          QStringList{QStringLiteral("--auto-generate-every"), QStringLiteral("0")},
          QStringList{QStringLiteral("--auto-generate")},
          QStringList{QStringLiteral("--auto-generate"), QStringLiteral("01:00"),
                      QStringLiteral("--auto-generate-every"), QStringLiteral("5")},
          QStringList{QStringLiteral("generate"), QStringLiteral("--auto-generate-every"),
                      QStringLiteral("5")}}) {
        QStringList a = ruim;
        EXPECT_THROW(TakeAutoGenOptions(a), Exception) << ruim.join(' ').toStdString();
    }
}

TEST(GeracaoServidor, TheGenerateCommandAndTheScheduleWriteTheFiles)
{
    vndtest::ServerFixture *server = Servidor(Engine::SQLite);
    QSqlQuery(server->Database()).exec(QStringLiteral("DELETE FROM VENDAGERAXML"));
    QSqlQuery(server->Database())
        .exec(QStringLiteral(
            "UPDATE PARAMGERAL SET DTINIGERAARQXML = '2024-03-06T00:00:00', DSDIRARQXML = 'cmd', "
            "IDENVARQCMP = 'N'"));
    QTemporaryDir raiz;
    QProcess comando;
    comando.start(vndtest::ServerFixture::ServerBinary(),
                  {QStringLiteral("generate"), QStringLiteral("--db"), server->DbUrl(),
                   QStringLiteral("--export-root"), raiz.path()});
    ASSERT_TRUE(comando.waitForFinished(120000));
    EXPECT_EQ(comando.exitCode(), 0) << comando.readAllStandardError().toStdString();
    const QString saida = QString::fromUtf8(comando.readAllStandardOutput());
    EXPECT_TRUE(saida.contains(QString::fromUtf8("geradas, 0 com falha"))) << saida.toStdString();
    const int escritos = int(Arquivos(QDir(raiz.path()).filePath(QStringLiteral("cmd"))).size());
    EXPECT_GT(escritos, 0);

    // A running server with a periodic schedule generates at once what is still due.
    QSqlQuery(server->Database()).exec(QStringLiteral("DELETE FROM VENDAGERAXML"));
    QTemporaryDir raiz2;
    QProcess servidor;
    servidor.setProcessChannelMode(QProcess::MergedChannels);
    servidor.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    servidor.start(vndtest::ServerFixture::ServerBinary(),
                   {QStringLiteral("--db"), server->DbUrl(), QStringLiteral("--listen"),
                    QStringLiteral("127.0.0.1:0"), QStringLiteral("--token-file"),
                    raiz2.filePath(QStringLiteral("token")), QStringLiteral("--export-root"),
                    raiz2.filePath(QStringLiteral("xml")), QStringLiteral("--auto-generate-every"),
                    QStringLiteral("60")});
    ASSERT_TRUE(servidor.waitForStarted());
    const QString destino = raiz2.filePath(QStringLiteral("xml/cmd"));
    QString log;
    for (int i = 0; i < 600 && !log.contains(QString::fromUtf8("geradas")); ++i) {
        servidor.waitForReadyRead(100);
        log += QString::fromUtf8(servidor.readAll());
    }
    servidor.terminate();
    ASSERT_TRUE(servidor.waitForFinished(30000));
    log += QString::fromUtf8(servidor.readAll());
    EXPECT_TRUE(log.contains(QString::fromUtf8("geração automática a cada 60 minuto(s)")))
        << log.toStdString();
    EXPECT_EQ(int(Arquivos(destino).size()), escritos) << log.toStdString();
}

} // namespace
