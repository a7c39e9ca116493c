#include "platform/side_thread.h"

#include <chrono>
#include <exception>
#include <thread>

namespace platform {
namespace {

constexpr auto kLookBeforeSleep = std::chrono::microseconds(100);

}  // namespace

template <typename T>
void SideThread::awaitChange(const std::atomic<T>& value, T old) {
    const auto sleepAt = std::chrono::steady_clock::now() + kLookBeforeSleep;
    while (value.load(std::memory_order_acquire) == old) {
        if (std::chrono::steady_clock::now() > sleepAt) {
            std::unique_lock<std::mutex> lock(bellMutex_);
            bell_.wait(lock, [&] { return value.load(std::memory_order_acquire) != old; });
            return;
        }
        std::this_thread::yield();
    }
}

// The lock between the change and the notify: a thread that looked before
// the change is asleep by then, or looks again under the lock and sees it.
void SideThread::ring() {
    { std::lock_guard<std::mutex> lock(bellMutex_); }
    bell_.notify_all();
}

// Never destroyed: a run ended by Cancel or a fatal message exits while the
// thread waits for work.
SideThread* SideThread::get() {
    static SideThread* const started = []() -> SideThread* {
        try {
            return new SideThread;
        } catch (const std::exception&) {
            return nullptr;
        }
    }();
    return started;
}

SideThread::SideThread() { std::thread([this] { serve(); }).detach(); }

void SideThread::offer(Job& job) {
    job.ticket = offers_.load(std::memory_order_relaxed) + 1;
    pending_.store(&job, std::memory_order_release);
    offers_.store(job.ticket, std::memory_order_release);
    ring();
}

bool SideThread::finish(Job& job) {
    Job* expected = &job;
    if (pending_.compare_exchange_strong(expected, nullptr)) return false;
    for (uint32_t last; (last = finished_.load(std::memory_order_acquire)) != job.ticket;)
        awaitChange(finished_, last);
    return true;
}

void SideThread::serve() {
    for (uint32_t seen = 0;;) {
        awaitChange(offers_, seen);
        seen = offers_.load(std::memory_order_acquire);
        Job* job = pending_.exchange(nullptr, std::memory_order_acq_rel);
        if (job == nullptr) continue;
        const uint32_t ticket = job->ticket;
        job->run();
        finished_.store(ticket, std::memory_order_release);
        ring();
    }
}

}  // namespace platform
