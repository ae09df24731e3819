#pragma once
// TDataSource: the link between a record set and the controls that show it (grids, lookup buttons, list
// pickers, data-bound edits). Swapping the record set behind it rebinds every control at once.

#include "host/recordset.h"

#include <QObject>
#include <QPointer>

class TDataSource : public QObject
{
    Q_OBJECT
  public:
    explicit TDataSource(QObject *parent = nullptr, TClientDataSet *dataSet = nullptr);

    TClientDataSet *DataSet() const { return m_dataSet.data(); }
    void SetDataSet(TClientDataSet *dataSet);
    // The record set's state (Inactive without one).
    TDataSetState State() const;

  signals:
    // The record set's state changed (opened, closed, edit, insert, post, cancel).
    void stateChange();
    // Rows changed (at once), or the current record moved (once the event loop runs again).
    void dataChange();
    // Another record set (or none) is now behind this source.
    void dataSetChanged();

  private:
    QPointer<TClientDataSet> m_dataSet;
    bool m_movePending = false;
};
