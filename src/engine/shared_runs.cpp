#include "engine/shared_runs.h"

#include "platform/side_thread.h"
#include "report/progress.h"
#include "report/run_state.h"

char* sideThreadBuffer(int which) {
    static char* const buffers = new char[2 * RunState::kTransferBufferSize];
    return buffers + which * RunState::kTransferBufferSize;
}

bool mayShareWithSideThread() {
    return !runState.trialRun && runState.delayOpen <= 0 && runState.delaySource <= 0 &&
           runState.delayTarget <= 0 && platform::SideThread::get() != nullptr;
}

bool workOnBothThreads(std::atomic<bool>& stop, const SharedWork& work) {
    platform::SideThread::Job beside([&stop, &work] {
        work(true, [&stop] { return stop.load(std::memory_order_relaxed); });
    });
    platform::SideThread& side = *platform::SideThread::get();
    side.offer(beside);
    bool cancelled = false;
    work(false, [&] {
        refreshProgressDisplay();
        if (checkCancel()) {
            cancelled = true;
            stop.store(true, std::memory_order_relaxed);
        }
        return cancelled;
    });
    side.finish(beside);
    return !cancelled;
}
