#pragma once
// The Qt list dialog behind list pickers and lookup buttons: the visible fields of a data set in a grid,
// a "Localizar" box that narrows the rows shown, tick boxes for a multiple choice (kept while narrowing)
// or a current row for a single one.

#include <QDialog>
#include <memory>
#include <vector>

class QSortFilterProxyModel;
class QTableView;
class TClientDataSet;

namespace vnd
{

class RecordSetModel;
class TickedRows;

class RowChooserDialog : public QDialog
{
    Q_OBJECT
  public:
    // rows: record positions preselected.
    RowChooserDialog(QWidget *parent, const QString &title, TClientDataSet &data, bool multiple,
                     const std::vector<int> &rows);
    ~RowChooserDialog() override;

    // Record positions chosen, ascending (the ticked rows, or the current one of a single choice).
    std::vector<int> Chosen() const;
    // Narrows the rows shown to those with the text in any column (case ignored).
    void SetSearch(const QString &text);
    // Ticks or unticks a record position (multiple choice).
    void SetTicked(int recNo, bool ticked);
    // Ticks or unticks every row shown.
    void TickShown(bool ticked);
    QTableView *View() const { return m_view; }

    // Runs the dialog modally; the outcome as ChooseRows gives it.
    static bool Choose(const QString &title, TClientDataSet &data, bool multiple, std::vector<int> &rows);

  private:
    bool m_multiple;
    RecordSetModel *m_model;
    TickedRows *m_ticks = nullptr;
    QSortFilterProxyModel *m_search;
    QTableView *m_view;
};

} // namespace vnd
