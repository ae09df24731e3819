#include "cli/mensagens.h"

namespace vnd::cli
{

const TMessages &MensagensGeraXml()
{
    static const TMessages msg({
        QStringLiteral(
            "Nenh_Sele|Operação Bloqueada! Favor selecionar uma ou mais notas antes de gerar o Xml"),
        QStringLiteral("Concluida|Concluída"),
        QStringLiteral("Cancelada|Cancelada"),
        QStringLiteral("Devolucao|Devolução"),
        QStringLiteral("Sat|SAT"),
        QStringLiteral("Nfce|NFC-e"),
        QStringLiteral("Xml_Ok|Arquivo(s) Xml gerado(s) com sucesso."),
        QStringLiteral("Xml_Err|Ocorreu um erro durante a geração do arquivo. Por favor entre em contato com "
                       "o suporte."),
        QStringLiteral("Xml_n_Enc|Não foi encontrado nenhum XML."),
        QStringLiteral("Xml_proc|Foram importadas %s notas de %s arquivos/lotes de XML."),
        QStringLiteral(
            "Nota_Pen_Rej|Existem NFC-e pendente/rejeitada de transmissão para o filtro informado. Favor "
            "verificar as notas através da tela Transmissão de NFC-e."),
        QStringLiteral(
            "CONF_LOG|Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de erros?"),
        QStringLiteral("Erro|Erro"),
        QStringLiteral("Alerta|Alerta"),
    });
    return msg;
}

const TMessages &MensagensFiltro()
{
    static const TMessages msg({
        QStringLiteral("Filial_deve|Filial deve ser informada."),
        QStringLiteral("Caixa_deve|Caixa deve ser informado."),
        QStringLiteral("Data_de_deve|Data inicial deve ser informada."),
        QStringLiteral("Data_ate_deve|Data final deve ser informada."),
        QStringLiteral("N_DT_VAL|não é uma data válida."),
        QStringLiteral("DT_MENOR|Data final deve ser maior que data inicial."),
        QStringLiteral("SITU_INF|Situação da Venda na SEFAZ deve ser informada."),
        QStringLiteral("Cliente_deve|Cliente deve ser informado."),
        QStringLiteral("Tipo_Rece_deve|Tipo de Recebimento deve ser informado."),
    });
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
