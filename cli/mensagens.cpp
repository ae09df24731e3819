#include "cli/mensagens.h"

#include "export/ui/listanotas.h"

namespace vnd::cli
{

const TMessages &MensagensGeraXml()
{
    static const TMessages msg(LinhasMensagensGeraXml());
    return msg;
}

const TMessages &MensagensFiltro()
{
    static const TMessages msg(LinhasMensagensFiltGerXml());
    return msg;
}

const TMessages &MensagensFiltroImport()
{
    static const TMessages msg({
        QStringLiteral("DIR_INF|Diretório deve ser informado."),
        QStringLiteral("FILI_INF|Filial deve ser informada."),
        QStringLiteral("FILI_N_CAD|Filial não cadastrada."),
        QStringLiteral("CAIXA_INF|Caixa deve ser informado."),
        QStringLiteral("CAIXA_N_CAD|Caixa não cadastrado."),
    });
    return msg;
}

} // namespace vnd::cli
