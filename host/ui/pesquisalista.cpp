#include "host/ui/pesquisalista.h"

#include "host/errors.h"
#include "host/ui/datasource.h"
#include "host/ui/uiplatform.h"

namespace vnd
{

QString BuildSelection(const QStringList &codes)
{
    QString text;
    for (const QString &code : codes)
        text += QLatin1Char('_') + code + QLatin1Char('_');
    return text;
}

QStringList ParseSelection(const QString &selection)
{
    QStringList codes;
    if (selection.size() < 2 || !selection.startsWith(QLatin1Char('_')) ||
        !selection.endsWith(QLatin1Char('_')))
        return codes;
    // "_A__B_" -> "A__B" -> A, B
    return selection.mid(1, selection.size() - 2).split(QStringLiteral("__"));
}

bool SelectionHas(const QString &selection, const QString &code)
{
    return selection.contains(QLatin1Char('_') + code + QLatin1Char('_'));
}

} // namespace vnd

bool PesquisaLista(TDataSource *dataSource, const QString &keyField, const QString &title, bool singleChoice,
                   QString &selection)
{
    TClientDataSet *data = dataSource ? dataSource->DataSet() : nullptr;
    if (!data || !data->Active())
        throw Exception(QStringLiteral("A lista de %1 não está aberta.").arg(title));
    const int key = data->FieldIndex(keyField);
    if (key < 0)
        throw Exception(QStringLiteral("Campo %1 não encontrado na lista de %2.").arg(keyField, title));

    std::vector<int> rows;
    for (int r = 0; r < data->RowCount(); ++r)
        if (data->RowVisible(r) && vnd::SelectionHas(selection, data->RowField(r, key).AsString()))
            rows.push_back(r);
    if (singleChoice && rows.size() > 1)
        rows.resize(1);
    if (!vnd::ChooseRows(title, *data, !singleChoice, rows))
        return false;
    QStringList codes;
    for (const int r : rows)
        codes << data->RowField(r, key).AsString();
    selection = vnd::BuildSelection(codes);
    return true;
}
