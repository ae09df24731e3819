#include "host/ui/uiplatform.h"

#include "host/ui/rowchooser.h"

#include <QDialog>
#include <QFileDialog>

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

QString SaveFileName(const QString &caption, const QString &purpose, const QString &suggested, const QString &filter)
{
    if (auto *ui = dynamic_cast<IUiPlatform *>(&Platform()))
        return ui->SaveFileName(caption, purpose, suggested, filter);
    return QFileDialog::getSaveFileName(nullptr, caption, suggested, filter);
}

} // namespace vnd
