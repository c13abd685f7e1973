#pragma once

#include <QLabel>

namespace fanjian {

// A label that keeps its box: a text longer than the label's width wraps, between words where it
// can and anywhere inside a word too long for a line (file names, paths, addresses), and whatever
// does not fit above the lower edge is cut off.
class BoxLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace fanjian
