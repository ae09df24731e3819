#pragma once
// The modal base screens: the filter (TfrmFiltroPadrao), the routine dialog (TfrmRotiGeral) and the
// report screen (TfrmDadosGerRel). Derived screens put their controls into pnlClient and override the
// handlers; a derived handler calls the base one first.

#include "host/ui/modalscreen.h"

class QComboBox;
class QLabel;
class TReportDialog;

// Modal filter: "Confirmar", the saved-option buttons (kept hidden: this system saves no filters),
// help and close.
class TfrmFiltroPadrao : public TfrmDialogoPadrao
{
    Q_OBJECT
  public:
    explicit TfrmFiltroPadrao(QWidget *parent = nullptr);

    TButtonFlat *sbtConfirma;
    TButtonFlat *btfSaveOpc;
    TButtonFlat *btfLoadOpc;
    TButtonFlat *sbtAjuda;
    TButtonFlat *sbtFechar;

    // The derived screen checks its controls, acts and closes with accept(); the base checks nothing.
    virtual void sbtConfirmaClick();
    virtual void sbtAjudaClick();
    // Closes as a cancellation.
    virtual void sbtFecharClick();
};

// Modal routine dialog with "Confirmar" and "Cancelar".
class TfrmRotiGeral : public TfrmDialogoPadrao
{
    Q_OBJECT
  public:
    explicit TfrmRotiGeral(QWidget *parent = nullptr);

    TButtonFlat *sbtConfirma;
    TButtonFlat *sbtCancel;

    // The derived screen acts and closes with accept(); the base does nothing.
    virtual void sbtConfirmaClick();
    // Closes as a cancellation (dialog result Rejected).
    virtual void sbtCancelClick();
};

// Report screen: the report-name list, the screen and report codes, the report dialog rpddPadrao and a
// panel for a derived screen's own controls. Printing runs the chosen report through rpddPadrao when one
// of that name is registered under the report code; a derived screen may print otherwise.
class TfrmDadosGerRel : public TfrmDialogoPadrao
{
    Q_OBJECT
  public:
    explicit TfrmDadosGerRel(QWidget *parent = nullptr);

    TButtonFlat *sbtImprimir;
    TButtonFlat *sbtAjuda;
    TButtonFlat *sbtFechar;
    // Names of the reports of this screen; the first is selected when the list is filled.
    QComboBox *cbxRelatorio;
    QLabel *lblCodRel;
    // Where the derived screen places its report dialog and controls.
    QWidget *pnlRelatorio;
    // Runs the reports registered under the report code.
    TReportDialog *rpddPadrao;

    // Shows the code and has rpddPadrao work under it; the reports registered under it fill the list.
    void SetReportCode(const QString &code);
    void SetReportNames(const QStringList &names);

    virtual void sbtImprimirClick();
    virtual void sbtAjudaClick();
    virtual void sbtFecharClick();
};

namespace vnd
{
// The help button's answer while no help file is installed.
void ShowNoHelp(const QString &screenCode);
} // namespace vnd
