// The text log of failed files: one file per imported name and branch under the error folder.
#include "host/errors.h"
#include "import/importacaoxml.h"
#include "import/importfiles.h"

#include <QDateTime>
#include <QFile>

namespace vnd {

void TImportacaoXml::LogAjuste(const QString &text, const QString &name)
{
    CriaPastasFilial();
    const QString &filial = m_globals.stFilial;
    const QString path = stDirXmlErro + (filial.isEmpty() ? QString() : filial + QLatin1Char('/')) + name +
                         QStringLiteral(".txt");
    const QDateTime now = QDateTime::currentDateTime();
    // The screens' Brazilian form, whatever the locale of the program that writes (the command line
    // runs under the machine's).
    const QString line = now.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")) + QStringLiteral(" - ") + text +
                         QStringLiteral("\r\n");
    QFile file(path);
    const QByteArray bytes = line.toUtf8();
    // One write per line in append mode: a line is never interleaved with another writer's.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(bytes) != bytes.size() || !file.flush())
        throw Exception(QStringLiteral("Não foi possível gravar o log \"%1\": %2").arg(path, file.errorString()));
}

void TImportacaoXml::RegistraFalha(const QString &descricao)
{
    if (m_motivoArquivo.isEmpty())
        m_motivoArquivo = descricao;
    const QString log = stNomeArqXml + QStringLiteral("-log");
    LogAjuste(QStringLiteral("-----> Erro no XML ") + stNomeArqXml, log);
    LogAjuste(QStringLiteral("------ Descrição do erro: ") + descricao, log);
}

void TImportacaoXml::CriaPastasFilial()
{
    // The branch names a folder level; nothing is ever written outside the import's own folders.
    if (!NomePastaSeguro(m_globals.stFilial))
        throw Exception(QStringLiteral("Código de filial inválido para nome de pasta: \"%1\"").arg(m_globals.stFilial));
    CriaPasta(stDirXmlProc + m_globals.stFilial);
    CriaPasta(stDirXmlErro + m_globals.stFilial);
}

} // namespace vnd
