#include "host/ui/reportpreview.h"

#include "host/errors.h"
#include "host/platform.h"
#include "host/ui/controls.h"
#include "host/ui/handlers.h"
#include "host/ui/uiplatform.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace vnd
{

namespace
{
constexpr int kGap = 14;
constexpr int kCachedPages = 6;
} // namespace

void PrintReport(const TReportDocument &doc, QPrinter &printer)
{
    printer.setDocName(doc.title);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
    // The layout has its own margins: pages are painted from the paper's corner, not the printable area's.
    printer.setFullPage(true);
    QPainter painter;
    if (!painter.begin(&printer))
        throw Exception(QStringLiteral("Não foi possível iniciar a impressão do relatório \"%1\".").arg(doc.title));
    const QRectF paper = printer.paperRect(QPrinter::DevicePixel);
    const double scale = std::min(paper.width() / kReportPageWidth, paper.height() / kReportPageHeight);
    for (size_t i = 0; i < doc.pages.size(); ++i) {
        if (i > 0 && !printer.newPage())
            throw Exception(QStringLiteral("A impressora recusou a página %1 do relatório.").arg(i + 1));
        PaintReportPage(painter, doc.pages[i], scale);
    }
    painter.end();
}

QString ReportFileName(const QString &title, const QDateTime &at)
{
    QString name = title;
    for (QChar &c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') ||
            c == QLatin1Char('*') || c == QLatin1Char('?') || c == QLatin1Char('"') ||
            c == QLatin1Char('<') || c == QLatin1Char('>') || c == QLatin1Char('|') || c.unicode() < 0x20)
            c = QLatin1Char('-');
    }
    name = name.trimmed();
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name.prepend(QStringLiteral("Relatório"));
    return name + QLatin1Char(' ') + at.toString(QStringLiteral("ddMMyyyy HHmmss")) + QStringLiteral(".pdf");
}

TReportPagesView::TReportPagesView(const TReportDocument &doc, double dpi, QWidget *parent)
    : QWidget(parent), m_doc(doc), m_dpi(dpi), m_images(kCachedPages)
{
    m_page = QSize(qRound(kReportPageWidth * dpi / 72.0), qRound(kReportPageHeight * dpi / 72.0));
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(128, 128, 128));
    setPalette(p);
    resize(sizeHint());
}

void TReportPagesView::SetDpi(double dpi)
{
    if (qFuzzyCompare(dpi, m_dpi))
        return;
    m_dpi = dpi;
    m_page = QSize(qRound(kReportPageWidth * dpi / 72.0), qRound(kReportPageHeight * dpi / 72.0));
    m_images.clear();
    resize(sizeHint());
    update();
}

int TReportPagesView::PageAt(int y) const
{
    const int n = int(m_doc.pages.size());
    if (n == 0)
        return 0;
    return std::clamp((y - kGap / 2) / (m_page.height() + kGap), 0, n - 1);
}

QSize TReportPagesView::sizeHint() const
{
    const int n = int(m_doc.pages.size());
    return QSize(m_page.width() + 2 * kGap, n * (m_page.height() + kGap) + kGap);
}

QPoint TReportPagesView::PageOrigin(int page) const
{
    return QPoint(kGap, kGap + page * (m_page.height() + kGap));
}

QImage TReportPagesView::PageImage(int page)
{
    if (QImage *cached = m_images.object(page))
        return *cached;
    auto image = std::make_unique<QImage>(RenderReportPage(m_doc, page, m_dpi));
    const QImage copy = *image;
    m_images.insert(page, image.release());
    return copy;
}

void TReportPagesView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    for (int i = 0; i < int(m_doc.pages.size()); ++i) {
        const QRect r(PageOrigin(i), m_page);
        if (!r.intersects(event->rect()))
            continue;
        painter.fillRect(r.translated(3, 3), QColor(70, 70, 70));
        painter.drawImage(r.topLeft(), PageImage(i));
    }
}

} // namespace vnd

TfrmVisualizaRel::TfrmVisualizaRel(vnd::TReportDocument doc, QWidget *parent)
    : QDialog(parent), m_doc(std::move(doc))
{
    setObjectName(QStringLiteral("TfrmVisualizaRel"));
    setWindowTitle(QStringLiteral("Visualização do Relatório - ") + m_doc.title);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);

    const auto botao = [this](const char *name, const QString &caption, const QString &hint, const QString &theme,
                              QStyle::StandardPixmap fallback) {
        auto *b = new TButtonFlat(this, caption, hint);
        b->setObjectName(QString::fromLatin1(name));
        b->SetGlyph(theme, fallback);
        return b;
    };
    sbtImprimir = botao("sbtImprimir", QStringLiteral("&Imprimir"), QStringLiteral("Imprimir o relatório"),
                        QStringLiteral("document-print"), QStyle::SP_FileIcon);
    sbtSalvar = botao("sbtSalvar", QStringLiteral("&Salvar PDF"), QStringLiteral("Salvar o relatório em PDF"),
                      QStringLiteral("document-save"), QStyle::SP_DialogSaveButton);
    sbtFechar = botao("sbtFechar", QStringLiteral("Fec&har"), QStringLiteral("Fechar"), QStringLiteral("window-close"),
                      QStyle::SP_DialogCloseButton);
    sbtPrimeira = botao("sbtPrimeira", {}, QStringLiteral("Primeira página (Home)"), QStringLiteral("go-first"),
                        QStyle::SP_MediaSkipBackward);
    sbtAnterior = botao("sbtAnterior", {}, QStringLiteral("Página anterior (Page Up)"), QStringLiteral("go-previous"),
                        QStyle::SP_MediaSeekBackward);
    sbtProxima = botao("sbtProxima", {}, QStringLiteral("Próxima página (Page Down)"), QStringLiteral("go-next"),
                       QStyle::SP_MediaSeekForward);
    sbtUltima = botao("sbtUltima", {}, QStringLiteral("Última página (End)"), QStringLiteral("go-last"),
                      QStyle::SP_MediaSkipForward);
    for (TButtonFlat *b : {sbtPrimeira, sbtAnterior, sbtProxima, sbtUltima}) {
        b->setToolButtonStyle(Qt::ToolButtonIconOnly);
        b->setIconSize(QSize(16, 16));
    }
    const int n = int(m_doc.pages.size());
    spnPagina = new QSpinBox(this);
    spnPagina->setObjectName(QStringLiteral("spnPagina"));
    spnPagina->setRange(1, std::max(1, n));
    spnPagina->setToolTip(QStringLiteral("Página"));
    lblPaginas = new QLabel(n == 1 ? QStringLiteral("1 página") : QStringLiteral("%1 páginas").arg(n), this);
    lblPaginas->setObjectName(QStringLiteral("lblPaginas"));
    cbxZoom = new QComboBox(this);
    cbxZoom->setObjectName(QStringLiteral("cbxZoom"));
    for (int z : {50, 75, 100, 125, 150, 200})
        cbxZoom->addItem(QStringLiteral("%1%").arg(z), z);
    cbxZoom->setCurrentIndex(2);
    cbxZoom->setToolTip(QStringLiteral("Zoom (Ctrl + e Ctrl -)"));
    auto *lblZoom = new QLabel(QStringLiteral("&Zoom:"), this);
    lblZoom->setBuddy(cbxZoom);

    pnlPaginas = new vnd::TReportPagesView(m_doc, 96, this);
    pnlPaginas->setObjectName(QStringLiteral("pnlPaginas"));
    scbPaginas = new QScrollArea(this);
    scbPaginas->setObjectName(QStringLiteral("scbPaginas"));
    scbPaginas->setWidget(pnlPaginas);
    scbPaginas->setAlignment(Qt::AlignHCenter);
    scbPaginas->setBackgroundRole(QPalette::Dark);

    auto *bar = new QHBoxLayout;
    bar->addWidget(sbtImprimir);
    bar->addWidget(sbtSalvar);
    bar->addWidget(sbtFechar);
    bar->addSpacing(16);
    bar->addWidget(sbtPrimeira);
    bar->addWidget(sbtAnterior);
    bar->addWidget(spnPagina);
    bar->addWidget(sbtProxima);
    bar->addWidget(sbtUltima);
    bar->addSpacing(16);
    bar->addWidget(lblZoom);
    bar->addWidget(cbxZoom);
    bar->addStretch(1);
    bar->addWidget(lblPaginas);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(bar);
    layout->addWidget(scbPaginas, 1);
    resize(pnlPaginas->sizeHint().width() + 40, 860);

    vnd::Connect(sbtImprimir, &QToolButton::clicked, this, [this] { sbtImprimirClick(); });
    vnd::Connect(sbtSalvar, &QToolButton::clicked, this, [this] { sbtSalvarClick(); });
    vnd::Connect(sbtFechar, &QToolButton::clicked, this, [this] { reject(); });
    vnd::Connect(sbtPrimeira, &QToolButton::clicked, this, [this] { IrParaPagina(0); });
    vnd::Connect(sbtAnterior, &QToolButton::clicked, this, [this] { IrParaPagina(PaginaAtual() - 1); });
    vnd::Connect(sbtProxima, &QToolButton::clicked, this, [this] { IrParaPagina(PaginaAtual() + 1); });
    vnd::Connect(sbtUltima, &QToolButton::clicked, this, [this] { IrParaPagina(int(m_doc.pages.size()) - 1); });
    connect(spnPagina, &QSpinBox::editingFinished, this, [this] { IrParaPagina(spnPagina->value() - 1); });
    connect(cbxZoom, &QComboBox::currentIndexChanged, this, [this] { SetZoom(cbxZoom->currentData().toInt()); });
    connect(scbPaginas->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        const QSignalBlocker quiet(spnPagina);
        spnPagina->setValue(PaginaAtual() + 1);
    });
}

int TfrmVisualizaRel::PaginaAtual() const
{
    return pnlPaginas->PageAt(scbPaginas->verticalScrollBar()->value() + scbPaginas->viewport()->height() / 3);
}

void TfrmVisualizaRel::IrParaPagina(int page)
{
    const int n = int(m_doc.pages.size());
    if (n == 0)
        return;
    page = std::clamp(page, 0, n - 1);
    scbPaginas->verticalScrollBar()->setValue(pnlPaginas->PageOrigin(page).y() - 7);
    const QSignalBlocker quiet(spnPagina);
    spnPagina->setValue(page + 1);
}

void TfrmVisualizaRel::SetZoom(int percent)
{
    const int page = PaginaAtual();
    pnlPaginas->SetDpi(96.0 * std::clamp(percent, 25, 400) / 100.0);
    const int index = cbxZoom->findData(percent);
    if (index >= 0 && index != cbxZoom->currentIndex()) {
        const QSignalBlocker quiet(cbxZoom);
        cbxZoom->setCurrentIndex(index);
    }
    IrParaPagina(page);
}

void TfrmVisualizaRel::keyPressEvent(QKeyEvent *event)
{
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const int zoom = cbxZoom->currentIndex();
    switch (event->key()) {
    case Qt::Key_PageDown: IrParaPagina(PaginaAtual() + 1); return;
    case Qt::Key_PageUp: IrParaPagina(PaginaAtual() - 1); return;
    case Qt::Key_Home: IrParaPagina(0); return;
    case Qt::Key_End: IrParaPagina(int(m_doc.pages.size()) - 1); return;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        if (ctrl && zoom + 1 < cbxZoom->count()) {
            cbxZoom->setCurrentIndex(zoom + 1);
            return;
        }
        break;
    case Qt::Key_Minus:
        if (ctrl && zoom > 0) {
            cbxZoom->setCurrentIndex(zoom - 1);
            return;
        }
        break;
    default: break;
    }
    QDialog::keyPressEvent(event);
}

int TfrmVisualizaRel::ShowModal()
{
    return vnd::RunModal(*this);
}

void TfrmVisualizaRel::sbtSalvarClick()
{
    QString path = vnd::SaveFileName(QStringLiteral("Salvar relatório em PDF"), QStringLiteral("relatorio"),
                                     vnd::ReportFileName(m_doc.title, QDateTime::currentDateTime()),
                                     QStringLiteral("Documento PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive))
        path += QStringLiteral(".pdf");
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir(folder).exists())
        throw Exception(QStringLiteral("A pasta %1 não existe.").arg(QDir::toNativeSeparators(folder)));
    {
        vnd::BusyGuard busy;
        vnd::WriteReportPdf(m_doc, path);
    }
    m_saved = path;
    Platform().Info(QStringLiteral("Relatório salvo em %1.").arg(QDir::toNativeSeparators(path)));
}

void TfrmVisualizaRel::sbtImprimirClick()
{
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    dialog.setObjectName(QStringLiteral("dlgImprimir"));
    dialog.setWindowTitle(QStringLiteral("Imprimir relatório"));
    dialog.setMinMax(1, std::max(1, int(m_doc.pages.size())));
    if (vnd::RunModal(dialog) != QDialog::Accepted)
        return;
    vnd::BusyGuard busy;
    vnd::PrintReport(m_doc, printer);
}
