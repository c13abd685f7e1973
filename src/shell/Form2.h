#pragma once

#include "shell/Twips.h"

#include <QRect>
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
// `workingFolder` (exact form, see Names.h), at every opening. Esc closes it as closing it does.
class Form2 : public QWidget {
    Q_OBJECT
public:
    Form2(const QString& workingFolder, const QStringList& volumes, const Twips& twips = Twips(),
          QWidget* parent = nullptr);

    // OK's geometry in twips and its caption, which must fit.
    static constexpr QRect kOkTwips{2520, 120, 615, 375};
    static constexpr char kOkCaption[] = "確定";
    static constexpr char kTitle[] = "選擇資料夾";

    // Sizes the window and places its controls in `twips` (the main window's, which follow the
    // application's font).
    void LayOut(const Twips& twips);

signals:
    // OK was pressed on `folder`, the current folder of Dir1, in exact form.
    void folderChosen(const QString& folder);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Controls; their object names are the ones the window was drawn with.
    QComboBox* driveList_;          // Drive1
    DirectoryList* directoryList_;  // Dir1
    QPushButton* okButton_;         // Command1

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
