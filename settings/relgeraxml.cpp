#include "settings/relgeraxml.h"

#include "host/query.h"
#include "host/ui/pesquisalista.h"
#include "host/ui/report.h"
#include "host/ui/reportdialog.h"

namespace vnd
{

namespace
{

const QString kT = QStringLiteral("T");

// The day of a sale as "yyyy-MM-dd" in both engines: SQLite keeps the ISO text, PostgreSQL casts its
// timestamp to the ISO text.
const QString kDiaVenda = QStringLiteral("SUBSTR(CAST(V.DTENTRVENDA AS VARCHAR(30)), 1, 10)");

// The period and list conditions shared by the reports. The first day also bounds the stored
// date-time itself, which lets the database use its index on the sale date.
QStringList Condicoes(bool comCaixa)
{
    QStringList sql = {
        QStringLiteral("WHERE V.IDSTATUSNFCE IN ('A', 'C')"),
        QStringLiteral("  AND V.DTENTRVENDA >= :P_DTVENDAINI"),
        QStringLiteral("  AND %1 <= SUBSTR(CAST(:P_DTVENDAFIN AS VARCHAR(30)), 1, 10)").arg(kDiaVenda),
        QStringLiteral("  AND ((INSTR(:P_CDFILIAL, '_' || V.CDFILIAL || '_') > 0) OR (:P_TCDFILIAL = 'T'))"),
    };
    if (comCaixa)
        sql << QStringLiteral(
            "  AND ((INSTR(:P_CDCAIXA, '_' || V.CDFILIAL || V.CDCAIXA || '_') > 0) OR (:P_TCDCAIXA = 'T'))");
    return sql;
}

QStringList Contagens()
{
    return {
        QStringLiteral(
            "  SUM(CASE WHEN V.IDTPEMISVEND = 'N' AND V.IDSTATUSNFCE = 'A' THEN 1 ELSE 0 END) AS QTNFCEAUT,"),
        QStringLiteral("  SUM(CASE WHEN V.IDTPEMISVEND = 'N' AND V.IDSTATUSNFCE = 'C' THEN 1 ELSE 0 END) AS "
                       "QTNFCECANC,"),
        QStringLiteral(
            "  SUM(CASE WHEN V.IDTPEMISVEND <> 'N' AND V.IDSTATUSNFCE = 'A' THEN 1 ELSE 0 END) AS QTSATAUT,"),
        QStringLiteral("  SUM(CASE WHEN V.IDTPEMISVEND <> 'N' AND V.IDSTATUSNFCE = 'C' THEN 1 ELSE 0 END) AS "
                       "QTSATCANC,"),
        QStringLiteral("  SUM(CASE WHEN V.IDTPEMISVEND = 'N' THEN 1 ELSE 0 END) AS QTNFCE,"),
        QStringLiteral("  SUM(CASE WHEN V.IDTPEMISVEND <> 'N' THEN 1 ELSE 0 END) AS QTSAT,"),
        QStringLiteral("  COUNT(*) AS QTVENDAS,"),
        QStringLiteral("  SUM(CASE WHEN V.IDSTATUSNFCE = 'A' THEN COALESCE(V.VRTOTVENDA, 0.0) ELSE 0.0 END) "
                       "AS VRAUTORIZADO,"),
        QStringLiteral("  SUM(CASE WHEN V.IDSTATUSNFCE = 'C' THEN COALESCE(V.VRTOTVENDA, 0.0) ELSE 0.0 END) "
                       "AS VRCANCELADO"),
    };
}

std::vector<TReportColumn> ColunasContagem()
{
    return {
        {QStringLiteral("QTNFCEAUT"), QStringLiteral("NFC-e\nAutorizadas"), 48, TReportFormat::Integer, true},
        {QStringLiteral("QTNFCECANC"), QStringLiteral("NFC-e\nCanceladas"), 48, TReportFormat::Integer, true},
        {QStringLiteral("QTSATAUT"), QStringLiteral("SAT\nAutorizados"), 48, TReportFormat::Integer, true},
        {QStringLiteral("QTSATCANC"), QStringLiteral("SAT\nCancelados"), 48, TReportFormat::Integer, true},
        {QStringLiteral("QTVENDAS"), QStringLiteral("Total de\nVendas"), 48, TReportFormat::Integer, true},
        {QStringLiteral("VRAUTORIZADO"), QStringLiteral("Valor Autorizado\n(R$)"), 76, TReportFormat::Money,
         true},
        {QStringLiteral("VRCANCELADO"), QStringLiteral("Valor Cancelado\n(R$)"), 76, TReportFormat::Money,
         true},
    };
}

TReportChart GraficoPorDia()
{
    TReportChart chart;
    chart.title = QStringLiteral("Vendas por dia");
    chart.categoryField = QStringLiteral("DTVENDA");
    chart.categoryFormat = TReportFormat::Date;
    chart.valueFields = {QStringLiteral("QTNFCE"), QStringLiteral("QTSAT")};
    chart.seriesNames = {QStringLiteral("NFC-e"), QStringLiteral("SAT")};
    return chart;
}

void Agrupamento(TReportLayout &layout)
{
    layout.groupField = QStringLiteral("CDFILIAL");
    layout.groupCaptionFields = {QStringLiteral("CDFILIAL"), QStringLiteral("NMFILIAL")};
    layout.groupCaption = QStringLiteral("Filial %1 - %2");
    layout.subtotalCaption = QStringLiteral("Subtotal da filial %1");
    layout.totalCaption = QStringLiteral("Total geral");
    layout.chart = GraficoPorDia();
}

TReportDef FilialCaixaDia()
{
    TReportDef def;
    def.code = CodRelGeraXml();
    def.name = RelGeraXmlFilialCaixaDia();
    def.sql =
        QStringList{
            QStringLiteral("SELECT V.CDFILIAL, F.NMFILIAL, V.CDCAIXA, %1 AS DTVENDA,").arg(kDiaVenda)} +
        Contagens() +
        QStringList{QStringLiteral("FROM VENDA V"),
                    QStringLiteral("JOIN FILIAL F ON F.CDFILIAL = V.CDFILIAL")} +
        Condicoes(true) +
        QStringList{QStringLiteral("GROUP BY V.CDFILIAL, F.NMFILIAL, V.CDCAIXA, %1").arg(kDiaVenda),
                    QStringLiteral("ORDER BY V.CDFILIAL, V.CDCAIXA, 4")};
    def.layout.columns = {
        {QStringLiteral("CDCAIXA"), QStringLiteral("Caixa"), 36, TReportFormat::Text, false},
        {QStringLiteral("DTVENDA"), QStringLiteral("Data"), 92, TReportFormat::Date, false}};
    for (const TReportColumn &c : ColunasContagem())
        def.layout.columns.push_back(c);
    Agrupamento(def.layout);
    def.criteria = CriteriosRelGeraXml;
    return def;
}

TReportDef FilialDia()
{
    TReportDef def;
    def.code = CodRelGeraXml();
    def.name = RelGeraXmlFilialDia();
    def.sql = QStringList{QStringLiteral("SELECT V.CDFILIAL, F.NMFILIAL, %1 AS DTVENDA,").arg(kDiaVenda)} +
              Contagens() +
              QStringList{QStringLiteral("FROM VENDA V"),
                          QStringLiteral("JOIN FILIAL F ON F.CDFILIAL = V.CDFILIAL")} +
              Condicoes(false) +
              QStringList{QStringLiteral("GROUP BY V.CDFILIAL, F.NMFILIAL, %1").arg(kDiaVenda),
                          QStringLiteral("ORDER BY V.CDFILIAL, 3")};
    def.layout.columns = {
        {QStringLiteral("DTVENDA"), QStringLiteral("Data"), 128, TReportFormat::Date, false}};
    for (const TReportColumn &c : ColunasContagem())
        def.layout.columns.push_back(c);
    Agrupamento(def.layout);
    def.criteria = CriteriosRelGeraXml;
    return def;
}

// "Todas", or the codes of a selection text; registers ("0001001") as branch/register.
QString DescreveLista(const QVariant &valor, const QVariant &todos, const QString &tudo, bool caixa)
{
    if (todos.toString() == kT)
        return tudo;
    QStringList codigos = ParseSelection(valor.toString());
    if (caixa)
        for (QString &c : codigos)
            if (c.size() == 7)
                c = c.left(4) + QLatin1Char('/') + c.mid(4);
    return codigos.isEmpty() ? QStringLiteral("-") : codigos.join(QStringLiteral(", "));
}

} // namespace

QString CodRelGeraXml()
{
    return QStringLiteral("Vnd044");
}

QString RelGeraXmlFilialCaixaDia()
{
    return QStringLiteral("Geração do Arquivo XML por Filial/Caixa/Dia");
}

QString RelGeraXmlFilialDia()
{
    return QStringLiteral("Geração do Arquivo XML por Filial/Dia");
}

void RegistraRelatoriosVnd044()
{
    RegisterReport(FilialCaixaDia());
    RegisterReport(FilialDia());
}

void PreencheParametrosRelGeraXml(TClientDataSet &cdsDadosFiltro, TADOIBQuery &params)
{
    if (!cdsDadosFiltro.Active() || cdsDadosFiltro.IsEmpty())
        return;
    cdsDadosFiltro.First();
    auto par = [&](const char *a, const char *b) {
        return ExistParam(params, QString::fromLatin1(a)) && ExistParam(params, QString::fromLatin1(b));
    };
    if (par("P_DTVENDAINI", "P_DTVENDAFIN")) {
        params.ParamByName(QStringLiteral("P_DTVENDAINI"))
            .SetAsDateTime(cdsDadosFiltro.FieldByName(QStringLiteral("DATAINI")).AsDateTime());
        params.ParamByName(QStringLiteral("P_DTVENDAFIN"))
            .SetAsDateTime(cdsDadosFiltro.FieldByName(QStringLiteral("DATAFIM")).AsDateTime());
    }
    auto lista = [&](const char *campo, const char *valor, const char *todos) {
        if (!par(valor, todos))
            return;
        const QString texto = cdsDadosFiltro.FieldByName(QString::fromLatin1(campo)).AsString();
        const bool tudo = texto == kT;
        params.ParamByName(QString::fromLatin1(valor)).SetAsString(tudo ? QString() : texto);
        params.ParamByName(QString::fromLatin1(todos)).SetAsString(tudo ? kT : QString());
    };
    lista("FILIAL", "P_CDFILIAL", "P_TCDFILIAL");
    lista("CAIXA", "P_CDCAIXA", "P_TCDCAIXA");
}

QString CriteriosRelGeraXml(TADOIBQuery &params)
{
    auto valor = [&](const char *nome) {
        return ExistParam(params, QString::fromLatin1(nome))
                   ? params.ParamByName(QString::fromLatin1(nome)).Value()
                   : QVariant();
    };
    QStringList partes;
    const QVariant ini = valor("P_DTVENDAINI"), fim = valor("P_DTVENDAFIN");
    if (ini.isValid() || fim.isValid())
        partes << QStringLiteral("Período: %1 a %2")
                      .arg(FormatReportValue(ini, TReportFormat::Date),
                           FormatReportValue(fim, TReportFormat::Date));
    if (ExistParam(params, QStringLiteral("P_TCDFILIAL")))
        partes << QStringLiteral("Filiais: ") + DescreveLista(valor("P_CDFILIAL"), valor("P_TCDFILIAL"),
                                                              QStringLiteral("Todas"), false);
    if (ExistParam(params, QStringLiteral("P_TCDCAIXA")))
        partes << QStringLiteral("Caixas: ") +
                      DescreveLista(valor("P_CDCAIXA"), valor("P_TCDCAIXA"), QStringLiteral("Todos"), true);
    return partes.join(QStringLiteral("     "));
}

} // namespace vnd
