#pragma once
// The preview of a report: its pages drawn as images one under the other in a scroll area, and the
// button that saves the report as a PDF file in a folder the user chooses.

#include "host/ui/reportpdf.h"

#include <QCache>
#include <QDialog>

class QLabel;
class QScrollArea;
class TButtonFlat;

namespace vnd
{
// File name of a report saved at a time: the title, a blank and "ddMMyyyy HHmmss", ".pdf"; characters
// that file systems refuse in a name become "-".
QString ReportFileName(const QString &title, const QDateTime &at);

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

    TButtonFlat *sbtSalvar;
    TButtonFlat *sbtFechar;
    QLabel *lblPaginas;
    QScrollArea *scbPaginas;
    vnd::TReportPagesView *pnlPaginas;

    const vnd::TReportDocument &Document() const { return m_doc; }
    // Where the last save wrote the file (empty before one).
    QString SavedPath() const { return m_saved; }

    // Runs the preview modally through the platform.
    int ShowModal();
    // Asks for a folder and writes the PDF there under ReportFileName; tells where it went.
    void sbtSalvarClick();

  private:
    vnd::TReportDocument m_doc;
    QString m_saved;
};
