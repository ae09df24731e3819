#pragma once
// TReportDialog: the report dialog (rpddPadrao) of the report screens. It runs a report registered under
// its report code: the query on the host's database connection, after the screen has filled the query's
// parameters in OnBeforeGetQueryParams, then the layout, then the preview where the user saves the PDF.

#include "host/ui/reportpdf.h"

#include <QObject>
#include <QStringList>

#include <functional>

class QWidget;
class TADOIBQuery;

// Whether a report's query declares the parameter (name without the colon, any case).
bool ExistParam(const TADOIBQuery &params, const QString &name);

// A report run: its pages and the number of rows the query gave.
struct TReportResult {
    vnd::TReportDocument document;
    int rows = 0;
};

class TReportDialog : public QObject
{
    Q_OBJECT
  public:
    explicit TReportDialog(QObject *parent = nullptr);

    // Code the reports are registered under ("Vnd044").
    QString ReportCode;
    // Text at the foot of every page, before the page number.
    QString Footer;
    // Fills the parameters of the query about to run; the query holds the report's SQL.
    std::function<void(TADOIBQuery &params)> OnBeforeGetQueryParams;

    QStringList ReportNames() const;
    bool HasReport(const QString &name) const;

    // Opens the named report's query: its SQL, the parameters filled by OnBeforeGetQueryParams, then run
    // on the host's database connection. Date-time parameters reach the database as their wall-clock text
    // ("yyyy-MM-ddTHH:mm:ss"), the form the sales are stored in. criteria receives the report's
    // parameters line. Exception naming the report when it is not registered or its query fails.
    void OpenQuery(const QString &name, TADOIBQuery &query, QString *criteria = nullptr);
    // Opens the query and lays the report out, showing nothing.
    TReportResult Run(const QString &name, const QDateTime &printedAt = QDateTime::currentDateTime());
    // Runs the report under the busy indicator and shows its preview modally; a query without rows is
    // told in a message instead.
    void Execute(const QString &name, QWidget *parent = nullptr);
};
