#include "host/ui/reportdialog.h"

#include "host/errors.h"
#include "host/platform.h"
#include "host/query.h"
#include "host/ui/reportpreview.h"

#include <memory>

bool ExistParam(const TADOIBQuery &params, const QString &name)
{
    QString bare = name.toUpper();
    if (bare.startsWith(QLatin1Char(':')))
        bare.remove(0, 1);
    return params.ParamNames().contains(bare);
}

TReportDialog::TReportDialog(QObject *parent) : QObject(parent) {}

QStringList TReportDialog::ReportNames() const
{
    return vnd::ReportNames(ReportCode);
}

bool TReportDialog::HasReport(const QString &name) const
{
    return vnd::FindReport(ReportCode, name) != nullptr;
}

void TReportDialog::OpenQuery(const QString &name, TADOIBQuery &query, QString *criteria)
{
    const vnd::TReportDef *def = vnd::FindReport(ReportCode, name);
    if (!def)
        throw Exception(
            QStringLiteral("O relatório \"%1\" não está cadastrado no código %2.").arg(name, ReportCode));
    query.Close();
    query.SQL = def->sql;
    if (OnBeforeGetQueryParams)
        OnBeforeGetQueryParams(query);
    if (criteria)
        *criteria = def->criteria ? def->criteria(query) : QString();
    // The drivers would pass a date-time through UTC, moving the day of a sale near midnight.
    for (const QString &param : query.ParamNames()) {
        const QVariant value = query.ParamByName(param).Value();
        if (value.typeId() == QMetaType::QDateTime)
            query.ParamByName(param).SetValue(
                value.toDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
    }
    try {
        query.Open();
    } catch (const Exception &e) {
        throw Exception(QStringLiteral("Relatório \"%1\": %2").arg(name, e.Message()));
    }
}

TReportResult TReportDialog::Run(const QString &name, const QDateTime &printedAt)
{
    TADOIBQuery query;
    vnd::TReportHeading heading;
    OpenQuery(name, query, &heading.criteria);
    heading.reportCode = ReportCode;
    heading.footer = Footer;
    heading.printedAt = printedAt;
    TReportResult result;
    result.rows = query.RecordCount();
    result.document = vnd::LayoutReport(*vnd::FindReport(ReportCode, name), query, heading);
    return result;
}

void TReportDialog::Execute(const QString &name, QWidget *parent)
{
    TReportResult result;
    {
        vnd::BusyGuard busy;
        result = Run(name);
    }
    if (result.rows == 0) {
        Platform().Info(
            QStringLiteral("Não há dados para emitir o relatório \"%1\" com os parâmetros informados.")
                .arg(name));
        return;
    }
    TfrmVisualizaRel preview(std::move(result.document), parent);
    preview.ShowModal();
}
