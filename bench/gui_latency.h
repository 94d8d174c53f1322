#pragma once
// How long the GUI thread takes to handle an event posted to it: a thread of
// its own posts a time-stamped call to an object on the GUI thread every
// interval, and the call notes how long it waited. A GUI thread that is busy
// for 300 ms shows as a run of samples of up to 300 ms.
#include <QObject>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace qm::bench {

class GuiLatencyProbe {
public:
    // The calls go to `gui`, which lives on the GUI thread.
    GuiLatencyProbe(QObject& gui, std::chrono::milliseconds interval);
    ~GuiLatencyProbe();
    GuiLatencyProbe(const GuiLatencyProbe&) = delete;
    GuiLatencyProbe& operator=(const GuiLatencyProbe&) = delete;

    // May be called from any thread.
    void Start();
    // Stops posting and waits for the posting thread; calls already posted
    // still run on the GUI thread, before anything posted after Stop.
    void Stop();

    // Each handled call's wait, in nanoseconds; touched on the GUI thread only.
    std::vector<std::uint64_t>& delays_ns() { return delays_ns_; }

private:
    void Run();

    QObject& gui_;
    const std::chrono::milliseconds interval_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::vector<std::uint64_t> delays_ns_;
};

}  // namespace qm::bench
