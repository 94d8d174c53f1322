#pragma once
// quillmootd (or the console, quillmoot, without a display) as a child
// process, with its standard output and error read back by the test.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace qm::test {

using namespace std::chrono_literals;

class Daemon {
public:
    // `environment`: extra "NAME=value" entries for the child.
    explicit Daemon(const std::filesystem::path& dataDir, const std::vector<std::string>& extraArgs = {},
                    const char* program = QM_DAEMON_PATH, const std::vector<std::string>& environment = {}) {
        int out[2], err[2];
        EXPECT_EQ(::pipe(out), 0);
        EXPECT_EQ(::pipe(err), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            ::close(out[0]);
            ::close(err[0]);
            const std::string dir = dataDir.string();
            // Keep the preference store out of the user's home.
            ::setenv("XDG_CONFIG_HOME", (dataDir / "config").c_str(), 1);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            for (const auto& entry : environment) ::putenv(const_cast<char*>(entry.c_str()));
            std::vector<const char*> argv = {program, "--data-dir", dir.c_str()};
            for (const auto& arg : extraArgs) argv.push_back(arg.c_str());
            argv.push_back(nullptr);
            ::execv(program, const_cast<char* const*>(argv.data()));
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Daemon() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }

    // Reads standard output until a line contains `text` or the output ends.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (stdout_.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || !ReadMore(out_, stdout_, MillisUntil(deadline))) return false;
        }
        return true;
    }
    // Reads standard output until `text` has appeared `count` times.
    bool WaitForOutputCount(const std::string& text, int count, std::chrono::milliseconds limit = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        auto seen = [&] {
            int n = 0;
            for (auto at = stdout_.find(text); at != std::string::npos; at = stdout_.find(text, at + 1)) ++n;
            return n;
        };
        while (seen() < count) {
            if (std::chrono::steady_clock::now() > deadline || !ReadMore(out_, stdout_, MillisUntil(deadline))) return false;
        }
        return true;
    }
    void Send(int signal) { ::kill(pid_, signal); }
    int Signal(int number) {
        Send(number);
        return Wait();
    }
    int Wait() {
        while (ReadMore(out_, stdout_)) {
        }
        while (ReadMore(err_, stderr_)) {
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& Stdout() const { return stdout_; }
    const std::string& Stderr() const { return stderr_; }

private:
    static int MillisUntil(std::chrono::steady_clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<long long>(left.count(), 0));
    }
    // Waits at most `timeoutMs` for output; false when none came or it ended.
    static bool ReadMore(int fd, std::string& into, int timeoutMs = 10000) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return false;
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0) return false;
        into.append(chunk, static_cast<std::size_t>(n));
        return true;
    }
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    bool exited_ = false;
    std::string stdout_, stderr_;
};


}  // namespace qm::test
