#include "cli/ConsoleView.h"

#include "cli/Streams.h"
#include "conversion/ShownText.h"

#include <algorithm>
#include <clocale>
#include <cwchar>
#include <locale.h>
#include <sys/ioctl.h>
#include <utility>

namespace fanjian::cli {

namespace {

constexpr std::string_view kStandardOutput = "standard output";
constexpr std::string_view kStandardError = "standard error";

// The run composes its texts in UTF-8, whatever the user's locale: they are measured as UTF-8.
locale_t Utf8Locale()
{
    static const locale_t locale = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

} // namespace

std::string FitToColumns(std::string_view text, std::size_t columns, std::size_t& width)
{
    std::string fitted;
    width = 0;
    const locale_t utf8 = Utf8Locale();
    const locale_t before = utf8 ? ::uselocale(utf8) : static_cast<locale_t>(nullptr);
    std::mbstate_t state{};
    while (!text.empty()) {
        wchar_t character = 0;
        std::size_t length = utf8 ? std::mbrtowc(&character, text.data(), text.size(), &state)
                                  : static_cast<std::size_t>(-1);
        int characterWidth = -1;
        if (length == 0)
            length = 1; // a NUL byte
        else if (length <= text.size())
            characterWidth = ::wcwidth(character);
        else
            length = 1; // no UTF-8 here, or cut short
        if (characterWidth < 0) {
            // A control byte would move the cursor, a foreign byte shows as anything: "?" instead.
            state = std::mbstate_t{};
            if (width + 1 > columns)
                break;
            fitted += '?';
            width += 1;
        } else {
            if (width + static_cast<std::size_t>(characterWidth) > columns)
                break;
            fitted.append(text.data(), length);
            width += static_cast<std::size_t>(characterWidth);
        }
        text.remove_prefix(length);
    }
    if (utf8)
        ::uselocale(before);
    return fitted;
}

int TerminalColumns(int fd) noexcept
{
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

ConsoleView::ConsoleView(Settings settings) : settings_(std::move(settings))
{
    if (!settings_.columns) {
        const int fd = settings_.errFd;
        settings_.columns = [fd] { return TerminalColumns(fd); };
    }
}

void ConsoleView::AddResultListItem(std::string_view text)
{
    if (!settings_.verbose)
        return;
    if (settings_.outShares)
        Erase();
    std::string line = settings_.escapeListing ? EscapeControls(text) : std::string(text);
    // How the file was read, where it was not as most are.
    if (reading_ == Reading::Utf8)
        line += " (UTF-8)";
    else if (reading_ == Reading::CodePageDeclaredUtf8)
        line += " (says charset=utf-8 but is no UTF-8: read as " + settings_.codePage + ")";
    reading_ = Reading::CodePage;
    line += '\n';
    WriteAll(settings_.outFd, line, kStandardOutput);
}

void ConsoleView::ShowFileReading(Reading reading)
{
    reading_ = reading;
}

void ConsoleView::AddSkippedItem(std::string_view, std::string_view reason)
{
    Erase();
    WriteAll(settings_.errFd, "fanjian-convert: " + EscapeControls(reason) + "\n", kStandardError);
}

void ConsoleView::ShowStatus(std::string_view text)
{
    status_ = text;
}

void ConsoleView::ShowFileName(std::string_view text)
{
    if (settings_.progress)
        fileName_ = EscapeControls(text);
}

void ConsoleView::ShowFileCount(std::string_view text)
{
    fileCount_ = text;
    // A new file: the next pass looks at the clock, so that the first file shows at once.
    pacer_.ReadSoon();
}

void ConsoleView::CheckClock()
{
    const Clock::time_point now = settings_.now();
    pacer_.Read(now);

    if (fileCount_.empty() || (drawnOnce_ && now - lastDraw_ < kRedrawInterval))
        return;
    Draw();
    lastDraw_ = now;
    drawnOnce_ = true;
}

void ConsoleView::Draw()
{
    std::string text = fileCount_;
    if (!characterCount_.empty()) {
        text += "  ";
        text += characterCount_;
    }
    if (!fileName_.empty()) {
        text += "  ";
        text += fileName_;
    }
    // The last column stays free: a line that fills it makes some terminals move to the next row.
    const int columns = settings_.columns();
    const std::size_t room = columns > 1 ? static_cast<std::size_t>(columns - 1) : 79;
    std::size_t width = 0;
    std::string line(1, '\r');
    line += FitToColumns(text, room, width);
    if (width < shownColumns_)
        line.append(shownColumns_ - width, ' ');
    WriteAll(settings_.errFd, line, kStandardError);
    shownColumns_ = std::max(width, shownColumns_);
    ++redraws_;
}

void ConsoleView::Erase()
{
    if (shownColumns_ == 0)
        return;
    // The whole row: the terminal may have echoed something after the line, such as the ^C of
    // an interrupt.
    const int columns = settings_.columns();
    std::string blank = "\r";
    blank.append(std::max(shownColumns_, columns > 1 ? static_cast<std::size_t>(columns - 1) : 0), ' ');
    blank += '\r';
    shownColumns_ = 0;
    // The line comes back at the next redraw, which keeps its pace.
    WriteAll(settings_.errFd, blank, kStandardError);
}

void ConsoleView::Finish() noexcept
{
    try {
        Erase();
    } catch (...) {
        // A stop signal during the erase is still pending for the caller to see.
    }
}

} // namespace fanjian::cli
