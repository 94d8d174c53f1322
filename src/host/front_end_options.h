#pragma once
// What the two programs (quillmootd and the console quillmoot) share before
// the core starts: the command-line options, the administrator password file,
// and the shipped defaults copied into an empty data directory.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/core_host.h"

namespace CLI {
class App;
}

namespace qm {

// A step before start-up failed; what() says which, for the program to print.
class FrontEndError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct FrontEndOptions {
    FrontEndOptions();
    std::string dataDir = ".";
    std::string defaultsDir;  // data/ of the source tree
    std::string adminPassFile;
    std::vector<std::string> listenAddresses;  // empty: every interface
    bool startIrc = false;
};

// Adds --data-dir, --defaults-dir, --admin-pass-file, --listen, --irc and
// --version ("<program> <version>") to `app`, filling `options`.
void AddFrontEndOptions(CLI::App& app, FrontEndOptions& options, const std::string& program);

// Exit statuses, as Linux daemons have them: 0 success, 1 a start-up or
// save failure, 2 a usage error.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Parses the command line into `app`. Returns nothing when the program is to
// go on, or the status to exit with: 0 after --help or --version (printed),
// kExitUsage after a usage error, reported on standard error in one line
// with a hint to --help.
std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv, const std::string& program);

// Reads the administrator password and seeds an empty data directory; the
// core's options then carry both, with a start-up note when it was seeded.
// Throws FrontEndError.
CoreHostOptions PrepareCore(const FrontEndOptions& options);

// The administrator password is the first line of its file (empty for an
// empty file). Throws FrontEndError when the file cannot be read.
std::string ReadAdminPass(const std::string& file);

// Copies the shipped defaults into `dir` when it holds none of the program's
// files; one holding only some is left alone, so that start-up reports what
// is missing instead of quietly replacing it. Returns whether it copied.
// Throws FrontEndError.
bool SeedIfEmpty(const std::string& dir, const std::string& defaults);

}  // namespace qm
