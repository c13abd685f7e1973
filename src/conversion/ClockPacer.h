#pragma once

#include <chrono>

namespace fanjian {

// A view's ProcessPendingEvents comes once per replaced character, millions of times a few
// nanoseconds apart, and reading the clock costs more than converting a character. A pacer tells
// a view when to read it: every so many calls, a number kept such that the reads come about every
// `interval`, halved or doubled as the calls come faster or slower.
class ClockPacer {
public:
    using Clock = std::chrono::steady_clock;

    constexpr ClockPacer(std::chrono::microseconds interval, int maxCallsPerRead) noexcept
        : interval_(interval), maxCallsPerRead_(maxCallsPerRead)
    {
    }

    // True when this call is to read the clock (and then report it to Read).
    bool Due() noexcept { return --callsUntilRead_ <= 0; }

    // The clock was read at `now`.
    void Read(Clock::time_point now) noexcept
    {
        const Clock::duration sinceRead = now - lastRead_;
        lastRead_ = now;
        if (sinceRead < interval_ / 2 && callsPerRead_ < maxCallsPerRead_)
            callsPerRead_ *= 2;
        else if (sinceRead > interval_ * 2 && callsPerRead_ > 1)
            callsPerRead_ /= 2;
        callsUntilRead_ = callsPerRead_;
    }

    // How many calls to come would not read the clock, and letting that many go by without them.
    int QuietCalls() const noexcept { return callsUntilRead_ - 1; }
    void Skip(int calls) noexcept { callsUntilRead_ -= calls; }

    // The next call reads the clock: something new is to be shown.
    void ReadSoon() noexcept { callsUntilRead_ = 1; }

    // A new run, starting at `now`.
    void Restart(Clock::time_point now) noexcept
    {
        lastRead_ = now;
        callsPerRead_ = 1;
        callsUntilRead_ = 1;
    }

private:
    std::chrono::microseconds interval_;
    int maxCallsPerRead_;
    int callsPerRead_ = 1;
    int callsUntilRead_ = 1;
    Clock::time_point lastRead_{};
};

} // namespace fanjian
