#pragma once
// A program run as a child process for a test: what the test writes goes to
// its standard input, and its standard output and error are read back.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace qm::test {

using namespace std::chrono_literals;

class ChildProcess {
public:
    // `environment`: extra "NAME=value" entries for the child.
    explicit ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {}) {
        int in[2], out[2], err[2];
        EXPECT_EQ(::pipe(in), 0);
        EXPECT_EQ(::pipe(out), 0);
        EXPECT_EQ(::pipe(err), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            ::close(in[1]);
            ::close(out[0]);
            ::close(err[0]);
            for (const auto& entry : environment) ::putenv(const_cast<char*>(entry.c_str()));
            std::vector<const char*> args;
            for (const auto& arg : argv) args.push_back(arg.c_str());
            args.push_back(nullptr);
            ::execv(args[0], const_cast<char* const*>(args.data()));
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        in_ = in[1];
        out_ = out[0];
        err_ = err[0];
    }
    ~ChildProcess() {
        CloseInput();
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Types `bytes` at the child's standard input.
    void Write(std::string_view bytes) {
        EXPECT_EQ(::write(in_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // The child reads the end of its input.
    void CloseInput() {
        if (in_ >= 0) ::close(in_);
        in_ = -1;
    }

    // Reads standard output until a line contains `text` or the output ends.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit = 10s) {
        return WaitForOutputCount(text, 1, limit);
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
    // Reads everything the child writes until it exits; its exit status, or
    // -1 when a signal ended it.
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
    int in_ = -1, out_ = -1, err_ = -1;
    bool exited_ = false;
    std::string stdout_, stderr_;
};

}  // namespace qm::test
