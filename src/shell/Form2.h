#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QComboBox;
class QPushButton;

namespace fanjian {

class DirectoryList;

// The folder chooser: a drive list of the mounted volumes, a directory list and an OK button that
// hands the directory list's current folder to whoever opened it and closes the chooser. It
// keeps no state beyond what its lists show, is deleted when it closes, and starts afresh, in
// `workingFolder`, at every opening.
class Form2 : public QWidget {
    Q_OBJECT
public:
    Form2(const QString& workingFolder, const QStringList& volumes, QWidget* parent = nullptr);

signals:
    // OK was pressed on `folder`, the current folder of Dir1.
    void folderChosen(const QString& folder);

private:
    // Controls, under the names they also carry as object names.
    QComboBox* Drive1;
    DirectoryList* Dir1;
    QPushButton* Command1;

    void OnDriveChanged(int index);
    void OnOk();
    // Puts Drive1 on the volume that holds Dir1's folder, without moving Dir1; where no volume
    // of Drive1 holds it, on the entry Drive1 showed before.
    void ShowVolumeOfDir1();

    QString workingFolder_;
    // The volume of Drive1 that holds the working folder.
    QString workingVolume_;
    // The entry of Drive1 for Dir1's folder, kept while a newly picked volume is tried: where no
    // volume holds the folder Dir1 ends up in, Drive1 goes back to it.
    int driveIndex_ = -1;
};

} // namespace fanjian
