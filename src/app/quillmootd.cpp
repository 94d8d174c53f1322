// quillmootd: the chat server without a window. The log goes to standard
// output, errors for the operator to standard error.
#include <CLI/CLI.hpp>
#include <pthread.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <future>
#include <iostream>
#include <memory>

#include "app/service_notify.h"
#include "app/stdout_pump.h"
#include "host/core_host.h"
#include "host/front_end_options.h"

namespace {

// How long the end waits for user.dat, mail.dat and the log to be written.
constexpr auto kCloseLimit = std::chrono::seconds(30);

class ConsoleObserver final : public qm::OperatorObserver {
public:
    void LogLineAdded(const std::string& line) override { out_.Print(line); }
    // The link's log goes to standard output beside the server log, never into it.
    void LinkLogLineAdded(const std::string& line) override { out_.Print("IRC: " + line); }
    // The link log already says what happened.
    void LinkStateChanged(qm::LinkState) override {}
    void OnlineUsersChanged(const qm::OnlineUserChange&) override {}
    void ListeningChanged(bool) override {}
    void BansChanged(const std::vector<std::string>&) override {}
    void OperatorError(const std::string& message) override {
        std::cerr << "quillmootd: " << message << std::endl;
    }

private:
    qm::StdoutPump out_{STDOUT_FILENO};
};

// Feeds systemd's watchdog only while the event loop is alive: each ping
// also posts a mark to the loop, and the next ping is sent only once the
// loop has set it. A loop that stalls stops the pings, and systemd restarts
// the service.
class LoopWatch {
public:
    LoopWatch(qm::CoreHost& core, qm::ServiceNotifier& service) : core_(core), service_(service) {}
    void Check() {
        if (answered_->load() != asked_) return;
        service_.WatchdogPing();
        core_.Post([answered = answered_, mark = ++asked_](qm::OperatorApi&) { answered->store(mark); });
    }

private:
    qm::CoreHost& core_;
    qm::ServiceNotifier& service_;
    std::shared_ptr<std::atomic<std::uint64_t>> answered_ = std::make_shared<std::atomic<std::uint64_t>>(0);
    std::uint64_t asked_ = 0;
};

// The next of the blocked `signals`; 0 when `limit` (if not zero) passed first.
int WaitForSignal(const sigset_t& signals, std::chrono::milliseconds limit) {
    for (;;) {
        if (limit.count() == 0) {
            int number = 0;
            if (sigwait(&signals, &number) == 0) return number;
            continue;
        }
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit);
        const timespec wait{static_cast<time_t>(seconds.count()),
                            static_cast<long>(std::chrono::nanoseconds(limit - seconds).count())};
        const int number = sigtimedwait(&signals, nullptr, &wait);
        if (number > 0) return number;
        if (errno == EAGAIN) return 0;
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Every thread started from here on inherits these blocked; they are
    // taken with sigwait below, so one that arrives during start-up waits
    // for its turn instead of killing the process.
    sigset_t signals;
    sigemptyset(&signals);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, number);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    CLI::App app{"Quillmoot chat server daemon"};
    qm::FrontEndOptions frontEnd;
    qm::AddFrontEndOptions(app, frontEnd, "quillmootd");
    if (const auto status = qm::ParseCommandLine(app, argc, argv, "quillmootd")) return *status;

    qm::CoreHostOptions options;
    try {
        options = qm::PrepareCore(frontEnd);
    } catch (const qm::FrontEndError& e) {
        std::cerr << "quillmootd: " << e.what() << std::endl;
        return qm::kExitFailure;
    }
    ConsoleObserver observer;
    qm::CoreHost core(observer, std::move(options));
    std::promise<bool> started;
    core.Start([&](bool ok) { started.set_value(ok); });
    // A step that failed has been reported; nothing is written.
    if (!started.get_future().get()) return qm::kExitFailure;

    qm::ServiceNotifier service;
    service.Ready();
    LoopWatch watch(core, service);
    // The signals wait here, on the main thread, and become operator actions.
    for (;;) {
        const int number = WaitForSignal(signals, service.WatchdogPingInterval());
        if (number == 0) {
            watch.Check();
            continue;
        }
        if (number != SIGHUP) break;
        service.Reloading();
        core.ReloadSettings();
        if (!frontEnd.adminPassFile.empty()) {
            // Read here, off the core's thread; a file that cannot be read
            // leaves the password as it was.
            try {
                core.Post([pass = qm::ReadAdminPass(frontEnd.adminPassFile)](qm::OperatorApi& server) mutable {
                    server.SetSetting("AdminPass", std::move(pass));
                });
            } catch (const qm::FrontEndError& e) {
                std::cerr << "quillmootd: " << e.what() << "; the administrator password is unchanged" << std::endl;
            }
        }
        // Ready again once the loop has done what was posted before.
        auto reloaded = std::make_shared<std::promise<void>>();
        core.Post([reloaded](qm::OperatorApi&) { reloaded->set_value(); });
        reloaded->get_future().wait_for(kCloseLimit);
        service.Ready();
    }
    service.Stopping();
    return core.Stop(kCloseLimit) ? 0 : qm::kExitFailure;
}
