#include "shell/DirectoryList.h"

#include "shell/Desktop.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>

namespace fanjian {

namespace {

constexpr int kPathRole = Qt::UserRole;

QString AbsoluteFolderPath(const QString& folder)
{
    return WithoutTrailingSeparator(QDir::cleanPath(QDir(folder).absolutePath()));
}

} // namespace

DirectoryList::DirectoryList(QWidget* parent)
    : QTreeWidget(parent)
{
    setColumnCount(1);
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setUniformRowHeights(true);
    setIndentation(Pixels(150));
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Deep chains and long names scroll sideways instead of being elided.
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* entry) { Open(entry); });
}

QString DirectoryList::EntryPath(const QTreeWidgetItem& entry)
{
    return entry.data(0, kPathRole).toString();
}

bool DirectoryList::setPath(const QString& folder)
{
    const QString path = AbsoluteFolderPath(folder);
    const QFileInfo info(path);
    const QDir dir(path);
    if (!info.isDir() || !dir.isReadable())
        return false;
    const QStringList subfolders =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);

    clear();
    const QIcon openFolder = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedFolder = style()->standardIcon(QStyle::SP_DirClosedIcon);
    auto makeEntry = [](QTreeWidgetItem* entry, const QString& text, const QString& entryPath, const QIcon& icon) {
        entry->setText(0, text);
        entry->setIcon(0, icon);
        entry->setData(0, kPathRole, entryPath);
        entry->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        return entry;
    };

    // The chain from "/" down to the current folder.
    QTreeWidgetItem* current = makeEntry(new QTreeWidgetItem(this), QStringLiteral("/"), QStringLiteral("/"), openFolder);
    QString chainPath;
    for (const QString& name : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        chainPath += QLatin1Char('/') + name;
        current->setExpanded(true);
        current = makeEntry(new QTreeWidgetItem(current), name, chainPath, openFolder);
    }
    current->setExpanded(true);
    const QString prefix = path == QLatin1String("/") ? path : path + QLatin1Char('/');
    for (const QString& name : subfolders)
        makeEntry(new QTreeWidgetItem(current), name, prefix + name, closedFolder);

    path_ = path;
    setCurrentItem(current);
    scrollToItem(current);
    return true;
}

bool DirectoryList::setNearestPath(const QString& folder)
{
    QString path = AbsoluteFolderPath(folder);
    while (!setPath(path)) {
        if (path == QLatin1String("/"))
            return false;
        path = WithoutTrailingSeparator(path.left(path.lastIndexOf(QLatin1Char('/')) + 1));
    }
    return true;
}

void DirectoryList::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentItem() != nullptr) {
        Open(currentItem());
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void DirectoryList::Open(QTreeWidgetItem* entry)
{
    // A folder that has gone or cannot be listed: stay, and show the current folder as it is now,
    // or, where that has gone too, the nearest folder above it.
    if (entry != nullptr && !setPath(EntryPath(*entry)))
        setNearestPath(path_);
}

} // namespace fanjian
