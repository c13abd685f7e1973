#include "shell/Form2.h"

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
    setObjectName(QStringLiteral("Form2"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("選擇資料夾"));
    setWindowIcon(ProgramIcon());
    Drive1 = new QComboBox(this);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Dir1 = new DirectoryList(this);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Command1 = new QPushButton(QString::fromUtf8(kOkCaption), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setAutoDefault(false);
    LayOut(twips);

    setTabOrder(Drive1, Dir1);
    setTabOrder(Dir1, Command1);

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
    Drive1->addItems(roots);
    driveIndex_ = static_cast<int>(roots.indexOf(workingVolume_));
    // A working folder that has gone since the program started: the nearest folder above it.
    Dir1->setNearestPath(workingFolder_);
    ShowVolumeOfDir1();

    connect(Drive1, &QComboBox::currentIndexChanged, this, &Form2::OnDriveChanged);
    connect(Command1, &QPushButton::clicked, this, &Form2::OnOk);

    Drive1->setFocus();
    CentreOnScreen(*this, twips.factor());
}

void Form2::LayOut(const Twips& twips)
{
    setFixedSize(twips.Size(3135, 3270));
    auto place = [&twips](QWidget* control, const QRect& geometry) {
        control->setGeometry(twips.Rect(geometry.x(), geometry.y(), geometry.width(), geometry.height()));
    };
    place(Drive1, QRect(120, 240, 2295, 300));
    place(Dir1, QRect(120, 600, 2895, 2610));
    Dir1->setIndentation(twips.Pixels(150));
    place(Command1, kOkTwips);
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
    const QString root = Drive1->itemText(index);
    const bool moved = (root == workingVolume_ && Dir1->setPath(workingFolder_)) || Dir1->setPath(root);
    if (moved) {
        driveIndex_ = index;
        return;
    }
    // A volume that cannot be read (gone, or not a folder one may list): Dir1 stays where it was,
    // shown as it is now; where its folder has gone too (it was on a volume that vanished), it
    // moves up to the nearest folder that is still there. Drive1 goes back to the volume of that
    // folder, so that every other volume, the one left included, can be picked again.
    Dir1->setNearestPath(Dir1->path());
    ShowVolumeOfDir1();
}

void Form2::ShowVolumeOfDir1()
{
    QStringList roots;
    for (int i = 0; i < Drive1->count(); ++i)
        roots.append(Drive1->itemText(i));
    const qsizetype holder = roots.indexOf(VolumeHolding(Dir1->path(), roots));
    if (holder >= 0)
        driveIndex_ = static_cast<int>(holder);
    const QSignalBlocker blocker(Drive1);
    Drive1->setCurrentIndex(driveIndex_);
}

void Form2::OnOk()
{
    emit folderChosen(Dir1->path());
    close();
}

} // namespace fanjian
