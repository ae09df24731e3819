#pragma once
// Report definitions of the report screens: each is registered under a report code ("Vnd044") with its
// name, its SQL text with ":P_…" parameters (run on the host's database connection) and a layout: the
// columns of its table, an optional grouping with subtotals, a grand total and a bar chart.

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

class TADOIBQuery;

namespace vnd
{

// How a value is written: texts as they are, integers with thousands dots, money with two decimals
// and the decimal comma, dates ("yyyy-MM-dd…" text or a date) as dd/MM/yyyy.
enum class TReportFormat { Text, Integer, Money, Date };

struct TReportColumn {
    QString field; // result column of the query (upper case)
    QString title; // heading; "\n" splits it over two lines
    double width;  // points
    TReportFormat format = TReportFormat::Text;
    bool total = false; // summed on the subtotal and total lines
    double fontSize = 8; // of the rows; long fixed texts such as digests are set smaller to fit whole
};

// Bars of the sum of each series per category, the categories in ascending order of their value.
struct TReportChart {
    QString title;
    QString categoryField;
    TReportFormat categoryFormat = TReportFormat::Text;
    QStringList valueFields; // one series each, stacked
    QStringList seriesNames; // legend, one per value field
    // One chart per group of the table (titled "<title> - <group caption>") instead of one for all rows.
    bool perGroup = false;
};

struct TReportLayout {
    std::vector<TReportColumn> columns;
    // Rows come ordered by this field; each run of one value gets a caption line before it and a subtotal
    // line after it. Empty: no grouping.
    QString groupField;
    // Caption of a group: %1, %2… are the values of these fields on its first row.
    QString groupCaption;
    QStringList groupCaptionFields;
    // Caption of a subtotal line (%1 as in groupCaption) and of the grand total line (empty: none).
    QString subtotalCaption;
    QString totalCaption;
    std::optional<TReportChart> chart;
};

struct TReportDef {
    QString code; // report code the screens list it under
    QString name; // shown in the report list and as the report's heading
    QStringList sql;
    TReportLayout layout;
    // Line under the heading that states the query's parameters ("Período: …"); none when unset.
    std::function<QString(TADOIBQuery &query)> criteria;
};

// Registers a definition; one of the same code and name is replaced.
void RegisterReport(const TReportDef &def);
// Names of the reports of a code, in order of registration.
QStringList ReportNames(const QString &code);
// The definition of that code and name, or nullptr.
const TReportDef *FindReport(const QString &code, const QString &name);

// A value as the report writes it, in the Brazilian formats.
QString FormatReportValue(const QVariant &value, TReportFormat format);

} // namespace vnd
