#include "host/ui/uiplatform.h"

#include "host/ui/rowchooser.h"

#include <QDialog>

namespace vnd
{

bool ChooseRows(const QString &title, TClientDataSet &data, bool multiple, std::vector<int> &rows)
{
    if (auto *ui = dynamic_cast<IUiPlatform *>(&Platform()))
        return ui->ChooseRows(title, data, multiple, rows);
    return RowChooserDialog::Choose(title, data, multiple, rows);
}

int RunModal(QDialog &dialog)
{
    if (auto *ui = dynamic_cast<IUiPlatform *>(&Platform()))
        return ui->RunModal(dialog);
    return dialog.exec();
}

} // namespace vnd
