#include "shell/Program.h"

#include "shell/Form1.h"

#include <QApplication>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace fanjian {

namespace {

// The signals that end the program as closing its window does, with the status 128 + the signal.
constexpr std::array<int, 3> kEndingSignals = {SIGTERM, SIGHUP, SIGINT};

// The write end of the pipe through which a signal reaches the event loop. A handler may do next
// to nothing safely: it writes the signal's number, and the window acts on it at its next pass
// over the events, also in the middle of a run.
int signalPipeWrite = -1;

extern "C" void NoteSignal(int signal)
{
    const int savedErrno = errno;
    const auto number = static_cast<unsigned char>(signal);
    // A full pipe holds signals enough to end the program: this one may go.
    [[maybe_unused]] const ssize_t written = ::write(signalPipeWrite, &number, 1);
    errno = savedErrno;
}

// Sets the program's signal handling for as long as it lives, and puts it back afterwards.
class SignalHandling {
public:
    SignalHandling()
    {
        // A write to a pipe or socket whose reader has gone fails with EPIPE, which the program
        // reports, instead of ending the program.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        if (::sigaction(SIGPIPE, &ignore, &oldPipe_) != 0)
            std::perror("fanjian: cannot ignore SIGPIPE");

        if (::pipe2(pipe_.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
            std::perror("fanjian: cannot make a pipe for signals");
            pipe_ = {-1, -1};
            return;
        }
        signalPipeWrite = pipe_[1];
        struct sigaction note {};
        note.sa_handler = NoteSignal;
        sigemptyset(&note.sa_mask);
        note.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
            if (::sigaction(kEndingSignals[i], nullptr, &oldEnding_[i]) != 0) {
                std::perror("fanjian: cannot read how a signal is handled");
                continue;
            }
            // A signal ignored when the program started stays ignored: that is what nohup, or a
            // shell starting a job in the background, asks for.
            if (oldEnding_[i].sa_handler == SIG_IGN)
                continue;
            if (::sigaction(kEndingSignals[i], &note, nullptr) != 0)
                std::perror("fanjian: cannot handle a signal");
        }
    }

    ~SignalHandling()
    {
        for (std::size_t i = 0; i < kEndingSignals.size(); ++i)
            ::sigaction(kEndingSignals[i], &oldEnding_[i], nullptr);
        ::sigaction(SIGPIPE, &oldPipe_, nullptr);
        signalPipeWrite = -1;
        for (const int end : pipe_) {
            if (end >= 0 && ::close(end) != 0)
                std::perror("fanjian: cannot close the pipe for signals");
        }
    }

    SignalHandling(const SignalHandling&) = delete;
    SignalHandling& operator=(const SignalHandling&) = delete;

    int readEnd() const noexcept { return pipe_[0]; }

    // The first signal waiting in the pipe, or 0.
    int TakeSignal() const
    {
        unsigned char numbers[64];
        const ssize_t got = ::read(pipe_[0], numbers, sizeof numbers);
        return got > 0 ? numbers[0] : 0;
    }

private:
    std::array<int, 2> pipe_ = {-1, -1};
    struct sigaction oldPipe_ {};
    std::array<struct sigaction, kEndingSignals.size()> oldEnding_ {};
};

// Where no installed font can draw the windows' texts, they show as empty boxes: says so, and
// which package brings a font, in one line on standard error.
void CheckFonts(const Form1& window)
{
    const QString undrawable = UndrawableCharacters(window.texts(), window.font());
    if (undrawable.isEmpty())
        return;
    const QString line = QStringLiteral("fanjian: no installed font can draw the window's Chinese texts (%1); "
                                        "install the package fonts-noto-cjk (or fonts-wqy-microhei)\n")
                             .arg(undrawable.left(8));
    const QByteArray bytes = line.toUtf8();
    if (std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr) == static_cast<std::size_t>(bytes.size()))
        std::fflush(stderr);
}

// While the QApplication starts, the toolkit's messages are held back, and so is what the libraries
// below it write to standard error themselves (libwayland does). Where it cannot reach a window
// system it ends the program with a fatal message (and an abort): the program says why in one line
// of its own, from what the environment asked for and the toolkit's first message, and ends with
// status 1. Once started, everything held back goes out as it would have.
class PlatformStart {
public:
    PlatformStart()
    {
        previous_ = qInstallMessageHandler(&Hold);
        const int saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        captured_ = ::memfd_create("fanjian-start", MFD_CLOEXEC);
        if (saved >= 0 && captured_ >= 0 && ::dup2(captured_, STDERR_FILENO) >= 0) {
            realError_ = saved;
            return;
        }
        // Without a place to hold it, standard error stays as it is.
        for (const int fd : {saved, captured_}) {
            if (fd >= 0)
                ::close(fd);
        }
        captured_ = -1;
    }
    ~PlatformStart() { Started(); }
    PlatformStart(const PlatformStart&) = delete;
    PlatformStart& operator=(const PlatformStart&) = delete;

    void Started()
    {
        if (done_)
            return;
        done_ = true;
        qInstallMessageHandler(previous_);
        if (captured_ >= 0) {
            std::fflush(stderr);
            ::dup2(realError_, STDERR_FILENO);
            ::close(realError_);
            realError_ = STDERR_FILENO;
            char buffer[4096];
            ssize_t got = 0;
            ::lseek(captured_, 0, SEEK_SET);
            while ((got = ::read(captured_, buffer, sizeof buffer)) > 0) {
                if (::write(STDERR_FILENO, buffer, static_cast<std::size_t>(got)) != got)
                    break;
            }
            ::close(captured_);
            captured_ = -1;
        }
        std::vector<Held> held;
        {
            const std::lock_guard lock(mutex_);
            held.swap(held_);
        }
        for (const Held& message : held) {
            const QMessageLogContext context(message.file.isEmpty() ? nullptr : message.file.constData(), message.line,
                                             message.function.isEmpty() ? nullptr : message.function.constData(),
                                             message.category.constData());
            if (previous_ != nullptr)
                previous_(message.type, context, message.text);
        }
    }

private:
    struct Held {
        QtMsgType type;
        QByteArray file;
        int line;
        QByteArray function;
        QByteArray category;
        QString text;
    };

    static void Hold(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (type == QtFatalMsg)
            CannotStart();
        const std::lock_guard lock(mutex_);
        held_.push_back({type, context.file, context.line, context.function, context.category, text});
    }

    [[noreturn]] static void CannotStart()
    {
        const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
        QString reason;
        bool detail = true;
        if (!platform.isEmpty()) {
            reason = QStringLiteral("the platform \"%1\" that QT_QPA_PLATFORM names cannot start").arg(platform);
        } else if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
            reason = QStringLiteral("no display to show it on (neither DISPLAY nor WAYLAND_DISPLAY is set)");
            detail = false;
        } else {
            reason = QStringLiteral("the display cannot be reached");
        }
        {
            const std::lock_guard lock(mutex_);
            if (detail && !held_.empty())
                reason += QStringLiteral(": ") + held_.front().text.simplified();
        }
        const QByteArray line = QStringLiteral("fanjian: cannot open its window: %1\n").arg(reason).toUtf8();
        [[maybe_unused]] const ssize_t written = ::write(realError_, line.constData(), static_cast<std::size_t>(line.size()));
        ::_exit(1);
    }

    static inline std::mutex mutex_;
    static inline std::vector<Held> held_;
    // Standard error as the program was given it, while its own is held back.
    static inline int realError_ = STDERR_FILENO;
    QtMessageHandler previous_ = nullptr;
    int captured_ = -1;
    bool done_ = false;
};

} // namespace

int ProgramMain(int argc, char* argv[])
{
    PlatformStart start;
    QApplication application(argc, argv);
    start.Started();
    return RunProgram(SystemDesktop());
}

int RunProgram(Desktop desktop)
{
    const SignalHandling handling;
    QGuiApplication::setDesktopFileName(QStringLiteral("fanjian"));
    Form1 window(std::move(desktop));
    CheckFonts(window);
    int signalStatus = 0;
    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (handling.readEnd() >= 0) {
        signalNotifier = std::make_unique<QSocketNotifier>(handling.readEnd(), QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &window, [&] {
            const int signal = handling.TakeSignal();
            if (signal == 0 || signalStatus != 0)
                return;
            signalStatus = 128 + signal;
            // As closing the window: a run stops at its next pass, its file in progress cut back to
            // its last whole line, and the program ends.
            window.close();
            QCoreApplication::exit(signalStatus);
        });
    }
    window.show();
    const int status = QApplication::exec();
    return signalStatus != 0 ? signalStatus : status;
}

} // namespace fanjian
