#pragma once
// The tick column of the sale list: the two 16 x 16 tick pictures and the delegate that draws them.

#include <QPixmap>
#include <QStyledItemDelegate>

namespace vnd {

// The pictures' background colour, drawn as the cell's own colour (transparent).
inline const QColor kCorTransparente(128, 128, 0);

// The ticked and unticked boxes, 16 x 16 on the transparent colour.
QPixmap ImagemMarcada();
QPixmap ImagemDesmarcada();

// Draws a cell of IDCHECK: the cell's brush, then for "S" the ticked picture and for "N" the unticked
// one, 4 pixels from the left edge; any other value leaves the cell empty.
class TColunaMarcaDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    TColunaMarcaDelegate(const QPixmap &marcada, const QPixmap &desmarcada, QObject *parent = nullptr);
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    QPixmap m_marcada;
    QPixmap m_desmarcada;
};

} // namespace vnd
