// Laying a report out on pages: heading, column titles, rows with group captions and subtotals, the
// grand total, the chart, and the page footers once the number of pages is known.
#include "host/errors.h"
#include "host/recordset.h"
#include "host/ui/reportpdf.h"
#include "host/ui/reportpdf_p.h"

#include <QLocale>
#include <QMap>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace vnd
{

namespace
{

constexpr double kMargin = 36;
constexpr double kContentWidth = kReportPageWidth - 2 * kMargin;
constexpr double kFooterTop = kReportPageHeight - kMargin - 12;
constexpr double kBodyBottom = kFooterTop - 4;
constexpr double kPad = 2.5;
constexpr double kRowHeight = 12;
constexpr double kTitlesHeight = 22;
constexpr double kGroupHeight = 16;
constexpr double kSubtotalHeight = 14;
constexpr double kChartHeight = 280;
const QColor kBlack(0, 0, 0);
const QColor kGrey(110, 110, 110);
const QColor kTitlesFill(226, 230, 236);
const QColor kGroupFill(240, 242, 246);
const QColor kStripe(248, 249, 251);
const QColor kTotalFill(214, 220, 230);
const QColor kSeriesColours[] = {QColor(46, 109, 180), QColor(224, 138, 30), QColor(76, 150, 80),
                                 QColor(170, 60, 60)};

int Align(TReportFormat format)
{
    const bool right = format == TReportFormat::Integer || format == TReportFormat::Money;
    return (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
}

// A step of 1, 2 or 5 times a power of ten that divides the range into about five parts.
double NiceStep(double max)
{
    const double raw = std::max(max / 5.0, 1e-9);
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double norm = raw / magnitude;
    const double step = (norm <= 1 ? 1 : norm <= 2 ? 2 : norm <= 5 ? 5 : 10) * magnitude;
    return std::max(step, 1.0);
}

class Builder
{
  public:
    explicit Builder(const TReportHeading &heading) : m_heading(heading) {}

    // Starts a table of the definition on a new page.
    void Begin(const TReportDef &def)
    {
        m_def = &def;
        m_x.clear();
        m_w.clear();
        double total = 0;
        for (const TReportColumn &c : def.layout.columns)
            total += c.width;
        // Definitions wider than the page are narrowed in proportion rather than cut at the margin.
        const double factor = total > kContentWidth ? kContentWidth / total : 1.0;
        double x = kMargin;
        for (const TReportColumn &c : def.layout.columns) {
            m_x.push_back(x);
            m_w.push_back(c.width * factor);
            x += c.width * factor;
        }
        m_tableWidth = x - kMargin;
    }

    void Table(TClientDataSet &rows);
    // The chart of every row, or, with a group key, of the rows of that group only, titled with caption.
    void Chart(TClientDataSet &rows, const QString *groupKey = nullptr, const QString &caption = {});
    // One chart per group, in the order the groups come.
    void GroupCharts(TClientDataSet &rows);
    TReportDocument Finish(const QString &title);

  private:
    void NewPage(bool withTitles);
    void Ensure(double height, bool withTitles = true);
    void Text(const QRectF &r, const QString &text, int align, double size, bool bold,
              const QColor &colour = kBlack)
    {
        TReportItem item;
        item.kind = TReportItem::Kind::Text;
        item.rect = r;
        item.text = text;
        item.align = align;
        item.size = size;
        item.bold = bold;
        item.color = colour;
        Page().items.push_back(item);
    }
    void Line(QPointF a, QPointF b, const QColor &colour = kBlack)
    {
        TReportItem item;
        item.kind = TReportItem::Kind::Line;
        item.rect = QRectF(a, b);
        item.color = colour;
        Page().items.push_back(item);
    }
    void Box(const QRectF &r, const QColor &fill)
    {
        TReportItem item;
        item.kind = TReportItem::Kind::Box;
        item.rect = r;
        item.color = fill;
        Page().items.push_back(item);
    }
    TReportPage &Page() { return m_pages[m_target]; }
    QRectF Cell(int column, double height) const
    {
        return QRectF(m_x[column] + kPad, m_y, m_w[column] - 2 * kPad, height);
    }
    void TotalLine(const QString &caption, const std::vector<double> &sums, bool grand);
    // A group's caption line (also repeated at the top of a page the group continues on).
    void GroupLine(const QString &caption);
    QString Caption(const QString &pattern, TClientDataSet &rows) const;

    const TReportDef *m_def = nullptr;
    const TReportHeading &m_heading;
    std::vector<double> m_x, m_w;
    double m_tableWidth = 0;
    std::vector<TReportPage> m_pages;
    size_t m_target = 0; // page the items go to
    double m_y = 0;
};

void Builder::NewPage(bool withTitles)
{
    m_pages.emplace_back();
    m_target = m_pages.size() - 1;
    const double top = kMargin;
    Text(QRectF(kMargin, top, kContentWidth * 0.7, 18),
         ElideReportText(m_def->name, 13, true, kContentWidth * 0.7), Qt::AlignLeft | Qt::AlignVCenter, 13,
         true);
    const QString printed =
        QStringLiteral("Emitido em ") + m_heading.printedAt.toString(QStringLiteral("dd/MM/yyyy HH:mm"));
    Text(QRectF(kMargin, top, kContentWidth, 10), printed, Qt::AlignRight | Qt::AlignVCenter, 7.5, false,
         kGrey);
    Text(QRectF(kMargin, top + 10, kContentWidth, 10), QStringLiteral("Relatório ") + m_heading.reportCode,
         Qt::AlignRight | Qt::AlignVCenter, 7.5, false, kGrey);
    if (!m_heading.criteria.isEmpty())
        Text(QRectF(kMargin, top + 21, kContentWidth, 12),
             ElideReportText(m_heading.criteria, 8.5, false, kContentWidth), Qt::AlignLeft | Qt::AlignVCenter,
             8.5, false);
    Line(QPointF(kMargin, top + 37), QPointF(kMargin + kContentWidth, top + 37));
    m_y = top + 42;
    if (!withTitles || m_def->layout.columns.empty())
        return;
    Box(QRectF(kMargin, m_y, m_tableWidth, kTitlesHeight), kTitlesFill);
    for (size_t c = 0; c < m_def->layout.columns.size(); ++c) {
        const TReportColumn &col = m_def->layout.columns[c];
        // A title too wide for its column is set smaller rather than cut.
        const QStringList lines = col.title.split(QLatin1Char('\n'));
        const auto fits = [&](double s) {
            return std::all_of(lines.begin(), lines.end(), [&](const QString &l) {
                return ReportTextWidth(l, s, true) <= m_w[c] - 2 * kPad;
            });
        };
        double size = 7;
        while (size > 5 && !fits(size))
            size -= 0.25;
        Text(Cell(int(c), kTitlesHeight), col.title, Align(col.format), size, true);
    }
    m_y += kTitlesHeight + 2;
}

void Builder::Ensure(double height, bool withTitles)
{
    if (m_pages.empty() || m_y + height > kBodyBottom)
        NewPage(withTitles);
}

QString Builder::Caption(const QString &pattern, TClientDataSet &rows) const
{
    QString text = pattern;
    const QStringList &fields = m_def->layout.groupCaptionFields;
    // Backwards, so that %1 does not take the start of %10.
    for (qsizetype i = fields.size(); i > 0; --i)
        text.replace(QLatin1Char('%') + QString::number(i),
                     rows.FieldByName(fields[i - 1]).AsString().trimmed());
    return text;
}

void Builder::TotalLine(const QString &caption, const std::vector<double> &sums, bool grand)
{
    const auto &columns = m_def->layout.columns;
    Ensure(kSubtotalHeight);
    if (grand)
        Box(QRectF(kMargin, m_y, m_tableWidth, kSubtotalHeight), kTotalFill);
    Line(QPointF(kMargin, m_y), QPointF(kMargin + m_tableWidth, m_y), kGrey);
    // The caption takes the columns before the first summed one.
    double captionEnd = kMargin + m_tableWidth;
    for (size_t c = 0; c < columns.size(); ++c) {
        if (columns[c].total) {
            captionEnd = m_x[c];
            break;
        }
    }
    const double captionWidth = captionEnd - kMargin - 2 * kPad;
    Text(QRectF(kMargin + kPad, m_y, captionWidth, kSubtotalHeight),
         ElideReportText(caption, 8, true, captionWidth), Qt::AlignLeft | Qt::AlignVCenter, 8, true);
    for (size_t c = 0; c < columns.size(); ++c) {
        if (!columns[c].total)
            continue;
        const QVariant v =
            columns[c].format == TReportFormat::Integer ? QVariant(qRound64(sums[c])) : QVariant(sums[c]);
        Text(Cell(int(c), kSubtotalHeight), FormatReportValue(v, columns[c].format), Align(columns[c].format),
             8, true);
    }
    m_y += kSubtotalHeight + (grand ? 0 : 4);
}

void Builder::GroupLine(const QString &caption)
{
    Box(QRectF(kMargin, m_y, m_tableWidth, kGroupHeight), kGroupFill);
    Text(QRectF(kMargin + kPad, m_y, m_tableWidth - 2 * kPad, kGroupHeight),
         ElideReportText(caption, 8.5, true, m_tableWidth - 2 * kPad), Qt::AlignLeft | Qt::AlignVCenter, 8.5, true);
    m_y += kGroupHeight;
}

void Builder::Table(TClientDataSet &rows)
{
    const TReportLayout &layout = m_def->layout;
    const auto &columns = layout.columns;
    std::vector<double> group(columns.size(), 0.0), grand(columns.size(), 0.0);
    QString current;
    QString subtotalCaption;
    bool inGroup = false;
    QString groupCaption;
    int stripe = 0;
    NewPage(true);
    if (rows.IsEmpty()) {
        Text(QRectF(kMargin, m_y + 4, kContentWidth, 14),
             QStringLiteral("Nenhum registro encontrado para os parâmetros informados."),
             Qt::AlignLeft | Qt::AlignVCenter, 9, false);
        m_y += 22;
        return;
    }
    for (rows.First(); !rows.Eof(); rows.Next()) {
        if (!layout.groupField.isEmpty()) {
            const QString key = rows.FieldByName(layout.groupField).AsString();
            if (!inGroup || key != current) {
                if (inGroup)
                    TotalLine(subtotalCaption, group, false);
                std::fill(group.begin(), group.end(), 0.0);
                current = key;
                inGroup = true;
                subtotalCaption = Caption(layout.subtotalCaption, rows);
                // A caption never stays alone at the foot of a page.
                Ensure(kGroupHeight + kRowHeight);
                groupCaption = Caption(layout.groupCaption, rows);
                GroupLine(groupCaption);
                stripe = 0;
            }
        }
        if (m_y + kRowHeight > kBodyBottom) {
            NewPage(true);
            // The reader of a page in the middle of a group still sees whose rows these are.
            if (inGroup)
                GroupLine(groupCaption + QStringLiteral(" (continuação)"));
        }
        if (stripe++ % 2 == 1)
            Box(QRectF(kMargin, m_y, m_tableWidth, kRowHeight), kStripe);
        for (size_t c = 0; c < columns.size(); ++c) {
            const QVariant value = rows.FieldByName(columns[c].field).Value();
            if (columns[c].total) {
                group[c] += value.toDouble();
                grand[c] += value.toDouble();
            }
            const QString text = FormatReportValue(value, columns[c].format);
            const double size = columns[c].fontSize;
            Text(Cell(int(c), kRowHeight), ElideReportText(text, size, false, m_w[c] - 2 * kPad),
                 Align(columns[c].format), size, false);
        }
        m_y += kRowHeight;
    }
    if (inGroup)
        TotalLine(subtotalCaption, group, false);
    if (!layout.totalCaption.isEmpty())
        TotalLine(layout.totalCaption, grand, true);
}

void Builder::GroupCharts(TClientDataSet &rows)
{
    const TReportLayout &layout = m_def->layout;
    QStringList keys, captions;
    for (rows.First(); !rows.Eof(); rows.Next()) {
        const QString key = rows.FieldByName(layout.groupField).AsString();
        if (keys.isEmpty() || keys.last() != key) {
            keys << key;
            captions << Caption(layout.groupCaption, rows);
        }
    }
    for (qsizetype i = 0; i < keys.size(); ++i)
        Chart(rows, &keys[i], captions[i]);
}

void Builder::Chart(TClientDataSet &rows, const QString *groupKey, const QString &caption)
{
    const TReportChart &chart = *m_def->layout.chart;
    QMap<QString, std::vector<double>> sums; // ordered by category
    for (rows.First(); !rows.Eof(); rows.Next()) {
        if (groupKey && rows.FieldByName(m_def->layout.groupField).AsString() != *groupKey)
            continue;
        std::vector<double> &v = sums[rows.FieldByName(chart.categoryField).AsString()];
        v.resize(chart.valueFields.size(), 0.0);
        for (int s = 0; s < chart.valueFields.size(); ++s)
            v[s] += rows.FieldByName(chart.valueFields[s]).Value().toDouble();
    }
    if (sums.isEmpty())
        return;
    m_y += 12;
    Ensure(kChartHeight, false);
    const double top = m_y;
    const QString title = caption.isEmpty() ? chart.title : chart.title + QStringLiteral(" - ") + caption;
    Text(QRectF(kMargin, top, kContentWidth * 0.6, 14), ElideReportText(title, 10, true, kContentWidth * 0.6),
         Qt::AlignLeft | Qt::AlignVCenter, 10, true);
    // Legend at the right of the title.
    double lx = kMargin + kContentWidth;
    for (int s = int(chart.seriesNames.size()) - 1; s >= 0; --s) {
        const double w = ReportTextWidth(chart.seriesNames[s], 7.5, false) + 4;
        lx -= w;
        Text(QRectF(lx, top + 2, w, 10), chart.seriesNames[s], Qt::AlignLeft | Qt::AlignVCenter, 7.5, false);
        lx -= 10;
        Box(QRectF(lx, top + 4, 7, 7), kSeriesColours[s % 4]);
        lx -= 8;
    }
    const QRectF plot(kMargin + 42, top + 26, kContentWidth - 46, kChartHeight - 26 - 44);
    double max = 0;
    for (const auto &v : sums)
        max = std::max(max, std::accumulate(v.begin(), v.end(), 0.0));
    const double step = NiceStep(max);
    const double axisMax = std::max(step, std::ceil(max / step) * step);
    const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
    for (double t = 0; t <= axisMax + step / 2; t += step) {
        const double y = plot.bottom() - t / axisMax * plot.height();
        Line(QPointF(plot.left(), y), QPointF(plot.right(), y), QColor(220, 220, 220));
        Text(QRectF(kMargin, y - 5, 38, 10), brazil.toString(qRound64(t)), Qt::AlignRight | Qt::AlignVCenter,
             7, false);
    }
    const int n = int(sums.size());
    const double slot = plot.width() / n;
    const double barWidth = std::min(slot * 0.7, 36.0);
    const int labelEvery = std::max(1, int(std::ceil(30.0 / slot)));
    int i = 0;
    for (auto it = sums.cbegin(); it != sums.cend(); ++it, ++i) {
        const double x = plot.left() + i * slot + (slot - barWidth) / 2;
        double base = plot.bottom();
        double total = 0;
        for (size_t s = 0; s < it.value().size(); ++s) {
            const double h = it.value()[s] / axisMax * plot.height();
            if (h > 0)
                Box(QRectF(x, base - h, barWidth, h), kSeriesColours[s % 4]);
            base -= h;
            total += it.value()[s];
        }
        if (barWidth >= 12)
            Text(QRectF(x - 6, base - 10, barWidth + 12, 9), brazil.toString(qRound64(total)),
                 Qt::AlignCenter, 6.5, false);
        if (i % labelEvery == 0) {
            QString label = FormatReportValue(it.key(), chart.categoryFormat);
            if (chart.categoryFormat == TReportFormat::Date)
                label = label.left(5);
            Text(QRectF(plot.left() + i * slot + slot / 2 - 20, plot.bottom() + 3, 40, 10), label,
                 Qt::AlignCenter, 6.5, false);
        }
    }
    Line(plot.bottomLeft(), plot.bottomRight());
    Line(plot.topLeft(), plot.bottomLeft());
    m_y = top + kChartHeight;
}

TReportDocument Builder::Finish(const QString &title)
{
    const int n = int(m_pages.size());
    for (int i = 0; i < n; ++i) {
        m_target = size_t(i);
        Line(QPointF(kMargin, kFooterTop), QPointF(kMargin + kContentWidth, kFooterTop), kGrey);
        Text(QRectF(kMargin, kFooterTop + 1, kContentWidth * 0.75, 11), m_heading.footer,
             Qt::AlignLeft | Qt::AlignVCenter, 7, false, kGrey);
        Text(QRectF(kMargin, kFooterTop + 1, kContentWidth, 11),
             QStringLiteral("Página %1 de %2").arg(i + 1).arg(n), Qt::AlignRight | Qt::AlignVCenter, 7, false,
             kGrey);
    }
    TReportDocument doc;
    doc.title = title;
    doc.pages = std::move(m_pages);
    return doc;
}

} // namespace

TReportDocument LayoutReport(const TReportDef &def, TClientDataSet &rows, const TReportHeading &heading)
{
    return LayoutReportSections(def.name, {{&def, &rows}}, heading);
}

TReportDocument LayoutReportSections(const QString &title, const std::vector<TReportSection> &sections,
                                     const TReportHeading &heading)
{
    for (const TReportSection &section : sections) {
        const TReportDef &def = *section.def;
        QStringList needed;
        for (const TReportColumn &c : def.layout.columns)
            needed << c.field;
        if (!def.layout.groupField.isEmpty())
            needed << def.layout.groupField << def.layout.groupCaptionFields;
        if (def.layout.chart)
            needed << def.layout.chart->categoryField << def.layout.chart->valueFields;
        for (const QString &field : needed)
            if (section.rows->FieldIndex(field) < 0)
                throw Exception(
                    QStringLiteral("A consulta do relatório \"%1\" não traz o campo %2.").arg(def.name, field));
    }
    Builder builder(heading);
    for (const TReportSection &section : sections) {
        builder.Begin(*section.def);
        builder.Table(*section.rows);
        const TReportLayout &layout = section.def->layout;
        if (layout.chart && layout.chart->perGroup && !layout.groupField.isEmpty())
            builder.GroupCharts(*section.rows);
        else if (layout.chart)
            builder.Chart(*section.rows);
    }
    return builder.Finish(title);
}

} // namespace vnd
