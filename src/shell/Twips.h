#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <vector>

class QWidget;

namespace fanjian {

// The windows' geometry is written in twips (1/1440 inch), for the font size it was drawn for,
// at 15 twips a pixel. As on the platform it comes from, where a larger system font made the
// windows larger, a twip here is as large as the application font needs: 15 twips make
// factor() logical pixels.
class Twips {
public:
    static constexpr int kPerPixel = 15;

    explicit Twips(double factor = 1.0) : factor_(factor) {}

    double factor() const noexcept { return factor_; }
    // Rounded to the nearest pixel; each of a rectangle's four numbers on its own.
    int Pixels(int twips) const;
    QRect Rect(int left, int top, int width, int height) const;
    QSize Size(int width, int height) const { return {Pixels(width), Pixels(height)}; }

private:
    double factor_;
};

// A control whose texts must show whole in its box of `twips` (its size only counts): a BoxLabel
// (laid out as it draws) or a push button (its caption, on one line, inside the style's frame).
struct TextBox {
    const QWidget* control;
    QRect twips;
    QStringList texts;
};

// True when `text` shows whole in `control` at the size `box`, in the control's font and style.
bool TextFits(const QWidget& control, QSize box, const QString& text);

// The smallest factor, never below 1, at which every text of every box fits (to 1/64); 4 when even
// that is too small.
double FittingFactor(const std::vector<TextBox>& boxes);

} // namespace fanjian
