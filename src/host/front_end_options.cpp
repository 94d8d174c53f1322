#include "host/front_end_options.h"

#include <CLI/CLI.hpp>
#include <boost/asio/ip/address.hpp>
#include <filesystem>
#include <iostream>

#include "storage/settings.h"
#include "storage/text_file.h"

namespace fs = std::filesystem;

namespace qm {

namespace {

constexpr const char* kProgramFiles[] = {
    files::kServer,       files::kMessages, files::kHelp, files::kHelpChannel, files::kHelpRegister,
    files::kAnnounce,     files::kBans,     files::kUsers, files::kMail,
};

}  // namespace

FrontEndOptions::FrontEndOptions() : defaultsDir(QM_DEFAULTS_DIR) {}

void AddFrontEndOptions(CLI::App& app, FrontEndOptions& options, const std::string& program) {
    app.add_option("--data-dir", options.dataDir,
                   "Directory of the settings, text files, user.dat, mail.dat and logs")
        ->capture_default_str();
    app.add_option("--defaults-dir", options.defaultsDir,
                   "Shipped default files, copied into an empty data directory")
        ->capture_default_str();
    app.add_option("--admin-pass-file", options.adminPassFile,
                   "File whose first line is the administrator password (for /admin, and the console's lock)");
    app.add_option("--listen", options.listenAddresses,
                   "Listen on this address only (IPv4 or IPv6; repeat for more). Default: every interface, "
                   "IPv6 and IPv4")
        ->allow_extra_args(false)
        ->check(
            [](const std::string& text) {
                boost::system::error_code ec;
                boost::asio::ip::make_address(text, ec);
                return ec ? "not an IP address: " + text : std::string();
            },
            "IP address");
    app.add_flag("--irc", options.startIrc,
                 "Start the IRC link at start-up and keep it up (its values are read from the preference store)");
    app.set_version_flag("--version", program + " " + QM_VERSION);
}

std::string ReadAdminPass(const std::string& file) {
    try {
        const auto lines = ReadLines(file);
        return lines.empty() ? std::string() : lines.front();
    } catch (const FileError& e) {
        throw FrontEndError(e.what());
    }
}

bool SeedIfEmpty(const std::string& dir, const std::string& defaults) {
    try {
        for (const char* name : kProgramFiles)
            if (fs::exists(fs::path(dir) / name)) return false;
        fs::create_directories(dir);
        // Written as the server writes its files, owner-only, whatever mode
        // the shipped copies have.
        for (const char* name : kProgramFiles)
            WriteFileAtomic(fs::path(dir) / name, ReadFileBytes(fs::path(defaults) / name));
        return true;
    } catch (const fs::filesystem_error& e) {
        throw FrontEndError("cannot seed " + dir + ": " + e.what());
    } catch (const FileError& e) {
        throw FrontEndError("cannot seed " + dir + ": " + e.what());
    }
}

std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv, const std::string& program) {
    try {
        app.parse(argc, argv);
        return std::nullopt;
    } catch (const CLI::Success& done) {
        return app.exit(done);
    } catch (const CLI::ParseError& error) {
        std::cerr << program << ": " << error.what() << "\nTry '" << program << " --help' for more information."
                  << std::endl;
        return kExitUsage;
    }
}

CoreHostOptions PrepareCore(const FrontEndOptions& options) {
    CoreHostOptions core;
    // The password goes straight into the settings and nowhere else.
    if (!options.adminPassFile.empty()) core.adminPass = ReadAdminPass(options.adminPassFile);
    if (SeedIfEmpty(options.dataDir, options.defaultsDir))
        core.startupNotes.push_back("Data directory " + fs::absolute(options.dataDir).string() +
                                    " was seeded with the shipped defaults.");
    core.server.dataDir = options.dataDir;
    core.server.listenAddresses = options.listenAddresses;
    core.startIrc = options.startIrc;
    return core;
}

}  // namespace qm
