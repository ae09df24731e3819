// The import screens on the offscreen platform: the filter's checks and lookups over the host database,
// its confirmation running a real import, and the log viewer over the validation log.
#include "host/query.h"
#include "host/ui/controls.h"
#include "host/ui/datasource.h"
#include "host/ui/dbgrid.h"
#include "import/ui/frmfiltroimpxml.h"
#include "import/ui/frmlogimparqxml.h"
#include "host/ui/reportpreview.h"
#include "tests/import/importharness.h"
#include "tests/support/scripted_platform.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QSqlQuery>
#include <QTest>
#include <gtest/gtest.h>

using namespace importtest;
using vndtest::ScopedPlatform;

namespace
{

class ImportScreens : public ::testing::Test
{
  protected:
    void SetUp() override { vnd::OpenHostDatabase(Server().DbUrl()); }

    // A filter over the batch's folder, created as its creator does.
    std::unique_ptr<TfrmFiltroImpXml> Filter(Batch &batch)
    {
        auto screen = std::make_unique<TfrmFiltroImpXml>(*batch.import);
        screen->Create();
        screen->show();
        return screen;
    }
    static void Confirm(TfrmFiltroImpXml &f)
    {
        vnd::RunHandler([&] { f.sbtConfirmaClick(); });
    }
    static QString Branch() { return Gen().Branches().first().code; }
    static QString Register() { return Gen().CashRegisters().first().code; }
};

} // namespace

TEST_F(ImportScreens, FolderComesOnlyFromTheDialogAndEndsInASlash)
{
    Batch batch;
    auto f = Filter(batch);
    QTest::keyClicks(f->edtDirArqXml, QStringLiteral("/etc"));
    EXPECT_EQ(f->edtDirArqXml->text(), QString());
    ScopedPlatform platform;
    platform->ExpectFolder(QStringLiteral("/tmp/lote")).ExpectFolderCancel();
    f->btnDirArqMagnetico->Pesquisa();
    EXPECT_EQ(f->edtDirArqXml->text(), QStringLiteral("/tmp/lote/"));
    f->btnDirArqMagnetico->Pesquisa();
    EXPECT_EQ(f->edtDirArqXml->text(), QStringLiteral("/tmp/lote/"));
    EXPECT_EQ(f->btnDirArqMagnetico->Hint(), QStringLiteral("Abrir"));
}

TEST_F(ImportScreens, ChecksKeepTheScreenOpenAndImportNothing)
{
    Batch batch;
    batch.Write(QStringLiteral("nota.xml"), "<raiz/>");
    auto f = Filter(batch);
    ScopedPlatform platform;
    // A branch typed short is adjusted before it is looked up.
    QTest::keyClicks(f->medFilial, QStringLiteral("1"));
    f->medFilialExit();
    EXPECT_EQ(f->medFilial->text(), QStringLiteral("0001"));
    EXPECT_FALSE(f->edtFilial->text().isEmpty());

    platform->ExpectError(QStringLiteral("Caixa deve ser informado."));
    Confirm(*f);
    platform->ExpectError(QStringLiteral("Diretório deve ser informado."));
    QTest::keyClicks(f->medCaixa, Register());
    Confirm(*f);
    EXPECT_TRUE(f->isVisible());
    EXPECT_EQ(batch.Where(QStringLiteral("nota.xml")), QString());

    f->medFilial->setText(QStringLiteral("ZZ"));
    EXPECT_EQ(f->medCaixa->text(), QString()); // a new branch clears the register
    platform->ExpectError(QStringLiteral("Filial não cadastrada."));
    vnd::RunHandler([&] { f->medFilialExit(); });
    EXPECT_EQ(f->medFilial->text(), QStringLiteral("00ZZ"));

    f->medFilial->setText(Branch());
    f->medCaixa->setText(QStringLiteral("999"));
    platform->ExpectError(QStringLiteral("Caixa não cadastrado."));
    vnd::RunHandler([&] { f->medCaixaExit(); });
    f->medCaixa->clear();
    platform->ExpectError(QStringLiteral("Filial deve ser informada."));
    f->medFilial->clear();
    f->medCaixa->setText(Register());
    Confirm(*f);
}

TEST_F(ImportScreens, LookupsFillTheEditsAndTheRegisterNeedsABranch)
{
    Batch batch;
    auto f = Filter(batch);
    ScopedPlatform platform;
    platform->ExpectError(QStringLiteral("Filial deve ser informada."));
    vnd::RunHandler([&] { f->btnCaixa->Pesquisa(); });
    platform->ExpectPick({1});
    vnd::RunHandler([&] { f->btnFilial->Pesquisa(); });
    EXPECT_EQ(f->medFilial->text(), Gen().Branches().at(1).code);
    QSqlQuery name(Server().Database());
    name.prepare(QStringLiteral("SELECT NMFILIAL FROM FILIAL WHERE CDFILIAL = ?"));
    name.addBindValue(f->medFilial->text());
    ASSERT_TRUE(name.exec() && name.next());
    EXPECT_EQ(f->edtFilial->text(), name.value(0).toString());
    platform->ExpectPick({0});
    vnd::RunHandler([&] { f->btnCaixa->Pesquisa(); });
    EXPECT_EQ(f->medCaixa->text(), Gen().Register(Gen().Branches().at(1).code, QStringLiteral("001")).code);
    EXPECT_FALSE(f->edtCaixa->text().isEmpty());
    EXPECT_EQ(f->qryCaixa.RecordCount(), 2);
}

TEST_F(ImportScreens, ConfirmWritesTheStateRunsTheImportAndCloses)
{
    Batch batch;
    batch.import->stFilialCaixaPadrao = QStringLiteral("000100101");
    ScopedPlatform platform;
    platform->ExpectModal(QStringLiteral("TfrmFiltroImpXml"), [&](QDialog &d) {
        auto &f = static_cast<TfrmFiltroImpXml &>(d);
        platform->ExpectFolder(batch.Dir());
        f.btnDirArqMagnetico->Pesquisa();
        platform->ExpectInfo(QStringLiteral("Não foi encontrado nenhum XML."));
        Confirm(f);
        EXPECT_FALSE(f.isVisible());
    });
    criaFiltroImpXml(*batch.import);
    // Neither branch nor register: no fallback.
    EXPECT_EQ(batch.import->stFilialCaixaPadrao, QString());
    EXPECT_EQ(batch.import->stDirXml, batch.Dir());
    EXPECT_EQ(batch.import->stDirXmlErro, batch.Dir() + QStringLiteral("Xml Erro/"));
    EXPECT_EQ(batch.import->stDirXmlProc, batch.Dir() + QStringLiteral("Xml Processados/"));
    EXPECT_EQ(batch.calls.value(QStringLiteral("setDelPreValidXml")), 1);
    EXPECT_EQ(platform->HourglassDepth(), 0);

    // With branch and register the fallback carries the branch's company.
    platform->ExpectModal(QStringLiteral("TfrmFiltroImpXml"), [&](QDialog &d) {
        auto &f = static_cast<TfrmFiltroImpXml &>(d);
        platform->ExpectFolder(batch.Dir());
        f.btnDirArqMagnetico->Pesquisa();
        f.medFilial->setText(Branch());
        f.medCaixa->setText(Register());
        platform->ExpectInfo(QStringLiteral("Não foi encontrado nenhum XML."));
        Confirm(f);
    });
    criaFiltroImpXml(*batch.import);
    EXPECT_EQ(batch.import->stFilialCaixaPadrao,
              Branch() + Register() + Gen().Branches().first().companyCode);
}

TEST_F(ImportScreens, LogViewerShowsTheValidationLogWithItsWords)
{
    Batch batch;
    TClientDataSet &log = batch.import->cdsPreValidXml;
    log.CreateDataSet();
    for (const char *kind : {"E", "A", "X"}) {
        log.Append();
        log.FieldByName(QStringLiteral("IDTPVALIDXML")).SetAsString(QString::fromLatin1(kind));
        log.FieldByName(QStringLiteral("NMARQXML")).SetAsString(QStringLiteral("nota.xml"));
        log.FieldByName(QStringLiteral("DSERROXML")).SetAsString(QStringLiteral("Produto não cadastrado."));
        log.Post();
    }
    ScopedPlatform platform;
    platform->ExpectModal(QStringLiteral("TfrmLogImpArqXml"), [&](QDialog &d) {
        auto &v = static_cast<TfrmLogImpArqXml &>(d);
        EXPECT_EQ(v.windowTitle(), QStringLiteral("Log da Importação do Arquivo XML (NFC-e/SAT)"));
        EXPECT_FALSE(v.cbxRelatorio->isEnabled());
        EXPECT_EQ(v.cbxRelatorio->currentIndex(), 0);
        const QAbstractItemModel *model = v.dbgPreValidXml->model();
        const QStringList fields = {QStringLiteral("IDTPVALIDXML"),   QStringLiteral("NMARQXML"),
                                    QStringLiteral("DSERROXML"),      QStringLiteral("DSAJUDAXML"),
                                    QStringLiteral("CDFILIAL"),       QStringLiteral("CDCAIXA"),
                                    QStringLiteral("NRNOTAFISCALCE"), QStringLiteral("NRACESSONFCE"),
                                    QStringLiteral("CDPRODUTO"),      QStringLiteral("NMPRODUTO")};
        const std::vector<int> widths = {41, 284, 300, 300, 39, 36, 66, 300, 106, 292};
        ASSERT_EQ(model->columnCount(), fields.size());
        for (int c = 0; c < fields.size(); ++c) {
            EXPECT_EQ(v.dbgPreValidXml->ColumnField(c), fields[c]);
            EXPECT_EQ(v.dbgPreValidXml->columnWidth(c), widths[size_t(c)]) << c;
        }
        EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Tipo"));
        EXPECT_EQ(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Descrição do Problema"));
        EXPECT_EQ(model->data(model->index(0, 0)).toString(), QStringLiteral("Erro"));
        EXPECT_EQ(model->data(model->index(1, 0)).toString(), QStringLiteral("Alerta"));
        EXPECT_EQ(model->data(model->index(2, 0)).toString(), QString());
        EXPECT_EQ(model->data(model->index(0, 2)).toString(), QStringLiteral("Produto não cadastrado."));
        // The widths stay; every text can still be read whole: in the tooltip and in the row's detail.
        EXPECT_EQ(model->data(model->index(0, 2), Qt::ToolTipRole).toString(), QStringLiteral("Produto não cadastrado."));
        log.SetRecNo(1);
        EXPECT_TRUE(v.memDetalhe->toPlainText().contains(QStringLiteral("Tipo: Alerta")));
        EXPECT_TRUE(v.memDetalhe->toPlainText().contains(QStringLiteral("Descrição do Problema: Produto não cadastrado.")));

        // "Imprimir" previews the log through the report layer; "Salvar CSV" writes it whole.
        platform->ExpectModal(QStringLiteral("TfrmVisualizaRel"), [](QDialog &p) {
            auto &previa = static_cast<TfrmVisualizaRel &>(p);
            EXPECT_EQ(previa.Document().pages.size(), 1u);
            previa.sbtFechar->click();
        });
        v.sbtImprimir->click();
        QTemporaryDir pasta;
        const QString csv = pasta.filePath(QStringLiteral("log.csv"));
        platform->ExpectSaveFile(csv);
        platform->ExpectInfo(QStringLiteral("Log salvo em "), vndtest::ScriptedPlatform::Match::Contains);
        v.sbtSalvarCsv->click();
        QFile arquivo(csv);
        ASSERT_TRUE(arquivo.open(QIODevice::ReadOnly));
        const QStringList linhas = QString::fromUtf8(arquivo.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        ASSERT_EQ(linhas.size(), 4);
        EXPECT_TRUE(linhas[0].contains(QStringLiteral("Tipo;Arquivo XML;Descrição do Problema")));
        EXPECT_TRUE(linhas[1].startsWith(QStringLiteral("Erro;nota.xml;Produto não cadastrado.;")));
    });
    CriaRelConsVenAuto(*batch.import);
    EXPECT_EQ(platform->HourglassDepth(), 0);
}

TEST_F(ImportScreens, ImportOffersTheViewerWhenTheServerFoundProblems)
{
    Batch batch;
    batch.import->CriaRelConsVenAuto = [&] { CriaRelConsVenAuto(*batch.import); };
    batch.Write(QStringLiteral("lixo.xml"),
                "<NFe><infNFe "
                "Id=\"NFe35150399999999000191650010000001231123456780\"><ide><dhEmi>2015-03-07T18:45:10-03:00"
                "</dhEmi><serie>1</serie><nNF>1</nNF></ide><total><ICMSTot><vNF>1.00</vNF></ICMSTot></"
                "total></infNFe></NFe>");
    ScopedPlatform platform;
    int rows = 0;
    QString lastFile;
    platform->ExpectInfo(XmlProc(0, 1) + ComErros(batch, 1))
        .ExpectQuestion(
            QStringLiteral("Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de erros?"),
            true)
        .ExpectModal(QStringLiteral("TfrmLogImpArqXml"), [&](QDialog &d) {
            QAbstractItemModel *model = static_cast<TfrmLogImpArqXml &>(d).dbgPreValidXml->model();
            rows = model->rowCount();
            // The file in error is shown with the server's rows, last, by its name.
            for (int c = 0; c < model->columnCount(); ++c)
                if (model->data(model->index(rows - 1, c)).toString() == QLatin1String("lixo.xml"))
                    lastFile = QStringLiteral("lixo.xml");
        });
    batch.Run();
    EXPECT_GT(rows, 1);
    EXPECT_EQ(rows, batch.import->cdsPreValidXml.RecordCount());
    EXPECT_EQ(lastFile, QStringLiteral("lixo.xml"));
    // The batch's rows were deleted on the server after they were shown.
    const TServerResult again =
        Server().Connection().Call(QStringLiteral("getPreValidXml"), {batch.import->stNrSeqValidXml});
    TClientDataSet check;
    check.SetData(CheckResultServ(again).value<TDataPacket>());
    EXPECT_TRUE(check.IsEmpty());
}

TEST(ImportCancel, StopsBetweenFilesAndLeavesTheRestForTheNextBatch)
{
    Batch batch;
    const QString branch = Gen().Branches().first().code;
    for (const char *name : {"a.xml", "b.xml", "c.xml"}) {
        vnd::docgen::SaleOptions o;
        o.kind = vnd::docgen::DocKind::Nfce;
        o.status = vnd::docgen::NfceStatus::Authorized;
        o.branchCode = branch;
        batch.Write(QString::fromLatin1(name), vnd::docgen::ProcessedNfce(Gen().MakeSale(o)));
    }
    ScopedPlatform platform;
    // "Cancelar" pressed while the first file is imported: it is filed, the others stay untouched.
    platform->CancelBusyAfter(1);
    platform->ExpectInfo(QString::fromUtf8("Importação cancelada pelo usuário; 2 arquivo(s) ficaram na pasta"),
                         vndtest::ScriptedPlatform::Match::Contains);
    // The server's remarks on the one sale imported are still offered.
    platform->ExpectQuestion(
        QStringLiteral("Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de erros?"), false);
    batch.Run();
    EXPECT_EQ(batch.Where(QStringLiteral("a.xml")), QStringLiteral("Xml Processados/%1/a.xml").arg(branch));
    EXPECT_EQ(batch.Where(QStringLiteral("b.xml")), QString());
    EXPECT_EQ(batch.Where(QStringLiteral("c.xml")), QString());
    EXPECT_EQ(batch.calls.value(QStringLiteral("setDelPreValidXml")), 1);
    EXPECT_TRUE(platform->Seen().filter(QStringLiteral("info:")).last().endsWith(XmlProc(1, 1)));
    EXPECT_FALSE(platform->BusyVisible());
}
