#pragma once
// TfrmLogImpArqXml ("VND04406"): the server's validation log of the last import batch, shown straight
// from the import's cdsPreValidXml.

#include "host/ui/frmdialogos.h"
#include "import/importacaoxml.h"

class TDBGrid;
class TDataSource;

class TfrmLogImpArqXml : public TfrmDadosGerRel
{
    Q_OBJECT
public:
    explicit TfrmLogImpArqXml(vnd::TImportacaoXml &importacao, QWidget *parent = nullptr);

    TDataSource *dtsPreValidXml;
    TDBGrid *dbgPreValidXml;

    // After the base activation the report list shows its first entry.
    void FormActivate() override;
};

// Sets the hourglass, creates the log viewer over the import's validation log, shows it modally and
// restores the cursor; the import's CriaRelConsVenAuto is set to call this.
void CriaRelConsVenAuto(vnd::TImportacaoXml &importacao, QWidget *parent = nullptr);
