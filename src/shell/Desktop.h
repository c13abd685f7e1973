#pragma once

#include <QFont>
#include <QIcon>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class QWidget;

namespace fanjian {

// What the windows take from the desktop they run on. The program runs with SystemDesktop();
// tests hand in their own folders and volumes and catch links and the end of the program, so
// that no test opens a browser or leaves the process.
struct Desktop {
    // The folder of the running executable; the main window keeps it as FFile. Like every path
    // the windows hold, in its exact form (see Names.h).
    QString programDirectory;
    // The folder the program was started in (exact form); the folder chooser starts there at
    // every opening.
    QString workingFolder;
    // Mount points of the volumes the folder chooser offers in Drive1.
    std::function<QStringList()> volumes;
    // Hands an address to the desktop's default handler, without waiting and without a message.
    std::function<void(const QUrl&)> openLink;
    // Ends the program; called when the main window has been closed.
    std::function<void()> endProgram;
};

Desktop SystemDesktop();

// The characters of `text` that no installed font can draw, each once, where the windows draw
// them in `font`: neither the font nor any the desktop falls back to has them (where no CJK font
// is installed, every Chinese character).
QString UndrawableCharacters(const QString& text, const QFont& font);

// The program's 16 x 16 window icon.
QIcon ProgramIcon();

// Mount points of the mounted, ready volumes of real file systems, sorted.
QStringList MountedVolumes();

// Top left corner, in pixels, of a window of outer size `outer` centred on `screen`, where a pixel
// is `twipsFactor` times 15 twips (see Twips): the difference of the sizes, in whole twips (toward
// zero), halved by an integer division that truncates toward zero, back in whole pixels toward
// zero, so that an odd difference loses its half and a window larger than the screen gets a
// negative position.
QPoint CentredPosition(const QRect& screen, const QSize& outer, double twipsFactor = 1.0);
// Moves a window that is not shown yet to the middle of its screen, frame included. Where the
// frame becomes known only after the window is shown (X11), the window is centred once more then.
void CentreOnScreen(QWidget& window, double twipsFactor);

// "/a/b/" -> "/a/b"; "/" stays "/".
QString WithoutTrailingSeparator(QString path);
// True when `folder` is `root` or lies below it (whole path components: /a/bc is not in /a/b).
bool IsInside(const QString& folder, const QString& root);
// The volume of `volumes` (mount points) that holds `folder`: the deepest one it lies inside,
// or an empty text when none does.
QString VolumeHolding(const QString& folder, const QStringList& volumes);

} // namespace fanjian
