// quillmootd: the chat server without a window. The log goes to standard
// output, errors for the operator to standard error.
#include <CLI/CLI.hpp>
#include <pthread.h>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <future>
#include <iostream>

#include "host/core_host.h"
#include "storage/settings.h"
#include "storage/text_file.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgramFiles[] = {
    qm::files::kServer,   qm::files::kMessages, qm::files::kHelp,
    qm::files::kHelpChannel, qm::files::kHelpRegister, qm::files::kAnnounce,
    qm::files::kBans,     qm::files::kUsers,    qm::files::kMail,
};

void PrintLine(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// How long the end waits for user.dat, mail.dat and the log to be written.
constexpr auto kCloseLimit = std::chrono::seconds(30);

class ConsoleObserver final : public qm::OperatorObserver {
public:
    void LogLineAdded(const std::string& line) override { PrintLine(line); }
    // The link's log goes to standard output beside the server log, never into it.
    void LinkLogLineAdded(const std::string& line) override { PrintLine("IRC: " + line); }
    // The link log already says what happened.
    void LinkStateChanged(qm::LinkState) override {}
    void OnlineUsersChanged(const qm::OnlineUserChange&) override {}
    void ListeningChanged(bool) override {}
    void BansChanged(const std::vector<std::string>&) override {}
    void OperatorError(const std::string& message) override {
        std::cerr << "quillmootd: " << message << std::endl;
    }
};

// A data directory holding none of the program's files gets the shipped
// defaults; one holding only some is left alone, so that start-up reports
// what is missing instead of quietly replacing it.
bool SeedIfEmpty(const fs::path& dir, const fs::path& defaults) {
    for (const char* name : kProgramFiles)
        if (fs::exists(dir / name)) return false;
    fs::create_directories(dir);
    for (const char* name : kProgramFiles)
        fs::copy_file(defaults / name, dir / name, fs::copy_options::skip_existing);
    return true;
}

// The administrator password is the first line of its file (empty for an
// empty file). It goes straight into the settings and nowhere else.
std::string ReadAdminPass(const std::string& file) {
    const auto lines = qm::ReadLines(file);
    return lines.empty() ? std::string() : lines.front();
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
    std::string dataDir = ".";
    std::string defaultsDir = QM_DEFAULTS_DIR;
    app.add_option("--data-dir", dataDir,
                   "Directory of the settings, text files, user.dat, mail.dat and logs")
        ->capture_default_str();
    app.add_option("--defaults-dir", defaultsDir,
                   "Shipped default files, copied into an empty data directory")
        ->capture_default_str();
    std::string adminPassFile;
    app.add_option("--admin-pass-file", adminPassFile,
                   "File whose first line is the administrator password for /admin (read again on SIGHUP)");
    bool startIrc = false;
    app.add_flag("--irc", startIrc,
                 "Start the IRC link at start-up and keep it up (its values are read from the preference store)");
    app.set_version_flag("--version", std::string("quillmootd ") + QM_VERSION);
    CLI11_PARSE(app, argc, argv);

    std::string adminPass;
    if (!adminPassFile.empty()) {
        try {
            adminPass = ReadAdminPass(adminPassFile);
        } catch (const qm::FileError& e) {
            std::cerr << "quillmootd: " << e.what() << std::endl;
            return 1;
        }
    }

    bool seeded = false;
    try {
        seeded = SeedIfEmpty(dataDir, defaultsDir);
    } catch (const fs::filesystem_error& e) {
        std::cerr << "quillmootd: cannot seed " << dataDir << ": " << e.what() << std::endl;
        return 1;
    }

    qm::CoreHostOptions options;
    options.server.dataDir = dataDir;
    options.adminPass = std::move(adminPass);
    options.startIrc = startIrc;
    if (seeded)
        options.startupNotes.push_back("Data directory " + fs::absolute(dataDir).string() +
                                       " was seeded with the shipped defaults.");
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
        if (adminPassFile.empty()) continue;
        // Read here, off the core's thread; a file that cannot be read leaves
        // the password as it was.
        try {
            core.Post([pass = ReadAdminPass(adminPassFile)](qm::OperatorApi& server) mutable {
                server.SetSetting("AdminPass", std::move(pass));
            });
        } catch (const qm::FileError& e) {
            std::cerr << "quillmootd: " << e.what() << "; the administrator password is unchanged" << std::endl;
        }
    }
    return core.Stop(kCloseLimit) ? 0 : 1;
}
