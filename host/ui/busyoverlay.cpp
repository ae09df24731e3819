#include "host/ui/busyoverlay.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QPainter>
#include <QPainterPath>

namespace vnd
{

BusyOverlay::BusyOverlay(QWidget *covered) : QWidget(covered), m_covered(covered)
{
    setObjectName(QStringLiteral("BusyOverlay"));
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(covered->rect());
    covered->installEventFilter(this);
    m_cancel = new QPushButton(QStringLiteral("&Cancelar"), this);
    m_cancel->setObjectName(QStringLiteral("btnCancelarOcupado"));
    m_cancel->setToolTip(QStringLiteral("Para depois do item atual (Esc)"));
    m_cancel->hide();
    connect(m_cancel, &QPushButton::clicked, this, &BusyOverlay::Cancel);
    qApp->installEventFilter(this);
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

void BusyOverlay::OfferCancel()
{
    if (!m_cancel->isHidden())
        return;
    PlaceButton();
    m_cancel->show();
    update();
}

bool BusyOverlay::CancelOffered() const
{
    return !m_cancel->isHidden();
}

void BusyOverlay::Cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    m_cancel->setEnabled(false);
    m_cancel->setText(QStringLiteral("Cancelando..."));
    update();
}

QRect BusyOverlay::Panel() const
{
    const QFontMetrics fm = fontMetrics();
    const int wheel = 40;
    const int width = qMax(240, fm.horizontalAdvance(m_text) + 48);
    const int button = m_cancel->isHidden() ? 0 : m_cancel->sizeHint().height() + 10;
    const int height = wheel + 3 * fm.height() + 40 + button;
    return QRect(rect().center() - QPoint(width / 2, height / 2), QSize(width, height));
}

void BusyOverlay::PlaceButton()
{
    m_cancel->show();
    const QRect panel = Panel();
    const QSize size = m_cancel->sizeHint().expandedTo(QSize(110, 0));
    m_cancel->setGeometry(QRect(QPoint(panel.center().x() - size.width() / 2, panel.bottom() - size.height() - 10), size));
}

bool BusyOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_covered && event->type() == QEvent::Resize) {
        setGeometry(m_covered->rect());
        if (!m_cancel->isHidden())
            PlaceButton();
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride: {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget || (widget != m_covered && !m_covered->isAncestorOf(widget)))
            break;
        if (widget == m_cancel)
            break;
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape &&
            !m_cancel->isHidden())
            Cancel();
        return true;
    }
    default: break;
    }
    return QWidget::eventFilter(watched, event);
}

void BusyOverlay::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), QColor(0, 0, 0, 70));

    const QFontMetrics fm = fontMetrics();
    const int wheel = 40;
    const QRect panel = Panel();
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
    p.drawText(line, Qt::AlignCenter,
               m_cancelled ? QStringLiteral("Cancelando: termina o item atual...") : QStringLiteral("Aguarde..."));
    if (!m_text.isEmpty()) {
        line.translate(0, fm.height() + 4);
        p.drawText(line, Qt::AlignCenter, m_text);
    }
}

} // namespace vnd
