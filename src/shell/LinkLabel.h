#pragma once

#include "shell/BoxLabel.h"

#include <QColor>

namespace fanjian {

// A label that is a link. It draws its text in LinkColour() of its background, is reached with
// Tab (not by a click, which opens it), shows a focus frame around its text while it has the
// focus, and is opened by a left click (pressed and released on it), Enter or Space. Assistive
// technology sees a link with a press action that opens it (see Accessibility.h).
class LinkLabel : public BoxLabel {
    Q_OBJECT
public:
    explicit LinkLabel(const QString& text, QWidget* parent = nullptr);

    // Opens the link, as a click does.
    void activate();

signals:
    void activated();

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Sets the text's colour for the background the label stands on now.
    void TakeLinkColour();
};

// The contrast ratio of two colours as WCAG 2 defines it, from 1 (alike) to 21 (black on white).
double ContrastRatio(const QColor& first, const QColor& second);

// Links need this contrast against their background to be read with ease (WCAG 2, AA).
inline constexpr double kLinkContrast = 4.5;

// The colour of a link's text on `background`: pure blue where it has kLinkContrast against the
// background (light backgrounds), else `paletteLink`, the desktop palette's link colour, where
// that has it, else `paletteLink` made lighter (on dark backgrounds) or darker until it has it.
QColor LinkColour(const QColor& background, const QColor& paletteLink);

} // namespace fanjian
