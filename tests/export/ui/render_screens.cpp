// render_export_screens OUTDIR: draws every screen as a user sees it — the main screen with sales and
// ticks, the filter, the destination dialog and the server folder chooser, the import filter and its log
// viewer, the parameters, the report and its preview, and the busy indicator with its count — into
// OUTDIR/*.png, against a real server on a seeded database. scripts/screenshot-screens runs it on a
// virtual X display with the desktop style.
#include "export/ui/frmendarqxml.h"
#include "export/ui/frmfiltgerxml.h"
#include "export/ui/frmgeraxml.h"
#include "export/ui/frmpastaservidor.h"
#include "host/query.h"
#include "host/ui/busyoverlay.h"
#include "host/ui/datasource.h"
#include "host/ui/dbgrid.h"
#include "host/ui/reportdialog.h"
#include "host/ui/reportpreview.h"
#include "import/ui/frmfiltroimpxml.h"
#include "import/ui/frmlogimparqxml.h"
#include "settings/frmparamgeraarqauto.h"
#include "settings/frmrelgeraxml.h"
#include "host/ui/controls.h"
#include "host/ui/dateedit.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/server_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QTreeWidget>
#include <QLocale>
#include <QRadioButton>
#include <QSqlQuery>
#include <QTest>
#include <cstdio>

namespace {

// Lets the window system map and paint the widget before it is grabbed.
bool Salva(QWidget &w, const QString &arquivo)
{
    w.show();
    w.raise();
    w.activateWindow();
    for (int i = 0; i < 10; ++i)
        QTest::qWait(30);
    const bool ok = w.grab().save(arquivo);
    std::printf("%s %s\n", ok ? "salvo" : "FALHOU", qPrintable(arquivo));
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "uso: render_export_screens PASTA\n");
        return 2;
    }
    const QDir saida(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(saida.path());
    bool ok = true;
    try {
        vndtest::ServerFixture servidor;
        servidor.Seed({QStringLiteral("--sales"), QStringLiteral("180"), QStringLiteral("--from"), QStringLiteral("2024-03-04"),
                       QStringLiteral("--to"), QStringLiteral("2024-03-08"), QStringLiteral("--seed"), QStringLiteral("3")});
        // No NFC-e awaiting the tax authority: the warning box is not part of these pictures.
        QSqlQuery(servidor.Database()).exec(QStringLiteral("UPDATE VENDA SET IDSTATUSNFCE = 'X' WHERE IDSTATUSNFCE IN ('P', 'R')"));
        servidor.Connection();
        vnd::OpenHostDatabase(servidor.DbUrl());
        vndtest::ScopedPlatform platform;

        platform->ExpectModal(QStringLiteral("TfrmFiltGerXml"), [&](QDialog &d) {
            auto &f = static_cast<TfrmFiltGerXml &>(d);
            f.DepPeriodDe->SetDate(QDate(2024, 3, 4));
            f.depPeriodAte->SetDate(QDate(2024, 3, 8));
            f.rbtListFil->click();
            platform->ExpectPick({0, 1});
            f.btpListFil->click();
            f.adjustSize();
            ok &= Salva(f, saida.filePath(QStringLiteral("vnd04401-filtro.png")));
            f.rbtTodFil->click();
            f.sbtConfirma->click();
        });
        CriaGeraXml();
        TfrmGeraXml *tela = vnd::frmGeraXml();
        if (!tela)
            throw std::runtime_error("a tela principal não abriu");
        tela->resize(1330, 620);
        for (int linha : {1, 2, 4}) {
            tela->cdsNotas.SetRecNo(linha);
            tela->dbgPadraoDblClick();
        }
        tela->cdsNotas.SetRecNo(4);
        ok &= Salva(*tela, saida.filePath(QStringLiteral("vnd04400-principal.png")));

        platform->ExpectQuestion(QStringLiteral("Confirma geração dos arquivos XML?"), true);
        platform->ExpectModal(QStringLiteral("TfrmEndArqXML"), [&](QDialog &d) {
            auto &f = static_cast<TfrmEndArqXML &>(d);
            f.rbtServidor->click();
            f.adjustSize();
            ok &= Salva(f, saida.filePath(QStringLiteral("vnd04402-destino.png")));
            f.sbtConfirma->click();
        });
        // The server's folders, as the server lists them.
        for (const char *pasta : {"contador/2024-03", "contador/2024-02", "mensal", "diario"})
            QDir(servidor.ExportRoot()).mkpath(QString::fromLatin1(pasta));
        platform->ExpectModal(QStringLiteral("TfrmPastaServidor"), [&](QDialog &d) {
            auto &f = static_cast<TfrmPastaServidor &>(d);
            f.SelecionaPasta(QStringLiteral("contador/2024-03"));
            f.edtNovaPasta->setText(QStringLiteral("remessa 2"));
            ok &= Salva(f, saida.filePath(QStringLiteral("vnd04402-pasta-servidor.png")));
            f.sbtCancel->click();
        });
        tela->sbtGeraXml->click();

        // The busy indicator of a long generation, with its count and "Cancelar".
        {
            auto *ocupado = new vnd::BusyOverlay(tela);
            ocupado->SetText(QStringLiteral("venda 312 de 700"));
            ocupado->OfferCancel();
            ocupado->show();
            ok &= Salva(*tela, saida.filePath(QStringLiteral("vnd04400-ocupado.png")));
            delete ocupado;
        }

        // The import filter, filled as an operator leaves it before confirming.
        {
            TfrmFiltroImpXml f(tela->Importacao());
            f.Create();
            f.edtDirArqXml->setText(QStringLiteral("/srv/caixas/entrada/"));
            f.medFilial->setText(QStringLiteral("0001"));
            f.adjustSize();
            ok &= Salva(f, saida.filePath(QStringLiteral("vnd04404-importacao.png")));
        }

        // The log viewer over a validation log such as a batch leaves.
        {
            TClientDataSet &log = tela->Importacao().cdsPreValidXml;
            if (!log.Active())
                log.CreateDataSet();
            log.EmptyDataSet();
            const char *linhas[][6] = {
                {"E", "NFCe35240399999999000191650010000004561000004560-pro-rec.xml", "0001", "001",
                 "Produto 7891000100103 não cadastrado.", "Cadastre o produto ou corrija o código no caixa."},
                {"A", "CFe35240311111111000111590000123450001234567890.xml", "0002", "003",
                 "Valor do item diferente do preço de tabela.", "Confira o preço cadastrado para a filial."},
                {"E", "lote-caixa-002.xml", "0001", "002", "Cliente 000000000123 não cadastrado.",
                 "Cadastre o cliente antes de importar de novo."}};
            for (const auto &l : linhas) {
                log.Append();
                log.FieldByName(QStringLiteral("IDTPVALIDXML")).SetAsString(QString::fromUtf8(l[0]));
                log.FieldByName(QStringLiteral("NMARQXML")).SetAsString(QString::fromUtf8(l[1]));
                log.FieldByName(QStringLiteral("CDFILIAL")).SetAsString(QString::fromUtf8(l[2]));
                log.FieldByName(QStringLiteral("CDCAIXA")).SetAsString(QString::fromUtf8(l[3]));
                log.FieldByName(QStringLiteral("DSERROXML")).SetAsString(QString::fromUtf8(l[4]));
                log.FieldByName(QStringLiteral("DSAJUDAXML")).SetAsString(QString::fromUtf8(l[5]));
                log.Post();
            }
            log.First();
            TfrmLogImpArqXml v(tela->Importacao());
            v.Create();
            ok &= Salva(v, saida.filePath(QStringLiteral("vnd04406-log.png")));
        }

        // The parameters, as the server keeps them.
        platform->ExpectModal(QStringLiteral("TfrmParamGeraArqAuto"), [&](QDialog &d) {
            auto &f = static_cast<TfrmParamGeraArqAuto &>(d);
            f.adjustSize();
            ok &= Salva(f, saida.filePath(QStringLiteral("vnd04403-parametros.png")));
            f.sbtCancel->click();
        });
        CriaParamGeraArqAuto(tela->netGeraXml);

        // The report screen, and the preview of its first report.
        platform->ExpectModal(QStringLiteral("TfrmRelGeraXml"), [&](QDialog &d) {
            auto &f = static_cast<TfrmRelGeraXml &>(d);
            f.adjustSize();
            ok &= Salva(f, saida.filePath(QStringLiteral("ger01301-relatorio.png")));
            platform->ExpectModal(QStringLiteral("TfrmVisualizaRel"), [&](QDialog &p) {
                auto &previa = static_cast<TfrmVisualizaRel &>(p);
                previa.resize(980, 720);
                ok &= Salva(previa, saida.filePath(QStringLiteral("ger01301-visualizacao.png")));
                previa.sbtFechar->click();
            });
            f.sbtImprimir->click();
            f.sbtFechar->click();
        });
        CriaRelGeraXml(tela->cdsDadosFiltro);
        tela->Close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "render_export_screens: %s\n", e.what());
        return 1;
    }
    return ok ? 0 : 1;
}
