// render_export_screens OUTDIR: draws the export screens as a user sees them — the main screen with sales
// and ticks, the filter, the destination dialog — into OUTDIR/*.png, against a real server on a seeded
// database. scripts/screenshot-screens runs it on a virtual X display with the desktop style.
#include "export/ui/frmendarqxml.h"
#include "export/ui/frmfiltgerxml.h"
#include "export/ui/frmgeraxml.h"
#include "host/query.h"
#include "host/ui/controls.h"
#include "host/ui/dateedit.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/server_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
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
            f.adjustSize();
            ok &= Salva(f, saida.filePath(QStringLiteral("vnd04402-destino.png")));
            f.sbtCancel->click();
        });
        tela->sbtGeraXml->click();
        tela->Close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "render_export_screens: %s\n", e.what());
        return 1;
    }
    return ok ? 0 : 1;
}
