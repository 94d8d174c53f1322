#pragma once
// The daemon's side of systemd's notify protocol (Type=notify): start-up
// done, reloading, stopping, and the watchdog's keep-alive. Outside systemd
// (no NOTIFY_SOCKET) every call does nothing.
#include <chrono>

namespace qm {

class ServiceNotifier {
public:
    ServiceNotifier();

    void Ready();
    void Reloading();
    void Stopping();

    // How often the watchdog wants to hear from us (half its timeout), or
    // zero when it does not watch.
    std::chrono::milliseconds WatchdogPingInterval() const { return pingInterval_; }
    void WatchdogPing();

private:
    std::chrono::milliseconds pingInterval_{0};
};

}  // namespace qm
