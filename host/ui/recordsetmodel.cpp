#include "host/ui/recordsetmodel.h"

#include "host/errors.h"

#include <algorithm>

namespace vnd
{

RecordSetModel::RecordSetModel(TClientDataSet *data, QObject *parent) : QAbstractTableModel(parent)
{
    SetDataSet(data);
}

void RecordSetModel::SetDataSet(TClientDataSet *data)
{
    if (m_data)
        disconnect(m_data, nullptr, this, nullptr);
    m_data = data;
    if (data) {
        connect(data, &TClientDataSet::dataChanged, this, &RecordSetModel::Refresh);
        connect(data, &TClientDataSet::currentChanged, this,
                [this](int recNo) { emit currentRowChanged(RowOf(recNo)); });
        connect(data, &QObject::destroyed, this, &RecordSetModel::Rebuild);
    }
    Rebuild();
}

void RecordSetModel::SetColumns(const std::vector<Column> &columns)
{
    if (m_data && m_data->FieldCount() > 0)
        for (const Column &c : columns)
            if (m_data->FieldIndex(c.field) < 0)
                throw Exception(
                    QStringLiteral("Campo %1 não encontrado para a coluna da grade").arg(c.field));
    m_requested = columns;
    Rebuild();
}

void RecordSetModel::ResolveColumns()
{
    m_columns.clear();
    m_fieldCount = m_data ? m_data->FieldCount() : 0;
    if (!m_data)
        return;
    if (m_requested.empty()) {
        for (int i = 0; i < m_fieldCount; ++i) {
            const TFieldDef &def = m_data->FieldDefs()[i];
            if (def.visible)
                m_columns.push_back({i, def.label.isEmpty() ? def.name : def.label, 0});
        }
        return;
    }
    for (const Column &c : m_requested) {
        const int field = m_data->FieldIndex(c.field);
        QString title = c.title;
        if (title.isEmpty() && field >= 0) {
            const TFieldDef &def = m_data->FieldDefs()[field];
            title = def.label.isEmpty() ? def.name : def.label;
        }
        m_columns.push_back({field, title.isEmpty() ? c.field : title, c.width});
    }
}

void RecordSetModel::Scan(bool &mapped, std::vector<int> &map, int &count) const
{
    map.clear();
    mapped = false;
    count = 0;
    if (!m_data || !m_data->Active())
        return;
    const int rows = m_data->RowCount();
    if (!m_data->Filtered() || m_data->Filter().trimmed().isEmpty()) {
        count = rows;
        return;
    }
    mapped = true;
    for (int r = 0; r < rows; ++r)
        if (m_data->RowVisible(r))
            map.push_back(r);
    count = int(map.size());
}

void RecordSetModel::Rebuild()
{
    beginResetModel();
    ResolveColumns();
    Scan(m_mapped, m_map, m_count);
    endResetModel();
}

void RecordSetModel::Refresh()
{
    if (!m_data || m_data->FieldCount() != m_fieldCount) {
        Rebuild();
        return;
    }
    bool mapped = false;
    std::vector<int> map;
    int count = 0;
    Scan(mapped, map, count);
    const bool sameKind = mapped == m_mapped;
    const bool prefix =
        sameKind && count >= m_count && (!mapped || std::equal(m_map.begin(), m_map.end(), map.begin()));
    if (!prefix) {
        beginResetModel();
        m_mapped = mapped;
        m_map = std::move(map);
        m_count = count;
        endResetModel();
        return;
    }
    const int old = m_count;
    if (count > old) {
        beginInsertRows(QModelIndex(), old, count - 1);
        m_map = std::move(map);
        m_count = count;
        endInsertRows();
    }
    // Rows already shown may have been edited: the view repaints those it shows.
    if (old > 0 && !m_columns.empty())
        emit dataChanged(index(0, 0), index(old - 1, int(m_columns.size()) - 1), {Qt::DisplayRole});
}

int RecordSetModel::RecNo(int row) const
{
    if (row < 0 || row >= m_count)
        return -1;
    return m_mapped ? m_map[row] : row;
}

int RecordSetModel::RowOf(int recNo) const
{
    if (recNo < 0)
        return -1;
    if (!m_mapped)
        return recNo < m_count ? recNo : -1;
    const auto it = std::lower_bound(m_map.begin(), m_map.end(), recNo);
    return it != m_map.end() && *it == recNo ? int(it - m_map.begin()) : -1;
}

int RecordSetModel::FieldOf(int column) const
{
    return column >= 0 && column < int(m_columns.size()) ? m_columns[column].field : -1;
}

int RecordSetModel::ColumnWidth(int column) const
{
    return column >= 0 && column < int(m_columns.size()) ? m_columns[column].width : 0;
}

int RecordSetModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_count;
}

int RecordSetModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant RecordSetModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !m_data || index.row() >= m_count || index.column() >= int(m_columns.size()))
        return {};
    const int field = m_columns[index.column()].field;
    if (field < 0)
        return {};
    if (role == Qt::TextAlignmentRole) {
        const TFieldType type = m_data->FieldDefs()[field].type;
        const bool number = type == TFieldType::Float || type == TFieldType::Integer;
        const Qt::Alignment align =
            number ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter;
        return int(align); // as Qt's own models give it
    }
    if (role != Qt::DisplayRole && !(role == Qt::ToolTipRole && m_toolTips))
        return {};
    const int recNo = m_mapped ? m_map[index.row()] : index.row();
    if (recNo >= m_data->RowCount())
        return {};
    const TField cell = m_data->RowField(recNo, field);
    try {
        return cell.DisplayText();
    } catch (const Exception &e) {
        // A failing text handler must not break painting (nor raise a box per cell): the cell shows the
        // stored value and the failure goes to the log.
        qWarning("Texto de exibição do campo %s: %s", qPrintable(cell.FieldName()), qPrintable(e.Message()));
        return cell.AsString();
    }
}

QVariant RecordSetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    return section >= 0 && section < int(m_columns.size()) ? QVariant(m_columns[section].title) : QVariant();
}

} // namespace vnd
