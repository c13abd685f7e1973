#include "shell/DirectoryList.h"

#include "shell/Desktop.h"
#include "shell/Names.h"

#include <QCollator>
#include <QDir>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

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

namespace {

// The names of the subfolders of `folder` (bytes) that a directory list shows: folders and links
// to folders, hidden ones left out. Nothing when the folder cannot be listed.
std::optional<std::vector<std::string>> Subfolders(const std::string& folder)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir)
        return std::nullopt;
    std::vector<std::string> names;
    const std::string prefix = folder == "/" ? folder : folder + '/';
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name(entry->d_name);
        if (name.front() == '.')
            continue; // ".", ".." and hidden folders
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat status {};
            isFolder = ::stat((prefix + name).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
        }
        if (isFolder)
            names.push_back(name);
        errno = 0;
    }
    if (errno != 0)
        return std::nullopt;
    return names;
}

} // namespace

bool DirectoryList::setPath(const QString& folder)
{
    const QString path = AbsoluteFolderPath(folder);
    const std::string pathBytes = PathBytes(path);
    const std::optional<std::vector<std::string>> subfolderNames = Subfolders(pathBytes);
    if (!subfolderNames)
        return false;
    struct Subfolder {
        QString shown;
        std::string name;
        QString charset;
    };
    std::vector<Subfolder> subfolders;
    for (const std::string& name : *subfolderNames) {
        Subfolder subfolder{{}, name, {}};
        subfolder.shown = ReadableName(name, &subfolder.charset);
        subfolders.push_back(std::move(subfolder));
    }
    // Names that read alike (中文 in Big5 and in GB2312 bytes) say in which charset they were read.
    QHash<QString, int> alike;
    for (const Subfolder& subfolder : subfolders)
        ++alike[subfolder.shown];
    for (Subfolder& subfolder : subfolders) {
        if (alike.value(subfolder.shown) > 1 && !subfolder.charset.isEmpty())
            subfolder.shown += QStringLiteral("（%1）").arg(subfolder.charset);
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(subfolders.begin(), subfolders.end(), [&collator](const Subfolder& a, const Subfolder& b) {
        const int order = collator.compare(a.shown, b.shown);
        return order != 0 ? order < 0 : a.name < b.name;
    });

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
        current = makeEntry(new QTreeWidgetItem(current), ReadablePath(name), chainPath, openFolder);
    }
    current->setExpanded(true);
    QFont bold = current->font(0);
    bold.setBold(true);
    current->setFont(0, bold);
    const QString prefix = path == QLatin1String("/") ? path : path + QLatin1Char('/');
    for (const Subfolder& subfolder : subfolders)
        makeEntry(new QTreeWidgetItem(current), subfolder.shown, prefix + ExactPath(subfolder.name), closedFolder);

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
