#pragma once

#include <QListWidget>
#include <QString>
#include <QStringList>

namespace fanjian {

// One of the main window's two lists of a run's files. A run adds its items far faster than the
// window passes over its events; they wait here and reach the list, laid out, just before the next
// pass, so that every pass paints them. (Left to itself, a list view lays its items out on a
// timer that every insertion starts again, and the short passes of a run never let it fire: the
// list would stay blank until the run ends.)
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
    // Puts the items added since the last call into the list and lays them out.
    void showAddedItems();
    // A tooltip of its own for the last item, in place of the item's text.
    void setLastItemToolTip(const QString& toolTip);

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QStringList added_;
};

} // namespace fanjian
