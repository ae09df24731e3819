#include "host/ui/folderdialog.h"

#include "host/platform.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace vnd
{

QString CreateFolderReason(int error)
{
    switch (error) {
    case EACCES:
    case EPERM: return QStringLiteral("sem permissão para criar pastas neste local");
    case EROFS: return QStringLiteral("o disco é somente leitura");
    case ENOSPC:
    case EDQUOT: return QStringLiteral("não há espaço livre no disco");
    case ENOTDIR: return QStringLiteral("uma parte do caminho é um arquivo, não uma pasta");
    case ENAMETOOLONG: return QStringLiteral("o nome é longo demais");
    case EEXIST: return QStringLiteral("já existe um arquivo com esse nome");
    case ENOENT: return QStringLiteral("o caminho não existe");
    case EINVAL: return QStringLiteral("o nome não é válido");
    default: return QString::fromStdString(std::error_code(error, std::generic_category()).message());
    }
}

bool CreateFolder(const QString &folder, QString &reason)
{
    const QFileInfo existing(folder);
    if (existing.exists() && !existing.isDir()) {
        reason = CreateFolderReason(EEXIST);
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(folder.toStdString()), ec);
    if (!ec && QFileInfo(folder).isDir())
        return true;
    reason = CreateFolderReason(ec ? ec.value() : EEXIST);
    return false;
}

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
        QString reason;
        if (!CreateFolder(folder, reason)) {
            Platform().Error(QStringLiteral("Não foi possível criar a pasta %1: %2.").arg(shown, reason));
            return;
        }
    }
    QFileDialog::accept();
}

} // namespace vnd
