#pragma once

#include "cli/Signals.h"
#include "conversion/ClockPacer.h"
#include "conversion/ProgressView.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace fanjian::cli {

// What a folder run shows in a terminal, in place of the window's labels and lists:
// - with `verbose`, each file written (the window's right-hand list), one line each on standard
//   output: as the run gives it, or with its control characters escaped (EscapeControls) where
//   standard output is a terminal;
// - with `progress` (standard error is a terminal), one progress line on standard error, redrawn
//   in place at most every kRedrawInterval: the file count, the characters replaced and the
//   current file, the run's own texts, the file's name escaped;
// - each entry the run leaves out, with its reason, as a message on standard error;
// - the last status text, which the caller prints when the run has ended.
// Every pass over the events looks for a stop signal (StopRequested) first.
class ConsoleView : public ProgressView {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kRedrawInterval{100};

    struct Settings {
        int outFd = 1;
        int errFd = 2;
        bool verbose = false;
        // Standard output is a terminal: the names listed are escaped.
        bool escapeListing = false;
        bool progress = false;
        // Standard output shows in the same terminal: the progress line makes way for its lines.
        bool outShares = false;
        // What files that are no UTF-8 are read as, for the -v listing: "Big5" or "GB2312".
        std::string codePage = "Big5";
        // The terminal's width in columns, read at each redraw; 0 when unknown.
        std::function<int()> columns;
        std::function<Clock::time_point()> now = &Clock::now;
    };

    explicit ConsoleView(Settings settings);
    ~ConsoleView() override = default;

    void ClearSourceList() override {}
    void AddSourceListItem(std::string_view) override {}
    void ClearResultList() override {}
    void AddResultListItem(std::string_view text) override;
    void ShowFileReading(Reading reading) override;
    void ShowStatus(std::string_view text) override;
    void ShowFileName(std::string_view text) override;
    void ShowFileCount(std::string_view text) override;
    void ShowCharacterCount(std::string_view text) override { characterCount_ = text; }
    void AddSkippedItem(std::string_view item, std::string_view reason) override;
    // The pairs before the next look at the clock draw nothing; a stop signal waits for the next
    // pair, a moment later.
    bool SkipsQuietCounts() const override { return true; }
    std::uint64_t TakeQuietCounts(std::uint64_t available) override
    {
        if (!settings_.progress)
            return available;
        const auto quiet = std::min<std::uint64_t>(available, static_cast<std::uint64_t>(pacer_.QuietCalls()));
        pacer_.Skip(static_cast<int>(quiet));
        return quiet;
    }
    void ProcessPendingEvents() override
    {
        StopIfSignalled();
        if (!settings_.progress || !pacer_.Due())
            return;
        CheckClock();
    }

    // Takes the progress line off the terminal; call when the run has returned or thrown, before
    // anything else is printed. The run is over: a terminal that takes no more is let be.
    void Finish() noexcept;

    const std::string& Status() const noexcept { return status_; }
    // How many times the progress line was drawn.
    std::size_t Redraws() const noexcept { return redraws_; }

private:
    Reading reading_ = Reading::CodePage; // of the file whose result comes next
    void CheckClock();
    void Draw();
    void Erase();

    Settings settings_;
    std::string status_;
    std::string fileName_;
    std::string fileCount_;
    // The run keeps this text valid until its next count or until it returns.
    std::string_view characterCount_;

    // The clock is read about every millisecond, as the window does.
    ClockPacer pacer_{std::chrono::milliseconds(1), 4096};
    Clock::time_point lastDraw_{};
    bool drawnOnce_ = false;
    std::size_t shownColumns_ = 0; // columns the line on the terminal takes now
    std::size_t redraws_ = 0;
};

// `text` cut to at most `columns` terminal columns, for a line that must fit one row: UTF-8
// characters take their width (most Chinese characters two columns); control bytes and bytes that
// are no UTF-8 show as "?". Sets `width` to the columns the result takes.
std::string FitToColumns(std::string_view text, std::size_t columns, std::size_t& width);

// The width of the terminal on `fd`, or 0 when it cannot be told.
int TerminalColumns(int fd) noexcept;

} // namespace fanjian::cli
