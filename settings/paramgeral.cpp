#include "settings/paramgeral.h"

#include "host/recordset.h"

namespace vnd
{

void DefineCdsParamGeral(TClientDataSet &cds)
{
    cds.AddField(QStringLiteral("DTINIGERAARQXML"), TFieldType::DateTime, 0,
                 QStringLiteral("Data Inicial Geração"));
    cds.AddField(QStringLiteral("DSDIRARQXML"), TFieldType::String, kTamDiretorioParam,
                 QStringLiteral("Diretório destino dos arquivos XML no servidor"));
    cds.AddField(QStringLiteral("DSDIRARQPHPGXML"), TFieldType::String, kTamDiretorioParam,
                 QStringLiteral("Diretório destino dos arquivos PHP no servidor"));
    cds.AddField(QStringLiteral("DSDIRINSTALAPHP"), TFieldType::String, kTamDiretorioParam,
                 QStringLiteral("Diretório de instalação do PHP.exe"));
    cds.AddField(QStringLiteral("IDENVARQCMP"), TFieldType::String, 1,
                 QStringLiteral("Gerar arquivos compactados"));
}

QString DirScriptComBarra(const QString &texto)
{
    if (texto.endsWith(QLatin1Char('\\')))
        return texto;
    return texto + QLatin1Char('\\');
}

QStringList MensagensParamGeraArqAuto()
{
    return {
        QStringLiteral("DTINI_INF|Data inicial de geração deve ser informada."),
        QStringLiteral("DIRARQXML_INF|Diretório destino dos arquivos XML no servidor deve ser informado."),
        QStringLiteral("DIRARQPHP_INF|Diretório destino dos arquivos PHP no servidor deve ser informado."),
        QStringLiteral("DIRINSPHP_INF|Diretório de instalação do PHP.exe deve ser informado."),
        QStringLiteral("DIRARQPHP_TAM|Diretório destino dos arquivos PHP no servidor deve ter no máximo 100 "
                       "caracteres, contando a barra final."),
    };
}

} // namespace vnd
