#pragma once
// TDBGrid: the read-only grid of a list screen over a data source. Its current row and the data set's
// current record follow each other: a row chosen in the grid moves the record at once, a record moved by
// code is shown when the event loop next runs. A click on a column title is reported with its field.

#include "host/ui/recordsetmodel.h"

#include <QPointer>
#include <QTableView>

class TDataSource;

class TDBGrid : public QTableView
{
    Q_OBJECT
  public:
    explicit TDBGrid(QWidget *parent = nullptr);

    void SetDataSource(TDataSource *source);
    TDataSource *DataSource() const { return m_source.data(); }
    vnd::RecordSetModel *Model() const { return m_model; }
    // Explicit columns (field, title, width in pixels); empty shows the visible fields.
    void SetColumns(const std::vector<vnd::RecordSetModel::Column> &columns);
    // Field name shown in a column, or empty.
    QString ColumnField(int column) const;

  signals:
    // The title of a column was clicked.
    void titleClick(const QString &fieldName);

  private:
    void Rebind();
    void ApplyWidths();
    // Makes the grid's current row the data set's current record.
    void FollowDataSet();
    void FollowView(const QModelIndex &current);

    vnd::RecordSetModel *m_model;
    QPointer<TDataSource> m_source;
    bool m_following = false;
    bool m_followPending = false;
};
