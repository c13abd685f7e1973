#pragma once

#include <QListWidget>
#include <QString>
#include <QStringList>

#include <chrono>

namespace fanjian {

// One of the main window's two lists of a run's files. A run adds its items far faster than the
// window passes over its events; they wait here and reach the list, laid out, just before a pass,
// so that the pass paints them. (Left to itself, a list view drops its layout at every insertion
// and lays its rows out again on a zero timer, which Qt runs at idle priority only: in the short
// passes of a run it never fires, and the list stays blank until the run ends.)
//
// Laying the rows out takes time in proportion to their number, tens of thousands in a long run,
// and a list view lays out all of them after every insertion. So the items go in at most every
// kShowInterval, or nine times as long as the last insertion took, whichever is longer: the
// layout costs a run a tenth at most, and an item shows within kShowInterval of the pass after
// it was added while that is longer.
//
// Each row shows the end of its text, elided at the left, so that the file names stay visible in
// a narrow list without scrolling sideways; its tooltip shows the whole text, or a text of its own
// where one was set. An empty list that has the focus shows a focus frame.
class ProgressList : public QListWidget {
    Q_OBJECT
public:
    explicit ProgressList(QWidget* parent = nullptr);

    // Empties the list, the items waiting included.
    void clearItems();
    // Adds an item at the next call of showAddedItems().
    void addItemLater(const QString& text);
    // Puts the items added since the last insertion into the list and lays them out, unless the
    // last insertion was too recent; `now`: whenever it was.
    void showAddedItems(bool now = false);

    static constexpr std::chrono::milliseconds kShowInterval{30};
    // For tests that check each pass: 0 inserts at every call.
    void setShowInterval(std::chrono::milliseconds interval) noexcept { showInterval_ = interval; }
    // A tooltip of its own for the last item, in place of the item's text.
    void setLastItemToolTip(const QString& toolTip);

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QStringList added_;
    std::chrono::milliseconds showInterval_ = kShowInterval;
    std::chrono::steady_clock::time_point lastInsertionStart_{};
    std::chrono::steady_clock::duration lastInsertion_{};
};

} // namespace fanjian
