#include "import/ui/frmlogimparqxml.h"

#include "host/errors.h"
#include "host/platform.h"
#include "host/ui/controls.h"
#include "host/ui/datasource.h"
#include "host/ui/dbgrid.h"
#include "host/ui/handlers.h"
#include "host/ui/reportpreview.h"
#include "host/ui/uiplatform.h"

#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QSplitter>
#include <QStyle>
#include <QVBoxLayout>

namespace {

// The viewer's columns, in the viewer's order, with their widths in pixels.
const std::initializer_list<std::pair<const char *, int>> kColunas = {
    {"IDTPVALIDXML", 41},   {"NMARQXML", 284}, {"DSERROXML", 300},     {"DSAJUDAXML", 300}, {"CDFILIAL", 39},
    {"CDCAIXA", 36},        {"NRNOTAFISCALCE", 66}, {"NRACESSONFCE", 300}, {"CDPRODUTO", 106}, {"NMPRODUTO", 292}};

QString Rotulo(const TClientDataSet &cds, const QString &campo)
{
    const int i = cds.FieldIndex(campo);
    const QString label = i >= 0 ? cds.FieldDefs().at(i).label : QString();
    return label.isEmpty() ? campo : label;
}

QByteArray CampoCsv(const QString &texto)
{
    QString t = texto;
    if (t.contains(QLatin1Char(';')) || t.contains(QLatin1Char('"')) || t.contains(QLatin1Char('\n')) ||
        t.contains(QLatin1Char('\r'))) {
        t.replace(QStringLiteral("\""), QStringLiteral("\"\""));
        t = QLatin1Char('"') + t + QLatin1Char('"');
    }
    return t.toUtf8();
}

} // namespace

namespace vnd {

QByteArray LogValidacaoCsv(TClientDataSet &cds)
{
    // The byte-order mark lets spreadsheets read the accents as UTF-8.
    QByteArray csv("\xEF\xBB\xBF");
    QList<int> campos;
    QByteArrayList titulos;
    for (const auto &[campo, largura] : kColunas) {
        const QString nome = QString::fromLatin1(campo);
        const int i = cds.FieldIndex(nome);
        if (i < 0)
            continue;
        campos << i;
        titulos << CampoCsv(Rotulo(cds, nome));
    }
    csv += titulos.join(';') + "\r\n";

    for (int row = 0; row < cds.RowCount(); ++row) {
        if (!cds.RowVisible(row))
            continue;
        QByteArrayList linha;
        for (int i : campos)
            linha << CampoCsv(cds.RowField(row, i).DisplayText());
        csv += linha.join(';') + "\r\n";
    }
    return csv;
}

TReportDocument LogValidacaoRelatorio(TClientDataSet &cds, const QDateTime &emitidoEm)
{
    TReportDef def;
    def.code = QStringLiteral("VND044");
    def.name = QStringLiteral("Log da Importação do Arquivo XML (NFC-e/SAT)");
    // The page is narrower than the screen: the columns that say what went wrong come first; texts
    // too long for their column are cut on paper, whole in the CSV.
    for (const auto &[campo, largura] : std::initializer_list<std::pair<const char *, double>>{
             {"IDTPVALIDXML", 30}, {"NMARQXML", 95}, {"CDFILIAL", 28}, {"CDCAIXA", 26}, {"NRNOTAFISCALCE", 42},
             {"DSERROXML", 165}, {"DSAJUDAXML", 165}}) {
        const QString nome = QString::fromLatin1(campo);
        if (cds.FieldIndex(nome) >= 0)
            def.layout.columns.push_back({nome, Rotulo(cds, nome), largura});
    }
    TReportHeading cabecalho;
    cabecalho.reportCode = def.code;
    cabecalho.printedAt = emitidoEm;
    cabecalho.criteria = QStringLiteral("%1 %2").arg(cds.RecordCount()).arg(cds.RecordCount() == 1 ? QStringLiteral("ocorrência")
                                                                                              : QStringLiteral("ocorrências"));
    TReportDocument doc = LayoutReport(def, cds, cabecalho);
    doc.title = def.name;
    return doc;
}

} // namespace vnd

TfrmLogImpArqXml::TfrmLogImpArqXml(vnd::TImportacaoXml &importacao, QWidget *parent)
    : TfrmDadosGerRel(parent), m_log(importacao.cdsPreValidXml)
{
    setObjectName(QStringLiteral("TfrmLogImpArqXml"));
    setWindowTitle(QStringLiteral("Log da Importação do Arquivo XML (NFC-e/SAT)"));
    SetScreenCode(QStringLiteral("VND04406"));
    SetReportCode(QStringLiteral("VND044"));
    SetReportNames({QStringLiteral("Log da Importação do Arquivo XML (NFC-e/SAT)")});
    cbxRelatorio->setEnabled(false);

    dtsPreValidXml = new TDataSource(this, &importacao.cdsPreValidXml);
    dbgPreValidXml = new TDBGrid(pnlRelatorio);
    dbgPreValidXml->setObjectName(QStringLiteral("dbgPreValidXml"));
    dbgPreValidXml->SetDataSource(dtsPreValidXml);
    const TClientDataSet &cds = importacao.cdsPreValidXml;
    std::vector<vnd::RecordSetModel::Column> columns;
    for (const auto &[field, width] : kColunas) {
        const QString name = QString::fromLatin1(field);
        const int index = cds.FieldIndex(name);
        columns.push_back({name, index >= 0 ? cds.FieldDefs().at(index).label : name, width});
    }
    dbgPreValidXml->SetColumns(columns);
    dbgPreValidXml->setShowGrid(true);
    dbgPreValidXml->horizontalHeader()->setVisible(true);
    dbgPreValidXml->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Pale yellow like the host's hint windows, and the selected row stays marked when the grid loses
    // the focus.
    QPalette palette = dbgPreValidXml->palette();
    palette.setColor(QPalette::Base, QColor(255, 255, 225));
    palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    dbgPreValidXml->setPalette(palette);
    // The widths stay as laid out; a cut text is read whole in its tooltip and in the detail below.
    dbgPreValidXml->Model()->SetCellToolTips(true);

    memDetalhe = new QPlainTextEdit(pnlRelatorio);
    memDetalhe->setObjectName(QStringLiteral("memDetalhe"));
    memDetalhe->setReadOnly(true);
    memDetalhe->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memDetalhe->setPlaceholderText(QStringLiteral("Selecione uma linha para ler todos os seus campos."));
    auto *divisor = new QSplitter(Qt::Vertical, pnlRelatorio);
    divisor->addWidget(dbgPreValidXml);
    divisor->addWidget(memDetalhe);
    divisor->setStretchFactor(0, 3);
    divisor->setStretchFactor(1, 1);
    auto *layout = new QVBoxLayout(pnlRelatorio);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(divisor);

    sbtSalvarCsv = new TButtonFlat(this, QStringLiteral("Salvar &CSV"), QStringLiteral("Salvar o log em CSV (planilha)"));
    sbtSalvarCsv->setObjectName(QStringLiteral("sbtSalvarCsv"));
    sbtSalvarCsv->SetGlyph(QStringLiteral("document-save-as"), QStyle::SP_DialogSaveButton);
    InsertButton(sbtSalvarCsv, sbtAjuda);
    vnd::Connect(sbtSalvarCsv, &QToolButton::clicked, this, [this] { sbtSalvarCsvClick(); });
    connect(&m_log, &TClientDataSet::currentChanged, this, [this] { AtualizaDetalhe(); });
    AtualizaDetalhe();
    resize(1000, 560);
}

void TfrmLogImpArqXml::AtualizaDetalhe()
{
    if (!m_log.Active() || m_log.IsEmpty() || m_log.RecNo() < 0) {
        memDetalhe->clear();
        return;
    }
    QStringList linhas;
    for (const auto &[campo, largura] : kColunas) {
        const QString nome = QString::fromLatin1(campo);
        if (m_log.FieldIndex(nome) < 0)
            continue;
        linhas << Rotulo(m_log, nome) + QStringLiteral(": ") + m_log.FieldByName(nome).DisplayText();
    }
    memDetalhe->setPlainText(linhas.join(QLatin1Char('\n')));
}

void TfrmLogImpArqXml::sbtImprimirClick()
{
    if (!m_log.Active() || m_log.IsEmpty()) {
        Platform().Info(QStringLiteral("O log da importação está vazio: não há o que imprimir."));
        return;
    }
    vnd::TReportDocument doc;
    {
        vnd::BusyGuard ocupado;
        const int atual = m_log.RecNo();
        doc = vnd::LogValidacaoRelatorio(m_log, QDateTime::currentDateTime());
        if (atual >= 0)
            m_log.SetRecNo(atual);
    }
    TfrmVisualizaRel previa(std::move(doc), this);
    previa.ShowModal();
}

void TfrmLogImpArqXml::sbtSalvarCsvClick()
{
    const QString arquivo =
        vnd::SaveFileName(QStringLiteral("Salvar log da importação em CSV"), QStringLiteral("relatorio"),
                          QStringLiteral("Log da importação %1.csv").arg(QDateTime::currentDateTime().toString(QStringLiteral("ddMMyyyy HHmmss"))),
                          QStringLiteral("Planilha CSV (*.csv)"));
    if (arquivo.isEmpty())
        return;
    QSaveFile saida(arquivo);
    // Whole or not at all: the file appears only once every line is written.
    if (!saida.open(QIODevice::WriteOnly) || saida.write(vnd::LogValidacaoCsv(m_log)) < 0 || !saida.commit())
        throw Exception(QStringLiteral("Não foi possível gravar o arquivo %1: %2.")
                            .arg(QDir::toNativeSeparators(arquivo), saida.errorString()));
    Platform().Info(QStringLiteral("Log salvo em %1.").arg(QDir::toNativeSeparators(arquivo)));
}

void TfrmLogImpArqXml::FormActivate()
{
    TfrmDadosGerRel::FormActivate();
    cbxRelatorio->setCurrentIndex(0);
}

void CriaRelConsVenAuto(vnd::TImportacaoXml &importacao, QWidget *parent)
{
    std::unique_ptr<TfrmLogImpArqXml> screen;
    {
        vnd::HourglassGuard hourglass;
        screen = std::make_unique<TfrmLogImpArqXml>(importacao, parent);
        screen->Create();
    }
    screen->ShowModal();
}
