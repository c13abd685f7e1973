#pragma once

#include <QString>
#include <QTreeWidget>

namespace fanjian {

// A directory list: the chain of folders from "/" down to the current folder, each one step
// further in, then the current folder's immediate subfolders, one step further still. A
// double-click (or Enter) opens the entry under it; a single click only highlights it. The current
// folder, the one OK hands over, is shown in bold whatever is highlighted.
//
// Folders are listed by their bytes, whatever their names' encoding: each entry shows its name
// in readable form and keeps its path in exact form (see Names.h).
class DirectoryList : public QTreeWidget {
    Q_OBJECT
public:
    explicit DirectoryList(QWidget* parent = nullptr);

    // The current folder: an absolute path (exact form) without a trailing "/", except "/" itself.
    const QString& path() const noexcept { return path_; }
    // Makes `folder` the current folder and lists it anew. A folder that does not exist or cannot
    // be listed leaves the list as it was and gives false.
    bool setPath(const QString& folder);
    // Makes `folder` the current folder or, where it cannot be listed (it has gone, or never was),
    // the nearest folder above it that can. Gives false, leaving the list as it was, only when
    // not even "/" can be listed.
    bool setNearestPath(const QString& folder);

    // Full path of an entry of the list, in exact form.
    static QString EntryPath(const QTreeWidgetItem& entry);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // A directory list shows its levels by indentation alone, without expand marks.
    void drawBranches(QPainter* /*painter*/, const QRect& /*rect*/, const QModelIndex& /*index*/) const override {}

private:
    void Open(QTreeWidgetItem* entry);

    QString path_;
};

} // namespace fanjian
