#include "shell/ProgressList.h"

#include "conversion/ConversionRun.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>

namespace fanjian {

namespace {

// Rows as wide as the list, so that the view elides a long text instead of widening its row, and
// as high as a line of Chinese text, which the first item (by whose height a list of uniform rows
// goes) may not hold.
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        QStyleOptionViewItem sample = option;
        initStyleOption(&sample, index);
        sample.text = QStringLiteral("網站 Wg");
        const QWidget* widget = option.widget;
        const QStyle* style = widget != nullptr ? widget->style() : nullptr;
        if (style != nullptr)
            size.setHeight(std::max(size.height(), style->sizeFromContents(QStyle::CT_ItemViewItem, &sample, QSize(), widget).height()));
        size.setWidth(1);
        return size;
    }

    // A row that says why an entry was left out keeps that at its start, and its path loses its
    // middle instead: "略過 UTF-16 檔案 …/news/u16.txt", never "…16 檔案 /site/news/u16.txt".
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        for (const std::string_view reason : {texts::kSkippedLink, texts::kSkippedUtf16, texts::kSkippedUtf32}) {
            if (option->text.startsWith(QString::fromUtf8(reason.data(), static_cast<qsizetype>(reason.size())))) {
                option->textElideMode = Qt::ElideMiddle;
                break;
            }
        }
    }

    // The whole text of a row, or the tooltip set for it.
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (event->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        QString text = index.data(Qt::ToolTipRole).toString();
        if (text.isEmpty())
            text = index.data(Qt::DisplayRole).toString();
        QToolTip::showText(event->globalPos(), text, view->viewport(), option.rect);
        return true;
    }
};

} // namespace

ProgressList::ProgressList(QWidget* parent)
    : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setTextElideMode(Qt::ElideLeft);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setItemDelegate(new RowDelegate(this));
}

void ProgressList::clearItems()
{
    added_.clear();
    clear();
}

void ProgressList::addItemLater(const QString& text)
{
    added_.append(text);
}

void ProgressList::showAddedItems(bool now)
{
    if (added_.isEmpty())
        return;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    if (!now && showInterval_.count() > 0 && start - lastInsertionStart_ < std::max<Clock::duration>(showInterval_, 9 * lastInsertion_))
        return;
    addItems(added_);
    added_.clear();
    doItemsLayout();
    lastInsertionStart_ = start;
    lastInsertion_ = Clock::now() - start;
}

void ProgressList::setLastItemToolTip(const QString& toolTip)
{
    showAddedItems(true);
    if (QListWidgetItem* last = item(count() - 1))
        last->setToolTip(toolTip);
}

void ProgressList::paintEvent(QPaintEvent* event)
{
    // Inserted rows undo the layout; a view paints no row it has not laid out.
    executeDelayedItemsLayout();
    QListWidget::paintEvent(event);
    // With no item there is no current item to carry the focus frame: the list draws one itself.
    if (count() > 0 || !hasFocus())
        return;
    QPainter painter(viewport());
    QStyleOptionFocusRect option;
    option.initFrom(this);
    // Styles such as Fusion draw the frame only after a key moved the focus; here it is the only
    // sign of the focus, so it shows however the focus came.
    option.state |= QStyle::State_KeyboardFocusChange;
    option.rect = viewport()->rect().adjusted(1, 1, -1, -1);
    option.backgroundColor = palette().color(QPalette::Base);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

void ProgressList::focusInEvent(QFocusEvent* event)
{
    QListWidget::focusInEvent(event);
    viewport()->update();
}

void ProgressList::focusOutEvent(QFocusEvent* event)
{
    QListWidget::focusOutEvent(event);
    viewport()->update();
}

} // namespace fanjian
