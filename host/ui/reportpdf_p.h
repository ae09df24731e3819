#pragma once
// Fonts and text measures shared by the report's layout and painting (not part of the interface).

#include <QFont>
#include <QString>

namespace vnd
{
// The report's font at a size in points.
QFont ReportFont(double size, bool bold);
// Width of a text in points.
double ReportTextWidth(const QString &text, double size, bool bold);
// The text cut with "…" to fit the width in points.
QString ElideReportText(const QString &text, double size, bool bold, double width);
} // namespace vnd
