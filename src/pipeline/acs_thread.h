#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace bw {

class TACSOutput;

// The worker thread of one output. Created suspended with its output; each step runs inside
// the critical section, which StartOutput also takes so preparation never overlaps a step.
class TACSThread {
public:
    explicit TACSThread(TACSOutput& owner);
    ~TACSThread();
    TACSThread(const TACSThread&) = delete;
    TACSThread& operator=(const TACSThread&) = delete;

    void Resume();
    bool Suspended() const { return suspended_.load(); }
    void RequestStop() { stop_.store(true); }
    void ClearStop() { stop_.store(false); }
    void SetSuspendWhenIdle(bool suspend) { suspendWhenIdle_.store(suspend); }
    bool SuspendWhenIdle() const { return suspendWhenIdle_.load(); }
    // Makes one last step with abort set when the output is running, then ends the thread
    // and waits for it.
    void Terminate();
    std::recursive_mutex& Section() { return section_; }

private:
    void Execute();
    void RunStep(bool abort);
    void GoIdle();

    TACSOutput& owner_;
    std::recursive_mutex section_;
    std::mutex stateMutex_;
    std::condition_variable wake_;
    std::atomic<bool> suspended_{true};
    // An idle thread that is not suspended would only run empty steps; it sleeps instead until
    // the next start, which looks the same from outside but costs no processor time.
    bool idleWait_ = false;  // under stateMutex_
    bool terminate_ = false; // under stateMutex_
    std::atomic<bool> stop_{false};
    std::atomic<bool> suspendWhenIdle_{true};
    std::thread thread_;
};

} // namespace bw
