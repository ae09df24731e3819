#include "host/ui/busyoverlay.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

namespace vnd
{

BusyOverlay::BusyOverlay(QWidget *covered) : QWidget(covered)
{
    setObjectName(QStringLiteral("BusyOverlay"));
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(covered->rect());
    covered->installEventFilter(this);
    m_clock.start();
    m_tick.setInterval(50);
    connect(&m_tick, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    m_tick.start();
}

void BusyOverlay::SetText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    update();
}

bool BusyOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void BusyOverlay::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), QColor(0, 0, 0, 70));

    const QFontMetrics fm = fontMetrics();
    const int wheel = 40;
    const int width = qMax(220, fm.horizontalAdvance(m_text) + 48);
    const int height = wheel + 3 * fm.height() + 40;
    const QRect panel(rect().center() - QPoint(width / 2, height / 2), QSize(width, height));
    QPainterPath path;
    path.addRoundedRect(panel, 10, 10);
    p.fillPath(path, palette().color(QPalette::Window));
    p.setPen(palette().color(QPalette::Mid));
    p.drawPath(path);

    // Twelve spokes, the brightest one turning about once a second.
    const QPointF centre(panel.center().x(), panel.top() + 20 + wheel / 2.0);
    const int lead = int(m_clock.elapsed() / 80) % 12;
    const QColor accent = palette().color(QPalette::Highlight);
    for (int i = 0; i < 12; ++i) {
        QColor c = accent;
        c.setAlphaF(0.15 + 0.85 * (((i - lead + 12) % 12) / 11.0));
        p.save();
        p.translate(centre);
        p.rotate(i * 30.0);
        p.setPen(QPen(c, 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(0, -wheel / 4.0), QPointF(0, -wheel / 2.0));
        p.restore();
    }

    p.setPen(palette().color(QPalette::WindowText));
    QRect line(panel.left(), int(centre.y() + wheel / 2.0 + 10), panel.width(), fm.height());
    p.drawText(line, Qt::AlignCenter, QStringLiteral("Aguarde..."));
    if (!m_text.isEmpty()) {
        line.translate(0, fm.height() + 4);
        p.drawText(line, Qt::AlignCenter, m_text);
    }
}

} // namespace vnd
