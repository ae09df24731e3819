#include "host/ui/datasource.h"

TDataSource::TDataSource(QObject *parent, TClientDataSet *dataSet) : QObject(parent) { SetDataSet(dataSet); }

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
        connect(dataSet, &TClientDataSet::currentChanged, this, &TDataSource::dataChange);
        connect(dataSet, &QObject::destroyed, this, &TDataSource::dataSetChanged);
    }
    emit dataSetChanged();
    emit stateChange();
}

TDataSetState TDataSource::State() const { return m_dataSet ? m_dataSet->State() : TDataSetState::Inactive; }
