#include "export/ui/frmpastaservidor.h"

#include "host/errors.h"
#include "host/netconnection.h"
#include "host/platform.h"
#include "host/ui/controls.h"
#include "host/ui/handlers.h"
#include "host/ui/hostwindow.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr int kRelativa = Qt::UserRole;
constexpr int kCarregada = Qt::UserRole + 1;
} // namespace

TfrmPastaServidor::TfrmPastaServidor(TNetConnection &net, QWidget *parent) : TfrmRotiGeral(parent), m_net(net)
{
    setObjectName(QStringLiteral("frmPastaServidor"));
    setWindowTitle(QStringLiteral("Pasta dos arquivos XML no servidor"));

    auto *lblArvore = new QLabel(QStringLiteral("&Pastas da pasta de exportação do servidor:"), pnlClient);
    tvwPastas = new QTreeWidget(pnlClient);
    tvwPastas->setObjectName(QStringLiteral("tvwPastas"));
    tvwPastas->setHeaderHidden(true);
    lblArvore->setBuddy(tvwPastas);

    auto *lblNova = new QLabel(QStringLiteral("&Nova pasta:"), pnlClient);
    edtNovaPasta = new QLineEdit(pnlClient);
    edtNovaPasta->setObjectName(QStringLiteral("edtNovaPasta"));
    edtNovaPasta->setMaxLength(100);
    lblNova->setBuddy(edtNovaPasta);
    sbtCriaPasta = new TButtonFlat(pnlClient, QStringLiteral("C&riar pasta"), QStringLiteral("Criar a pasta no servidor"));
    sbtCriaPasta->setObjectName(QStringLiteral("sbtCriaPasta"));
    sbtCriaPasta->SetGlyph(QStringLiteral("folder-new"), QStyle::SP_FileDialogNewFolder);
    sbtCriaPasta->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    sbtCriaPasta->setIconSize(QSize(16, 16));

    lblPasta = new QLabel(pnlClient);
    lblPasta->setObjectName(QStringLiteral("lblPasta"));
    lblPasta->setTextFormat(Qt::PlainText);

    auto *nova = new QHBoxLayout;
    nova->addWidget(lblNova);
    nova->addWidget(edtNovaPasta, 1);
    nova->addWidget(sbtCriaPasta);
    auto *layout = new QVBoxLayout(pnlClient);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(lblArvore);
    layout->addWidget(tvwPastas, 1);
    layout->addLayout(nova);
    layout->addWidget(lblPasta);
    resize(460, 380);

    connect(tvwPastas, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem *item) { vnd::RunHandler([&] { Carrega(item); }); });
    connect(tvwPastas, &QTreeWidget::currentItemChanged, this, [this] {
        const QString pasta = Pasta();
        lblPasta->setText(QStringLiteral("Pasta escolhida: ") +
                          (pasta.isEmpty() ? QStringLiteral("(nenhuma)") : pasta));
    });
    vnd::Connect(sbtCriaPasta, &QToolButton::clicked, this, [this] { sbtCriaPastaClick(); });
    // Enter in the name field creates the folder rather than confirming the dialog.
    connect(edtNovaPasta, &QLineEdit::returnPressed, this, [this] { vnd::RunHandler([this] { sbtCriaPastaClick(); }); });
}

void TfrmPastaServidor::keyPressEvent(QKeyEvent *event)
{
    // The name field's Enter created the folder already; it does not confirm the dialog as well.
    if (edtNovaPasta->hasFocus() && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        event->accept();
        return;
    }
    TfrmRotiGeral::keyPressEvent(event);
}

void TfrmPastaServidor::FormCreate()
{
    TfrmRotiGeral::FormCreate();
    auto *raiz = new QTreeWidgetItem(tvwPastas, QStringList{QStringLiteral("Pasta de exportação do servidor")});
    raiz->setData(0, kRelativa, QString());
    raiz->setIcon(0, style()->standardIcon(QStyle::SP_DriveNetIcon));
    Carrega(raiz);
    raiz->setExpanded(true);
    tvwPastas->setCurrentItem(raiz);
}

QString TfrmPastaServidor::Pasta() const
{
    const QTreeWidgetItem *item = tvwPastas->currentItem();
    return item ? item->data(0, kRelativa).toString() : QString();
}

QTreeWidgetItem *TfrmPastaServidor::NovoItem(QTreeWidgetItem *pai, const QString &nome)
{
    const QString base = pai->data(0, kRelativa).toString();
    auto *item = new QTreeWidgetItem(pai, QStringList{nome});
    item->setData(0, kRelativa, base.isEmpty() ? nome : base + QLatin1Char('/') + nome);
    item->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return item;
}

void TfrmPastaServidor::Carrega(QTreeWidgetItem *item)
{
    if (!item || item->data(0, kCarregada).toBool())
        return;
    QStringList nomes;
    {
        vnd::BusyGuard ocupado;
        nomes = CheckResultServ(m_net.Call(QStringLiteral("getPastasExportacao"),
                                           {item->data(0, kRelativa).toString()}))
                    .toStringList();
    }
    item->setData(0, kCarregada, true);
    for (const QString &nome : nomes)
        NovoItem(item, nome);
    if (nomes.isEmpty())
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

QTreeWidgetItem *TfrmPastaServidor::Filho(QTreeWidgetItem *item, const QString &nome) const
{
    for (int i = 0; i < item->childCount(); ++i)
        if (item->child(i)->text(0) == nome)
            return item->child(i);
    return nullptr;
}

void TfrmPastaServidor::SelecionaPasta(const QString &relativa)
{
    QTreeWidgetItem *item = tvwPastas->topLevelItem(0);
    if (!item)
        return;
    QString texto = relativa;
    texto.replace(QLatin1Char('\\'), QLatin1Char('/'));
    for (const QString &parte : texto.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        Carrega(item);
        QTreeWidgetItem *filho = Filho(item, parte);
        if (!filho)
            break;
        item->setExpanded(true);
        item = filho;
    }
    tvwPastas->setCurrentItem(item);
}

void TfrmPastaServidor::sbtCriaPastaClick()
{
    QTreeWidgetItem *pai = tvwPastas->currentItem();
    if (!pai)
        pai = tvwPastas->topLevelItem(0);
    const QString nome = edtNovaPasta->text().trimmed();
    if (nome.isEmpty()) {
        edtNovaPasta->setFocus();
        MensErro(QStringLiteral("Informe o nome da nova pasta."));
    }
    QString criada;
    {
        vnd::BusyGuard ocupado;
        criada = CheckResultServ(
                     m_net.Call(QStringLiteral("setCriaPastaExportacao"), {pai->data(0, kRelativa).toString(), nome}))
                     .toString();
    }
    Carrega(pai);
    QTreeWidgetItem *item = Filho(pai, criada.section(QLatin1Char('/'), -1));
    if (!item)
        item = NovoItem(pai, criada.section(QLatin1Char('/'), -1));
    pai->setExpanded(true);
    tvwPastas->setCurrentItem(item);
    edtNovaPasta->clear();
    tvwPastas->setFocus();
}

void TfrmPastaServidor::sbtConfirmaClick()
{
    TfrmRotiGeral::sbtConfirmaClick();
    if (Pasta().isEmpty()) {
        tvwPastas->setFocus();
        MensErro(QStringLiteral("Escolha ou crie uma pasta dentro da pasta de exportação do servidor."));
    }
    accept();
}

namespace vnd {

bool EscolhePastaServidor(TNetConnection &net, QString &pasta)
{
    TfrmPastaServidor tela(net, DialogParent());
    {
        HourglassGuard ampulheta;
        tela.Create();
    }
    if (!pasta.isEmpty())
        tela.SelecionaPasta(pasta);
    if (tela.ShowModal() != QDialog::Accepted)
        return false;
    pasta = tela.Pasta();
    return true;
}

} // namespace vnd
