#include "host/ui/datasource.h"

TDataSource::TDataSource(QObject *parent, TClientDataSet *dataSet) : QObject(parent)
{
    SetDataSet(dataSet);
}

void TDataSource::SetDataSet(TClientDataSet *dataSet)
{
    if (m_dataSet == dataSet)
        return;
    if (m_dataSet)
        disconnect(m_dataSet, nullptr, this, nullptr);
    m_dataSet = dataSet;
    if (dataSet) {
        connect(dataSet, &TClientDataSet::stateChanged, this, &TDataSource::stateChange);
        connect(dataSet, &TClientDataSet::dataChanged, this, &TDataSource::dataChange);
        // A walk over the records moves the current one at every step; the controls follow once, when
        // the event loop runs again (a loop over 100 000 rows would otherwise redraw them 100 000 times).
        connect(dataSet, &TClientDataSet::currentChanged, this, [this] {
            if (m_movePending)
                return;
            m_movePending = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    m_movePending = false;
                    emit dataChange();
                },
                Qt::QueuedConnection);
        });
        connect(dataSet, &QObject::destroyed, this, &TDataSource::dataSetChanged);
    }
    emit dataSetChanged();
    emit stateChange();
}

TDataSetState TDataSource::State() const
{
    return m_dataSet ? m_dataSet->State() : TDataSetState::Inactive;
}
