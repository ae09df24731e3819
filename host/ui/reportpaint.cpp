// Painting laid-out report pages on a PDF writer or an image.
#include "host/errors.h"
#include "host/ui/reportpdf.h"
#include "host/ui/reportpdf_p.h"

#include <QBuffer>
#include <QDir>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

namespace vnd
{

namespace
{

constexpr double kPointsPerInch = 72.0;
constexpr double kPdfResolution = 1200;

// A device of 72 dots per inch: text measured on it comes out in points.
const QImage &PointDevice()
{
    static const QImage device = [] {
        QImage image(1, 1, QImage::Format_RGB32);
        image.setDotsPerMeterX(qRound(kPointsPerInch / 0.0254));
        image.setDotsPerMeterY(qRound(kPointsPerInch / 0.0254));
        return image;
    }();
    return device;
}

} // namespace

QFont ReportFont(double size, bool bold)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    // Without shaping the PDF keeps "fi" as two letters: a ligature would stop a search for "filial"
    // in the saved file.
    font.setStyleStrategy(QFont::PreferNoShaping);
    font.setPointSizeF(size);
    font.setBold(bold);
    return font;
}

double ReportTextWidth(const QString &text, double size, bool bold)
{
    return QFontMetricsF(ReportFont(size, bold), &PointDevice()).horizontalAdvance(text);
}

QString ElideReportText(const QString &text, double size, bool bold, double width)
{
    return QFontMetricsF(ReportFont(size, bold), &PointDevice()).elidedText(text, Qt::ElideRight, width);
}

void PaintReportPage(QPainter &painter, const TReportPage &page, double scale)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const auto device = [scale](const QRectF &r) {
        return QRectF(r.x() * scale, r.y() * scale, r.width() * scale, r.height() * scale);
    };
    for (const TReportItem &item : page.items) {
        switch (item.kind) {
        case TReportItem::Kind::Box:
            painter.fillRect(device(item.rect), item.color);
            break;
        case TReportItem::Kind::Line:
            painter.setPen(QPen(item.color, 0.6 * scale));
            painter.drawLine(device(item.rect).topLeft(), device(item.rect).bottomRight());
            break;
        case TReportItem::Kind::Text:
            // Point sizes follow the device's own resolution, so only positions are scaled here.
            painter.setFont(ReportFont(item.size, item.bold));
            painter.setPen(item.color);
            painter.drawText(device(item.rect), item.align, item.text);
            break;
        }
    }
    painter.restore();
}

QImage RenderReportPage(const TReportDocument &doc, int page, double dpi)
{
    if (page < 0 || page >= int(doc.pages.size()))
        throw Exception(QStringLiteral("O relatório não tem a página %1.").arg(page + 1));
    const double scale = dpi / kPointsPerInch;
    QImage image(qRound(kReportPageWidth * scale), qRound(kReportPageHeight * scale), QImage::Format_RGB32);
    image.setDotsPerMeterX(qRound(dpi / 0.0254));
    image.setDotsPerMeterY(qRound(dpi / 0.0254));
    image.fill(Qt::white);
    QPainter painter(&image);
    PaintReportPage(painter, doc.pages[page], scale);
    return image;
}

void WriteReportPdf(const TReportDocument &doc, const QString &path)
{
    QSaveFile file(path);
    const auto fail = [&](const QString &why) {
        file.cancelWriting();
        return Exception(QStringLiteral("Não foi possível gravar o relatório %1: %2")
                             .arg(QDir::toNativeSeparators(path), why));
    };
    if (!file.open(QIODevice::WriteOnly))
        throw fail(file.errorString());
    {
        QPdfWriter writer(&file);
        writer.setResolution(int(kPdfResolution));
        writer.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        writer.setTitle(doc.title);
        writer.setCreator(QStringLiteral("VND04400"));
        QPainter painter;
        if (!painter.begin(&writer))
            throw fail(QStringLiteral("o gerador de PDF não pôde começar"));
        for (size_t i = 0; i < doc.pages.size(); ++i) {
            if (i > 0 && !writer.newPage())
                throw fail(QStringLiteral("o gerador de PDF não pôde abrir a página %1").arg(i + 1));
            PaintReportPage(painter, doc.pages[i], kPdfResolution / kPointsPerInch);
        }
        painter.end();
    }
    if (!file.commit())
        throw fail(file.errorString());
}

} // namespace vnd
