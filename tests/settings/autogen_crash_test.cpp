// The automatic generation killed at random moments, as a power cut would, and run twice at once: every
// due sale ends up in exactly one archive entry (or loose file) and one record, and nothing temporary
// stays. The killed runs are "vnd-server generate" processes over a seeded database of their own.
#include "host/errors.h"
#include "server/autogen.h"
#include "server/autogenlock.h"
#include "tests/settings/settings_testutil.h"
#include "tests/support/testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <zip.h>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>

using namespace vnd::server;
using Engine = vndtest::ServerFixture::Engine;

namespace
{

int EnvInt(const char *name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : fallback;
}

void Sql(vndtest::ServerFixture &s, const QString &sql, const QVariantList &binds = {})
{
    QSqlQuery q(s.Database());
    ASSERT_TRUE(q.prepare(sql)) << sql.toStdString();
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, binds[i]);
    ASSERT_TRUE(q.exec()) << sql.toStdString() << ": " << q.lastError().text().toStdString();
}

qint64 Count(vndtest::ServerFixture &s, const QString &sql)
{
    QSqlQuery q(s.Database());
    if (!q.exec(sql) || !q.next())
        return -1;
    return q.value(0).toLongLong();
}

// The names of the files the due sales give (every sale of the seeded period is due).
QStringList NomesEsperados(vndtest::ServerFixture &s)
{
    QSqlQuery q(s.Database());
    q.exec(QStringLiteral("SELECT IDTPEMISVEND, IDSTATUSNFCE, NRACESSONFCE, DSARQXMLCANCNFCE FROM VENDA "
                          "WHERE IDSTATUSNFCE IN ('A', 'C')"));
    QStringList nomes;
    while (q.next()) {
        const bool cancelada = q.value(1).toString() == QLatin1String("C");
        const QString k = q.value(2).toString();
        if (q.value(0).toString() == QLatin1String("N")) {
            nomes << QStringLiteral("NFCe%1-pro-rec.xml").arg(k);
            if (cancelada)
                nomes << QStringLiteral("NFCe%1-pro-can.xml").arg(k);
        } else {
            nomes << QStringLiteral("AD%1.xml").arg(k.mid(3, 44));
            if (cancelada && !q.value(3).toString().trimmed().isEmpty())
                nomes << QStringLiteral("ADC%1.xml").arg(k.mid(3, 44));
        }
    }
    nomes.sort();
    return nomes;
}

QStringList Entradas(const QString &arquivo)
{
    int erro = 0;
    zip_t *z = zip_open(QFile::encodeName(arquivo).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &erro);
    QStringList nomes;
    if (!z) {
        ADD_FAILURE() << "not a whole archive: " << arquivo.toStdString();
        return nomes;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i)
        nomes << QString::fromUtf8(zip_get_name(z, zip_uint64_t(i), 0));
    zip_discard(z);
    return nomes;
}

// What the target folder holds: the entries of its archives and its loose fiscal files, each as often
// as it occurs, and every other file (temporary names, hidden files and folders).
struct Conteudo {
    QStringList arquivos; // entries and loose files, by name
    QStringList estranhos;
    int compactados = 0;
    int resumos = 0;
};

Conteudo Le(const QString &pasta)
{
    Conteudo c;
    QDirIterator it(pasta, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString caminho = it.next();
        const QFileInfo info = it.fileInfo();
        const QString nome = info.fileName();
        if (info.isDir()) {
            if (nome.startsWith(QLatin1Char('.')))
                c.estranhos << caminho;
            continue;
        }
        if (nome.startsWith(QLatin1String("ArquivosXML_")) && nome.endsWith(QLatin1String(".zip"))) {
            c.arquivos << Entradas(caminho);
            ++c.compactados;
        } else if (!nome.startsWith(QLatin1Char('.')) && nome.endsWith(QLatin1String(".xml"))) {
            c.arquivos << nome;
        } else if (nome.startsWith(QLatin1String("resumo-")) &&
                   (nome.endsWith(QLatin1String(".csv")) || nome.endsWith(QLatin1String(".pdf")))) {
            ++c.resumos; // written whole, by rename, by each run that completed
        } else {
            c.estranhos << caminho;
        }
    }
    c.arquivos.sort();
    return c;
}

QStringList Repetidos(const QStringList &ordenados)
{
    QStringList r;
    for (qsizetype i = 1; i < ordenados.size(); ++i)
        if (ordenados[i] == ordenados[i - 1] && (r.isEmpty() || r.last() != ordenados[i]))
            r << ordenados[i];
    return r;
}

class Gerador
{
  public:
    Gerador(Engine engine, int vendas) : m_server(engine)
    {
        m_server.Seed({QStringLiteral("--sales"), QString::number(vendas), QStringLiteral("--from"),
                       settingstest::kInicio.toString(Qt::ISODate), QStringLiteral("--to"),
                       settingstest::kFim.toString(Qt::ISODate), QStringLiteral("--seed"), QStringLiteral("31")});
        m_esperados = NomesEsperados(m_server);
    }

    void Parametros(bool compacta)
    {
        const bool pg = m_server.engine() == Engine::PostgreSQL;
        Sql(m_server,
            QStringLiteral("UPDATE PARAMGERAL SET DTINIGERAARQXML = %1, DSDIRARQXML = 'gerados', IDENVARQCMP = ?")
                .arg(pg ? QStringLiteral("CAST(? AS TIMESTAMP)") : QStringLiteral("?")),
            {QStringLiteral("2024-01-01T00:00:00"), compacta ? QStringLiteral("S") : QStringLiteral("N")});
    }

    // Back to nothing generated.
    void Zera()
    {
        Sql(m_server, QStringLiteral("DELETE FROM VENDAGERAXML"));
        Sql(m_server, QStringLiteral("DELETE FROM ARQGERAXML"));
        QDir(Pasta()).removeRecursively();
    }

    QProcess *Inicia()
    {
        auto *p = new QProcess;
        p->setProcessChannelMode(QProcess::SeparateChannels);
        p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        p->start(vndtest::ServerFixture::ServerBinary(),
                 {QStringLiteral("generate"), QStringLiteral("--db"), m_server.DbUrl(), QStringLiteral("--export-root"),
                  m_raiz.path()});
        EXPECT_TRUE(p->waitForStarted());
        return p;
    }

    // One run to its end; its exit status.
    int Completa()
    {
        std::unique_ptr<QProcess> p(Inicia());
        EXPECT_TRUE(p->waitForFinished(300000));
        m_log = QString::fromUtf8(p->readAllStandardError() + p->readAllStandardOutput());
        if (qEnvironmentVariableIsSet("VND_KILL_VERBOSE"))
            std::fprintf(stderr, "%s", qPrintable(m_log));
        return p->exitCode();
    }

    // After any number of kills and a run to the end: every due sale once, recorded once, nothing else.
    void ConfereFinal()
    {
        ASSERT_EQ(Completa(), 0) << m_log.toStdString();
        const Conteudo c = Le(Pasta());
        EXPECT_EQ(c.estranhos, QStringList());
        EXPECT_EQ(Repetidos(c.arquivos), QStringList());
        EXPECT_EQ(c.arquivos, m_esperados);
        EXPECT_EQ(Count(m_server, QStringLiteral("SELECT COUNT(*) FROM VENDAGERAXML")),
                  Count(m_server, QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE IDSTATUSNFCE IN ('A', 'C')")));
        EXPECT_EQ(Count(m_server, QStringLiteral("SELECT COUNT(*) FROM ARQGERAXML WHERE IDSITUACAO <> 'G'")), 0);
    }

    QString Pasta() const { return QDir(m_raiz.path()).filePath(QStringLiteral("gerados")); }
    QString Raiz() const { return m_raiz.path(); }
    vndtest::ServerFixture &Servidor() { return m_server; }
    const QString &Log() const { return m_log; }
    int Esperados() const { return int(m_esperados.size()); }

  private:
    vndtest::ServerFixture m_server;
    QTemporaryDir m_raiz;
    QStringList m_esperados;
    QString m_log;
};

// Kills runs at random moments (and, compressed, the moment a new archive appears) until the count is
// reached; in between no file is ever in two places.
void MataEConfere(Gerador &g, bool compacta, int mortes, quint32 semente)
{
    g.Parametros(compacta);
    g.Zera();
    // How long a whole run takes here, to spread the kills over it.
    QElapsedTimer relogio;
    relogio.start();
    ASSERT_EQ(g.Completa(), 0) << g.Log().toStdString();
    const int duracao = std::max<int>(int(relogio.elapsed()), 300);
    // A run killed while writing its summary leaves the summary's temporary file, and the next run may
    // have no sale left to write: that one clears it all the same.
    const QString restos = QDir(g.Pasta()).filePath(QStringLiteral("resumo-20240101-000000.pdf.part-2147483647-0"));
    {
        QFile f(restos);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("%PDF-1.4 pela metade");
    }
    ASSERT_EQ(g.Completa(), 0) << g.Log().toStdString();
    EXPECT_FALSE(QFile::exists(restos));
    g.Zera();

    QRandomGenerator random(semente);
    int feitas = 0;
    for (int rodada = 0; rodada < mortes * 4 && feitas < mortes; ++rodada) {
        std::unique_ptr<QProcess> p(g.Inicia());
        bool morto = false;
        if (compacta && rodada % 3 == 2) {
            // The moment an archive gets its final name, before the run marks it.
            const int antes = Le(g.Pasta()).compactados;
            for (int i = 0; i < 20000 && !p->waitForFinished(1); ++i) {
                if (QDir(g.Pasta()).entryList({QStringLiteral("ArquivosXML_*.zip")}, QDir::Files).size() > antes) {
                    p->kill();
                    morto = true;
                    break;
                }
            }
        } else if (!p->waitForFinished(int(random.bounded(20, duracao)))) {
            p->kill();
            morto = true;
        }
        p->waitForFinished();
        if (morto && p->exitStatus() == QProcess::CrashExit)
            ++feitas;
        if (qEnvironmentVariableIsSet("VND_KILL_VERBOSE"))
            std::fprintf(stderr, "rodada %d: %s\n", rodada, morto ? "morta" : "completa");
        const Conteudo c = Le(g.Pasta());
        ASSERT_EQ(Repetidos(c.arquivos), QStringList()) << "after kill " << feitas;
        // A run that got to its end leaves nothing more to kill: start over.
        if (!morto && Count(g.Servidor(), QStringLiteral("SELECT COUNT(*) FROM VENDAGERAXML")) ==
                          Count(g.Servidor(), QStringLiteral("SELECT COUNT(*) FROM VENDA WHERE IDSTATUSNFCE "
                                                             "IN ('A', 'C')"))) {
            g.ConfereFinal();
            if (::testing::Test::HasFatalFailure())
                return;
            g.Zera();
        }
    }
    EXPECT_GE(feitas, mortes);
    g.ConfereFinal();
}

} // namespace

// The figure the product promises is twenty kills over 3 000 sales (VND_KILL_SALES=3000 VND_KILLS=20);
// the suite runs a smaller round of each.
TEST(GeracaoInterrompida, CompressedRunsKilledAtRandomLeaveEachSaleInOneArchiveEntry)
{
    Gerador g(Engine::SQLite, EnvInt("VND_KILL_SALES", 1200));
    ASSERT_GT(g.Esperados(), 1000) << "two archives at least";
    MataEConfere(g, true, EnvInt("VND_KILLS", 9), 20261209);
}

TEST(GeracaoInterrompida, PlainRunsKilledAtRandomLeaveEachSaleInOneFile)
{
    Gerador g(Engine::SQLite, EnvInt("VND_KILL_SALES", 600));
    MataEConfere(g, false, EnvInt("VND_KILLS", 6), 20261210);
}

class GeracaoConcorrente : public ::testing::TestWithParam<Engine>
{
};

TEST_P(GeracaoConcorrente, TwoGenerationsAtOnceNeverArchiveASaleTwice)
{
    if (GetParam() == Engine::PostgreSQL && vndtest::ServerFixture::PostgresUrl().isEmpty())
        GTEST_SKIP() << "no PostgreSQL server for this run (VND_TEST_PG)";
    Gerador g(GetParam(), 1100);
    g.Parametros(true);
    for (int vez = 0; vez < 3; ++vez) {
        g.Zera();
        std::unique_ptr<QProcess> a(g.Inicia()), b(g.Inicia());
        ASSERT_TRUE(a->waitForFinished(300000) && b->waitForFinished(300000));
        const QString saidas = QString::fromUtf8(a->readAllStandardError() + b->readAllStandardError());
        const QList<int> status{a->exitCode(), b->exitCode()};
        if (qEnvironmentVariableIsSet("VND_KILL_VERBOSE"))
            std::fprintf(stderr, "vez %d: %d %d\n", vez, status[0], status[1]);
        EXPECT_TRUE(status.contains(0)) << saidas.toStdString();
        for (int s : status)
            EXPECT_TRUE(s == 0 || s == kGenerationBusyStatus) << s << saidas.toStdString();
        if (status.contains(kGenerationBusyStatus)) {
            EXPECT_TRUE(saidas.contains(QString::fromUtf8("Outra geração automática está em andamento")))
                << saidas.toStdString();
        }
        const Conteudo c = Le(g.Pasta());
        EXPECT_EQ(Repetidos(c.arquivos), QStringList());
        EXPECT_EQ(c.arquivos.size(), g.Esperados());
        EXPECT_EQ(c.estranhos, QStringList());
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, GeracaoConcorrente, ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto &info) {
                             return std::string(info.param == Engine::SQLite ? "SQLite" : "PostgreSQL");
                         });

// The reservation itself: a second holder is refused and named, a holder that died or whose lease ran
// out is taken over, and a holder that lost the row can record nothing more.
TEST(ReservaGeracao, SQLiteHoldersLeasesAndDeadProcesses)
{
    Gerador g(Engine::SQLite, 20);
    g.Parametros(false);
    g.Zera();
    ServerDb db(g.Servidor().DbUrl());
    const qint64 agora = QDateTime::currentSecsSinceEpoch();
    {
        const GenerationLock minha(db);
        EXPECT_EQ(g.Completa(), kGenerationBusyStatus) << g.Log().toStdString();
        EXPECT_TRUE(g.Log().contains(QStringLiteral("processo %1").arg(QCoreApplication::applicationPid())))
            << g.Log().toStdString();
        EXPECT_EQ(Le(g.Pasta()).arquivos, QStringList()) << "nothing written";
        EXPECT_THROW(GenerationLock{db}, EGeracaoEmAndamento) << "another thread of this process";
        EXPECT_NO_THROW(minha.Renew());
        // Taken over behind its back (a lease that ran out while it stalled): it must stop recording.
        Sql(g.Servidor(), QStringLiteral("UPDATE TRAVAGERAXML SET DSDETENTOR = 'outra:1:1'"));
        EXPECT_THROW(minha.Renew(), Exception);
    }
    // Another machine's holder within its lease is respected; past it, it is not.
    Sql(g.Servidor(), QStringLiteral("DELETE FROM TRAVAGERAXML"));
    Sql(g.Servidor(), QStringLiteral("INSERT INTO TRAVAGERAXML (IDTRAVA, DSDETENTOR, NRVALIDADE) VALUES (1, ?, ?)"),
        {QStringLiteral("caixa-central:4242:777"), agora + 600});
    try {
        const GenerationLock outra(db);
        ADD_FAILURE() << "taken from a live holder";
    } catch (const EGeracaoEmAndamento &e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("servidor caixa-central, processo 4242")))
            << e.Message().toStdString();
    }
    Sql(g.Servidor(), QStringLiteral("UPDATE TRAVAGERAXML SET NRVALIDADE = ?"), {agora - 1});
    EXPECT_NO_THROW(GenerationLock{db});
    // A holder on this machine whose process is gone, well within its lease.
    const QString self = GenerationLock::SelfHolder();
    const QString morto = self.section(QLatin1Char(':'), 0, 0) + QStringLiteral(":%1:1").arg(QCoreApplication::applicationPid());
    Sql(g.Servidor(), QStringLiteral("INSERT INTO TRAVAGERAXML (IDTRAVA, DSDETENTOR, NRVALIDADE) VALUES (1, ?, ?)"),
        {morto, agora + 600});
    EXPECT_EQ(g.Completa(), 0) << g.Log().toStdString();
    EXPECT_EQ(Count(g.Servidor(), QStringLiteral("SELECT COUNT(*) FROM TRAVAGERAXML")), 0) << "given back";
}

// A scheduled run that falls while another generation runs waits for it instead of running beside it.
TEST(ReservaGeracao, AScheduledRunWaitsForTheRunningGeneration)
{
    Gerador g(Engine::SQLite, 20);
    g.Parametros(false);
    g.Zera();
    ServerDb db(g.Servidor().DbUrl());
    auto outra = std::make_unique<GenerationLock>(db);
    QTemporaryDir dir;
    QProcess servidor;
    servidor.setProcessChannelMode(QProcess::MergedChannels);
    servidor.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    servidor.start(vndtest::ServerFixture::ServerBinary(),
                   {QStringLiteral("--db"), g.Servidor().DbUrl(), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                    QStringLiteral("--token-file"), dir.filePath(QStringLiteral("token")), QStringLiteral("--export-root"),
                    g.Raiz(), QStringLiteral("--auto-generate-every"), QStringLiteral("60")});
    QString log;
    const auto espera = [&](const QString &texto) {
        for (int i = 0; i < 300 && !log.contains(texto); ++i) {
            servidor.waitForReadyRead(100);
            log += QString::fromUtf8(servidor.readAll());
        }
        return log.contains(texto);
    };
    EXPECT_TRUE(espera(QStringLiteral("Aguardando"))) << log.toStdString();
    EXPECT_EQ(Le(g.Pasta()).arquivos, QStringList());
    outra.reset();
    EXPECT_TRUE(espera(QStringLiteral("geradas, 0 com falha"))) << log.toStdString();
    servidor.terminate();
    ASSERT_TRUE(servidor.waitForFinished(30000));
    EXPECT_EQ(Le(g.Pasta()).arquivos.size(), g.Esperados());
}
