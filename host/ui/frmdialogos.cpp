#include "host/ui/frmdialogos.h"

#include "host/platform.h"
#include "host/ui/controls.h"
#include "host/ui/handlers.h"
#include "host/ui/helpwindow.h"
#include "host/ui/reportdialog.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

namespace vnd
{
void ShowNoHelp(const QString &screenCode)
{
    Platform().Info(
        QStringLiteral("A ajuda da tela %1 não está instalada neste computador.").arg(screenCode));
}
} // namespace vnd

namespace
{
// One letter per caption across the base dialogs, so that no two buttons of a screen share one.
QChar Shortcut(const QString &caption)
{
    if (caption == QLatin1String("Cancelar"))
        return QLatin1Char('n');
    if (caption == QLatin1String("Fechar"))
        return QLatin1Char('h');
    if (caption == QLatin1String("Ajuda"))
        return QLatin1Char('d');
    return caption.isEmpty() ? QChar() : caption.front();
}

TButtonFlat *MakeButton(QWidget *parent, const char *name, const QString &caption, const QString &hint,
                        const QString &theme, QStyle::StandardPixmap fallback)
{
    auto *b = new TButtonFlat(parent, vnd::Mnemonic(caption, Shortcut(caption)), hint);
    b->setObjectName(QString::fromLatin1(name));
    b->SetGlyph(theme, fallback);
    return b;
}
} // namespace

TfrmFiltroPadrao::TfrmFiltroPadrao(QWidget *parent) : TfrmDialogoPadrao(parent)
{
    sbtConfirma = MakeButton(this, "sbtConfirma", QStringLiteral("Confirmar"), QStringLiteral("Confirmar"),
                             QStringLiteral("dialog-ok-apply"), QStyle::SP_DialogApplyButton);
    btfSaveOpc = MakeButton(this, "btfSaveOpc", QStringLiteral("Salvar"), QStringLiteral("Salvar opções"),
                            QStringLiteral("document-save"), QStyle::SP_DialogSaveButton);
    btfLoadOpc = MakeButton(this, "btfLoadOpc", QStringLiteral("Carregar"), QStringLiteral("Carregar opções"),
                            QStringLiteral("document-open"), QStyle::SP_DialogOpenButton);
    sbtAjuda = MakeButton(this, "sbtAjuda", QStringLiteral("Ajuda"), QStringLiteral("Ajuda"),
                          QStringLiteral("help-contents"), QStyle::SP_DialogHelpButton);
    sbtFechar = MakeButton(this, "sbtFechar", QStringLiteral("Fechar"), QStringLiteral("Fechar"),
                           QStringLiteral("window-close"), QStyle::SP_DialogCloseButton);
    for (TButtonFlat *b : {sbtConfirma, btfSaveOpc, btfLoadOpc, sbtAjuda, sbtFechar})
        InsertButton(b);
    SetDefaultButton(sbtConfirma);
    SetCancelButton(sbtFechar);
    btfSaveOpc->hide();
    btfLoadOpc->hide();
    vnd::Connect(sbtConfirma, &QToolButton::clicked, this, [this] { sbtConfirmaClick(); });
    vnd::Connect(sbtAjuda, &QToolButton::clicked, this, [this] { sbtAjudaClick(); });
    vnd::Connect(sbtFechar, &QToolButton::clicked, this, [this] { sbtFecharClick(); });
}

void TfrmFiltroPadrao::sbtConfirmaClick() {}

void TfrmFiltroPadrao::sbtAjudaClick()
{
    vnd::ShowHelp(ScreenCode());
}

void TfrmFiltroPadrao::sbtFecharClick()
{
    reject();
}

TfrmRotiGeral::TfrmRotiGeral(QWidget *parent) : TfrmDialogoPadrao(parent)
{
    sbtConfirma = MakeButton(this, "sbtConfirma", QStringLiteral("Confirmar"), QStringLiteral("Confirmar"),
                             QStringLiteral("dialog-ok-apply"), QStyle::SP_DialogApplyButton);
    sbtCancel = MakeButton(this, "sbtCancel", QStringLiteral("Cancelar"), QStringLiteral("Cancelar"),
                           QStringLiteral("dialog-cancel"), QStyle::SP_DialogCancelButton);
    InsertButton(sbtConfirma);
    InsertButton(sbtCancel);
    SetDefaultButton(sbtConfirma);
    SetCancelButton(sbtCancel);
    vnd::Connect(sbtConfirma, &QToolButton::clicked, this, [this] { sbtConfirmaClick(); });
    vnd::Connect(sbtCancel, &QToolButton::clicked, this, [this] { sbtCancelClick(); });
}

void TfrmRotiGeral::sbtConfirmaClick() {}

void TfrmRotiGeral::sbtCancelClick()
{
    reject();
}

TfrmDadosGerRel::TfrmDadosGerRel(QWidget *parent) : TfrmDialogoPadrao(parent)
{
    sbtImprimir = MakeButton(this, "sbtImprimir", QStringLiteral("Imprimir"), QStringLiteral("Imprimir"),
                             QStringLiteral("document-print"), QStyle::SP_FileIcon);
    sbtAjuda = MakeButton(this, "sbtAjuda", QStringLiteral("Ajuda"), QStringLiteral("Ajuda"),
                          QStringLiteral("help-contents"), QStyle::SP_DialogHelpButton);
    sbtFechar = MakeButton(this, "sbtFechar", QStringLiteral("Fechar"), QStringLiteral("Fechar"),
                           QStringLiteral("window-close"), QStyle::SP_DialogCloseButton);
    for (TButtonFlat *b : {sbtImprimir, sbtAjuda, sbtFechar})
        InsertButton(b);
    SetDefaultButton(sbtImprimir);
    SetCancelButton(sbtFechar);
    vnd::Connect(sbtImprimir, &QToolButton::clicked, this, [this] { sbtImprimirClick(); });
    vnd::Connect(sbtAjuda, &QToolButton::clicked, this, [this] { sbtAjudaClick(); });
    vnd::Connect(sbtFechar, &QToolButton::clicked, this, [this] { sbtFecharClick(); });

    cbxRelatorio = new QComboBox(pnlClient);
    cbxRelatorio->setObjectName(QStringLiteral("cbxRelatorio"));
    lblCodRel = new QLabel(pnlClient);
    lblCodRel->setObjectName(QStringLiteral("lblCodRel"));
    pnlRelatorio = new QWidget(pnlClient);
    pnlRelatorio->setObjectName(QStringLiteral("pnlRelatorio"));
    rpddPadrao = new TReportDialog(this);
    rpddPadrao->setObjectName(QStringLiteral("rpddPadrao"));

    auto *top = new QHBoxLayout;
    auto *lblRelatorio = new QLabel(QStringLiteral("&Relatório:"), pnlClient);
    lblRelatorio->setBuddy(cbxRelatorio);
    top->addWidget(lblRelatorio);
    top->addWidget(cbxRelatorio, 1);
    top->addWidget(lblCodRel);
    auto *layout = new QVBoxLayout(pnlClient);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(pnlRelatorio, 1);
}

void TfrmDadosGerRel::SetReportCode(const QString &code)
{
    lblCodRel->setText(code);
    rpddPadrao->ReportCode = code;
    const QStringList names = rpddPadrao->ReportNames();
    if (!names.isEmpty())
        SetReportNames(names);
}

void TfrmDadosGerRel::SetReportNames(const QStringList &names)
{
    cbxRelatorio->clear();
    cbxRelatorio->addItems(names);
    cbxRelatorio->setCurrentIndex(names.isEmpty() ? -1 : 0);
}

void TfrmDadosGerRel::sbtImprimirClick()
{
    const QString name = cbxRelatorio->currentText();
    if (rpddPadrao->HasReport(name))
        rpddPadrao->Execute(name, this);
}

void TfrmDadosGerRel::sbtAjudaClick()
{
    vnd::ShowHelp(ScreenCode());
}

void TfrmDadosGerRel::sbtFecharClick()
{
    reject();
}
