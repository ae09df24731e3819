#pragma once
// The preview of a report: its pages drawn as images one under the other in a scroll area, and the
// button that saves the report as a PDF file in a folder the user chooses.

#include "host/ui/reportpdf.h"

#include <QCache>
#include <QDialog>

class QComboBox;
class QLabel;
class QPrinter;
class QScrollArea;
class QSpinBox;
class TButtonFlat;

namespace vnd
{
// File name of a report saved at a time: the title, a blank and "ddMMyyyy HHmmss", ".pdf"; characters
// that file systems refuse in a name become "-".
QString ReportFileName(const QString &title, const QDateTime &at);
// Paints every page of the document on the printer, each scaled to the printer's page.
void PrintReport(const TReportDocument &doc, QPrinter &printer);

// The pages of a document as a widget: each page is rendered to an image when it first comes into view
// (a few are kept), so a long report does not hold every page in memory.
class TReportPagesView : public QWidget
{
    Q_OBJECT
  public:
    TReportPagesView(const TReportDocument &doc, double dpi, QWidget *parent = nullptr);
    QSize sizeHint() const override;
    // Top-left corner of a page in the widget.
    QPoint PageOrigin(int page) const;
    // The image of a page as the view shows it.
    QImage PageImage(int page);
    // Draws the pages at another resolution (96 dots per inch is 100%).
    void SetDpi(double dpi);
    double Dpi() const { return m_dpi; }
    // The page shown at that height of the widget.
    int PageAt(int y) const;

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    const TReportDocument &m_doc;
    double m_dpi;
    QSize m_page;
    QCache<int, QImage> m_images;
};
} // namespace vnd

class TfrmVisualizaRel : public QDialog
{
    Q_OBJECT
  public:
    explicit TfrmVisualizaRel(vnd::TReportDocument doc, QWidget *parent = nullptr);

    TButtonFlat *sbtImprimir;
    TButtonFlat *sbtSalvar;
    TButtonFlat *sbtFechar;
    TButtonFlat *sbtPrimeira;
    TButtonFlat *sbtAnterior;
    TButtonFlat *sbtProxima;
    TButtonFlat *sbtUltima;
    // Page number to go to, 1 to the number of pages.
    QSpinBox *spnPagina;
    // Zoom, 50% to 200%.
    QComboBox *cbxZoom;
    QLabel *lblPaginas;
    QScrollArea *scbPaginas;
    vnd::TReportPagesView *pnlPaginas;

    const vnd::TReportDocument &Document() const { return m_doc; }
    // Where the last save wrote the file (empty before one).
    QString SavedPath() const { return m_saved; }

    // Runs the preview modally through the platform.
    int ShowModal();

  protected:
    void keyPressEvent(QKeyEvent *event) override;

  public:
    // Asks for the file name (ReportFileName suggested, in the folder of the last report) and writes the
    // PDF there; tells where it went.
    void sbtSalvarClick();
    // The printer dialog, then every page on the chosen printer.
    void sbtImprimirClick();
    // Scrolls to the page (0-based, clamped) and shows its number.
    void IrParaPagina(int page);
    int PaginaAtual() const;
    // Zoom in percent.
    void SetZoom(int percent);

  private:
    vnd::TReportDocument m_doc;
    QString m_saved;
};
