#pragma once
// The busy indicator: a translucent layer over a window with a turning wheel, "Aguarde..." and an
// optional count text. It follows the covered window's size; the wheel's angle comes from the clock, so
// each repaint during long work shows it moving.

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>

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

  protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    QString m_text;
    QElapsedTimer m_clock;
    // Keeps the wheel turning while the event loop is free (a modal box shown during the busy section).
    QTimer m_tick;
};

} // namespace vnd
