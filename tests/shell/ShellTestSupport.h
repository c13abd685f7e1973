#pragma once

#include "shell/Desktop.h"
#include "shell/DirectoryList.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QList>
#include <QString>
#include <QTest>
#include <QTreeWidgetItemIterator>
#include <QUrl>

#include <filesystem>

namespace fanjian::testing {

// A desktop that records what the windows ask of it instead of doing it.
struct RecordingDesktop {
    QList<QUrl> openedLinks;
    int endProgramCalls = 0;

    Desktop Make(const QString& programDirectory, const QString& workingFolder, QStringList volumes = {"/"})
    {
        return Desktop{
            .programDirectory = programDirectory,
            .workingFolder = workingFolder,
            .volumes = [volumes] { return volumes; },
            .openLink = [this](const QUrl& url) { openedLinks.append(url); },
            .endProgram = [this] { ++endProgramCalls; },
        };
    }
};

inline QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

inline void MakeFolders(const std::filesystem::path& root, std::initializer_list<const char*> relative)
{
    for (const char* folder : relative)
        std::filesystem::create_directories(root / folder);
}

// The entry of a directory list that stands for `path`, or null.
inline QTreeWidgetItem* EntryFor(DirectoryList& list, const QString& path)
{
    for (QTreeWidgetItemIterator it(&list); *it != nullptr; ++it) {
        if (DirectoryList::EntryPath(**it) == path)
            return *it;
    }
    return nullptr;
}

// As a user clicks an entry: scrolled into view first.
inline void ClickEntry(DirectoryList& list, QTreeWidgetItem* entry)
{
    list.scrollToItem(entry);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(entry).center());
}

// As a user's double-click arrives: a click, then the double-click event.
inline void DoubleClickEntry(DirectoryList& list, QTreeWidgetItem* entry)
{
    list.scrollToItem(entry);
    const QPoint at = list.visualItemRect(entry).center();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
}

// Picks `text` in a drop-down list as a user does: opens the list and clicks the entry. False
// when the list has no such entry or does not close on the click.
inline bool PickEntry(QComboBox& box, const QString& text)
{
    const int index = box.findText(text);
    if (index < 0)
        return false;
    box.setFocus();
    box.showPopup();
    QAbstractItemView* view = box.view();
    if (!QTest::qWaitFor([view] { return view->isVisible(); }))
        return false;
    const QModelIndex entry = view->model()->index(index, box.modelColumn(), view->rootIndex());
    view->scrollTo(entry);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(entry).center());
    return QTest::qWaitFor([view] { return !view->isVisible(); });
}

} // namespace fanjian::testing
