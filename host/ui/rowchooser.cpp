#include "host/ui/rowchooser.h"

#include "host/ui/hostwindow.h"
#include "host/ui/recordsetmodel.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

namespace vnd
{

// Adds a tick box to the first column of each record, kept by record position.
class TickedRows : public QIdentityProxyModel
{
  public:
    TickedRows(RecordSetModel *source, QObject *parent) : QIdentityProxyModel(parent), m_records(source)
    {
        setSourceModel(source);
        m_ticked.assign(size_t(source->DataSet() ? source->DataSet()->RowCount() : 0), 0);
    }

    bool Ticked(int recNo) const { return recNo >= 0 && recNo < int(m_ticked.size()) && m_ticked[recNo]; }
    void SetTicked(int recNo, bool on)
    {
        if (recNo < 0 || recNo >= int(m_ticked.size()) || bool(m_ticked[recNo]) == on)
            return;
        m_ticked[recNo] = on;
        const int row = m_records->RowOf(recNo);
        if (row >= 0)
            emit dataChanged(index(row, 0), index(row, 0), {Qt::CheckStateRole});
    }
    std::vector<int> All() const
    {
        std::vector<int> rows;
        for (int r = 0; r < int(m_ticked.size()); ++r)
            if (m_ticked[r])
                rows.push_back(r);
        return rows;
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        Qt::ItemFlags f = QIdentityProxyModel::flags(index);
        return index.column() == 0 ? f | Qt::ItemIsUserCheckable : f;
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role == Qt::CheckStateRole && index.column() == 0)
            return Ticked(m_records->RecNo(index.row())) ? Qt::Checked : Qt::Unchecked;
        return QIdentityProxyModel::data(index, role);
    }
    bool setData(const QModelIndex &index, const QVariant &value, int role) override
    {
        if (role != Qt::CheckStateRole || index.column() != 0)
            return false;
        SetTicked(m_records->RecNo(index.row()), value.toInt() == Qt::Checked);
        return true;
    }

  private:
    RecordSetModel *m_records;
    std::vector<char> m_ticked;
};

RowChooserDialog::RowChooserDialog(QWidget *parent, const QString &title, TClientDataSet &data, bool multiple,
                                   const std::vector<int> &rows)
    : QDialog(parent), m_multiple(multiple)
{
    setWindowTitle(title);
    setObjectName(QStringLiteral("RowChooserDialog"));
    m_model = new RecordSetModel(&data, this);
    QAbstractItemModel *shown = m_model;
    if (multiple) {
        m_ticks = new TickedRows(m_model, this);
        for (const int r : rows)
            m_ticks->SetTicked(r, true);
        shown = m_ticks;
    }
    m_search = new QSortFilterProxyModel(this);
    m_search->setSourceModel(shown);
    m_search->setFilterKeyColumn(-1);
    m_search->setFilterCaseSensitivity(Qt::CaseInsensitive);

    auto *find = new QLineEdit(this);
    find->setObjectName(QStringLiteral("edtLocalizar"));
    find->setClearButtonEnabled(true);
    connect(find, &QLineEdit::textChanged, this, &RowChooserDialog::SetSearch);
    auto *findRow = new QHBoxLayout;
    findRow->addWidget(new QLabel(QStringLiteral("Localizar:"), this));
    findRow->addWidget(find, 1);

    m_view = new QTableView(this);
    m_view->setModel(m_search);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->resizeColumnsToContents();

    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    if (multiple) {
        QPushButton *all = buttons->addButton(QStringLiteral("Marcar Todos"), QDialogButtonBox::ActionRole);
        QPushButton *none =
            buttons->addButton(QStringLiteral("Desmarcar Todos"), QDialogButtonBox::ActionRole);
        connect(all, &QPushButton::clicked, this, [this] { TickShown(true); });
        connect(none, &QPushButton::clicked, this, [this] { TickShown(false); });
        connect(m_view, &QTableView::doubleClicked, this, [this](const QModelIndex &index) {
            const int recNo = m_model->RecNo(m_search->mapToSource(index).row());
            SetTicked(recNo, !m_ticks->Ticked(recNo));
        });
    } else {
        connect(m_view, &QTableView::doubleClicked, this, &QDialog::accept);
    }

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(findRow);
    layout->addWidget(m_view, 1);
    layout->addWidget(buttons);
    resize(560, 420);

    const int first = rows.empty() ? 0 : qMax(0, m_model->RowOf(rows.front()));
    if (m_search->rowCount() > 0)
        m_view->setCurrentIndex(m_search->index(qMin(first, m_search->rowCount() - 1), 0));
    find->setFocus();
}

RowChooserDialog::~RowChooserDialog() = default;

void RowChooserDialog::SetSearch(const QString &text)
{
    m_search->setFilterFixedString(text);
    if (m_search->rowCount() > 0 && !m_view->currentIndex().isValid())
        m_view->setCurrentIndex(m_search->index(0, 0));
}

void RowChooserDialog::SetTicked(int recNo, bool ticked)
{
    if (m_ticks)
        m_ticks->SetTicked(recNo, ticked);
}

void RowChooserDialog::TickShown(bool ticked)
{
    if (!m_ticks)
        return;
    for (int row = 0; row < m_search->rowCount(); ++row)
        m_ticks->SetTicked(m_model->RecNo(m_search->mapToSource(m_search->index(row, 0)).row()), ticked);
}

std::vector<int> RowChooserDialog::Chosen() const
{
    if (m_multiple)
        return m_ticks->All();
    const QModelIndex current = m_view->currentIndex();
    if (!current.isValid())
        return {};
    return {m_model->RecNo(m_search->mapToSource(current).row())};
}

bool RowChooserDialog::Choose(const QString &title, TClientDataSet &data, bool multiple,
                              std::vector<int> &rows)
{
    RowChooserDialog dialog(DialogParent(), title, data, multiple, rows);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    std::vector<int> chosen = dialog.Chosen();
    if (!multiple && chosen.empty())
        return false;
    rows = std::move(chosen);
    return true;
}

} // namespace vnd
