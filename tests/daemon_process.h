#pragma once
// quillmootd (or the console, quillmoot, without a display) as a child
// process, with its standard output and error read back by the test.
#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"

namespace qm::test {

class Daemon : public ChildProcess {
public:
    // `environment`: extra "NAME=value" entries for the child.
    explicit Daemon(const std::filesystem::path& dataDir, const std::vector<std::string>& extraArgs = {},
                    const char* program = QM_DAEMON_PATH, const std::vector<std::string>& environment = {})
        : ChildProcess(Arguments(program, dataDir, extraArgs), Environment(dataDir, environment)) {}

private:
    static std::vector<std::string> Arguments(const char* program, const std::filesystem::path& dataDir,
                                              const std::vector<std::string>& extraArgs) {
        std::vector<std::string> argv = {program, "--data-dir", dataDir.string()};
        argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
        return argv;
    }
    static std::vector<std::string> Environment(const std::filesystem::path& dataDir,
                                                std::vector<std::string> extra) {
        // Keep the preference store out of the user's home.
        extra.insert(extra.begin(), {"XDG_CONFIG_HOME=" + (dataDir / "config").string(), "QT_QPA_PLATFORM=offscreen"});
        return extra;
    }
};

}  // namespace qm::test
