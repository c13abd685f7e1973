#include "shell/Desktop.h"

#include "shell/Names.h"
#include "shell/Twips.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QStorageInfo>
#include <QWidget>
#include <QWindow>

#include <climits>
#include <cmath>
#include <string>

#include <unistd.h>

namespace fanjian {

namespace {

// The folder of the running executable, its bytes as they are: the program finds its dictionary
// there also when a folder on the way is named in Big5 bytes.
QString ProgramDirectory()
{
    std::string executable(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", executable.data(), executable.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= executable.size())
        return WithoutTrailingSeparator(QCoreApplication::applicationDirPath());
    executable.resize(static_cast<std::size_t>(length));
    return WithoutTrailingSeparator(ExactPath(executable.substr(0, executable.rfind('/') + 1)));
}

QString WorkingFolder()
{
    std::string folder(PATH_MAX, '\0');
    if (::getcwd(folder.data(), folder.size()) == nullptr)
        return QDir::currentPath();
    folder.resize(std::char_traits<char>::length(folder.c_str()));
    return ExactPath(folder);
}

} // namespace

Desktop SystemDesktop()
{
    return Desktop{
        .programDirectory = ProgramDirectory(),
        .workingFolder = WorkingFolder(),
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
