#pragma once
// TfrmLogImpArqXml ("VND04406"): the server's validation log of the last import batch, shown straight
// from the import's cdsPreValidXml.

#include "host/ui/frmdialogos.h"
#include "host/ui/reportpdf.h"
#include "import/importacaoxml.h"

class QPlainTextEdit;
class TButtonFlat;
class TDBGrid;
class TDataSource;

namespace vnd {
// The validation log as CSV for a spreadsheet: a heading line of the columns' labels, then one line per
// row; fields separated by ";" (the separator of Brazilian spreadsheets) and quoted when they need it.
QByteArray LogValidacaoCsv(TClientDataSet &cdsPreValidXml);
// The validation log laid out as a report (the preview prints it and saves it as PDF).
vnd::TReportDocument LogValidacaoRelatorio(TClientDataSet &cdsPreValidXml, const QDateTime &emitidoEm);
} // namespace vnd

class TfrmLogImpArqXml : public TfrmDadosGerRel
{
    Q_OBJECT
public:
    explicit TfrmLogImpArqXml(vnd::TImportacaoXml &importacao, QWidget *parent = nullptr);

    TDataSource *dtsPreValidXml;
    TDBGrid *dbgPreValidXml;
    // Every field of the selected row, whole: the columns keep their widths and cut long texts.
    QPlainTextEdit *memDetalhe;
    TButtonFlat *sbtSalvarCsv;

    // After the base activation the report list shows its first entry.
    void FormActivate() override;
    // The log in the report preview (print, PDF).
    void sbtImprimirClick() override;
    // Asks for a file name and writes the log as CSV.
    void sbtSalvarCsvClick();
    // Shows the current row in memDetalhe.
    void AtualizaDetalhe();

private:
    TClientDataSet &m_log;
};

// Sets the hourglass, creates the log viewer over the import's validation log, shows it modally and
// restores the cursor; the import's CriaRelConsVenAuto is set to call this.
void CriaRelConsVenAuto(vnd::TImportacaoXml &importacao, QWidget *parent = nullptr);
