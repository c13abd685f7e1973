#include "shell/Desktop.h"

#include "conversion/Files.h"
#include "shell/Names.h"
#include "shell/Twips.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QScreen>
#include <QSet>
#include <QStorageInfo>
#include <QTextLayout>
#include <QWidget>
#include <QWindow>

#include <cmath>
#include <string>
#include <system_error>

namespace fanjian {

namespace {

// The folders as the core tells them, exact; what Qt tells when the system does not.
QString ProgramFolder()
{
    try {
        return WithoutTrailingSeparator(ExactPath(ProgramDirectory()));
    } catch (const std::system_error&) {
        return WithoutTrailingSeparator(QCoreApplication::applicationDirPath());
    }
}

QString WorkingFolder()
{
    try {
        return ExactPath(CurrentFolder());
    } catch (const std::system_error&) {
        return QDir::currentPath();
    }
}

} // namespace

Desktop SystemDesktop()
{
    return Desktop{
        .programDirectory = ProgramFolder(),
        .workingFolder = WorkingFolder(),
        .volumes = &MountedVolumes,
        .openLink = [](const QUrl& url) { QDesktopServices::openUrl(url); },
        .endProgram = [] { QCoreApplication::quit(); },
    };
}

QString UndrawableCharacters(const QString& text, const QFont& font)
{
    QString undrawable;
    QSet<char32_t> seen;
    for (const char32_t character : text.toUcs4()) {
        if (seen.contains(character) || QChar::isSpace(character) || QChar::category(character) == QChar::Other_Control)
            continue;
        seen.insert(character);
        // Laid out as the windows lay out text: in the font and those the desktop falls back to,
        // each character from the first that has it; where none has it, the font's glyph 0
        // (the empty box) stands in.
        const QString drawn = QString::fromUcs4(&character, 1);
        QTextLayout layout(drawn, font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        for (const QGlyphRun& run : layout.glyphRuns()) {
            if (run.glyphIndexes().contains(0)) {
                undrawable += drawn;
                break;
            }
        }
    }
    return undrawable;
}

QIcon ProgramIcon()
{
    return QIcon(QStringLiteral(":/fanjian/fanjian.xpm"));
}

QStringList MountedVolumes()
{
    // Qt already leaves out the pseudo file systems (/proc, /sys, /dev and the like).
    QStringList roots;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady())
            roots.append(WithoutTrailingSeparator(volume.rootPath()));
    }
    roots.removeDuplicates();
    roots.sort();
    return roots;
}

QPoint CentredPosition(const QRect& screen, const QSize& outer, double twipsFactor)
{
    const double twipsPerPixel = Twips::kPerPixel / twipsFactor;
    auto centre = [twipsPerPixel](int screenPixels, int outerPixels) {
        const auto differenceTwips = static_cast<long>(std::trunc((screenPixels - outerPixels) * twipsPerPixel));
        const long halfTwips = differenceTwips / 2; // truncates toward zero
        return static_cast<int>(std::trunc(static_cast<double>(halfTwips) / twipsPerPixel)); // toward zero again
    };
    return screen.topLeft() + QPoint(centre(screen.width(), outer.width()), centre(screen.height(), outer.height()));
}

namespace {

void Centre(QWidget& window, double twipsFactor)
{
    QScreen* screen = window.screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    QSize outer = window.size();
    if (const QWindow* handle = window.windowHandle()) {
        const QMargins frame = handle->frameMargins();
        outer += QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
    }
    // For a window, move() places the outer frame's top left corner.
    window.move(CentredPosition(screen->geometry(), outer, twipsFactor));
}

// On X11 the frame of a window is known only once the window manager has framed the mapped
// window. The first move or resize that shows a frame centres the window again, frame included.
class CentreWhenFramed : public QObject {
public:
    CentreWhenFramed(QWidget& window, double twipsFactor)
        : QObject(&window)
        , window_(window)
        , twipsFactor_(twipsFactor)
    {
        window.installEventFilter(this);
    }

    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        const bool geometry = event->type() == QEvent::Move || event->type() == QEvent::Resize;
        if (geometry && window_.isVisible() && window_.frameGeometry().size() != window_.size()) {
            window_.removeEventFilter(this);
            deleteLater();
            Centre(window_, twipsFactor_);
        }
        return false;
    }

private:
    QWidget& window_;
    double twipsFactor_;
};

} // namespace

void CentreOnScreen(QWidget& window, double twipsFactor)
{
    Centre(window, twipsFactor);
    const QWindow* handle = window.windowHandle();
    if (handle == nullptr || handle->frameMargins().isNull())
        new CentreWhenFramed(window, twipsFactor);
}

QString WithoutTrailingSeparator(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

bool IsInside(const QString& folder, const QString& root)
{
    if (root == QLatin1String("/"))
        return folder.startsWith(QLatin1Char('/'));
    return folder == root || (folder.startsWith(root) && folder.at(root.size()) == QLatin1Char('/'));
}

QString VolumeHolding(const QString& folder, const QStringList& volumes)
{
    QString holder;
    for (const QString& root : volumes) {
        if (IsInside(folder, root) && root.size() > holder.size())
            holder = root;
    }
    return holder;
}

} // namespace fanjian
