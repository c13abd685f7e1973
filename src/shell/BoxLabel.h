#pragma once

#include <QLabel>
#include <QSizeF>
#include <QTextOption>

namespace fanjian {

// A label that keeps its box: a text longer than the label's width wraps (by default between words
// where it can, and anywhere inside a word too long for a line: file names, paths, addresses),
// and whatever does not fit above the lower edge is cut off.
class BoxLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    QTextOption::WrapMode wrapMode() const noexcept { return wrapMode_; }
    void setWrapMode(QTextOption::WrapMode mode);

    // The size of `text` laid out in `font` as a label draws it, in lines `width` wide (a width
    // below 0 or NoWrap: one line for each line of the text): the widest line and the height of
    // all lines.
    static QSizeF TextSize(const QFont& font, const QString& text, qreal width,
                           QTextOption::WrapMode mode = QTextOption::WrapAtWordBoundaryOrAnywhere);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTextOption::WrapMode wrapMode_ = QTextOption::WrapAtWordBoundaryOrAnywhere;
};

} // namespace fanjian
