#include "shell/LinkLabel.h"

#include "shell/Accessibility.h"

#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

#include <algorithm>
#include <cmath>

namespace fanjian {

namespace {

// WCAG 2's relative luminance of an sRGB colour.
double Luminance(const QColor& colour)
{
    auto linear = [](double channel) {
        return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

} // namespace

double ContrastRatio(const QColor& first, const QColor& second)
{
    const double a = Luminance(first);
    const double b = Luminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor LinkColour(const QColor& background, const QColor& paletteLink)
{
    const QColor pureBlue(0, 0, 255);
    if (ContrastRatio(pureBlue, background) >= kLinkContrast)
        return pureBlue;
    QColor link = paletteLink.toRgb();
    link.setAlpha(255);
    if (ContrastRatio(link, background) >= kLinkContrast)
        return link;
    // Towards white or black, whichever stands out more from the background: one of them has a
    // contrast of at least 4.58 against any colour, so the last step always has enough.
    const QColor far = ContrastRatio(Qt::white, background) >= ContrastRatio(Qt::black, background) ? QColor(Qt::white)
                                                                                                   : QColor(Qt::black);
    constexpr int kSteps = 64;
    QColor mixed = far;
    for (int step = 1; step <= kSteps; ++step) {
        auto mix = [step](int from, int to) { return from + (to - from) * step / kSteps; };
        mixed = QColor(mix(link.red(), far.red()), mix(link.green(), far.green()), mix(link.blue(), far.blue()));
        if (ContrastRatio(mixed, background) >= kLinkContrast)
            break;
    }
    return mixed;
}

LinkLabel::LinkLabel(const QString& text, QWidget* parent)
    : BoxLabel(text, parent)
{
    InstallAccessibleInterfaces();
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    TakeLinkColour();
}

void LinkLabel::activate()
{
    emit activated();
}

void LinkLabel::TakeLinkColour()
{
    QPalette palette = this->palette();
    const QColor colour = LinkColour(palette.color(QPalette::Active, QPalette::Window),
                                     palette.color(QPalette::Active, QPalette::Link));
    if (palette.isBrushSet(QPalette::Active, QPalette::WindowText) && palette.color(QPalette::WindowText) == colour)
        return;
    palette.setColor(QPalette::WindowText, colour);
    setPalette(palette);
}

void LinkLabel::changeEvent(QEvent* event)
{
    BoxLabel::changeEvent(event);
    // The desktop's palette changed (a dark one, or back to a light one): the background too.
    if (event->type() == QEvent::PaletteChange)
        TakeLinkColour();
}

void LinkLabel::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const bool opens = key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
    if (opens && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!event->isAutoRepeat())
            activate();
        event->accept();
        return;
    }
    BoxLabel::keyPressEvent(event);
}

void LinkLabel::mousePressEvent(QMouseEvent* event)
{
    // Taken here, so that the frame around does not see it.
    if (event->button() != Qt::LeftButton)
        BoxLabel::mousePressEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        BoxLabel::mouseReleaseEvent(event);
        return;
    }
    if (rect().contains(event->position().toPoint()))
        activate();
}

void LinkLabel::paintEvent(QPaintEvent* event)
{
    BoxLabel::paintEvent(event);
    if (!hasFocus())
        return;
    // A dotted frame in the link's colour around its text, as classic desktops show the focus: it
    // stands out wherever the link's text does (the style's frames are faint on some palettes).
    const QRect box = contentsRect();
    const QSizeF text = TextSize(font(), this->text(), box.width(), wrapMode());
    const QSize frame(std::min(box.width(), static_cast<int>(std::ceil(text.width())) + 2), box.height());
    QPainter painter(this);
    painter.setPen(QPen(palette().color(foregroundRole()), 1, Qt::DotLine));
    painter.drawRect(QStyle::alignedRect(layoutDirection(), alignment(), frame, box).adjusted(0, 0, -1, -1));
}

} // namespace fanjian
