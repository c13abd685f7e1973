#include "shell/Form2.h"

#include "shell/Accessibility.h"
#include "shell/Desktop.h"
#include "shell/DirectoryList.h"

#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStorageInfo>

namespace fanjian {

Form2::Form2(const QString& workingFolder, const QStringList& volumes, const Twips& twips, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
    , workingFolder_(WithoutTrailingSeparator(workingFolder))
{
    InstallAccessibleInterfaces();
    setObjectName(QStringLiteral("Form2"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString::fromUtf8(kTitle));
    setWindowIcon(ProgramIcon());
    driveList_ = new QComboBox(this);
    driveList_->setObjectName(QStringLiteral("Drive1"));
    directoryList_ = new DirectoryList(this);
    directoryList_->setObjectName(QStringLiteral("Dir1"));
    okButton_ = new QPushButton(QString::fromUtf8(kOkCaption), this);
    okButton_->setObjectName(QStringLiteral("Command1"));
    okButton_->setAutoDefault(false);
    PressWithEnter(*okButton_);
    // What a screen reader says of the lists. A drop-down list is named by its entry on Linux; it
    // tells what it is in its description.
    driveList_->setAccessibleName(QStringLiteral("磁碟機"));
    driveList_->setAccessibleDescription(QStringLiteral("磁碟機"));
    directoryList_->setAccessibleName(QStringLiteral("資料夾"));
    LayOut(twips);

    setTabOrder(driveList_, directoryList_);
    setTabOrder(directoryList_, okButton_);

    // Both lists start at the volume and the folder the program was started in.
    QStringList roots = volumes;
    roots.sort();
    workingVolume_ = VolumeHolding(workingFolder_, roots);
    if (workingVolume_.isEmpty()) {
        workingVolume_ = WithoutTrailingSeparator(QStorageInfo(workingFolder_).rootPath());
        if (workingVolume_.isEmpty())
            workingVolume_ = QStringLiteral("/");
        roots.append(workingVolume_);
        roots.sort();
    }
    driveList_->addItems(roots);
    driveIndex_ = static_cast<int>(roots.indexOf(workingVolume_));
    // A working folder that has gone since the program started: the nearest folder above it.
    directoryList_->setNearestPath(workingFolder_);
    ShowVolumeOfDir1();

    connect(driveList_, &QComboBox::currentIndexChanged, this, &Form2::OnDriveChanged);
    connect(okButton_, &QPushButton::clicked, this, &Form2::OnOk);

    driveList_->setFocus();
    CentreOnScreen(*this, twips.factor());
}

void Form2::LayOut(const Twips& twips)
{
    setFixedSize(twips.Size(3135, 3270));
    auto place = [&twips](QWidget* control, const QRect& geometry) {
        control->setGeometry(twips.Rect(geometry.x(), geometry.y(), geometry.width(), geometry.height()));
    };
    place(driveList_, QRect(120, 240, 2295, 300));
    place(directoryList_, QRect(120, 600, 2895, 2610));
    directoryList_->setIndentation(twips.Pixels(150));
    place(okButton_, kOkTwips);
}

void Form2::keyPressEvent(QKeyEvent* event)
{
    // Esc reaches the chooser only where no control takes it (an open drive list closes first).
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Form2::OnDriveChanged(int index)
{
    const QString root = driveList_->itemText(index);
    const bool moved = (root == workingVolume_ && directoryList_->setPath(workingFolder_)) || directoryList_->setPath(root);
    if (moved) {
        driveIndex_ = index;
        return;
    }
    // A volume that cannot be read (gone, or not a folder one may list): Dir1 stays where it was,
    // shown as it is now; where its folder has gone too (it was on a volume that vanished), it
    // moves up to the nearest folder that is still there. Drive1 goes back to the volume of that
    // folder, so that every other volume, the one left included, can be picked again.
    directoryList_->setNearestPath(directoryList_->path());
    ShowVolumeOfDir1();
}

void Form2::ShowVolumeOfDir1()
{
    QStringList roots;
    for (int i = 0; i < driveList_->count(); ++i)
        roots.append(driveList_->itemText(i));
    const qsizetype holder = roots.indexOf(VolumeHolding(directoryList_->path(), roots));
    if (holder >= 0)
        driveIndex_ = static_cast<int>(holder);
    const QSignalBlocker blocker(driveList_);
    driveList_->setCurrentIndex(driveIndex_);
}

void Form2::OnOk()
{
    emit folderChosen(directoryList_->path());
    close();
}

} // namespace fanjian
