#include "irc_test_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace qm::test {

using Clock = std::chrono::steady_clock;

namespace {

// Where the command starts: after ":prefix " when there is one.
std::size_t CommandStart(const std::string& line) {
    if (line.empty() || line[0] != ':') return 0;
    const auto space = line.find(' ');
    return space == std::string::npos ? line.size() : space + 1;
}

// The n-th space-separated word after the command (0 = first parameter).
std::string Param(const std::string& line, int n) {
    std::size_t at = line.find(' ', CommandStart(line));
    for (; at != std::string::npos; --n) {
        const std::size_t begin = at + 1;
        at = line.find(' ', begin);
        if (n == 0) return line.substr(begin, at == std::string::npos ? std::string::npos : at - begin);
    }
    return {};
}

}  // namespace

IrcTestClient::IrcTestClient(unsigned short port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        ADD_FAILURE() << "IRC client cannot connect to 127.0.0.1:" << port;
        closed_ = true;
    }
}

IrcTestClient::~IrcTestClient() { Close(); }

void IrcTestClient::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::string IrcTestClient::Command(const std::string& line) {
    const std::size_t start = CommandStart(line);
    const std::size_t end = line.find(' ', start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void IrcTestClient::Send(const std::string& line) { SendRaw(line + "\r\n"); }

void IrcTestClient::SendRaw(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = fd_ < 0 ? -1 : ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ADD_FAILURE() << nick_ << ": cannot send " << bytes.substr(sent, 80);
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

IrcTestClient::Got IrcTestClient::Next(Clock::time_point deadline, std::string& line) {
    for (;;) {
        const std::size_t end = buffer_.find("\r\n");
        if (end != std::string::npos) {
            line = buffer_.substr(0, end);
            buffer_.erase(0, end + 2);
            if (Command(line) == "PING") {
                // "PING :irc.test" is answered "PONG :irc.test".
                const std::size_t params = CommandStart(line) + 4;
                Send("PONG" + line.substr(params));
                ++pings_;
                continue;
            }
            return Got::kLine;
        }
        if (closed_ || fd_ < 0) return Got::kClosed;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return Got::kTimeout;
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return Got::kTimeout;
        char chunk[4096];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        // A reset (the server closed with our data unread) is a close too.
        if (n <= 0) {
            closed_ = true;
            continue;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

std::string IrcTestClient::Describe() const {
    std::string text = "\nread instead (" + std::to_string(skipped_.size()) + " lines):";
    for (const auto& l : skipped_) text += "\n  " + l;
    if (closed_) text += "\n  <connection closed>";
    if (!buffer_.empty()) text += "\n  incomplete: " + buffer_;
    return text;
}

std::optional<std::string> IrcTestClient::ReadLine(std::chrono::milliseconds timeout) {
    std::string line;
    if (Next(Clock::now() + timeout, line) == Got::kLine) return line;
    return std::nullopt;
}

std::optional<std::string> IrcTestClient::WaitFor(const std::string& text, std::chrono::milliseconds timeout) {
    return Wait([&](const std::string& line) { return line.find(text) != std::string::npos; }, timeout,
                "a line containing \"" + text + "\"");
}

std::optional<std::string> IrcTestClient::WaitFor(const Match& match, std::chrono::milliseconds timeout) {
    return Wait(match, timeout, "the line waited for");
}

std::optional<std::string> IrcTestClient::Wait(const Match& match, std::chrono::milliseconds timeout,
                                               const std::string& what) {
    skipped_.clear();
    const auto deadline = Clock::now() + timeout;
    std::string line;
    Got got;
    while ((got = Next(deadline, line)) == Got::kLine) {
        if (match(line)) return line;
        skipped_.push_back(line);
    }
    ADD_FAILURE() << nick_ << ": " << what << " never came"
                  << (got == Got::kClosed ? " (the connection closed)" : "") << Describe();
    return std::nullopt;
}

bool IrcTestClient::ExpectNothing(std::chrono::milliseconds period) {
    const auto deadline = Clock::now() + period;
    std::string line;
    std::vector<std::string> arrived;
    Got got;
    while ((got = Next(deadline, line)) == Got::kLine) arrived.push_back(line);
    if (got == Got::kClosed) arrived.push_back("<connection closed>");
    for (const auto& l : arrived) ADD_FAILURE() << nick_ << " expected nothing, received: " << l;
    return arrived.empty();
}

bool IrcTestClient::WaitForClose(std::chrono::milliseconds timeout) {
    skipped_.clear();
    const auto deadline = Clock::now() + timeout;
    std::string line;
    Got got;
    while ((got = Next(deadline, line)) == Got::kLine) skipped_.push_back(line);
    if (got == Got::kClosed) return true;
    ADD_FAILURE() << nick_ << ": the server did not close the connection" << Describe();
    return false;
}

bool IrcTestClient::Register(const std::string& nick, const std::string& user, const std::string& realName) {
    nick_ = nick;
    Send("NICK " + nick);
    Send("USER " + user + " 0 * :" + realName);
    // 001, then the rest of the burst up to the end of the MOTD.
    bool welcomed = false;
    std::string refusal;
    const auto line = Wait(
        [&](const std::string& l) {
            const std::string command = Command(l);
            if (command == "001") welcomed = true;
            if (command == "433" || command == "432" || command == "ERROR" || (command == "451" && !welcomed))
                refusal = l;
            return !refusal.empty() || (welcomed && (command == "376" || command == "422"));
        },
        kTimeout, "the welcome (001 ... 376) for " + nick);
    if (!line) return false;
    skipped_.push_back(*line);
    if (!refusal.empty()) {
        ADD_FAILURE() << nick << " was not registered: " << refusal;
        return false;
    }
    return true;
}

bool IrcTestClient::Join(const std::string& channel) {
    Send("JOIN " + channel);
    std::string error;
    const auto line = Wait(
        [&](const std::string& l) {
            const std::string command = Command(l);
            if (command.size() == 3 && command[0] == '4') error = l;
            return !error.empty() ||
                   (command == "366" && ::strcasecmp(Param(l, 1).c_str(), channel.c_str()) == 0);
        },
        kTimeout, "the end of NAMES (366) for " + channel);
    if (!line) return false;
    skipped_.push_back(*line);
    if (!error.empty()) {
        ADD_FAILURE() << nick_ << " could not join " << channel << ": " << error;
        return false;
    }
    return true;
}

}  // namespace qm::test
