#include "shell/Twips.h"

#include "shell/BoxLabel.h"

#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <cmath>

namespace fanjian {

int Twips::Pixels(int twips) const
{
    return static_cast<int>(std::lround(twips * factor_ / kPerPixel));
}

QRect Twips::Rect(int left, int top, int width, int height) const
{
    return QRect(Pixels(left), Pixels(top), Pixels(width), Pixels(height));
}

namespace {

// One line of `text` fits in `inner`.
bool LineFits(const QFont& font, const QString& text, const QRect& inner)
{
    const QSizeF size = BoxLabel::TextSize(font, text, -1, QTextOption::NoWrap);
    return size.width() <= inner.width() && size.height() <= inner.height();
}

} // namespace

bool TextFits(const QWidget& control, QSize box, const QString& text)
{
    const QStyle* style = control.style();
    const QRect rect(QPoint(0, 0), box);
    if (const auto* label = qobject_cast<const BoxLabel*>(&control)) {
        const QRect inner = rect.marginsRemoved(label->contentsMargins());
        const QSizeF size = BoxLabel::TextSize(label->font(), text, inner.width(), label->wrapMode());
        return size.width() <= inner.width() && size.height() <= inner.height();
    }
    if (const auto* button = qobject_cast<const QPushButton*>(&control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.rect = rect;
        option.text = text;
        return LineFits(button->font(), text, style->subElementRect(QStyle::SE_PushButtonContents, &option, button));
    }
    return true;
}

double FittingFactor(const std::vector<TextBox>& boxes)
{
    auto fits = [&boxes](double factor) {
        const Twips twips(factor);
        for (const TextBox& box : boxes) {
            const QSize size = twips.Size(box.twips.width(), box.twips.height());
            for (const QString& text : box.texts) {
                if (!TextFits(*box.control, size, text))
                    return false;
            }
        }
        return true;
    };
    constexpr int kSteps = 64; // per unit of the factor
    int low = kSteps;          // the factor 1 in steps
    int high = 4 * kSteps;
    if (fits(1.0))
        return 1.0;
    if (!fits(4.0))
        return 4.0;
    // fits(low) is false, fits(high) true: a larger box never shows less of a text.
    while (high - low > 1) {
        const int middle = (low + high) / 2;
        (fits(static_cast<double>(middle) / kSteps) ? high : low) = middle;
    }
    return static_cast<double>(high) / kSteps;
}

} // namespace fanjian
