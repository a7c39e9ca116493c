// A second thread for work that two threads can share: the caller offers a
// job, both take parts of it, and the caller waits for the side thread to be
// done before it uses the results. Kept for the whole process; handing work
// over costs little while the thread is still looking for more, which it
// does for a while after each job before it sleeps: waking a sleeping
// processor takes tens of microseconds on a virtual machine.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace platform {

class SideThread {
public:
    struct Job {
        explicit Job(std::function<void()> work) : run(std::move(work)) {}
        std::function<void()> run;
        uint32_t ticket = 0;
    };

    // The process's side thread, started at the first call; null when none
    // could start. Only one thread at a time may offer it work.
    static SideThread* get();

    // `job` must live until finish returns.
    void offer(Job& job);
    // Returns once the side thread is done with `job`, at once when it never
    // took it (it never will then). True when the side thread ran it.
    bool finish(Job& job);

private:
    SideThread();
    void serve();
    // Waits until `value` no longer holds `old`: looking for a while, then
    // asleep until the other thread rings.
    template <typename T>
    void awaitChange(const std::atomic<T>& value, T old);
    void ring();

    std::atomic<uint32_t> offers_{0};
    std::atomic<Job*> pending_{nullptr};
    // The ticket of the job last run. Kept here, not in the job, which its
    // owner may destroy as soon as it sees it done.
    std::atomic<uint32_t> finished_{0};
    // The sleep is on a condition variable, not on the atomics themselves:
    // where the standard library has no wait of the system's own (MinGW's),
    // an atomic's wait can miss a notify that comes between its look and its
    // sleep, and never wake.
    std::mutex bellMutex_;
    std::condition_variable bell_;
};

}  // namespace platform
