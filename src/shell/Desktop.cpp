#include "shell/Desktop.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QStorageInfo>
#include <QWidget>
#include <QWindow>

namespace fanjian {

Desktop SystemDesktop()
{
    return Desktop{
        .programDirectory = WithoutTrailingSeparator(QCoreApplication::applicationDirPath()),
        .workingFolder = QDir::currentPath(),
        .volumes = &MountedVolumes,
        .openLink = [](const QUrl& url) { QDesktopServices::openUrl(url); },
        .endProgram = [] { QCoreApplication::quit(); },
    };
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

QRect TwipsRect(int left, int top, int width, int height)
{
    return QRect(Pixels(left), Pixels(top), Pixels(width), Pixels(height));
}

QPoint CentredPosition(const QRect& screen, const QSize& outer)
{
    auto centre = [](int screenPixels, int outerPixels) {
        const int differenceTwips = (screenPixels - outerPixels) * kTwipsPerPixel;
        const int halfTwips = differenceTwips / 2; // truncates toward zero
        return halfTwips / kTwipsPerPixel;         // whole pixels, toward zero again
    };
    return screen.topLeft() + QPoint(centre(screen.width(), outer.width()), centre(screen.height(), outer.height()));
}

namespace {

void Centre(QWidget& window)
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
    window.move(CentredPosition(screen->geometry(), outer));
}

// On X11 the frame of a window is known only once the window manager has framed the mapped
// window. The first move or resize that shows a frame centres the window again, frame included.
class CentreWhenFramed : public QObject {
public:
    explicit CentreWhenFramed(QWidget& window)
        : QObject(&window)
        , window_(window)
    {
        window.installEventFilter(this);
    }

    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        const bool geometry = event->type() == QEvent::Move || event->type() == QEvent::Resize;
        if (geometry && window_.isVisible() && window_.frameGeometry().size() != window_.size()) {
            window_.removeEventFilter(this);
            deleteLater();
            Centre(window_);
        }
        return false;
    }

private:
    QWidget& window_;
};

} // namespace

void CentreOnScreen(QWidget& window)
{
    Centre(window);
    const QWindow* handle = window.windowHandle();
    if (handle == nullptr || handle->frameMargins().isNull())
        new CentreWhenFramed(window);
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
