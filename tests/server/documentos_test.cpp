// The sale list without its documents: getNotas's rows without them, getDocumentosNotas by key, and the
// export that reads them in batches (here and on the server) writing what the list with documents wrote.
#include "export/core/documentsource.h"
#include "export/core/geraxmllocal.h"
#include "export/core/salelist.h"
#include "tests/server/dataset.h"
#include "tests/server/servertest.h"
#include "tests/support/testutil.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QSqlQuery>
#include <QTemporaryDir>

using namespace servertest;

namespace {

const QDate kDe(2024, 3, 1), kAte(2024, 3, 3);

// A real source that tells which keys each batch asked for.
class CountingSource : public vnd::DocumentSource
{
public:
    CountingSource(TNetConnection &net, int batch) : m_remote(net, batch) {}
    QHash<QByteArray, vnd::SaleDocuments> Fetch(const QList<QByteArray> &keys) override
    {
        batches << keys;
        return m_remote.Fetch(keys);
    }
    int BatchSize() const override { return m_remote.BatchSize(); }
    QList<QList<QByteArray>> batches;

private:
    vnd::RemoteDocumentSource m_remote;
};

class DocumentosTest : public EngineTest
{
protected:
    vndtest::ServerFixture &Prepared()
    {
        return Server([](vndtest::ServerFixture &s) {
            s.Seed({QStringLiteral("--sales"), QStringLiteral("24"), QStringLiteral("--from"), kDe.toString(Qt::ISODate),
                    QStringLiteral("--to"), kAte.toString(Qt::ISODate), QStringLiteral("--seed"), QStringLiteral("7")});
            // Only what the export takes: sales still waiting for the tax authority are not listed.
            QSqlQuery q(s.Database());
            ASSERT_TRUE(q.exec(QStringLiteral("UPDATE VENDA SET IDSTATUSNFCE = 'X' WHERE IDSTATUSNFCE IN ('P', 'R')")));
        });
    }
    TNetConnection &Net() { return Prepared().Connection(); }

    // The whole list of the period as the main screen holds it, with or without the documents, every row
    // ticked.
    void Lista(TClientDataSet &cds, bool comDocumentos)
    {
        NotasQuery q;
        q.de = kDe;
        q.ate = kAte;
        QVariantList params = NotasParams(q, 0, 500);
        if (!comDocumentos)
            params << true;
        vnd::DefineCdsNotas(cds);
        cds.SetData(vnd::rpc::ToPacket(CheckResultServ(Net().Call(QStringLiteral("getNotas"), params))));
        cds.DisableControls();
        for (cds.First(); !cds.Eof(); cds.Next()) {
            cds.Edit();
            cds.FieldByName(QStringLiteral("IDCHECK")).SetAsString(QStringLiteral("S"));
            cds.Post();
        }
        cds.EnableControls();
    }

    // Relative path -> SHA-256 of every file below dir but the run's summary.
    static QMap<QString, QByteArray> Arquivos(const QString &dir)
    {
        QMap<QString, QByteArray> out;
        for (QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
            const QString path = it.next();
            if (!it.fileName().startsWith(QLatin1String("resumo-")))
                out.insert(QDir(dir).relativeFilePath(path),
                           QCryptographicHash::hash(vndtest::ReadFile(path), QCryptographicHash::Sha256));
        }
        return out;
    }

    static bool TemResumo(const QString &dir)
    {
        return !QDir(dir).entryList({QStringLiteral("resumo-*")}, QDir::Files).isEmpty();
    }

    QString Erro(const QString &method, const QVariantList &params)
    {
        const TServerResult r = Net().Call(method, params);
        EXPECT_FALSE(r.ok) << method.toStdString();
        return r.error;
    }
};

} // namespace

TEST_P(DocumentosTest, TheListWithoutDocumentsHoldsTheSameRowsAndTheDocumentsComeByKey)
{
    TClientDataSet com, sem;
    Lista(com, true);
    Lista(sem, false);
    ASSERT_GT(com.RecordCount(), 6);
    ASSERT_EQ(sem.RecordCount(), com.RecordCount());
    const int xml = com.FieldIndex(QStringLiteral("DSARQXMLNFCE")), canc = com.FieldIndex(QStringLiteral("DSARQXMLCANCNFCE"));
    const int chave = com.FieldIndex(QStringLiteral("NRACESSONFCE"));
    QList<QByteArray> chaves;
    for (int r = 0; r < com.RowCount(); ++r) {
        for (int f = 0; f < com.FieldCount(); ++f) {
            if (f == xml || f == canc)
                EXPECT_TRUE(sem.RowValue(r, f).isNull()) << "row " << r;
            else
                EXPECT_EQ(sem.RowValue(r, f), com.RowValue(r, f)) << "row " << r << " field " << f;
        }
        chaves << com.RowValue(r, chave).toByteArray();
    }
    // The documents of every sale, as the list with documents held them, whatever the order asked.
    std::reverse(chaves.begin(), chaves.end());
    vnd::RemoteDocumentSource fonte(Net());
    const QHash<QByteArray, vnd::SaleDocuments> docs = fonte.Fetch(chaves);
    ASSERT_EQ(docs.size(), chaves.size());
    for (int r = 0; r < com.RowCount(); ++r) {
        const vnd::SaleDocuments d = docs.value(com.RowValue(r, chave).toByteArray());
        EXPECT_EQ(d.document, com.RowValue(r, xml).toByteArray());
        EXPECT_EQ(d.cancelDocument, com.RowValue(r, canc).toByteArray());
        EXPECT_FALSE(d.document.isEmpty());
    }

    // Wrong calls are named; nothing else changes for the callers of sixteen arguments.
    const QString desconhecida = QStringLiteral("35990000000000000000650010000000011000000019");
    EXPECT_THAT(Erro(QStringLiteral("getDocumentosNotas"), {QVariant(QVariantList{QString::fromUtf8(chaves[0]), desconhecida})}).toStdString(),
                testing::HasSubstr("Venda não encontrada no servidor: chave de acesso " + desconhecida.toStdString()));
    EXPECT_THAT(Erro(QStringLiteral("getDocumentosNotas"), {QVariant(QVariantList{QString::fromUtf8(chaves[0]), QStringLiteral(" ")})}).toStdString(),
                testing::HasSubstr("Chave de acesso vazia no item 2"));
    QVariantList demais;
    for (int i = 0; i <= 1000; ++i)
        demais << QStringLiteral("3599%1").arg(i, 40, 10, QLatin1Char('0'));
    EXPECT_THAT(Erro(QStringLiteral("getDocumentosNotas"), {QVariant(demais)}).toStdString(), testing::HasSubstr("o máximo é 1000"));
    EXPECT_FALSE(Net().Call(QStringLiteral("getDocumentosNotas"), {QString::fromUtf8(chaves[0])}).ok) << "a text is not a list";
    NotasQuery q;
    q.de = kDe;
    q.ate = kAte;
    EXPECT_FALSE(Net().Call(QStringLiteral("getNotas"), NotasParams(q, 0, 500) << true << true).ok);
    EXPECT_FALSE(Net().Call(QStringLiteral("getNotas"), NotasParams(q, 0, 500) << QStringLiteral("talvez")).ok);
}

TEST_P(DocumentosTest, TheExportReadingDocumentsInBatchesWritesWhatTheListWithDocumentsWrote)
{
    TClientDataSet com, sem;
    Lista(com, true);
    Lista(sem, false);
    // A few rows unticked: they are neither asked for nor written.
    const QList<int> fora{1, 5};
    QSet<QByteArray> naoMarcadas;
    for (const int r : fora) {
        sem.SetRecNo(r);
        sem.Edit();
        sem.FieldByName(QStringLiteral("IDCHECK")).SetAsString(QStringLiteral("N"));
        sem.Post();
        com.SetRecNo(r);
        com.Edit();
        com.FieldByName(QStringLiteral("IDCHECK")).SetAsString(QStringLiteral("N"));
        com.Post();
        naoMarcadas.insert(sem.FieldByName(QStringLiteral("NRACESSONFCE")).AsBytes());
    }
    const int marcadas = sem.RecordCount() - int(fora.size());

    QTemporaryDir dir;
    for (const bool compacta : {false, true}) {
        SCOPED_TRACE(compacta ? "zip" : "pastas");
        const QString antes = dir.filePath(compacta ? QStringLiteral("com-zip") : QStringLiteral("com"));
        const QString agora = dir.filePath(compacta ? QStringLiteral("sem-zip") : QStringLiteral("sem"));
        vnd::ExportSummary resumoAntes, resumoAgora;
        ASSERT_TRUE(vnd::GeraXmlLocal(com, antes, compacta, nullptr, &resumoAntes));
        CountingSource fonte(Net(), 3);
        ASSERT_TRUE(vnd::GeraXmlLocal(sem, agora, compacta, nullptr, &resumoAgora, false, &fonte));
        EXPECT_EQ(resumoAgora.sales, marcadas);
        EXPECT_EQ(resumoAgora.sales, resumoAntes.sales);
        EXPECT_EQ(resumoAgora.unsignedEvents, resumoAntes.unsignedEvents);
        EXPECT_EQ(resumoAgora.archivedFiles, resumoAntes.archivedFiles);
        EXPECT_TRUE(TemResumo(agora));
        if (!compacta)
            EXPECT_EQ(Arquivos(agora), Arquivos(antes));
        else
            EXPECT_EQ(Arquivos(agora).size(), Arquivos(antes).size());

        // Batches of three ticked keys in the list's order, the last one shorter, each key once.
        QList<QByteArray> pedidas;
        for (const QList<QByteArray> &lote : fonte.batches) {
            EXPECT_LE(lote.size(), 3);
            EXPECT_GE(lote.size(), 1);
            pedidas += lote;
        }
        EXPECT_EQ(fonte.batches.size(), (marcadas + 2) / 3);
        QList<QByteArray> esperadas;
        for (int r = 0; r < sem.RowCount(); ++r)
            if (!fora.contains(r))
                esperadas << sem.RowValue(r, sem.FieldIndex(QStringLiteral("NRACESSONFCE"))).toByteArray();
        EXPECT_EQ(pedidas, esperadas);
    }

    // The server destination takes the ticked keys only and writes the same files from its documents.
    const QString pasta = QStringLiteral("documentos-%1").arg(GetParam() == Engine::SQLite ? 1 : 2);
    const TServerResult r = Net().Call(QStringLiteral("geraXml"),
                                       {QVariant::fromValue(vnd::TickedKeysPacket(sem)), pasta, QStringLiteral("N"), false});
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(Arquivos(Prepared().ExportRoot() + QLatin1Char('/') + pasta), Arquivos(dir.filePath(QStringLiteral("com"))));
    TClientDataSet pacote;
    pacote.SetData(vnd::TickedKeysPacket(sem));
    EXPECT_EQ(pacote.RecordCount(), marcadas);
    EXPECT_EQ(pacote.FieldCount(), 2);
    for (pacote.First(); !pacote.Eof(); pacote.Next())
        EXPECT_FALSE(naoMarcadas.contains(pacote.FieldByName(QStringLiteral("NRACESSONFCE")).AsBytes()));
}

// A suite of its own: it removes a sale, so it gets a server of its own.
class DocumentosRemovidosTest : public DocumentosTest
{
};

TEST_P(DocumentosRemovidosTest, ASaleTheServerNoLongerHasStopsTheExportNamingItsKey)
{
    TClientDataSet sem;
    Lista(sem, false);
    ASSERT_GT(sem.RecordCount(), 6);
    // The fifth sale (in the second batch of three) goes from the database after the list was fetched.
    const QByteArray removida = sem.RowValue(4, sem.FieldIndex(QStringLiteral("NRACESSONFCE"))).toByteArray();
    {
        QSqlQuery q(Prepared().Database());
        for (const char *sql : {"DELETE FROM VENDAITEM WHERE IDVENDA IN (SELECT IDVENDA FROM VENDA WHERE NRACESSONFCE = ?)",
                                "DELETE FROM VENDARECE WHERE IDVENDA IN (SELECT IDVENDA FROM VENDA WHERE NRACESSONFCE = ?)",
                                "DELETE FROM VENDA WHERE NRACESSONFCE = ?"}) {
            ASSERT_TRUE(q.prepare(QString::fromLatin1(sql)));
            q.addBindValue(QString::fromUtf8(removida));
            ASSERT_TRUE(q.exec());
        }
    }
    const std::string mensagem = "Venda não encontrada no servidor: chave de acesso " + removida.toStdString();
    QTemporaryDir dir;
    for (const bool compacta : {false, true}) {
        SCOPED_TRACE(compacta ? "zip" : "pastas");
        const QString pasta = dir.filePath(compacta ? QStringLiteral("zip") : QStringLiteral("pastas"));
        vnd::RemoteDocumentSource fonte(Net(), 3);
        try {
            vnd::GeraXmlLocal(sem, pasta, compacta, nullptr, nullptr, false, &fonte);
            ADD_FAILURE() << "the export went on without the sale's documents";
        } catch (const Exception &e) {
            EXPECT_THAT(e.Message().toStdString(), testing::HasSubstr(mensagem));
        }
        // The sales before it are written whole; nothing says the export is complete.
        EXPECT_FALSE(TemResumo(pasta));
        const QMap<QString, QByteArray> escritos = Arquivos(pasta);
        EXPECT_FALSE(escritos.isEmpty());
        for (auto it = escritos.begin(); it != escritos.end(); ++it) {
            EXPECT_FALSE(it.key().contains(QString::fromUtf8(removida))) << it.key().toStdString();
            EXPECT_TRUE(it.key().endsWith(QLatin1String(".xml"))) << "no temporary file or archive: " << it.key().toStdString();
            EXPECT_TRUE(vndtest::ReadFile(QDir(pasta).filePath(it.key())).endsWith(">\r\n"))
                << it.key().toStdString();
        }
    }

    // The server destination checks every key before it writes anything.
    const QString pasta = QStringLiteral("sem-venda-%1").arg(GetParam() == Engine::SQLite ? 1 : 2);
    EXPECT_THAT(Erro(QStringLiteral("geraXml"), {QVariant::fromValue(vnd::TickedKeysPacket(sem)), pasta, QStringLiteral("S"), false})
                    .toStdString(),
                testing::HasSubstr(mensagem));
    EXPECT_TRUE(Arquivos(Prepared().ExportRoot() + QLatin1Char('/') + pasta).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Engines, DocumentosTest, testing::Values(Engine::SQLite, Engine::PostgreSQL), EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, DocumentosRemovidosTest, testing::Values(Engine::SQLite, Engine::PostgreSQL), EngineName);
