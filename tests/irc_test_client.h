#pragma once
// A blocking IRC client for tests: one TCP connection to 127.0.0.1, lines
// handed over byte for byte without their CR LF, every read bounded by a
// timeout. It answers the server's PINGs itself wherever it reads, so a
// test never sees them and is never dropped for a missing PONG.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qm::test {

class IrcTestClient {
public:
    using Match = std::function<bool(const std::string& line)>;
    static constexpr std::chrono::milliseconds kTimeout{5000};

    // Connects to 127.0.0.1:port; not being able to is a test failure.
    explicit IrcTestClient(unsigned short port);
    ~IrcTestClient();
    IrcTestClient(const IrcTestClient&) = delete;
    IrcTestClient& operator=(const IrcTestClient&) = delete;

    // NICK and USER; waits for 001 and then for the end of the welcome
    // burst (376 after the MOTD, or 422 without one), so that the next read
    // sees what follows registration. Lines read: Skipped(). A refusal
    // (433 nickname in use, ERROR, closing) or a timeout is a test failure
    // and returns false. ngircd shows the user as "~user" (no ident).
    bool Register(const std::string& nick, const std::string& user = "tester",
                  const std::string& realName = "IRC test client");
    // JOIN; waits for the end of NAMES (366) for the channel. Lines read
    // (the JOIN echo, topic, 353): Skipped(). An error numeric (4xx) or a
    // timeout is a test failure and returns false.
    bool Join(const std::string& channel);

    // Sends `line` with CR LF appended.
    void Send(const std::string& line);
    // Sends exactly these bytes (several lines in one write, or no line end).
    void SendRaw(const std::string& bytes);

    // The next line without its CR LF; nullopt after `timeout` or once the
    // server has closed the connection and every complete line is read.
    // Not a test failure by itself.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = kTimeout);
    // Reads until a line contains `text` (or satisfies `match`) and returns
    // it. Lines before it are dropped and kept in Skipped() until the next
    // call. A timeout or a close first is a test failure (listing what
    // arrived) and returns nullopt.
    std::optional<std::string> WaitFor(const std::string& text, std::chrono::milliseconds timeout = kTimeout);
    std::optional<std::string> WaitFor(const Match& match, std::chrono::milliseconds timeout = kTimeout);
    // Reads for `period`; every line that arrives, and a close, is a test
    // failure. Returns whether nothing arrived. PINGs do not count.
    bool ExpectNothing(std::chrono::milliseconds period);
    // Reads until the server closes the connection; true if it did within
    // `timeout` (lines before: Skipped()). A timeout is a test failure.
    bool WaitForClose(std::chrono::milliseconds timeout = kTimeout);

    // The lines the last Register, Join, WaitFor or WaitForClose read past.
    const std::vector<std::string>& Skipped() const { return skipped_; }
    // Whether the server has closed the connection (seen by a read).
    bool ServerClosed() const { return closed_; }
    int PingsAnswered() const { return pings_; }
    const std::string& Nick() const { return nick_; }
    // Closes our end.
    void Close();

    // The command of a line: "PRIVMSG", "001", ... (after a ":prefix").
    static std::string Command(const std::string& line);

private:
    enum class Got { kLine, kTimeout, kClosed };
    Got Next(std::chrono::steady_clock::time_point deadline, std::string& line);
    std::optional<std::string> Wait(const Match& match, std::chrono::milliseconds timeout, const std::string& what);
    std::string Describe() const;

    int fd_ = -1;
    std::string buffer_;
    bool closed_ = false;
    int pings_ = 0;
    std::string nick_;
    std::vector<std::string> skipped_;
};

}  // namespace qm::test
