#include "host/ui/reportpreview.h"

#include "host/errors.h"
#include "host/platform.h"
#include "host/ui/controls.h"
#include "host/ui/handlers.h"
#include "host/ui/uiplatform.h"

#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

namespace vnd
{

namespace
{
constexpr int kGap = 14;
constexpr int kCachedPages = 6;
QString g_lastFolder;
} // namespace

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

    sbtSalvar =
        new TButtonFlat(this, QStringLiteral("Salvar PDF"), QStringLiteral("Salvar o relatório em PDF"));
    sbtSalvar->setObjectName(QStringLiteral("sbtSalvar"));
    sbtSalvar->SetGlyph(QStringLiteral("document-save"), QStyle::SP_DialogSaveButton);
    sbtFechar = new TButtonFlat(this, QStringLiteral("Fechar"), QStringLiteral("Fechar"));
    sbtFechar->setObjectName(QStringLiteral("sbtFechar"));
    sbtFechar->SetGlyph(QStringLiteral("window-close"), QStyle::SP_DialogCloseButton);
    const int n = int(m_doc.pages.size());
    lblPaginas = new QLabel(n == 1 ? QStringLiteral("1 página") : QStringLiteral("%1 páginas").arg(n), this);
    lblPaginas->setObjectName(QStringLiteral("lblPaginas"));

    pnlPaginas = new vnd::TReportPagesView(m_doc, 96, this);
    pnlPaginas->setObjectName(QStringLiteral("pnlPaginas"));
    scbPaginas = new QScrollArea(this);
    scbPaginas->setObjectName(QStringLiteral("scbPaginas"));
    scbPaginas->setWidget(pnlPaginas);
    scbPaginas->setAlignment(Qt::AlignHCenter);
    scbPaginas->setBackgroundRole(QPalette::Dark);

    auto *bar = new QHBoxLayout;
    bar->addWidget(sbtSalvar);
    bar->addWidget(sbtFechar);
    bar->addStretch(1);
    bar->addWidget(lblPaginas);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(bar);
    layout->addWidget(scbPaginas, 1);
    resize(pnlPaginas->sizeHint().width() + 40, 860);

    vnd::Connect(sbtSalvar, &QToolButton::clicked, this, [this] { sbtSalvarClick(); });
    vnd::Connect(sbtFechar, &QToolButton::clicked, this, [this] { reject(); });
}

int TfrmVisualizaRel::ShowModal()
{
    return vnd::RunModal(*this);
}

void TfrmVisualizaRel::sbtSalvarClick()
{
    QString folder = vnd::g_lastFolder.isEmpty() ? QDir::homePath() : vnd::g_lastFolder;
    if (!Platform().SelectFolder(QStringLiteral("Selecione a pasta onde o relatório será salvo"), folder))
        return;
    if (!QDir(folder).exists())
        throw Exception(QStringLiteral("A pasta %1 não existe.").arg(QDir::toNativeSeparators(folder)));
    QDateTime at = QDateTime::currentDateTime();
    QString path = QDir(folder).filePath(vnd::ReportFileName(m_doc.title, at));
    // A save in the same second as an earlier one gets the next free second, never the same file.
    while (QFile::exists(path)) {
        at = at.addSecs(1);
        path = QDir(folder).filePath(vnd::ReportFileName(m_doc.title, at));
    }
    {
        vnd::BusyGuard busy;
        vnd::WriteReportPdf(m_doc, path);
    }
    vnd::g_lastFolder = folder;
    m_saved = path;
    Platform().Info(QStringLiteral("Relatório salvo em %1.").arg(QDir::toNativeSeparators(path)));
}
