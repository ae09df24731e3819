// Parameters of the automatic generation, validation batch numbers and server-side generation.
#include "tests/server/dataset.h"
#include "tests/server/servertest.h"
#include "tests/support/testutil.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <mutex>
#include <thread>

using namespace servertest;

namespace {

class MethodsTest : public EngineTest
{
protected:
    vndtest::ServerFixture &Prepared()
    {
        return Server(PrepareFilterDataset);
    }
    TNetConnection &Net() { return Prepared().Connection(); }

    void LoadParams(TClientDataSet &cds)
    {
        cds.Close();
        cds.SetData(vnd::rpc::ToPacket(CheckResultServ(Net().Call(QStringLiteral("getParamGeral")))));
    }

    // The sale list of March with the given ids ticked, as the main screen holds it.
    TDataPacket TickedList(const QList<int> &ids)
    {
        NotasQuery q;
        q.de = QDate(2024, 3, 1);
        q.ate = QDate(2024, 3, 3);
        TClientDataSet cds;
        cds.SetData(vnd::rpc::ToPacket(CheckResultServ(Net().Call(QStringLiteral("getNotas"), NotasParams(q, 0, 500)))));
        for (cds.First(); !cds.Eof(); cds.Next()) {
            if (!ids.contains(cds.FieldByName(QStringLiteral("NRSEQVENDA")).AsString().toInt()))
                continue;
            cds.Edit();
            cds.FieldByName(QStringLiteral("IDCHECK")).SetAsString(QStringLiteral("S"));
            cds.Post();
        }
        return cds.Data();
    }

    QString GeraXml(const TDataPacket &list, const QString &folder, const QString &compress = QStringLiteral("N"))
    {
        const TServerResult r =
            Net().Call(QStringLiteral("geraXml"), {QVariant::fromValue(list), folder, compress, false});
        EXPECT_FALSE(r.ok);
        return r.error;
    }
};

} // namespace

TEST_P(MethodsTest, ParameterRowRoundTripsThroughItsChangePacket)
{
    TClientDataSet cds;
    LoadParams(cds);
    ASSERT_EQ(cds.RecordCount(), 1); // the one row exists from the start
    EXPECT_EQ(cds.FieldByName(QStringLiteral("IDENVARQCMP")).AsString(), QStringLiteral("N"));
    cds.Edit();
    cds.FieldByName(QStringLiteral("DTINIGERAARQXML")).SetAsDateTime(QDateTime(QDate(2024, 1, 31), QTime(0, 0)));
    cds.FieldByName(QStringLiteral("DSDIRARQXML")).SetAsString(QStringLiteral("/srv/xml/ação"));
    cds.FieldByName(QStringLiteral("DSDIRARQPHPGXML")).SetAsString(QStringLiteral("C:\\php\\scripts\\"));
    cds.FieldByName(QStringLiteral("DSDIRINSTALAPHP")).SetAsString(QStringLiteral("C:\\php"));
    cds.FieldByName(QStringLiteral("IDENVARQCMP")).SetAsString(QStringLiteral("S"));
    cds.Post();
    CheckResultServ(Net().Call(QStringLiteral("setParamGeral"), {QVariant::fromValue(cds.Delta())}));

    TClientDataSet back;
    LoadParams(back);
    ASSERT_EQ(back.RecordCount(), 1);
    EXPECT_EQ(back.FieldByName(QStringLiteral("DTINIGERAARQXML")).AsDateTime(), QDateTime(QDate(2024, 1, 31), QTime(0, 0)));
    EXPECT_EQ(back.FieldByName(QStringLiteral("DSDIRARQXML")).AsString(), QStringLiteral("/srv/xml/ação"));
    EXPECT_EQ(back.FieldByName(QStringLiteral("DSDIRARQPHPGXML")).AsString(), QStringLiteral("C:\\php\\scripts\\"));
    EXPECT_EQ(back.FieldByName(QStringLiteral("IDENVARQCMP")).AsString(), QStringLiteral("S"));

    back.Edit();
    back.FieldByName(QStringLiteral("IDENVARQCMP")).SetAsString(QStringLiteral("X"));
    back.Post();
    EXPECT_THAT(Net().Call(QStringLiteral("setParamGeral"), {QVariant::fromValue(back.Delta())}).error.toStdString(),
                testing::HasSubstr("Indicador de compactação inválido"));
    TClientDataSet removed;
    LoadParams(removed);
    removed.First();
    removed.Delete();
    EXPECT_THAT(Net().Call(QStringLiteral("setParamGeral"), {QVariant::fromValue(removed.Delta())}).error.toStdString(),
                testing::HasSubstr("não podem ser excluídos"));
    TClientDataSet still;
    LoadParams(still);
    EXPECT_EQ(still.FieldByName(QStringLiteral("IDENVARQCMP")).AsString(), QStringLiteral("S"));
}

TEST_P(MethodsTest, BatchNumbersAreUniqueUnderConcurrency)
{
    vndtest::ServerFixture &server = Prepared();
    std::mutex lock;
    QList<qint64> numbers;
    std::vector<std::thread> clients;
    for (int c = 0; c < 8; ++c)
        clients.emplace_back([&] {
            auto net = server.Connect();
            for (int i = 0; i < 25; ++i) {
                const qint64 n = CheckResultServ(net->Call(QStringLiteral("getPrxPreValidXml"))).toString().toLongLong();
                std::lock_guard<std::mutex> guard(lock);
                numbers << n;
            }
        });
    for (auto &t : clients)
        t.join();
    ASSERT_EQ(numbers.size(), 200);
    EXPECT_EQ(QSet<qint64>(numbers.begin(), numbers.end()).size(), 200);
    for (qint64 n : numbers)
        EXPECT_GT(n, 0);
}

TEST_P(MethodsTest, ServerGenerationStaysInsideTheExportRoot)
{
    vndtest::ServerFixture &server = Prepared();
    const TDataPacket list = TickedList({1, 3});
    const QString root = server.ExportRoot();
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/lojas")));
    ASSERT_TRUE(QFile::link(QDir::tempPath(), root + QStringLiteral("/fuga")));
    ASSERT_TRUE(QFile::link(root + QStringLiteral("/nada/lugar"), root + QStringLiteral("/solta")));

    for (const QString &outside : {QStringLiteral("../fora"), QStringLiteral("lojas/../../fora"), QStringLiteral("/etc"),
                                   QStringLiteral("..\\..\\Windows"), QStringLiteral("fuga/xml"), QStringLiteral("solta/x"),
                                   QStringLiteral("C:\\Users\\loja")}) {
        SCOPED_TRACE(outside.toStdString());
        EXPECT_THAT(GeraXml(list, outside).toStdString(), testing::HasSubstr("fora da pasta de exportação do servidor"));
    }
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/../fora")));
    EXPECT_THAT(GeraXml(list, QString()).toStdString(), testing::HasSubstr("Pasta de destino dos arquivos não informada"));

    // Inside the root the server writes the files of the ticked rows from its own documents, whatever
    // the client's packet carries in them.
    TClientDataSet tampered;
    tampered.SetData(TickedList({3}));
    for (tampered.First(); !tampered.Eof(); tampered.Next()) {
        tampered.Edit();
        tampered.FieldByName(QStringLiteral("DSARQXMLNFCE")).SetAsString(QStringLiteral("<forjado/>"));
        tampered.Post();
    }
    for (const auto &[folder, compress] : {std::pair{QStringLiteral("lojas/nova/2024"), QStringLiteral("N")},
                                            std::pair{root + QStringLiteral("/lojas/zip"), QStringLiteral("S")}}) {
        const TServerResult r =
            Net().Call(QStringLiteral("geraXml"), {QVariant::fromValue(tampered.Data()), folder, compress, false});
        ASSERT_TRUE(r.ok) << r.error.toStdString();
        EXPECT_TRUE(r.value.toBool());
        const QString written = folder.startsWith(root) ? folder : root + QLatin1Char('/') + folder;
        QStringList files;
        QDirIterator it(written, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString f = it.next();
            files << f;
            if (f.endsWith(QLatin1String(".xml"))) {
                EXPECT_FALSE(vndtest::ReadFile(f).contains("forjado")) << f.toStdString();
            }
        }
        ASSERT_FALSE(files.isEmpty()) << written.toStdString();
        // The server writes the run's summary beside the files, PDF included, without a display.
        EXPECT_EQ(QDir(written).entryList({QStringLiteral("resumo-*.csv")}, QDir::Files).size(), 1) << written.toStdString();
        EXPECT_EQ(QDir(written).entryList({QStringLiteral("resumo-*.pdf")}, QDir::Files).size(), 1) << written.toStdString();
        if (compress == QLatin1String("S")) {
            // Archives, and last the run's summary.
            for (const QString &f : files)
                EXPECT_TRUE(QFileInfo(f).fileName().startsWith(QLatin1String("ArquivosXML_")) ||
                            QFileInfo(f).fileName().startsWith(QLatin1String("resumo-")))
                    << f.toStdString();
        }
    }
    // The stored NFC-e of sale 1 is not a signed document: the assembly refuses it and names its key.
    EXPECT_THAT(GeraXml(list, QStringLiteral("lojas")).toStdString(), testing::HasSubstr("não contém <DigestValue>. - 3524"));
    EXPECT_THAT(GeraXml(list, QStringLiteral("lojas"), QStringLiteral("X")).toStdString(),
                testing::HasSubstr("Indicador de compactação inválido"));

    // A ticked row whose key the server does not store is named, whatever documents the client sent.
    TClientDataSet forged;
    forged.SetData(list);
    forged.First();
    forged.Edit();
    forged.FieldByName(QStringLiteral("IDCHECK")).SetAsString(QStringLiteral("S"));
    forged.FieldByName(QStringLiteral("NRACESSONFCE")).SetAsString(QStringLiteral("35990000000000000000650010000000011000000019"));
    forged.Post();
    EXPECT_THAT(GeraXml(forged.Data(), QStringLiteral("lojas")).toStdString(),
                testing::HasSubstr("Venda não encontrada no servidor: chave de acesso 35990000000000000000650010000000011000000019"));
}

INSTANTIATE_TEST_SUITE_P(Engines, MethodsTest, testing::Values(Engine::SQLite, Engine::PostgreSQL), EngineName);

TEST_P(MethodsTest, ExportFoldersAreListedAndMadeInsideTheRootOnly)
{
    vndtest::ServerFixture &server = Prepared();
    const QString root = server.ExportRoot() + QStringLiteral("/pastas");
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/b")));
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/A")));
    QFile file(root + QStringLiteral("/f.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(QFile::link(QDir::tempPath(), root + QStringLiteral("/fuga")));
    const auto call = [&](const QString &method, const QVariantList &params) { return Net().Call(method, params); };
    const auto list = [&](const QString &folder) {
        const TServerResult r = call(QStringLiteral("getPastasExportacao"), {folder});
        EXPECT_TRUE(r.ok) << r.error.toStdString();
        return r.value.toStringList();
    };
    const auto make = [&](const QString &parent, const QString &name) {
        return call(QStringLiteral("setCriaPastaExportacao"), {parent, name});
    };

    // Folders only, by name: neither the file nor the link that leads out.
    EXPECT_EQ(list(QStringLiteral("pastas")), (QStringList{QStringLiteral("A"), QStringLiteral("b")}));
    EXPECT_TRUE(list(QString()).contains(QStringLiteral("pastas")));

    TServerResult r = make(QStringLiteral("pastas"), QStringLiteral("mensal"));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.value.toString(), QStringLiteral("pastas/mensal"));
    EXPECT_EQ(make(QStringLiteral("pastas\\"), QStringLiteral("mensal")).value.toString(), QStringLiteral("pastas/mensal"))
        << "a folder that exists is taken as it is";
    r = make(QStringLiteral("pastas/mensal"), QStringLiteral("2024-03"));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_TRUE(QFileInfo(root + QStringLiteral("/mensal/2024-03")).isDir());
    EXPECT_EQ(list(QStringLiteral("pastas/mensal")), QStringList{QStringLiteral("2024-03")});

    // What the chooser returns is what the generation takes.
    const TServerResult gerado = Net().Call(QStringLiteral("geraXml"),
                                            {QVariant::fromValue(TickedList({3})), r.value.toString(), QStringLiteral("N"), false});
    ASSERT_TRUE(gerado.ok) << gerado.error.toStdString();
    EXPECT_FALSE(QDir(root + QStringLiteral("/mensal/2024-03")).isEmpty());

    EXPECT_THAT(make(QStringLiteral("pastas/fuga"), QStringLiteral("x")).error.toStdString(),
                testing::HasSubstr("fora da pasta de exportação do servidor"));
    EXPECT_THAT(make(QStringLiteral("pastas"), QStringLiteral("f.txt")).error.toStdString(),
                testing::HasSubstr("Já existe no servidor um arquivo chamado \"f.txt\""));
    EXPECT_THAT(make(QStringLiteral("pastas"), QString(101, QLatin1Char('x'))).error.toStdString(),
                testing::HasSubstr("mais de 100 caracteres"));
    EXPECT_THAT(make(QStringLiteral("pastas"), QStringLiteral("")).error.toStdString(),
                testing::HasSubstr("Informe o nome da nova pasta."));
    EXPECT_THAT(call(QStringLiteral("getPastasExportacao"), {QStringLiteral("/etc")}).error.toStdString(),
                testing::HasSubstr("fora da pasta de exportação do servidor"));
    EXPECT_THAT(call(QStringLiteral("getPastasExportacao"), {QStringLiteral("pastas/nada")}).error.toStdString(),
                testing::HasSubstr("não existe no servidor"));
    EXPECT_FALSE(call(QStringLiteral("getPastasExportacao"), {}).ok);
}
