#include "export/ui/listanotas.h"

#include <QLocale>

#include "host/errors.h"
#include "host/platform.h"
#include "host/rpc.h"

#include <QLocale>
#include <QScopeGuard>

namespace vnd {

namespace {
const QString kT = QStringLiteral("T");

// One list filter field of the filter record into its pair.
void Par(TClientDataSet &filtro, const char *campo, QString &valor, QString &todos)
{
    const QString texto = filtro.FieldByName(QString::fromLatin1(campo)).AsString();
    if (texto == kT) {
        valor.clear();
        todos = kT;
    } else {
        valor = texto;
        todos.clear();
    }
}
} // namespace

void TTextosGeraXml::Clear() { *this = TTextosGeraXml(); }

TTextosGeraXml &TextosGeraXml()
{
    static TTextosGeraXml textos;
    return textos;
}

void DefineDadosFiltro(TClientDataSet &cds)
{
    cds.AddField(QStringLiteral("FILIAL"), TFieldType::String, 1000);
    cds.AddField(QStringLiteral("CAIXA"), TFieldType::String, 5000);
    cds.AddField(QStringLiteral("DATAINI"), TFieldType::DateTime);
    cds.AddField(QStringLiteral("DATAFIM"), TFieldType::DateTime);
    cds.AddField(QStringLiteral("SITUACAONF"), TFieldType::String, 10);
    cds.AddField(QStringLiteral("NRNOTAFISCAL"), TFieldType::String, 9);
    // A code of each would fit in 21 and 3 characters, a selection of several would be cut.
    cds.AddField(QStringLiteral("CLIENTE"), TFieldType::String, 5000);
    cds.AddField(QStringLiteral("TIPORECE"), TFieldType::String, 5000);
    cds.CreateDataSet();
}

void PreenchePares(TClientDataSet &cdsDadosFiltro, TTextosGeraXml &t)
{
    if (!cdsDadosFiltro.Active() || cdsDadosFiltro.IsEmpty())
        throw Exception(QStringLiteral("O filtro da lista de vendas não foi informado."));
    cdsDadosFiltro.First();
    Par(cdsDadosFiltro, "FILIAL", t.stCdFilial, t.stTCdFilial);
    Par(cdsDadosFiltro, "CAIXA", t.stCdcaixa, t.stTCdCaixa);
    Par(cdsDadosFiltro, "CLIENTE", t.stCdCliente, t.stTCdCliente);
    Par(cdsDadosFiltro, "TIPORECE", t.stCdTipoRece, t.stTCdTipoRece);
    Par(cdsDadosFiltro, "NRNOTAFISCAL", t.stNrNotaFiscal, t.stTNrNotafiscal);
}

const QStringList &LinhasMensagensGeraXml()
{
    static const QStringList linhas = {
    QStringLiteral("Nenh_Sele|Operação Bloqueada! Favor selecionar uma ou mais notas antes de gerar o Xml"),
    QStringLiteral("Concluida|Concluída"),
    QStringLiteral("Cancelada|Cancelada"),
    QStringLiteral("Devolucao|Devolução"),
    QStringLiteral("Sat|SAT"),
    QStringLiteral("Nfce|NFC-e"),
    QStringLiteral("Xml_Ok|Arquivo(s) Xml gerado(s) com sucesso."),
    QStringLiteral("Xml_Err|Ocorreu um erro durante a geração do arquivo. Por favor entre em contato com o suporte."),
    QStringLiteral("Xml_n_Enc|Não foi encontrado nenhum XML."),
    QStringLiteral("Xml_proc|Foram importadas %s notas de %s arquivos/lotes de XML."),
    QStringLiteral("Nota_Pen_Rej|Existem NFC-e pendente/rejeitada de transmissão para o filtro informado. Favor "
                   "verificar as notas através da tela Transmissão de NFC-e."),
    QStringLiteral("CONF_LOG|Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de erros?"),
    QStringLiteral("Erro|Erro"),
    QStringLiteral("Alerta|Alerta"),
};
    return linhas;
}

const QStringList &LinhasMensagensFiltGerXml()
{
    static const QStringList linhas = {
    QStringLiteral("CAIXA|Caixa"),
    QStringLiteral("Filial_deve|Filial deve ser informada."),
    QStringLiteral("Caixa_deve|Caixa deve ser informado."),
    QStringLiteral("FILIAL|Filial"),
    QStringLiteral("Data_de_deve|Data inicial deve ser informada."),
    QStringLiteral("Data_ate_deve|Data final deve ser informada."),
    QStringLiteral("N_DT_VAL|não é uma data válida."),
    QStringLiteral("DT_MENOR|Data final deve ser maior que data inicial."),
    QStringLiteral("SITU_INF|Situação da Venda na SEFAZ deve ser informada."),
    QStringLiteral("CLIENTE|Cliente"),
    QStringLiteral("TIPORECE|Tipo de Recebimento"),
    QStringLiteral("Cliente_deve|Cliente deve ser informado."),
    QStringLiteral("Tipo_Rece_deve|Tipo de Recebimento deve ser informado."),
};
    return linhas;
}

QString TextoQtdeNotas(int count)
{
    return QStringLiteral("Qtde. de Registros Listados: ") + QStringLiteral("%1").arg(count, 4, 10, QLatin1Char('0'));
}

QString TextoSituacaoVenda(const TMessages &msg, const QString &value)
{
    if (value == QLatin1String("O"))
        return msg.Msg(QStringLiteral("Concluida"));
    if (value == QLatin1String("C"))
        return msg.Msg(QStringLiteral("Cancelada"));
    return msg.Msg(QStringLiteral("Devolucao"));
}

QString TextoOrigemVenda(const TMessages &msg, const QString &value)
{
    return msg.Msg(value == QLatin1String("N") ? QStringLiteral("Nfce") : QStringLiteral("Sat"));
}

void InstalaTextosNotas(TClientDataSet &cds, const TMessages &msg)
{
    cds.SetOnGetText(QStringLiteral("IDSITUVENDA"), [&msg](const TField &f) { return TextoSituacaoVenda(msg, f.AsString()); });
    cds.SetOnGetText(QStringLiteral("IDTPEMISVEND"), [&msg](const TField &f) { return TextoOrigemVenda(msg, f.AsString()); });
    // The movement column shows the day; the time of the sale does not fit it and says nothing there.
    cds.SetOnGetText(QStringLiteral("DTENTRVENDA"), [](const TField &f) {
        return f.IsNull() ? QString() : f.AsDateTime().date().toString(QStringLiteral("dd/MM/yyyy"));
    });
}

TBuscaNotas::TBuscaNotas(TNetConnection &net, TClientDataSet &cdsNotas, TClientDataSet &cdsNotasTemp,
                         TClientDataSet &cdsNotasPenRej)
    : m_net(net), m_notas(cdsNotas), m_temp(cdsNotasTemp), m_penRej(cdsNotasPenRej)
{
}

TServerResult TBuscaNotas::Chama(const QString &method, const QVariantList &params)
{
    if (OnChamada)
        OnChamada(method, params);
    return m_net.Call(method, params);
}

void TBuscaNotas::BuscaPaginas(TClientDataSet &cdsDadosFiltro, TTextosGeraXml &t)
{
    PreenchePares(cdsDadosFiltro, t);
    const QDateTime dataIni = cdsDadosFiltro.FieldByName(QStringLiteral("DATAINI")).AsDateTime();
    const QDateTime dataFim = cdsDadosFiltro.FieldByName(QStringLiteral("DATAFIM")).AsDateTime();
    const QString situacao = cdsDadosFiltro.FieldByName(QStringLiteral("SITUACAONF")).AsString();

    BusyGuard busy;
    if (!m_notas.IsEmpty())
        m_notas.EmptyDataSet();
    qint64 primeira = 0;
    qint64 ultima = kTamanhoPagina;
    for (;;) {
        QVariantList params{t.stCdFilial,     t.stTCdFilial,     t.stCdcaixa,   t.stTCdCaixa,
                            dataIni,          dataFim,           t.stNrNotaFiscal, t.stTNrNotafiscal,
                            situacao,         false,             QString::number(primeira),
                            QString::number(ultima),             t.stCdCliente, t.stTCdCliente,
                            t.stCdTipoRece,   t.stTCdTipoRece};
        if (!ComDocumentos)
            params << true; // the rows without their two documents
        const TDataPacket pagina = rpc::ToPacket(CheckResultServ(Chama(QStringLiteral("getNotas"), params)),
                                                 "página da lista de vendas");
        m_temp.SetData(pagina);
        const bool vazia = m_temp.IsEmpty();
        if (!vazia) {
            // The page as received is appended; merging the log makes its rows count as unchanged,
            // so a later change packet of the list holds only what the user changed.
            m_notas.AppendData(pagina);
            m_notas.MergeChangeLog();
        }
        const int linhas = m_notas.RecordCount();
        if (OnPagina)
            OnPagina(linhas);
        Platform().BusyProgress(TextoQtdeNotas(linhas));
        if (vazia)
            break;
        primeira = ultima + 1;
        ultima += kTamanhoPagina;
    }
}

int TBuscaNotas::BuscaPendentes(TClientDataSet &cdsDadosFiltro, const TTextosGeraXml &t)
{
    const QVariantList params{t.stCdFilial,
                              t.stTCdFilial,
                              t.stCdcaixa,
                              t.stTCdCaixa,
                              t.stNrNotaFiscal,
                              t.stTNrNotafiscal,
                              cdsDadosFiltro.FieldByName(QStringLiteral("DATAINI")).AsDateTime(),
                              cdsDadosFiltro.FieldByName(QStringLiteral("DATAFIM")).AsDateTime()};
    m_penRej.SetData(rpc::ToPacket(CheckResultServ(Chama(QStringLiteral("getNotasPedRej"), params)),
                                   "lista de NFC-e pendentes"));
    return m_penRej.RecordCount();
}

void AlternaMarca(TClientDataSet &cdsNotas, int &marcadas)
{
    if (!cdsNotas.Active() || cdsNotas.IsEmpty() || cdsNotas.RecNo() < 0)
        return;
    TField marca = cdsNotas.FieldByName(QStringLiteral("IDCHECK"));
    const bool marcar = marca.AsString() == QLatin1String("N");
    cdsNotas.Edit();
    marca.SetAsString(marcar ? QStringLiteral("S") : QStringLiteral("N"));
    cdsNotas.Post();
    marcadas += marcar ? 1 : -1;
}

void MarcaDesmarcaTodas(TClientDataSet &cdsNotas, int &marcadas)
{
    if (!cdsNotas.Active())
        return;
    cdsNotas.DisableControls();
    const auto restaura = qScopeGuard([&cdsNotas] {
        cdsNotas.First();
        cdsNotas.EnableControls();
    });
    TField marca = cdsNotas.FieldByName(QStringLiteral("IDCHECK"));
    const QString sim = QStringLiteral("S");
    // A tick is a mark of the screen, never sent back as a change: the log is merged as the loop goes,
    // or it would keep a copy of every row ticked (a million rows, a second list).
    int editadas = 0;
    const auto marcaLinha = [&](const QString &valor) {
        cdsNotas.Edit();
        marca.SetAsString(valor);
        cdsNotas.Post();
        if (++editadas % 8192 == 0)
            cdsNotas.MergeChangeLog();
    };
    if (marcadas <= 0) {
        for (cdsNotas.First(); !cdsNotas.Eof(); cdsNotas.Next()) {
            marcaLinha(sim);
            ++marcadas;
        }
        cdsNotas.MergeChangeLog();
        return;
    }
    for (cdsNotas.First(); !cdsNotas.Eof(); cdsNotas.Next()) {
        if (marca.AsString() != sim)
            continue;
        marcaLinha(QStringLiteral("N"));
    }
    cdsNotas.MergeChangeLog();
    marcadas = 0;
}

TResumoMarcadas ResumoMarcadas(const TClientDataSet &cdsNotas)
{
    TResumoMarcadas resumo;
    if (!cdsNotas.Active())
        return resumo;
    const int marca = cdsNotas.FieldIndex(QStringLiteral("IDCHECK"));
    const int valor = cdsNotas.FieldIndex(QStringLiteral("VRTOTVENDA"));
    if (marca < 0)
        return resumo;
    for (int row = 0; row < cdsNotas.RowCount(); ++row) {
        if (!cdsNotas.RowVisible(row))
            continue;
        const QVariant v = cdsNotas.RowValue(row, marca);
        const bool marcada = v.typeId() == QMetaType::QByteArray ? v.toByteArray() == "S" : v.toString() == QLatin1String("S");
        if (!marcada)
            continue;
        ++resumo.quantidade;
        if (valor >= 0)
            resumo.valor += cdsNotas.RowValue(row, valor).toDouble();
    }
    return resumo;
}

QString TextoResumoMarcadas(const TResumoMarcadas &resumo)
{
    if (resumo.quantidade == 0)
        return QStringLiteral("Nenhuma nota marcada");
    const QLocale br(QLocale::Portuguese, QLocale::Brazil);
    return QStringLiteral("%1 %2, total R$ %3")
        .arg(resumo.quantidade)
        .arg(resumo.quantidade == 1 ? QStringLiteral("nota marcada") : QStringLiteral("notas marcadas"))
        .arg(br.toString(resumo.valor, 'f', 2));
}

bool LocalizaMarcada(TClientDataSet &cdsNotas)
{
    if (!cdsNotas.Active())
        return false;
    const int campo = cdsNotas.FieldIndex(QStringLiteral("IDCHECK"));
    for (int r = 0; r < cdsNotas.RowCount(); ++r) {
        if (cdsNotas.RowVisible(r) && cdsNotas.RowValue(r, campo).toByteArray() == "S") {
            cdsNotas.SetRecNo(r);
            return true;
        }
    }
    return false;
}

} // namespace vnd
