#include "host/ui/producticon.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace vnd
{

namespace
{
QPixmap Draw(int size)
{
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QPainterPath square;
    square.addRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18, s * 0.18);
    p.fillPath(square, QColor(0x1f, 0x4e, 0x79));
    // The receipt's stripe along the foot.
    p.fillRect(QRectF(s * 0.18, s * 0.78, s * 0.64, s * 0.08), QColor(0x5c, 0xb8, 0x5c));
    QFont font(QStringLiteral("Sans"));
    font.setBold(true);
    font.setPixelSize(qMax(8, int(s * 0.62)));
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, -s * 0.06, s, s * 0.9), Qt::AlignCenter, QStringLiteral("Q"));
    return picture;
}
} // namespace

QIcon ProductIcon()
{
    static const QIcon icon = [] {
        QIcon made;
        for (int size : {16, 24, 32, 48, 64, 128, 256})
            made.addPixmap(Draw(size));
        return made;
    }();
    return icon;
}

} // namespace vnd
