#include "pipeline/acs_thread.h"

#include "pipeline/acs_classes.h"

namespace bw {

TACSThread::TACSThread(TACSOutput& owner) : owner_(owner) {
    thread_ = std::thread([this] { Execute(); });
}

TACSThread::~TACSThread() { Terminate(); }

void TACSThread::Resume() {
    {
        std::lock_guard lock(stateMutex_);
        suspended_.store(false);
        idleWait_ = false;
    }
    wake_.notify_all();
}

void TACSThread::Terminate() {
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(stateMutex_);
        terminate_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void TACSThread::GoIdle() {
    if (owner_.Busy()) // restarted from inside an event handler
        return;
    std::lock_guard lock(stateMutex_);
    if (suspendWhenIdle_.load())
        suspended_.store(true);
    else
        idleWait_ = true;
}

void TACSThread::RunStep(bool abort) {
    std::lock_guard section(section_);
    try {
        try {
            if (!owner_.WriteStep(abort)) {
                stop_.store(false);
                owner_.CompleteOutput();
                GoIdle();
            }
        } catch (const EACSException&) {
            throw;
        } catch (const std::exception& e) {
            // Anything else a step throws (out of memory, a library error) ends the run the
            // same way, so the owner's wait always ends.
            throw EACSException(e.what());
        }
    } catch (const EACSException& e) {
        stop_.store(false);
        owner_.HandleThreadException(e);
        GoIdle();
    }
}

void TACSThread::Execute() {
    for (;;) {
        {
            std::unique_lock lock(stateMutex_);
            wake_.wait(lock, [this] { return terminate_ || (!suspended_.load() && !idleWait_); });
            if (terminate_)
                break;
        }
        RunStep(stop_.load());
    }
    // A running output still gets its last (aborting) step, so its file ends cleanly.
    if (owner_.Busy())
        RunStep(true);
}

} // namespace bw
