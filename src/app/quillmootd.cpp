// quillmootd: the chat server without a window. The log goes to standard
// output, errors for the operator to standard error.
#include <CLI/CLI.hpp>
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "irc/irc_bridge.h"
#include "irc/irc_link_keeper.h"
#include "irc/irc_link_settings.h"
#include "server/chat_server.h"
#include "storage/preferences.h"
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

class ConsoleObserver final : public qm::OperatorObserver {
public:
    void LogLineAdded(const std::string& line) override { PrintLine(line); }
    void OnlineUsersChanged() override {}
    void ListeningChanged(bool) override {}
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

    asio::io_context io(1);
    ConsoleObserver observer;
    qm::ChatServerOptions options;
    options.dataDir = dataDir;
    // The link's values are the IRC link window's, read from the preference
    // store; its log goes to standard output beside the server log, never into it.
    qm::IrcBridge bridge(io);
    bridge.Configure(qm::ReadIrcLinkSettings(qm::PreferenceStore(options.preferencesFile)));
    bridge.onLinkLog = [](const std::string& line) { PrintLine("IRC: " + line); };
    qm::ChatServer server(io, observer, bridge, options);
    bridge.AttachChat(server.BridgeSide());
    qm::IrcLinkKeeper keeper(io, bridge);
    server.SetSetting("AdminPass", std::move(adminPass));
    // Signals are caught from here on, so that one arriving during start-up
    // is handled once the loop runs instead of killing the process.
    asio::signal_set signals(io, SIGINT, SIGTERM, SIGHUP);
    for (const auto& line : server.log().Lines()) observer.LogLineAdded(line);
    if (seeded) server.Log("Data directory " + fs::absolute(dataDir).string() + " was seeded with the shipped defaults.");
    if (!server.StartUp()) return 1;
    // Without --irc the link stays down.
    if (startIrc) keeper.Begin();

    int status = 0;
    std::function<void(std::error_code, int)> onSignal = [&](std::error_code ec, int number) {
        if (ec) return;
        if (number == SIGHUP) {
            server.ReloadSettings();
            bridge.Configure(qm::ReadIrcLinkSettings(qm::PreferenceStore(options.preferencesFile)));
            keeper.SettingsChanged();
            if (!adminPassFile.empty()) {
                // A file that cannot be read leaves the password as it was.
                try {
                    server.SetSetting("AdminPass", ReadAdminPass(adminPassFile));
                } catch (const qm::FileError& e) {
                    std::cerr << "quillmootd: " << e.what() << "; the administrator password is unchanged"
                              << std::endl;
                }
            }
            signals.async_wait(onSignal);
            return;
        }
        if (!server.Close()) status = 1;
        io.stop();
    };
    signals.async_wait(onSignal);
    io.run();
    return status;
}
