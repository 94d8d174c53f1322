#include "gui_latency.h"

#include "load_proc.h"

namespace qm::bench {

GuiLatencyProbe::GuiLatencyProbe(QObject& gui, std::chrono::milliseconds interval)
    : gui_(gui), interval_(interval) {}

GuiLatencyProbe::~GuiLatencyProbe() { Stop(); }

void GuiLatencyProbe::Start() { thread_ = std::thread([this] { Run(); }); }

void GuiLatencyProbe::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void GuiLatencyProbe::Run() {
    auto next = std::chrono::steady_clock::now();
    while (!stop_) {
        const std::uint64_t sent = NowNs();
        QMetaObject::invokeMethod(
            &gui_, [this, sent] { delays_ns_.push_back(NowNs() - sent); }, Qt::QueuedConnection);
        // A fixed schedule, but no catching up in a burst after this thread
        // itself was kept from running.
        next = std::max(next + interval_, std::chrono::steady_clock::now());
        std::this_thread::sleep_until(next);
    }
}

}  // namespace qm::bench
