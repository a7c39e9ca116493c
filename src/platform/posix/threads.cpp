// Threads with the Windows life cycle over pthreads: created suspended,
// resumed, waited for, and ended from inside with an exit code.
#include "platform/posix/threads.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/posix/handle.h"
#include "platform/windows_api.h"

namespace {

// Deep trees recurse on the worker: never give it less than this.
constexpr size_t kMinimumStack = 8u * 1024u * 1024u;

struct ThreadState {
    LPTHREAD_START_ROUTINE start = nullptr;
    LPVOID param = nullptr;
    size_t stackSize = 0;
    pid_t tid = 0;
    bool created = false;
    bool finished = false;
    DWORD exitCode = STILL_ACTIVE;
    std::mutex mutex;
    std::condition_variable done;
};

struct ThreadHandle : posix::Handle {
    explicit ThreadHandle(std::shared_ptr<ThreadState> s)
        : Handle(Kind::Thread), state(std::move(s)) {}
    std::shared_ptr<ThreadState> state;
};

thread_local std::shared_ptr<ThreadState> currentThread;

// Read by signal handlers, so lock-free.
std::atomic<int> threadsRunning{0};
std::atomic<bool> startFailed{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

pid_t currentTid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

void finish(ThreadState& state, DWORD code) {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.finished) threadsRunning.fetch_sub(1);
    state.exitCode = code;
    state.finished = true;
    state.done.notify_all();
}

void* threadMain(void* raw) {
    auto* owned = static_cast<std::shared_ptr<ThreadState>*>(raw);
    currentThread = std::move(*owned);
    delete owned;
    currentThread->tid = currentTid();
    DWORD code = currentThread->start(currentThread->param);
    finish(*currentThread, code);
    return nullptr;
}

BOOL launch(const std::shared_ptr<ThreadState>& state) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, state->stackSize);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    auto* handOver = new std::shared_ptr<ThreadState>(state);
    pthread_t id;
    // Counted before it runs, so that it never counts below zero.
    threadsRunning.fetch_add(1);
    int rc = pthread_create(&id, &attr, threadMain, handOver);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        threadsRunning.fetch_sub(1);
        startFailed.store(true);
        delete handOver;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    state->created = true;
    return TRUE;
}

ThreadState* threadOf(HANDLE h) {
    posix::Handle* handle = posix::fromHandle(h);
    if (handle == nullptr || handle->kind != posix::Handle::Kind::Thread) return nullptr;
    return static_cast<ThreadHandle*>(handle)->state.get();
}

// The state of the calling thread, made on first use for threads that were
// not started by CreateThread (the main thread).
const std::shared_ptr<ThreadState>& selfState() {
    if (!currentThread) {
        currentThread = std::make_shared<ThreadState>();
        currentThread->tid = currentTid();
        currentThread->created = true;
    }
    return currentThread;
}

posix::Handle pseudoThread(posix::Handle::Kind::Pseudo);
posix::Handle pseudoProcess(posix::Handle::Kind::Pseudo);

}  // namespace

namespace posix {

bool noThreadLeftToNotice() { return startFailed.load() && threadsRunning.load() == 0; }

}  // namespace posix

HANDLE CreateThread(LPVOID, size_t stackSize, LPTHREAD_START_ROUTINE start, LPVOID param,
                    DWORD flags, DWORD* threadId) {
    auto state = std::make_shared<ThreadState>();
    state->start = start;
    state->param = param;
    state->stackSize = stackSize < kMinimumStack ? kMinimumStack : stackSize;
    if (!(flags & CREATE_SUSPENDED) && !launch(state)) return nullptr;
    if (threadId != nullptr) *threadId = 0;
    return new ThreadHandle(state);
}

DWORD ResumeThread(HANDLE thread) {
    ThreadHandle* handle = static_cast<ThreadHandle*>(posix::fromHandle(thread));
    if (threadOf(thread) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    if (handle->state->created) return 0;
    if (!launch(handle->state)) return static_cast<DWORD>(-1);
    return 1;
}

void ExitThread(DWORD exitCode) {
    if (!currentThread || currentThread->start == nullptr) {
        // Not a thread of ours: ending it ends the process.
        std::fflush(nullptr);
        std::exit(static_cast<int>(exitCode));
    }
    finish(*currentThread, exitCode);
    pthread_exit(nullptr);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    ThreadState* state = threadOf(handle);
    if (state == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> lock(state->mutex);
    auto isDone = [state] { return state->finished; };
    if (milliseconds == INFINITE) {
        state->done.wait(lock, isDone);
        return WAIT_OBJECT_0;
    }
    bool done = state->done.wait_for(lock, std::chrono::milliseconds(milliseconds), isDone);
    return done ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    ThreadState* state = threadOf(thread);
    if (state == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(state->mutex);
    *exitCode = state->exitCode;
    return TRUE;
}

HANDLE GetCurrentThread() { return &pseudoThread; }
HANDLE GetCurrentProcess() { return &pseudoProcess; }

BOOL DuplicateHandle(HANDLE, HANDLE source, HANDLE, HANDLE* target, DWORD, BOOL, DWORD) {
    if (source == &pseudoThread) {
        *target = new ThreadHandle(selfState());
        return TRUE;
    }
    ThreadState* state = threadOf(source);
    if (state == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *target = new ThreadHandle(static_cast<ThreadHandle*>(posix::fromHandle(source))->state);
    return TRUE;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
    ThreadState* state = thread == &pseudoThread ? selfState().get() : threadOf(thread);
    if (state == nullptr || state->tid == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Each Windows step below normal is five steps of niceness.
    int nice = priority < 0 ? -priority * 5 : 0;
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(state->tid), nice) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}
