// getPastasExportacao and setCriaPastaExportacao: the folders under the server's export root, so that a
// host choosing the server as the destination browses and creates folders there, by relative name,
// without ever seeing or touching a path of the server's disk.
#include "host/errors.h"
#include "server/exportpath.h"
#include "server/rdm.h"

#include <QDir>
#include <QFileInfo>

namespace vnd::server {

namespace {

// A folder listing is for a person to read: more than this many folders is refused, not sent.
constexpr int kMaxFolders = 5000;
constexpr int kMaxNameLength = 100;

// The folder named by a relative text under the root; the root itself for an empty text.
QString Folder(const RdmGeraXml &rdm, const QString &relative)
{
    const QString root = rdm.Config().exportRoot;
    if (root.isEmpty())
        throw Exception(QStringLiteral("O servidor de aplicação não tem pasta de exportação configurada."));
    QString cleaned = relative.trimmed();
    cleaned.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (cleaned.startsWith(QLatin1String("./")))
        cleaned.remove(0, 2);
    if (cleaned.isEmpty() || cleaned == QLatin1String("."))
        return QFileInfo(root).canonicalFilePath();
    return ResolveExportFolder(root, relative);
}

// A new folder's name: one plain name, nothing a path could be made of.
void CheckName(const QString &name)
{
    const auto refuse = [&name](const QString &why) {
        throw Exception(QStringLiteral("Nome de pasta inválido: \"%1\" (%2).").arg(name, why));
    };
    if (name.trimmed().isEmpty())
        throw Exception(QStringLiteral("Informe o nome da nova pasta."));
    if (name.size() > kMaxNameLength)
        refuse(QStringLiteral("mais de %1 caracteres").arg(kMaxNameLength));
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        refuse(QStringLiteral("nome reservado"));
    if (name != name.trimmed())
        refuse(QStringLiteral("espaços no início ou no fim"));
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\'))
            refuse(QStringLiteral("não pode conter / nem \\"));
        if (c.category() == QChar::Other_Control || QStringLiteral(":*?\"<>|").contains(c))
            refuse(QStringLiteral("caractere não permitido"));
    }
}

// The folders directly inside a folder of the export root (relative text, "" for the root), by name,
// as a list of names. Links, files, sockets and devices are not folders of the export.
MethodResult getPastasExportacao(const RdmGeraXml &rdm, const Args &args)
{
    args.ExpectCount(1);
    const QString folder = Folder(rdm, args.Text(0, "pasta"));
    QDir dir(folder);
    if (!dir.exists())
        throw Exception(QStringLiteral("A pasta \"%1\" não existe no servidor.").arg(args.Text(0, "pasta")));
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name | QDir::IgnoreCase);
    if (entries.size() > kMaxFolders)
        throw Exception(QStringLiteral("A pasta \"%1\" tem mais de %2 pastas; escolha uma pasta mais abaixo.")
                            .arg(args.Text(0, "pasta"))
                            .arg(kMaxFolders));
    QStringList names;
    for (const QFileInfo &e : entries)
        names << e.fileName();
    return MethodResult{names};
}

// Creates one folder by name inside a folder of the export root and returns its relative path
// ("mensal/2026-11"). A folder of that name that exists already is returned as it is.
MethodResult setCriaPastaExportacao(const RdmGeraXml &rdm, const Args &args)
{
    args.ExpectCount(2);
    const QString parentText = args.Text(0, "pasta");
    const QString name = args.Text(1, "nome da nova pasta");
    CheckName(name);
    const QString parent = Folder(rdm, parentText);
    const QFileInfo target(QDir(parent).filePath(name));
    if (target.exists() && (!target.isDir() || target.isSymLink()))
        throw Exception(QStringLiteral("Já existe no servidor um arquivo chamado \"%1\".").arg(name));
    if (!target.exists() && !QDir(parent).mkdir(name))
        throw Exception(QStringLiteral("O servidor não conseguiu criar a pasta \"%1\" (sem permissão ou sem espaço).")
                            .arg(name));
    QString base = parentText.trimmed();
    base.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return MethodResult{base.isEmpty() || base == QLatin1String(".") ? name : base + QLatin1Char('/') + name};
}

} // namespace

void AddPastaMethods(QHash<QString, RdmGeraXml::Method> &methods)
{
    methods.insert(QStringLiteral("getPastasExportacao"), getPastasExportacao);
    methods.insert(QStringLiteral("setCriaPastaExportacao"), setCriaPastaExportacao);
}

} // namespace vnd::server
