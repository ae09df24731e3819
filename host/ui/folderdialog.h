#pragma once
// The folder dialog: Qt's own directory dialog (so it behaves alike on every desktop) that, unlike it,
// accepts a typed folder that does not exist yet by asking and then creating it with its parents.

#include <QFileDialog>

namespace vnd
{

// Creates the folder with its parents; false with the reason in Portuguese ("sem permissão ...").
bool CreateFolder(const QString &folder, QString &reason);
// The reason for a failed creation, from the system's error number.
QString CreateFolderReason(int error);

class FolderDialog : public QFileDialog
{
    Q_OBJECT
  public:
    FolderDialog(QWidget *parent, const QString &caption, const QString &startFolder);
    // The chosen folder after acceptance.
    QString Folder() const;

  public slots:
    // A missing folder is created after the user agrees ("A pasta ... não existe. Deseja criá-la?",
    // through the installed platform); refused or impossible, the dialog stays open.
    void accept() override;
};

} // namespace vnd
