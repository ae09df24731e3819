#include "export/ui/checkcolumn.h"

#include <QBitmap>
#include <QPainter>

namespace vnd {

namespace {
QPixmap Caixa(bool marcada)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(kCorTransparente);
    QPainter p(&pixmap);
    p.setPen(QColor(96, 96, 96));
    p.setBrush(Qt::white);
    p.drawRect(1, 1, 13, 13);
    if (marcada) {
        p.setRenderHint(QPainter::Antialiasing);
        QPen pen(QColor(0, 0, 0));
        pen.setWidthF(2.0);
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        p.setPen(pen);
        const QPointF marca[] = {{4.0, 8.0}, {6.5, 10.5}, {11.5, 4.5}};
        p.drawPolyline(marca, 3);
    }
    return pixmap;
}

// The picture with its background colour made transparent, so the cell's brush shows through.
QPixmap Transparente(QPixmap pixmap)
{
    pixmap.setMask(pixmap.createMaskFromColor(kCorTransparente, Qt::MaskInColor));
    return pixmap;
}
} // namespace

QPixmap ImagemMarcada() { return Caixa(true); }

QPixmap ImagemDesmarcada() { return Caixa(false); }

TColunaMarcaDelegate::TColunaMarcaDelegate(const QPixmap &marcada, const QPixmap &desmarcada, QObject *parent)
    : QStyledItemDelegate(parent), m_marcada(Transparente(marcada)), m_desmarcada(Transparente(desmarcada))
{
}

void TColunaMarcaDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const bool selecionada = opt.state & QStyle::State_Selected;
    const QPalette::ColorGroup grupo = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (opt.state & QStyle::State_Active) ? QPalette::Active
                                                                             : QPalette::Inactive;
    const QBrush pincel = selecionada ? opt.palette.brush(grupo, QPalette::Highlight)
                          : opt.backgroundBrush.style() != Qt::NoBrush ? opt.backgroundBrush
                                                                       : opt.palette.brush(grupo, QPalette::Base);
    painter->fillRect(opt.rect, pincel);
    const QString valor = index.data(Qt::DisplayRole).toString();
    const QPixmap *imagem = valor == QLatin1String("S") ? &m_marcada : valor == QLatin1String("N") ? &m_desmarcada : nullptr;
    if (!imagem)
        return;
    // Rows taller than the picture get it centred rather than stuck to the top line.
    const int altura = qMin(imagem->height(), opt.rect.height());
    const int topo = opt.rect.top() + (opt.rect.height() - altura) / 2;
    painter->drawPixmap(QRect(opt.rect.left() + 4, topo, imagem->width(), altura), *imagem,
                        QRect(0, 0, imagem->width(), altura));
}

} // namespace vnd
