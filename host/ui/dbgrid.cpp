#include "host/ui/dbgrid.h"

#include "host/platform.h"
#include "host/ui/datasource.h"

#include <QHeaderView>

TDBGrid::TDBGrid(QWidget *parent) : QTableView(parent), m_model(new vnd::RecordSetModel(nullptr, this))
{
    setModel(m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTabKeyNavigation(false);
    // Fixed row heights keep scrolling a list of 100 000 rows as cheap as one of 100.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->hide();
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(true);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { emit titleClick(ColumnField(column)); });
    // A loop that walks the records (ticking 100 000 rows) moves the current record at each step; the
    // grid follows once, when the event loop runs again, instead of scrolling and repainting each time.
    connect(m_model, &vnd::RecordSetModel::currentRowChanged, this, [this] {
        if (m_followPending)
            return;
        m_followPending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_followPending = false;
                FollowDataSet();
            },
            Qt::QueuedConnection);
    });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        ApplyWidths();
        FollowDataSet();
    });
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { FollowView(current); });
}

void TDBGrid::SetDataSource(TDataSource *source)
{
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (source)
        connect(source, &TDataSource::dataSetChanged, this, &TDBGrid::Rebind);
    Rebind();
}

void TDBGrid::Rebind()
{
    m_model->SetDataSet(m_source ? m_source->DataSet() : nullptr);
}

void TDBGrid::SetColumns(const std::vector<vnd::RecordSetModel::Column> &columns)
{
    m_model->SetColumns(columns);
}

QString TDBGrid::ColumnField(int column) const
{
    const int field = m_model->FieldOf(column);
    TClientDataSet *data = m_model->DataSet();
    return field >= 0 && data ? data->FieldDefs()[field].name : QString();
}

void TDBGrid::ApplyWidths()
{
    TClientDataSet *data = m_model->DataSet();
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    for (int c = 0; c < m_model->columnCount(); ++c) {
        int width = m_model->ColumnWidth(c);
        const int field = m_model->FieldOf(c);
        if (width <= 0 && data && field >= 0) {
            const TFieldDef &def = data->FieldDefs()[field];
            int chars = def.displayWidth;
            if (chars <= 0) {
                switch (def.type) {
                case TFieldType::DateTime:
                    chars = 19;
                    break;
                case TFieldType::Memo:
                    chars = 30;
                    break;
                case TFieldType::String:
                case TFieldType::FixedChar:
                    chars = qBound(4, def.size, 50);
                    break;
                default:
                    chars = 12;
                    break;
                }
            }
            const int title =
                fontMetrics().horizontalAdvance(m_model->headerData(c, Qt::Horizontal).toString());
            width = qMax(chars * digit, title) + 12;
        }
        if (width > 0)
            setColumnWidth(c, width);
    }
}

void TDBGrid::FollowDataSet()
{
    TClientDataSet *data = m_model->DataSet();
    const int row = data ? m_model->RowOf(data->RecNo()) : -1;
    if (m_following || row < 0 || row >= m_model->rowCount() || row == currentIndex().row())
        return;
    m_following = true;
    const int column = qMax(0, currentIndex().column());
    setCurrentIndex(m_model->index(row, qMin(column, qMax(0, m_model->columnCount() - 1))));
    m_following = false;
}

void TDBGrid::FollowView(const QModelIndex &current)
{
    TClientDataSet *data = m_model->DataSet();
    if (m_following || !current.isValid() || !data)
        return;
    const int recNo = m_model->RecNo(current.row());
    if (recNo < 0 || recNo == data->RecNo())
        return;
    m_following = true;
    vnd::RunHandler([&] { data->SetRecNo(recNo); });
    m_following = false;
}
