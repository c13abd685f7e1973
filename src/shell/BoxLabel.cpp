#include "shell/BoxLabel.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>

namespace fanjian {

namespace {

// Lays `text` out in lines of `width` (none below 0) from the top, each line's height below the
// one before it, as the label draws them; gives the size taken.
QSizeF LayOut(QTextLayout& layout, qreal width, QTextOption::WrapMode mode, Qt::Alignment alignment)
{
    QTextOption option(alignment);
    option.setWrapMode(width < 0 ? QTextOption::NoWrap : mode);
    layout.setTextOption(option);
    const qreal leading = std::max<qreal>(0, QFontMetricsF(layout.font()).leading());
    qreal height = 0;
    qreal widest = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width >= 0 ? width : qreal(1 << 20));
        if (height > 0)
            height += leading;
        line.setPosition(QPointF(0, height));
        height += line.height();
        widest = std::max(widest, line.naturalTextWidth());
    }
    layout.endLayout();
    return {widest, height};
}

} // namespace

void BoxLabel::setWrapMode(QTextOption::WrapMode mode)
{
    wrapMode_ = mode;
    update();
}

QSizeF BoxLabel::TextSize(const QFont& font, const QString& text, qreal width, QTextOption::WrapMode mode)
{
    QTextLayout layout(text, font);
    return LayOut(layout, mode == QTextOption::NoWrap ? -1 : width, mode, Qt::AlignLeft);
}

void BoxLabel::paintEvent(QPaintEvent* /*event*/)
{
    const QRect box = contentsRect();
    QTextLayout layout(text(), font());
    LayOut(layout, box.width(), wrapMode_, alignment() & Qt::AlignHorizontal_Mask);
    QPainter painter(this);
    painter.setClipRect(box);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    layout.draw(&painter, box.topLeft());
}

} // namespace fanjian
