#pragma once
// A real chat server on a loopback port, run on its own thread, and
// blocking TCP clients that talk to it byte for byte.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/chat_server.h"

namespace qm::test {

// The telnet negotiation every connection starts with.
inline const std::string kGreeting = "\xff\xfb\x01\xff\xfb\x03";
inline const std::string kWontEcho = "\xff\xfc\x01";
inline const std::string kWillEcho = "\xff\xfb\x01";

// A clock shared by the test thread and the server thread.
class TestClock final : public Clock {
public:
    TimePoint Now() const override { return TimePoint(std::chrono::seconds(seconds_.load())); }
    void Advance(std::chrono::seconds d) { seconds_ += d.count(); }

private:
    std::atomic<long long> seconds_{1700000000};
};

class RecordingObserver final : public OperatorObserver {
public:
    void LogLineAdded(const std::string& line) override;
    // Kept as "+nick", "old>new" and "-nick".
    void OnlineUsersChanged(const OnlineUserChange& change) override;
    void ListeningChanged(bool) override {}
    void OperatorError(const std::string& message) override;
    void LinkLogLineAdded(const std::string& line) override;
    void LinkStateChanged(LinkState state) override;
    void BansChanged(const std::vector<std::string>& bans) override;
    std::vector<std::string> LinkLog() const;
    // The ban list of each BansChanged, in order.
    std::vector<std::vector<std::string>> BanLists() const;
    std::vector<LinkState> LinkStates() const;

    void Clear();
    std::vector<std::string> LogLines() const;
    std::vector<std::string> Errors() const;
    std::vector<std::string> OnlineChanges() const;
    // Waits until a log line contains `text`.
    bool WaitForLog(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(5)) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> log_, errors_, online_, linkLog_;
    std::vector<LinkState> linkStates_;
    std::vector<std::vector<std::string>> banLists_;
};

// The files of a data directory; the fixture starts from a fixed set.
using DataFiles = std::map<std::string, std::string>;

// Message texts the tests recognise: Prefix "***", Join "joined", ...
DataFiles DefaultDataFiles();

// A loopback port that was free a moment ago.
unsigned short FreePort();

class TestClient {
public:
    // Connects to 127.0.0.1:port from `localAddress` (any IPv4 loopback
    // address), or to [::1]:port when `localAddress` is "::1". A telnet
    // client agrees to the server's echo at once; a plain one sends nothing.
    TestClient(unsigned short port, const std::string& localAddress = "127.0.0.1", int receiveBuffer = 0,
               bool telnet = true);
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    void Send(const std::string& bytes);
    // Reads exactly as many bytes as `expected` has (or until a timeout)
    // and returns them, for EXPECT_EQ against `expected`.
    std::string Read(const std::string& expected);
    // Reads until `marker` has arrived; returns everything up to and including it.
    std::string ReadUntil(const std::string& marker);
    // Reads until the server closes; returns what came before.
    std::string ReadToClose();
    void CloseSocket();

    // The greeting, the announcements and "Nickname: \r\n".
    std::string ExpectBanner(const std::string& announcement);
    // Chooses a free nickname: echo, welcome and the join notice.
    void Login(const std::string& nick);
    // Sends an empty line, which the server answers with " No text to send.",
    // and returns everything that arrived before that answer (without the
    // echo of the line end): what the server had sent to this client until then.
    std::string Collect();

private:
    bool Fill(std::size_t bytes, std::chrono::milliseconds limit);
    int fd_ = -1;
    std::string buffer_;
};

// A link whose state the test sets and which records what the commands say
// on IRC. Touch it only on the server's thread (OnServer) while the server runs.
class RecordingLink final : public IrcLink {
public:
    bool IsUp() const override { return up; }
    bool ChannelSpy() const override { return spy; }
    std::string IrcChannel() const override { return "#quill"; }
    void SayToLinkedChannel(std::string_view head, std::string_view text) override {
        said.push_back(std::string(head) + std::string(text));
    }
    void SayToIrcUser(std::string_view nick, std::string_view head, std::string_view text) override {
        said.push_back("to " + std::string(nick) + ": " + std::string(head) + std::string(text));
    }

    bool up = false;
    bool spy = false;
    std::vector<std::string> said;
};

class ChatServerFixture : public ::testing::Test {
protected:
    void TearDown() override;

    // Writes the files (over the defaults) and starts the server. Returns
    // whether start-up succeeded.
    bool StartServer(const DataFiles& overrides = {}, const std::string& preferences = "");
    // Stops the server (which writes its files) and starts it again on the same files.
    bool RestartServer();
    void StopServer();

    // Runs `f` on the server's thread and waits for it.
    void OnServer(const std::function<void(ChatServer&)>& f);
    // The record of the connected user `nick`, to be used inside OnServer only.
    static TTcpSrvClient* FindClient(ChatServer& server, const std::string& nick);
    // Changes, or reads, the record of the connected user `nick`.
    void Set(const std::string& nick, const std::function<void(TTcpSrvClient&)>& f);
    template <typename T>
    T Get(const std::string& nick, T TTcpSrvClient::*field) {
        T value{};
        Set(nick, [&](TTcpSrvClient& c) { value = c.*field; });
        return value;
    }
    std::string Read(const std::string& nick, const std::string& (TTcpSrvClient::*getter)() const) {
        std::string value;
        Set(nick, [&](TTcpSrvClient& c) { value = (c.*getter)(); });
        return value;
    }

    // Starts the server and logs the users in, in this order (the last has
    // the highest index), then empties what they have heard.
    void Connect(const std::vector<std::string>& nicks, const DataFiles& files = {});
    TestClient& U(const std::string& nick) { return *users_.at(nick); }
    // Sends a line as `nick` and returns what came back (see TestClient::Collect).
    std::string Do(const std::string& nick, const std::string& line);
    std::map<std::string, std::unique_ptr<TestClient>> users_;

    // Starts the server with alice, `second` (connecting from
    // `secondAddress`) and carol logged in, every join notice read.
    void LogInThree(const std::string& second = "bob", const std::string& secondAddress = "127.0.0.1");
    std::unique_ptr<TestClient> alice_, bob_, carol_;

    // The link the server is given (the recording one, unless a fixture has a real one).
    virtual IrcLink& LinkForServer() { return link_; }
    // The server exists and its loop does not run yet.
    virtual void ServerCreated(ChatServer&) {}

    std::filesystem::path dataDir_;
    TestClock clock_;
    RecordingLink link_;
    RecordingObserver observer_;
    boost::asio::io_context io_;
    std::unique_ptr<ChatServer> server_;
    std::thread thread_;
    unsigned short port_ = 0;
    bool started_ = false;
    // The server's timers, shortened so that no test waits long; a test
    // sets the one it looks at before it starts the server.
    ChatServerOptions options_ = TestTimings();

private:
    static ChatServerOptions TestTimings();
    bool Run();
};



}  // namespace qm::test
