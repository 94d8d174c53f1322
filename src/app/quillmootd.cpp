// quillmootd: the chat server without a window. The log goes to standard
// output, errors for the operator to standard error.
#include <CLI/CLI.hpp>
#include <pthread.h>
#include <unistd.h>
#include <csignal>
#include <future>
#include <iostream>

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
    CLI11_PARSE(app, argc, argv);

    qm::CoreHostOptions options;
    try {
        options = qm::PrepareCore(frontEnd);
    } catch (const qm::FrontEndError& e) {
        std::cerr << "quillmootd: " << e.what() << std::endl;
        return 1;
    }
    ConsoleObserver observer;
    qm::CoreHost core(observer, std::move(options));
    std::promise<bool> started;
    core.Start([&](bool ok) { started.set_value(ok); });
    // A step that failed has been reported; nothing is written.
    if (!started.get_future().get()) return 1;

    // The signals wait here, on the main thread, and become operator actions.
    for (;;) {
        int number = 0;
        if (sigwait(&signals, &number) != 0) continue;
        if (number != SIGHUP) break;
        core.ReloadSettings();
        if (frontEnd.adminPassFile.empty()) continue;
        // Read here, off the core's thread; a file that cannot be read leaves
        // the password as it was.
        try {
            core.Post([pass = qm::ReadAdminPass(frontEnd.adminPassFile)](qm::OperatorApi& server) mutable {
                server.SetSetting("AdminPass", std::move(pass));
            });
        } catch (const qm::FrontEndError& e) {
            std::cerr << "quillmootd: " << e.what() << "; the administrator password is unchanged" << std::endl;
        }
    }
    return core.Stop(kCloseLimit) ? 0 : 1;
}
