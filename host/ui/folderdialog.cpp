#include "host/ui/folderdialog.h"

#include "host/platform.h"

#include <QDir>
#include <QFileInfo>

namespace vnd
{

FolderDialog::FolderDialog(QWidget *parent, const QString &caption, const QString &startFolder)
    : QFileDialog(parent, caption.isEmpty() ? QStringLiteral("Selecione a pasta") : caption, startFolder)
{
    // The platform's native dialog would bypass accept() and refuse missing folders.
    setOption(QFileDialog::DontUseNativeDialog);
    setOption(QFileDialog::ShowDirsOnly);
    setFileMode(QFileDialog::Directory);
    setAcceptMode(QFileDialog::AcceptOpen);
    setLabelText(QFileDialog::LookIn, QStringLiteral("Examinar:"));
    setLabelText(QFileDialog::FileName, QStringLiteral("Pasta:"));
    setLabelText(QFileDialog::FileType, QStringLiteral("Tipo:"));
    setLabelText(QFileDialog::Accept, QStringLiteral("Selecionar"));
    setLabelText(QFileDialog::Reject, QStringLiteral("Cancelar"));
}

QString FolderDialog::Folder() const
{
    const QStringList files = selectedFiles();
    return files.isEmpty() ? QString() : QDir::cleanPath(files.first());
}

void FolderDialog::accept()
{
    const QString folder = Folder();
    if (folder.isEmpty())
        return;
    const QFileInfo info(folder);
    const QString shown = QDir::toNativeSeparators(folder);
    if (info.exists() && !info.isDir()) {
        Platform().Error(QStringLiteral("%1 não é uma pasta.").arg(shown));
        return;
    }
    if (!info.exists()) {
        if (!Platform().AskYesNo(QStringLiteral("A pasta %1 não existe. Deseja criá-la?").arg(shown)))
            return;
        if (!QDir().mkpath(folder)) {
            Platform().Error(QStringLiteral("Não foi possível criar a pasta %1.").arg(shown));
            return;
        }
    }
    QFileDialog::accept();
}

} // namespace vnd
