// "Gerar Xml": the tick check, the confirmation, the destination dialog and its defaults, the folder
// dialog, and the two roads — the ticked keys to the server in one call, or the files written here.
#include "export/ui/frmendarqxml.h"
#include "export/ui/frmgeraxml.h"
#include "export/ui/frmpastaservidor.h"
#include "host/ui/controls.h"
#include "host/ui/datasource.h"
#include "tests/export/ui/telas_testutil.h"

#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace exporttest;

namespace {

QString Utf8(const char *s) { return QString::fromUtf8(s); }

const QString kPergunta = QStringLiteral("Confirma geração dos arquivos XML?");

class GeracaoXml : public ::testing::Test
{
protected:
    void SetUp() override
    {
        LimpaUnidades();
        m_tela = &AbreTela(*platform);
        m_tela->OnChamadaRemota = [this](const QString &metodo, const QVariantList &params) {
            if (metodo == QLatin1String("geraXml"))
                m_chamadas.push_back(params);
        };
    }
    void TearDown() override { FechaTela(); }

    // Ticks the rows of these positions.
    void Marca(std::initializer_list<int> linhas)
    {
        for (int linha : linhas) {
            m_tela->cdsNotas.SetRecNo(linha);
            m_tela->dbgPadraoDblClick();
        }
    }

    // The destination dialog: checks its defaults, then chooses as told and confirms (or cancels).
    void Destino(bool servidor, bool compacta, bool confirma = true)
    {
        platform->ExpectModal(QStringLiteral("TfrmEndArqXML"), [=](QDialog &d) {
            auto &f = static_cast<TfrmEndArqXML &>(d);
            EXPECT_EQ(f.windowTitle(), Utf8("Confirmação do Endereço do Arquivo XML"));
            EXPECT_TRUE(f.rbtLocal->isChecked()) << "each opening starts at the local destination";
            EXPECT_FALSE(f.rbtServidor->isChecked());
            EXPECT_FALSE(f.chbArqZip->isChecked()) << "and without compression";
            if (servidor)
                f.rbtServidor->click();
            f.chbArqZip->setChecked(compacta);
            (confirma ? f.sbtConfirma : f.sbtCancel)->click();
        });
    }

    static QStringList Arquivos(const QString &pasta)
    {
        QStringList nomes;
        // The export's summary is checked with the export itself.
        for (QDirIterator it(pasta, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            if (const QString nome = QFileInfo(it.next()).fileName(); !nome.startsWith(QLatin1String("resumo-")))
                nomes << nome;
        nomes.sort();
        return nomes;
    }

    vndtest::ScopedPlatform platform;
    TfrmGeraXml *m_tela = nullptr;
    std::vector<QVariantList> m_chamadas;
};

TEST_F(GeracaoXml, WithoutATickedSaleNothingHappensButTheMessage)
{
    platform->ExpectError(Utf8("Operação Bloqueada! Favor selecionar uma ou mais notas antes de gerar o Xml"));
    m_tela->sbtGeraXml->click();
    Marca({3});
    m_tela->cdsNotas.SetRecNo(0);
    platform->ExpectQuestion(kPergunta, false);
    m_tela->sbtGeraXml->click();
    EXPECT_EQ(m_tela->cdsNotas.RecNo(), 3) << "the check moves to the first ticked row";
    EXPECT_TRUE(m_chamadas.empty());
}

TEST_F(GeracaoXml, TheServerGetsTheTickedKeysInOneCallWithTheCompressionText)
{
    QTemporaryDir pasta;
    Marca({1, 4});
    for (const bool compacta : {true, false}) {
        platform->ExpectQuestion(kPergunta, true);
        Destino(true, compacta);
        // The server's own folders, by relative name: "lote" made on the first run, offered again next.
        platform->ExpectModal(QStringLiteral("TfrmPastaServidor"), [compacta](QDialog &d) {
            auto &f = static_cast<TfrmPastaServidor &>(d);
            if (compacta) {
                f.edtNovaPasta->setText(QStringLiteral("lote"));
                f.sbtCriaPasta->click();
            }
            EXPECT_EQ(f.Pasta(), QStringLiteral("lote"));
            f.sbtConfirma->click();
        });
        platform->ExpectInfo(QStringLiteral("Arquivo(s) Xml gerado(s) com sucesso."));
        m_tela->sbtGeraXml->click();
        EXPECT_TRUE(m_tela->boServidor);
        EXPECT_EQ(m_tela->boCompactado, compacta);
    }
    ASSERT_EQ(m_chamadas.size(), 2u);
    for (size_t i = 0; i < m_chamadas.size(); ++i) {
        const QVariantList &params = m_chamadas[i];
        ASSERT_EQ(params.size(), 4);
        TClientDataSet lista;
        lista.SetData(params[0].value<TDataPacket>());
        // Only the ticked rows' keys travel: the server reads the rest from its own database.
        EXPECT_EQ(lista.FieldCount(), 2);
        QStringList chaves;
        for (lista.First(); !lista.Eof(); lista.Next()) {
            EXPECT_EQ(lista.FieldByName(QStringLiteral("IDCHECK")).AsString(), QStringLiteral("S"));
            chaves << lista.FieldByName(QStringLiteral("NRACESSONFCE")).AsString();
        }
        QStringList esperadas;
        for (const int linha : {1, 4})
            esperadas << m_tela->cdsNotas.RowValue(linha, m_tela->cdsNotas.FieldIndex(QStringLiteral("NRACESSONFCE"))).toString();
        EXPECT_EQ(chaves, esperadas);
        EXPECT_EQ(params[1].toString(), QStringLiteral("lote"));
        EXPECT_EQ(params[2].toString(), i == 0 ? QStringLiteral("S") : QStringLiteral("N"));
        EXPECT_EQ(params[3].toBool(), false);
    }
    EXPECT_FALSE(platform->BusyVisible());
}

TEST_F(GeracaoXml, CancellingAnyStepWritesNothingAndSaysNothing)
{
    QTemporaryDir pasta;
    Marca({0});
    platform->ExpectQuestion(kPergunta, true);
    Destino(true, true);
    platform->ExpectModal(QStringLiteral("TfrmPastaServidor"), [](QDialog &d) {
        static_cast<TfrmPastaServidor &>(d).sbtCancel->click();
    });
    m_tela->sbtGeraXml->click();

    platform->ExpectQuestion(kPergunta, true);
    Destino(false, false, false);
    m_tela->sbtGeraXml->click();
    EXPECT_FALSE(m_tela->boConfirmado);

    // Closing the dialog with its close box after an earlier confirmation is no confirmation.
    m_tela->boConfirmado = true;
    platform->ExpectQuestion(kPergunta, true);
    platform->ExpectModal(QStringLiteral("TfrmEndArqXML"), [](QDialog &d) { d.close(); });
    m_tela->sbtGeraXml->click();
    EXPECT_FALSE(m_tela->boConfirmado);
    EXPECT_FALSE(vnd::EndArqXmlConfirmado());

    EXPECT_TRUE(m_chamadas.empty());
    EXPECT_TRUE(Arquivos(pasta.path()).isEmpty());
    EXPECT_EQ(platform->Seen().filter(QStringLiteral("info")).size(), 0);
}

TEST_F(GeracaoXml, TheLocalDestinationWritesTheTickedSalesFilesHere)
{
    // One authorised NFC-e and one SAT sale, ticked by their keys.
    const QString nfce = Consulta(QStringLiteral("SELECT MIN(NRACESSONFCE) FROM VENDA WHERE IDTPEMISVEND = 'N' AND IDSTATUSNFCE = 'A'")).toString();
    const QString sat = Consulta(QStringLiteral("SELECT MIN(NRACESSONFCE) FROM VENDA WHERE IDTPEMISVEND <> 'N' AND IDSTATUSNFCE = 'A'")).toString();
    const int chave = m_tela->cdsNotas.FieldIndex(QStringLiteral("NRACESSONFCE"));
    for (int r = 0; r < m_tela->cdsNotas.RowCount(); ++r) {
        const QString k = QString::fromUtf8(m_tela->cdsNotas.RowValue(r, chave).toByteArray());
        if (k == nfce || k == sat)
            Marca({r});
    }
    ASSERT_EQ(m_tela->inQtdeMarcadas, 2);

    QTemporaryDir soltos, compactados;
    platform->ExpectQuestion(kPergunta, true);
    Destino(false, false);
    platform->ExpectFolder(soltos.path());
    platform->ExpectInfo(QStringLiteral("Arquivo(s) Xml gerado(s) com sucesso."));
    // The harness's documents carry no signature: written all the same, and the user is told which.
    platform->ExpectInfo(QStringLiteral("2 arquivo(s) gravado(s) com assinatura inválida (veja o resumo da pasta):\n"),
                         vndtest::ScriptedPlatform::Match::Contains);
    m_tela->sbtGeraXml->click();
    const QStringList arquivos = Arquivos(soltos.path());
    ASSERT_EQ(arquivos.size(), 2) << arquivos.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(arquivos.filter(QStringLiteral("NFCe") + nfce + QStringLiteral("-pro-rec.xml")).size() == 1);

    platform->ExpectQuestion(kPergunta, true);
    Destino(false, true);
    platform->ExpectFolder(compactados.path());
    platform->ExpectInfo(QStringLiteral("Arquivo(s) Xml gerado(s) com sucesso."));
    platform->ExpectInfo(QStringLiteral("2 arquivo(s) gravado(s) com assinatura inválida"),
                         vndtest::ScriptedPlatform::Match::Contains);
    m_tela->sbtGeraXml->click();
    const QStringList arquivos2 = Arquivos(compactados.path());
    ASSERT_EQ(arquivos2.size(), 1);
    EXPECT_TRUE(arquivos2[0].endsWith(QStringLiteral(".zip")));
    EXPECT_TRUE(m_chamadas.empty()) << "the local road makes no server call";
    EXPECT_EQ(m_tela->cdsNotas.RecordCount(), VendasListaveis()) << "the list ends unfiltered";
    EXPECT_FALSE(platform->BusyVisible());
}

} // namespace
