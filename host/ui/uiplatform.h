#pragma once
// Widget-level platform dialogs: the row choice behind list pickers and lookup buttons, and the run of a
// modal screen. They extend IPlatform so that one installed platform answers every dialog: the Qt one in
// the host, a scripted double in tests (which drives modal screens without an event loop).

#include "host/platform.h"

#include <QString>
#include <vector>

class QDialog;
class TClientDataSet;

namespace vnd
{

class IUiPlatform : public IPlatform
{
  public:
    // Choice among the rows of an open data set, listing its visible fields. rows holds the record
    // positions (RecNo) preselected on entry and the chosen ones, ascending, on return; a single choice
    // returns one. False when cancelled (rows unchanged).
    virtual bool ChooseRows(const QString &title, TClientDataSet &data, bool multiple,
                            std::vector<int> &rows) = 0;
    // Runs a modal screen and returns its result (QDialog::Accepted/Rejected).
    virtual int RunModal(QDialog &dialog) = 0;
    // Asks for the name of a file to write, starting in the folder last used for the purpose ("relatorio")
    // with the suggested name; empty when cancelled.
    virtual QString SaveFileName(const QString &caption, const QString &purpose, const QString &suggested,
                                 const QString &filter) = 0;
};

// Through the installed platform when it is an IUiPlatform, else straight through the Qt dialogs.
bool ChooseRows(const QString &title, TClientDataSet &data, bool multiple, std::vector<int> &rows);
int RunModal(QDialog &dialog);
QString SaveFileName(const QString &caption, const QString &purpose, const QString &suggested, const QString &filter);

} // namespace vnd
