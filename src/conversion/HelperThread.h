#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace fanjian {

// A thread of its own for one job at a time: the converter hands it the second half of a long
// block while it converts the first. The thread waits for jobs for as long as the object lives.
//
// Jobs come a few hundred microseconds apart and last about as long, so both sides wait for the
// other by spinning for a while before they sleep: waking a sleeping thread costs tens of
// microseconds on a virtual machine, as much as a tenth of the job.
class HelperThread {
public:
    HelperThread();
    ~HelperThread();
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;

    // Starts `job` on the thread; no job is running. The job throws nothing.
    void Start(std::function<void()> job);
    // Returns once the job started last has finished (at once if none runs).
    void Wait() noexcept;

private:
    void Serve();

    std::function<void()> job_;        // written by the owner only while no job runs
    std::atomic<bool> running_{false}; // a job is started and not finished
    std::atomic<bool> stopping_{false};
    std::atomic<bool> helperSleeps_{false};
    std::atomic<bool> ownerSleeps_{false};
    std::mutex mutex_; // for the sleeps
    std::condition_variable jobCame_;
    std::condition_variable jobDone_;
    std::thread thread_;
};

} // namespace fanjian
