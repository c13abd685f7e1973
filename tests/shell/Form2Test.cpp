// The folder chooser: its controls, the directory list, OK and the drive list.
#include "ShellTestSupport.h"
#include "TestSupport.h"
#include "shell/Form2.h"
#include "shell/Names.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;

using namespace fanjian;
using namespace fanjian::testing;

class Form2Test : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void controlsGeometryAndFocus();
    void directoryListShowsTheChainThenTheSubfolders();
    void singleClickHighlightsAndDoubleClickOpens();
    void okWritesTheCurrentFolderNotTheHighlightedOne();
    void closingWithoutOkWritesNothing();
    void drivesMoveTheDirectoryList();
    void volumeHoldingMatchesWholeComponents();
    void unreadableVolumeLeavesTheChooserUsable_data();
    void unreadableVolumeLeavesTheChooserUsable();
    void lockedVolumeLeavesTheChooserUsable();
    void vanishedVolumeUnderDir1MovesItToAnExistingFolder();
    void vanishedWorkingFolderOpensAtTheNearestFolderAbove();
    void escClosesAndWritesNothing();
    void currentFolderIsBoldWhateverIsHighlighted();
    void foldersNamedInAnyBytesAreListedReadably();
    void namesKeepTheirBytes_data();
    void namesKeepTheirBytes();
    void typedPathsFindTheirBytes();

private:
    Form2* Open(const QStringList& volumes = {"/"});
    // Picks `volume` in Drive1 as a user does: opens its list and clicks the entry.
    void PickDrive(const QString& volume);
    // After a volume that cannot be read was picked: the chooser is open and usable, Dir1 stands
    // in `folder` and Drive1 on `volume`, nothing was chosen; a folder below can still be opened
    // and OK then hands it over.
    void CheckStillUsable(const QString& folder, const QString& volume, const QString& subfolder);
    DirectoryList* Dir1() { return form_->findChild<DirectoryList*>("Dir1"); }
    QComboBox* Drive1() { return form_->findChild<QComboBox*>("Drive1"); }
    QPushButton* Ok() { return form_->findChild<QPushButton*>("Command1"); }

    std::unique_ptr<TempDir> temp_;
    QString root_;
    QPointer<Form2> form_;
};

void Form2Test::init()
{
    temp_ = std::make_unique<TempDir>();
    MakeFolders(temp_->path(), {"b", "A", "c", ".hidden", "A/deeper"});
    WriteFile(temp_->path() / "file.txt", "x");
    root_ = Q(temp_->path());
}

void Form2Test::cleanup()
{
    delete form_.data();
    temp_.reset();
}

Form2* Form2Test::Open(const QStringList& volumes)
{
    form_ = new Form2(root_, volumes);
    form_->show();
    form_->activateWindow();
    return form_;
}

void Form2Test::controlsGeometryAndFocus()
{
    Open();
    QCOMPARE(form_->windowTitle(), QStringLiteral("選擇資料夾"));
    QCOMPARE(form_->size(), QSize(209, 218));
    QCOMPARE(form_->minimumSize(), form_->maximumSize());
    QVERIFY(!(form_->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(Drive1()->geometry(), QRect(8, 16, 153, 20));
    QCOMPARE(Dir1()->geometry(), QRect(8, 40, 193, 174));
    QCOMPARE(Ok()->geometry(), QRect(168, 8, 41, 25));
    QCOMPARE(Ok()->text(), QStringLiteral("確定"));

    const QRect screen = form_->screen()->geometry();
    QCOMPARE(form_->frameGeometry().topLeft(),
             screen.topLeft() + QPoint((screen.width() - 209) / 2, (screen.height() - 218) / 2));

    QVERIFY(QTest::qWaitForWindowActive(form_));
    QCOMPARE(QApplication::focusWidget(), Drive1());
    QSignalSpy chosen(form_.data(), &Form2::folderChosen);
    QTest::keyClick(Drive1(), Qt::Key_Return); // OK is no default button
    QCOMPARE(chosen.count(), 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), Dir1());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), Ok());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), Drive1());

    // A screen reader finds what both lists are (the drive list is named by its entry).
    QCOMPARE(QAccessible::queryAccessibleInterface(Drive1())->text(QAccessible::Description), QStringLiteral("磁碟機"));
    QCOMPARE(QAccessible::queryAccessibleInterface(Dir1())->text(QAccessible::Name), QStringLiteral("資料夾"));
    // Enter presses OK when it has the focus.
    Ok()->setFocus();
    QTest::keyClick(Ok(), Qt::Key_Return);
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen[0][0].toString(), root_);
}

void Form2Test::directoryListShowsTheChainThenTheSubfolders()
{
    Open();
    DirectoryList& list = *Dir1();
    QCOMPARE(list.path(), root_);

    // One entry per folder from "/" down to the current one, each the only child of the one above.
    QCOMPARE(list.topLevelItemCount(), 1);
    QTreeWidgetItem* entry = list.topLevelItem(0);
    QCOMPARE(entry->text(0), QStringLiteral("/"));
    const QStringList chain = root_.split('/', Qt::SkipEmptyParts);
    for (const QString& name : chain) {
        QCOMPARE(entry->childCount(), 1);
        entry = entry->child(0);
        QCOMPARE(entry->text(0), name);
    }
    QCOMPARE(DirectoryList::EntryPath(*entry), root_);
    QCOMPARE(list.currentItem(), entry);

    // Then the current folder's own subfolders, in name order regardless of case, one step further
    // in; no files, no hidden folders, nothing deeper.
    QStringList subfolders;
    for (int i = 0; i < entry->childCount(); ++i) {
        subfolders << entry->child(i)->text(0);
        QCOMPARE(entry->child(i)->childCount(), 0);
        QVERIFY(list.visualItemRect(entry->child(i)).left() > list.visualItemRect(entry).left());
    }
    QCOMPARE(subfolders, QStringList({"A", "b", "c"}));
    QVERIFY(list.visualItemRect(entry).left() > list.visualItemRect(list.topLevelItem(0)).left());
}

void Form2Test::singleClickHighlightsAndDoubleClickOpens()
{
    Open();
    DirectoryList& list = *Dir1();
    QVERIFY(QTest::qWaitForWindowExposed(form_));

    ClickEntry(list, EntryFor(list, root_ + "/A"));
    QCOMPARE(list.path(), root_);
    QCOMPARE(DirectoryList::EntryPath(*list.currentItem()), root_ + "/A");

    DoubleClickEntry(list, EntryFor(list, root_ + "/A"));
    QCOMPARE(list.path(), root_ + "/A");
    QVERIFY(EntryFor(list, root_ + "/A/deeper") != nullptr);
    QVERIFY(EntryFor(list, root_ + "/b") == nullptr);

    // Going up the chain: a double-click on "/" stands the list in the root.
    DoubleClickEntry(list, list.topLevelItem(0));
    QCOMPARE(list.path(), QStringLiteral("/"));
    QCOMPARE(list.topLevelItemCount(), 1);
    QVERIFY(list.topLevelItem(0)->childCount() > 0);

    // Enter opens the highlighted entry as a double-click would.
    list.setFocus();
    list.setCurrentItem(EntryFor(list, "/" + root_.split('/', Qt::SkipEmptyParts).first()));
    QTest::keyClick(&list, Qt::Key_Return);
    QCOMPARE(list.path(), "/" + root_.split('/', Qt::SkipEmptyParts).first());

    // A folder that has gone since it was listed: the list stays and shows the folder anew.
    list.setPath(root_);
    QTreeWidgetItem* gone = EntryFor(list, root_ + "/c");
    QVERIFY(QDir(root_ + "/c").removeRecursively());
    DoubleClickEntry(list, gone);
    QCOMPARE(list.path(), root_);
    QVERIFY(EntryFor(list, root_ + "/c") == nullptr);
}

void Form2Test::okWritesTheCurrentFolderNotTheHighlightedOne()
{
    Open();
    QVERIFY(QTest::qWaitForWindowExposed(form_));
    QSignalSpy chosen(form_.data(), &Form2::folderChosen);
    ClickEntry(*Dir1(), EntryFor(*Dir1(), root_ + "/b"));
    QTest::mouseClick(Ok(), Qt::LeftButton);
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen.at(0).at(0).toString(), root_);
    QTRY_VERIFY(form_.isNull()); // closed and deleted

    // A folder opened by double-click is written with its full path, without a trailing "/".
    Open();
    QVERIFY(QTest::qWaitForWindowExposed(form_));
    QSignalSpy chosenAgain(form_.data(), &Form2::folderChosen);
    QCOMPARE(Dir1()->path(), root_); // each opening starts afresh in the working folder
    DoubleClickEntry(*Dir1(), EntryFor(*Dir1(), root_ + "/A"));
    DoubleClickEntry(*Dir1(), EntryFor(*Dir1(), root_ + "/A/deeper"));
    QTest::mouseClick(Ok(), Qt::LeftButton);
    QCOMPARE(chosenAgain.count(), 1);
    QCOMPARE(chosenAgain.at(0).at(0).toString(), root_ + "/A/deeper");
    QTRY_VERIFY(form_.isNull());
}

void Form2Test::closingWithoutOkWritesNothing()
{
    Open();
    QSignalSpy chosen(form_.data(), &Form2::folderChosen);
    DoubleClickEntry(*Dir1(), EntryFor(*Dir1(), root_ + "/A"));
    QVERIFY(form_->close());
    QTRY_VERIFY(form_.isNull());
    QCOMPARE(chosen.count(), 0);
}

void Form2Test::drivesMoveTheDirectoryList()
{
    // The working folder lies in the volume mounted at root_, which lies in the one at "/".
    MakeFolders(temp_->path(), {"vol2/x"});
    const QString volume2 = root_ + "/vol2";
    const QString missing = root_ + "/not-mounted";
    root_ += "/A";
    const QString volume = Q(temp_->path());
    Open({"/", volume, volume2, missing});
    QSignalSpy chosen(form_.data(), &Form2::folderChosen);
    QStringList offered;
    for (int i = 0; i < Drive1()->count(); ++i)
        offered << Drive1()->itemText(i);
    QCOMPARE(offered, QStringList({"/", volume, missing, volume2}));
    QCOMPARE(Drive1()->currentText(), volume);
    QCOMPARE(Dir1()->path(), root_);

    // Another volume: its root. The volume of the working folder: the working folder again.
    Drive1()->setCurrentIndex(Drive1()->findText(volume2));
    QCOMPARE(Dir1()->path(), volume2);
    Drive1()->setCurrentIndex(Drive1()->findText("/"));
    QCOMPARE(Dir1()->path(), QStringLiteral("/"));
    Drive1()->setCurrentIndex(Drive1()->findText(volume));
    QCOMPARE(Dir1()->path(), root_);

    // A volume that cannot be read: both lists stay where they were.
    DoubleClickEntry(*Dir1(), EntryFor(*Dir1(), root_ + "/deeper"));
    Drive1()->setCurrentIndex(Drive1()->findText(missing));
    QCOMPARE(Drive1()->currentText(), volume);
    QCOMPARE(Dir1()->path(), root_ + "/deeper");
    // ... and the one it stayed on still counts as the current volume.
    Drive1()->setCurrentIndex(Drive1()->findText(volume2));
    QCOMPARE(Dir1()->path(), volume2);

    QCOMPARE(chosen.count(), 0);
}

void Form2Test::volumeHoldingMatchesWholeComponents()
{
    const QStringList volumes = {"/", "/media/a", "/media/ab", "/srv"};
    QCOMPARE(VolumeHolding("/media/ab/site", volumes), QStringLiteral("/media/ab"));
    QCOMPARE(VolumeHolding("/media/a", volumes), QStringLiteral("/media/a"));
    QCOMPARE(VolumeHolding("/media/abc", volumes), QStringLiteral("/"));
    QCOMPARE(VolumeHolding("/srvx/site", volumes), QStringLiteral("/"));
    QCOMPARE(VolumeHolding("/srv/site", {"/media/a"}), QString());
}

void Form2Test::PickDrive(const QString& volume)
{
    QVERIFY2(PickEntry(*Drive1(), volume), qPrintable(volume));
}

void Form2Test::CheckStillUsable(const QString& folder, const QString& volume, const QString& subfolder)
{
    QVERIFY(form_ != nullptr);
    QVERIFY(form_->isVisible());
    QVERIFY(form_->isEnabled() && Dir1()->isEnabled() && Drive1()->isEnabled() && Ok()->isEnabled());
    QCOMPARE(Dir1()->path(), folder);
    QVERIFY(QFileInfo(Dir1()->path()).isDir());
    QCOMPARE(DirectoryList::EntryPath(*Dir1()->currentItem()), folder);
    QCOMPARE(Drive1()->currentText(), volume);
    QVERIFY(!Drive1()->view()->isVisible());

    QSignalSpy chosen(form_.data(), &Form2::folderChosen);
    QTreeWidgetItem* below = EntryFor(*Dir1(), subfolder);
    QVERIFY2(below != nullptr, qPrintable(subfolder));
    DoubleClickEntry(*Dir1(), below);
    QCOMPARE(Dir1()->path(), subfolder);
    QCOMPARE(chosen.count(), 0);
    QTest::mouseClick(Ok(), Qt::LeftButton);
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen.at(0).at(0).toString(), subfolder);
    QTRY_VERIFY(form_.isNull());
}

void Form2Test::unreadableVolumeLeavesTheChooserUsable_data()
{
    // What stands at the mount point of a volume Drive1 still offers.
    QTest::addColumn<QString>("kind");
    QTest::newRow("vanished after the chooser opened") << "vanished";
    QTest::newRow("never there") << "missing";
    QTest::newRow("a file") << "file";
    QTest::newRow("a link to itself") << "loop";
    QTest::newRow("a link to nothing") << "dangling";
}

void Form2Test::unreadableVolumeLeavesTheChooserUsable()
{
    QFETCH(QString, kind);
    const fs::path volume = temp_->path() / "vol";
    if (kind == "vanished")
        MakeFolders(volume, {"x"});
    else if (kind == "file")
        WriteFile(volume, "not a folder");
    else if (kind == "loop")
        fs::create_symlink(volume, volume);
    else if (kind == "dangling")
        fs::create_symlink(temp_->path() / "gone", volume);
    const QString working = root_;
    root_ += "/A";
    Open({"/", working, Q(volume)});
    QVERIFY(QTest::qWaitForWindowExposed(form_));
    QSignalSpy chosen(form_.data(), &Form2::folderChosen);
    QCOMPARE(Dir1()->path(), root_);
    if (kind == "vanished")
        fs::remove_all(volume);

    PickDrive(Q(volume));
    QCOMPARE(chosen.count(), 0);
    CheckStillUsable(root_, working, root_ + "/deeper");
}

void Form2Test::lockedVolumeLeavesTheChooserUsable()
{
    if (::geteuid() == 0) {
        // Root lists every folder whatever its mode; this case runs again in a child process
        // under the unprivileged user, from a copy of this executable that user can reach.
        const passwd* nobody = ::getpwnam("nobody");
        QVERIFY2(nobody != nullptr, "no unprivileged user to run as");
        const uid_t uid = nobody->pw_uid;
        const gid_t gid = nobody->pw_gid;
        // In /tmp, which every user reaches, whatever TMPDIR names.
        const QTemporaryDir reachable(QStringLiteral("/tmp/fanjian-unprivileged-XXXXXX"));
        QVERIFY2(reachable.isValid(), qPrintable(reachable.errorString()));
        const fs::path copy = reachable.path().toStdString() + "/form2_tests";
        const fs::perms runnable = fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec;
        fs::copy_file(QCoreApplication::applicationFilePath().toStdString(), copy);
        fs::permissions(reachable.path().toStdString(), runnable);
        fs::permissions(copy, runnable);

        QProcess child;
        child.setProgram(Q(copy));
        child.setArguments({QTest::currentTestFunction()});
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("HOME", "/tmp");
        environment.insert("TMPDIR", "/tmp");
        environment.remove("XDG_RUNTIME_DIR");
        child.setProcessEnvironment(environment);
        child.setWorkingDirectory("/");
        child.setChildProcessModifier([uid, gid] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(126);
        });
        child.start();
        QVERIFY2(child.waitForStarted(), qPrintable(child.errorString()));
        QVERIFY2(child.waitForFinished(60000), "the unprivileged run did not end");
        const QString output = QString::fromUtf8(child.readAllStandardOutput() + child.readAllStandardError());
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("PASS   : Form2Test::%1()").arg(QTest::currentTestFunction())),
                 qPrintable(output));
        return;
    }

    // A volume mounted without access for this user: it exists as a folder, but cannot be listed.
    MakeFolders(temp_->path(), {"locked/inside"});
    const QString locked = root_ + "/locked";
    fs::permissions(temp_->path() / "locked", fs::perms::none);
    QVERIFY(QFileInfo(locked).isDir());
    QVERIFY(!QDir(locked).isReadable());
    const QString working = root_;
    Open({"/", working, locked});
    QVERIFY(QTest::qWaitForWindowExposed(form_));
    DoubleClickEntry(*Dir1(), EntryFor(*Dir1(), root_ + "/A"));

    PickDrive(locked);
    CheckStillUsable(root_ + "/A", working, root_ + "/A/deeper");
}

void Form2Test::vanishedVolumeUnderDir1MovesItToAnExistingFolder()
{
    // Dir1 stands in a volume that then vanishes (a stick pulled out): when the next volume picked
    // cannot be read either, Dir1 moves up to the nearest folder that can, and Drive1 to its volume.
    MakeFolders(temp_->path(), {"stick/photos/2024"});
    const QString working = root_;
    const QString stick = root_ + "/stick";
    const QString missing = root_ + "/not-mounted";
    Open({"/", working, stick, missing});
    QVERIFY(QTest::qWaitForWindowExposed(form_));
    QSignalSpy chosen(form_.data(), &Form2::folderChosen);
    PickDrive(stick);
    DoubleClickEntry(*Dir1(), EntryFor(*Dir1(), stick + "/photos"));
    DoubleClickEntry(*Dir1(), EntryFor(*Dir1(), stick + "/photos/2024"));
    QCOMPARE(Dir1()->path(), stick + "/photos/2024");
    QVERIFY(QDir(stick).removeRecursively());

    PickDrive(missing);
    QCOMPARE(chosen.count(), 0);
    QCOMPARE(Dir1()->path(), working);
    QCOMPARE(Drive1()->currentText(), working);
    QVERIFY(EntryFor(*Dir1(), stick) == nullptr);

    // Opening an entry while the folder Dir1 lists has gone does the same.
    MakeFolders(temp_->path(), {"stick/photos/2024"});
    PickDrive(stick);
    DoubleClickEntry(*Dir1(), EntryFor(*Dir1(), stick + "/photos"));
    QTreeWidgetItem* year = EntryFor(*Dir1(), stick + "/photos/2024");
    QVERIFY(QDir(stick).removeRecursively());
    DoubleClickEntry(*Dir1(), year);
    QCOMPARE(Dir1()->path(), working);
    QVERIFY(QFileInfo(Dir1()->path()).isDir());

    // Dir1 may walk up the chain onto another volume; after a volume that cannot be read Drive1
    // shows the volume Dir1 stands on, so that the one left can be picked again.
    DoubleClickEntry(*Dir1(), Dir1()->topLevelItem(0));
    QCOMPARE(Dir1()->path(), QStringLiteral("/"));
    PickDrive(missing);
    QCOMPARE(Dir1()->path(), QStringLiteral("/"));
    QCOMPARE(Drive1()->currentText(), QStringLiteral("/"));
    PickDrive(working);
    QCOMPARE(Dir1()->path(), working);
    CheckStillUsable(working, working, working + "/A");
}

void Form2Test::vanishedWorkingFolderOpensAtTheNearestFolderAbove()
{
    // The folder the program was started in has gone since: the chooser opens in the nearest
    // folder above it that still exists, with Drive1 on that folder's volume.
    const QString working = root_ + "/A/deeper";
    QVERIFY(QDir(root_ + "/A").removeRecursively());
    const QString volume = root_;
    root_ = working;
    Open({"/", volume + "/A"});
    QVERIFY(QTest::qWaitForWindowExposed(form_));
    QCOMPARE(Dir1()->path(), volume);
    QCOMPARE(Drive1()->currentText(), QStringLiteral("/"));
    CheckStillUsable(volume, "/", volume + "/b");
}

void Form2Test::escClosesAndWritesNothing()
{
    Open();
    QVERIFY(QTest::qWaitForWindowActive(form_));
    QSignalSpy chosen(form_.data(), &Form2::folderChosen);
    DoubleClickEntry(*Dir1(), EntryFor(*Dir1(), root_ + "/A"));
    // Esc in an open drive list closes only the list.
    Drive1()->setFocus();
    Drive1()->showPopup();
    QVERIFY(QTest::qWaitFor([this] { return Drive1()->view()->isVisible(); }));
    QTest::keyClick(Drive1()->view(), Qt::Key_Escape);
    QTRY_VERIFY(!Drive1()->view()->isVisible());
    QVERIFY(form_ != nullptr && form_->isVisible());
    // Esc with the focus in the directory list, or on OK, closes the chooser.
    Dir1()->setFocus();
    QTest::keyClick(Dir1(), Qt::Key_Escape);
    QTRY_VERIFY(form_.isNull());
    QCOMPARE(chosen.count(), 0);

    Open();
    QVERIFY(QTest::qWaitForWindowActive(form_));
    QSignalSpy chosenAgain(form_.data(), &Form2::folderChosen);
    Ok()->setFocus();
    QTest::keyClick(Ok(), Qt::Key_Escape);
    QTRY_VERIFY(form_.isNull());
    QCOMPARE(chosenAgain.count(), 0);
}

void Form2Test::currentFolderIsBoldWhateverIsHighlighted()
{
    // The folder OK writes is the one in bold, and only it, whatever a click highlights.
    Open();
    QVERIFY(QTest::qWaitForWindowExposed(form_));
    auto boldEntries = [this] {
        QStringList bold;
        for (QTreeWidgetItemIterator it(Dir1()); *it != nullptr; ++it) {
            if ((*it)->font(0).bold())
                bold << DirectoryList::EntryPath(**it);
        }
        return bold;
    };
    QCOMPARE(boldEntries(), QStringList({root_}));
    ClickEntry(*Dir1(), EntryFor(*Dir1(), root_ + "/b"));
    QCOMPARE(boldEntries(), QStringList({root_}));
    DoubleClickEntry(*Dir1(), EntryFor(*Dir1(), root_ + "/A"));
    QCOMPARE(boldEntries(), QStringList({root_ + "/A"}));
    ClickEntry(*Dir1(), Dir1()->topLevelItem(0));
    QSignalSpy chosen(form_.data(), &Form2::folderChosen);
    QTest::mouseClick(Ok(), Qt::LeftButton);
    QCOMPARE(chosen.at(0).at(0).toString(), root_ + "/A");
}

void Form2Test::foldersNamedInAnyBytesAreListedReadably()
{
    // Folders named in Big5, GB2312, invalid bytes, with a line feed, and a link to a folder: each
    // listed under its readable name, sorted by it, its entry keeping the exact bytes.
    struct Folder {
        std::string bytes;
        QString shown;
    };
    const Folder folders[] = {
        {Bytes("C163C5E9BAF4AFB8"), "繁體網站"},
        {Bytes("BCF2CCE5CDF8D5BE"), "简体网站"},
        {"bad" + Bytes("FF80"), "bad\\xFF\\x80"},
        {"line\nfeed", "line\\x0Afeed"},
        {"utf8-網站", "utf8-網站"},
        {Bytes("A4A4A4E5"), "中文（Big5）"},
        {Bytes("D6D0CEC4"), "中文（GB2312）"},
        {"中文", "中文（UTF-8）"},
    };
    const fs::path base = temp_->path() / "names";
    for (const Folder& folder : folders)
        fs::create_directories(base / folder.bytes / "inside");
    fs::create_symlink(base / folders[0].bytes, base / "link");
    WriteFile(base / Bytes("A4A4"), "a file, not listed");
    root_ = Q(base);
    Open();
    QTreeWidgetItem* current = Dir1()->currentItem();
    QCOMPARE(DirectoryList::EntryPath(*current), root_);
    QStringList shown;
    for (int i = 0; i < current->childCount(); ++i) {
        const QTreeWidgetItem& entry = *current->child(i);
        shown << entry.text(0);
        QVERIFY(entry.text(0).startsWith(ReadableName(PathBytes(DirectoryList::EntryPath(entry)).substr(base.string().size() + 1))));
    }
    QCOMPARE(shown, QStringList({"bad\\xFF\\x80", "line\\x0Afeed", "link", "utf8-網站", "中文（Big5）", "中文（GB2312）",
                                 "中文（UTF-8）", "简体网站", "繁體網站"}));

    // Opened and handed over with their bytes; the chain shows the readable names.
    for (const Folder& folder : folders) {
        QVERIFY(Dir1()->setPath(root_));
        QTreeWidgetItem* entry = EntryFor(*Dir1(), root_ + "/" + ExactPath(folder.bytes));
        QVERIFY2(entry != nullptr, qPrintable(folder.shown));
        QCOMPARE(entry->text(0), folder.shown);
        DoubleClickEntry(*Dir1(), entry);
        QCOMPARE(PathBytes(Dir1()->path()), (base / folder.bytes).string());
        QCOMPARE(Dir1()->currentItem()->text(0), ReadableName(folder.bytes));
        QVERIFY(EntryFor(*Dir1(), Dir1()->path() + "/inside") != nullptr);
    }
    QSignalSpy chosen(form_.data(), &Form2::folderChosen);
    QTest::mouseClick(Ok(), Qt::LeftButton);
    QCOMPARE(PathBytes(chosen.at(0).at(0).toString()), (base / folders[std::size(folders) - 1].bytes).string());
}

void Form2Test::namesKeepTheirBytes_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("readable");
    QTest::newRow("ASCII") << QByteArray("index.htm") << "index.htm";
    QTest::newRow("UTF-8") << QByteArray("網站.htm") << "網站.htm";
    QTest::newRow("Big5") << QByteArray::fromHex("BAF4AFB82E68746D") << "網站.htm";
    QTest::newRow("Big5 with a trail byte below 0x80") << QByteArray::fromHex("B773BC57B8EAAEC6A7A8") << "新增資料夾";
    QTest::newRow("Big5, also valid GB2312") << QByteArray::fromHex("A4A4A4E5") << "中文";
    QTest::newRow("GB2312, also valid Big5") << QByteArray::fromHex("D6D0CEC4") << "中文";
    QTest::newRow("GB2312") << QByteArray::fromHex("D0C2BDA8CEC4BCFEBCD0") << "新建文件夹";
    QTest::newRow("valid in none") << QByteArray("a\xFF" "b\xC3") << "a\\xFFb\\xC3";
    QTest::newRow("UTF-8 and an invalid byte") << QByteArray("網\xFF") << "網\\xFF";
    QTest::newRow("control characters") << QByteArray("tab\there\x1B\x7F") << "tab\\x09here\\x1B\\x7F";
    QTest::newRow("an encoded surrogate") << QByteArray("\xED\xB3\xBF") << "\\xED\\xB3\\xBF";
}

void Form2Test::namesKeepTheirBytes()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, readable);
    const std::string bytes = name.toStdString();
    QCOMPARE(ReadableName(bytes), readable);
    QCOMPARE(ReadablePath("/x/" + bytes + "/" + bytes), "/x/" + readable + "/" + readable);
    QCOMPARE(PathBytes(ExactPath(bytes)), bytes);
    // Every byte value, alone and after every other, passes through the exact form unchanged.
    std::string all;
    for (int byte = 1; byte < 256; ++byte)
        all += static_cast<char>(byte);
    QCOMPARE(PathBytes(ExactPath(all)), all);
    for (int byte = 0x80; byte < 256; ++byte) {
        const std::string pair = bytes + static_cast<char>(byte);
        QCOMPARE(PathBytes(ExactPath(pair)), pair);
    }
    // A UTF-8 path's exact form is its text.
    QCOMPARE(ExactPath("/網站/index.htm"), QStringLiteral("/網站/index.htm"));
}

void Form2Test::typedPathsFindTheirBytes()
{
    // Typed in readable form, a path finds its folders' bytes; the separators stay as typed.
    const fs::path base = temp_->path();
    const std::string big5 = Bytes("C163C5E9"); // 繁體
    const std::string gb = Bytes("BCF2CCE5");   // 简体
    fs::create_directories(base / big5 / gb);
    fs::create_directories(base / "bad\xFF");
    QCOMPARE(FolderPathBytes(root_ + "/繁體/简体"), (base / big5 / gb).string());
    QCOMPARE(FolderPathBytes(root_ + "//繁體/简体/"), base.string() + "//" + big5 + "/" + gb + "/");
    QCOMPARE(FolderPathBytes(root_ + "/bad\\xFF"), (base / "bad\xFF").string());
    // A name that exists as typed is taken as typed.
    fs::create_directories(base / "繁體");
    QCOMPARE(FolderPathBytes(root_ + "/繁體"), (base / "繁體").string());
    // Nothing of that name: the typed name's own bytes, for the run to report.
    QCOMPARE(FolderPathBytes(root_ + "/簡體"), (base / "簡體").string());
    QCOMPARE(FolderPathBytes("relative/繁體"), std::string("relative/繁體"));
    // Two folders of one readable name (中文 in Big5 and in GB2312 bytes): typed, neither is
    // guessed; chosen, the chosen one's bytes are kept as far as the typed path follows it.
    fs::create_directories(base / Bytes("A4A4A4E5") / "x");
    fs::create_directories(base / Bytes("D6D0CEC4") / "x");
    QCOMPARE(FolderPathBytes(root_ + "/中文"), (base / "中文").string());
    const QString chosen = root_ + "/" + ExactPath(Bytes("D6D0CEC4"));
    QCOMPARE(FolderPathBytes(root_ + "/中文", chosen), (base / Bytes("D6D0CEC4")).string());
    QCOMPARE(FolderPathBytes(root_ + "/中文/x", chosen), (base / Bytes("D6D0CEC4") / "x").string());
    QCOMPARE(FolderPathBytes(root_ + "/A/../中文", chosen), (base / "A" / ".." / "中文").string());
}

QTEST_MAIN(Form2Test)
#include "Form2Test.moc"
