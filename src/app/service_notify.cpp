#include "app/service_notify.h"

#include <systemd/sd-daemon.h>

#include <cstdint>
#include <ctime>
#include <string>

namespace qm {

ServiceNotifier::ServiceNotifier() {
    std::uint64_t timeoutUsec = 0;
    if (sd_watchdog_enabled(0, &timeoutUsec) > 0)
        pingInterval_ = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::microseconds(timeoutUsec / 2));
}

void ServiceNotifier::Ready() { sd_notify(0, "READY=1"); }

void ServiceNotifier::Reloading() {
    // The monotonic time lets systemd tell this reload from an earlier one.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto usec = static_cast<std::uint64_t>(now.tv_sec) * 1000000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
    sd_notify(0, ("RELOADING=1\nMONOTONIC_USEC=" + std::to_string(usec)).c_str());
}

void ServiceNotifier::Stopping() { sd_notify(0, "STOPPING=1"); }

void ServiceNotifier::WatchdogPing() { sd_notify(0, "WATCHDOG=1"); }

}  // namespace qm
