#include "import/ui/frmlogimparqxml.h"

#include "host/platform.h"
#include "host/ui/datasource.h"
#include "host/ui/dbgrid.h"

#include <QComboBox>
#include <QHeaderView>
#include <QVBoxLayout>

TfrmLogImpArqXml::TfrmLogImpArqXml(vnd::TImportacaoXml &importacao, QWidget *parent) : TfrmDadosGerRel(parent)
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
    for (const auto &[field, width] : std::initializer_list<std::pair<const char *, int>>{
             {"IDTPVALIDXML", 41}, {"NMARQXML", 284}, {"DSERROXML", 300}, {"DSAJUDAXML", 300}, {"CDFILIAL", 39},
             {"CDCAIXA", 36}, {"NRNOTAFISCALCE", 66}, {"NRACESSONFCE", 300}, {"CDPRODUTO", 106}, {"NMPRODUTO", 292}}) {
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
    auto *layout = new QVBoxLayout(pnlRelatorio);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(dbgPreValidXml);
    resize(1000, 500);
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
