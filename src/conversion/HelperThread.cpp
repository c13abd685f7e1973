#include "conversion/HelperThread.h"

#include <chrono>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace fanjian {

namespace {

// How long a side spins for the other before it sleeps.
constexpr std::chrono::microseconds kSpinFor{1000};

// Spins until `done` answers true or kSpinFor has passed; true when it answered true.
template <typename Done>
bool SpinUntil(const Done& done)
{
    const auto until = std::chrono::steady_clock::now() + kSpinFor;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (done())
                return true;
#if defined(__SSE2__)
            _mm_pause();
#else
            std::this_thread::yield();
#endif
        }
        if (std::chrono::steady_clock::now() > until)
            return done();
    }
}

} // namespace

HelperThread::HelperThread() : thread_([this] { Serve(); })
{
}

HelperThread::~HelperThread()
{
    Wait();
    stopping_ = true;
    {
        const std::lock_guard lock(mutex_);
        jobCame_.notify_one();
    }
    thread_.join();
}

void HelperThread::Start(std::function<void()> job)
{
    job_ = std::move(job);
    running_ = true;
    // Either the helper sees the job before it sleeps, or this sees that it sleeps.
    if (helperSleeps_) {
        const std::lock_guard lock(mutex_);
        jobCame_.notify_one();
    }
}

void HelperThread::Wait() noexcept
{
    if (SpinUntil([this] { return !running_; }))
        return;
    std::unique_lock lock(mutex_);
    ownerSleeps_ = true;
    jobDone_.wait(lock, [this] { return !running_; });
    ownerSleeps_ = false;
}

void HelperThread::Serve()
{
    for (;;) {
        if (!SpinUntil([this] { return running_ || stopping_; })) {
            std::unique_lock lock(mutex_);
            helperSleeps_ = true;
            jobCame_.wait(lock, [this] { return running_ || stopping_; });
            helperSleeps_ = false;
        }
        if (!running_)
            return; // stopping, with no job left
        job_();
        running_ = false;
        if (ownerSleeps_) {
            const std::lock_guard lock(mutex_);
            jobDone_.notify_one();
        }
    }
}

} // namespace fanjian
