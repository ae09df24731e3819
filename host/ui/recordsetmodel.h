#pragma once
// The table model of every grid: one row per record of a TClientDataSet that passes its filter, one
// column per visible field (or per column of an explicit list), cells showing the field's display text.
// It reads the record set in place, so a list of 100 000 sales costs no copy; appended pages arrive as
// inserted rows and edits as changed cells, so a view keeps its scroll position and current row.

#include "host/recordset.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <vector>

namespace vnd
{

class RecordSetModel : public QAbstractTableModel
{
    Q_OBJECT
  public:
    // A grid column: the field shown, its title (empty: the field's label) and its width in pixels
    // (0: from the field).
    struct Column {
        QString field;
        QString title;
        int width = 0;
    };

    explicit RecordSetModel(TClientDataSet *data = nullptr, QObject *parent = nullptr);

    void SetDataSet(TClientDataSet *data);
    TClientDataSet *DataSet() const { return m_data.data(); }
    // Explicit columns, in order; empty restores the visible fields. A field the data set does not have
    // is an Exception naming it (once the data set has its definitions).
    void SetColumns(const std::vector<Column> &columns);
    // Whether each cell's whole display text is also its tooltip (for columns narrower than their texts).
    void SetCellToolTips(bool on) { m_toolTips = on; }

    // Record position (RecNo) of a model row.
    int RecNo(int row) const;
    // Model row of a record position; -1 when the record is filtered out or out of range.
    int RowOf(int recNo) const;
    // Field index shown in a column (-1 for a column whose field is missing).
    int FieldOf(int column) const;
    // Width in pixels given for a column, or 0.
    int ColumnWidth(int column) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  signals:
    // The data set's current record moved to this model row (-1 when it is not shown).
    void currentRowChanged(int row);

  private:
    bool m_toolTips = false;
    struct Shown {
        int field = -1;
        QString title;
        int width = 0;
    };

    void Rebuild();
    void Refresh();
    void ResolveColumns();
    // The rows to show now: identity (empty map, count) or the filtered positions.
    void Scan(bool &mapped, std::vector<int> &map, int &count) const;

    QPointer<TClientDataSet> m_data;
    std::vector<Column> m_requested;
    std::vector<Shown> m_columns;
    int m_fieldCount = 0;
    bool m_mapped = false;
    std::vector<int> m_map;
    int m_count = 0;
};

} // namespace vnd
