#pragma once

#include "shell/Desktop.h"
#include "shell/DirectoryList.h"

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

inline void ClickEntry(DirectoryList& list, QTreeWidgetItem* entry)
{
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(entry).center());
}

// As a user's double-click arrives: a click, then the double-click event.
inline void DoubleClickEntry(DirectoryList& list, QTreeWidgetItem* entry)
{
    const QPoint at = list.visualItemRect(entry).center();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
}

} // namespace fanjian::testing
