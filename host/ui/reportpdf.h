#pragma once
// A report laid out on A4 portrait pages, then painted: into a PDF file for keeping or printing, and into
// page images for the preview. Layout and painting are apart so that both outputs show the same pages.

#include "host/ui/report.h"

#include <QColor>
#include <QDateTime>
#include <QImage>
#include <QRectF>
#include <QString>

#include <vector>

class QPainter;
class TClientDataSet;

namespace vnd
{

// Page size in points (1/72 inch).
inline constexpr double kReportPageWidth = 595.28;
inline constexpr double kReportPageHeight = 841.89;

struct TReportItem {
    enum class Kind { Text, Line, Box };
    Kind kind = Kind::Text;
    QRectF rect; // points; a line runs from its top-left to its bottom-right corner
    QString text;
    int align = 0x0001 | 0x0080; // Qt::AlignLeft | Qt::AlignVCenter
    double size = 8;             // font size in points
    bool bold = false;
    QColor color = QColor(0, 0, 0); // text and line colour, fill of a box
};

struct TReportPage {
    std::vector<TReportItem> items;
};

struct TReportDocument {
    QString title;
    std::vector<TReportPage> pages;
};

// What each page's heading states besides the report's name.
struct TReportHeading {
    QString criteria;    // the parameters line
    QString reportCode;  // "Vnd044"
    QString footer;      // left of the page number
    QDateTime printedAt; // "Emitido em …"
};

// Lays the rows of an open query out by the definition's layout: the table with its group captions,
// subtotals and grand total, then the chart. The rows are read from the first; the current row moves.
TReportDocument LayoutReport(const TReportDef &def, TClientDataSet &rows, const TReportHeading &heading);

// One part of a report of several tables, each laid out as LayoutReport does, starting on a new page
// under its own name; the pages are numbered through the whole document.
struct TReportSection {
    const TReportDef *def;
    TClientDataSet *rows;
};
TReportDocument LayoutReportSections(const QString &title, const std::vector<TReportSection> &sections,
                                     const TReportHeading &heading);

// Paints one page; scale is device pixels per point.
void PaintReportPage(QPainter &painter, const TReportPage &page, double scale);
// The page as an image at the given resolution (dots per inch), white background.
QImage RenderReportPage(const TReportDocument &doc, int page, double dpi);
// Writes the document as a PDF file, whole or not at all; Exception naming the file when it cannot.
void WriteReportPdf(const TReportDocument &doc, const QString &path);

} // namespace vnd
