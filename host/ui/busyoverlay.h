#pragma once
// The busy indicator: a translucent layer over a window with a turning wheel, "Aguarde..." and an
// optional count text, and for work that can stop a "Cancelar" button. While it is shown, clicks and
// keys meant for the covered window are dropped (the work must not be started twice); other windows,
// such as a message box the work opens, get theirs. It follows the covered window's size; the wheel's angle comes from the clock, so
// each repaint during long work shows it moving.

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>

class QPushButton;

namespace vnd
{

class BusyOverlay : public QWidget
{
    Q_OBJECT
  public:
    // Covers the whole of the given window (its child; deleted with it).
    explicit BusyOverlay(QWidget *covered);
    // Count text under "Aguarde..." ("312 de 5000"); empty for none.
    void SetText(const QString &text);
    QString Text() const { return m_text; }
    // Shows the "Cancelar" button (Escape as well) for work that stops between its items.
    void OfferCancel();
    bool CancelOffered() const;
    // True once the user asked to stop (or a test called Cancel()).
    bool Cancelled() const { return m_cancelled; }
    void Cancel();

  protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    // Where the panel is drawn (the button sits at its foot).
    QRect Panel() const;
    void PlaceButton();

    QWidget *m_covered;
    QPushButton *m_cancel;
    bool m_cancelled = false;
    QString m_text;
    QElapsedTimer m_clock;
    // Keeps the wheel turning while the event loop is free (a modal box shown during the busy section).
    QTimer m_tick;
};

} // namespace vnd
