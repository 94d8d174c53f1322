#include "chat_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <future>

#include "scratch_dir.h"
#include "storage/text_file.h"

namespace qm::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

void RecordingObserver::LogLineAdded(const std::string& line) {
    std::lock_guard lock(mutex_);
    log_.push_back(line);
}

void RecordingObserver::OnlineUsersChanged(const OnlineUserChange& change) {
    std::lock_guard lock(mutex_);
    switch (change.kind) {
    case OnlineUserChange::Kind::kAdded: online_.push_back("+" + change.nick); break;
    case OnlineUserChange::Kind::kRenamed: online_.push_back(change.nick + ">" + change.newNick); break;
    case OnlineUserChange::Kind::kRemoved: online_.push_back("-" + change.nick); break;
    }
}

void RecordingObserver::LinkLogLineAdded(const std::string& line) {
    std::lock_guard lock(mutex_);
    linkLog_.push_back(line);
}

void RecordingObserver::LinkStateChanged(LinkState state) {
    std::lock_guard lock(mutex_);
    linkStates_.push_back(state);
}

std::vector<std::string> RecordingObserver::LinkLog() const {
    std::lock_guard lock(mutex_);
    return linkLog_;
}

std::vector<LinkState> RecordingObserver::LinkStates() const {
    std::lock_guard lock(mutex_);
    return linkStates_;
}

void RecordingObserver::BansChanged(const std::vector<std::string>& bans) {
    std::lock_guard lock(mutex_);
    banLists_.push_back(bans);
}

std::vector<std::vector<std::string>> RecordingObserver::BanLists() const {
    std::lock_guard lock(mutex_);
    return banLists_;
}

std::vector<std::string> RecordingObserver::OnlineChanges() const {
    std::lock_guard lock(mutex_);
    return online_;
}

void RecordingObserver::OperatorError(const std::string& message) {
    std::lock_guard lock(mutex_);
    errors_.push_back(message);
}

void RecordingObserver::Clear() {
    std::lock_guard lock(mutex_);
    log_.clear();
    errors_.clear();
}

std::vector<std::string> RecordingObserver::LogLines() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<std::string> RecordingObserver::Errors() const {
    std::lock_guard lock(mutex_);
    return errors_;
}

bool RecordingObserver::WaitForLog(const std::string& text, std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    do {
        for (const auto& line : LogLines())
            if (line.find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(5ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

DataFiles DefaultDataFiles() {
    return {
        {"qmserv.dat", "0\r\n0\r\nWelcome!\r\nBusy now.\r\n5\r\n"},
        {"messages.dat",
         "***\r\njoined\r\nleft\r\nquit\r\ndisconnected\r\nkilled by\r\nchannel\r\nopped by\r\n"
         "deopped by\r\nkicked by\r\nServOP\r\nChanOP\r\nYou are banned.\r\n"},
        {"help.txt", "Help text.\r\n"},
        {"helpchannel.txt", "Channel help.\r\n"},
        {"helpregister.txt", "Registration help.\r\n"},
        {"announce.txt", "Hello there.\r\n"},
        {"bans.txt", ""},
        {"user.dat", ""},
        {"mail.dat", ""},
    };
}

bool ChatServerFixture::StartServer(const DataFiles& overrides, const std::string& preferences) {
    dataDir_ = MakeScratchDir("chat");
    DataFiles files = DefaultDataFiles();
    for (const auto& [name, text] : overrides) files[name] = text;
    for (const auto& [name, text] : files)
        if (text != "<missing>") WriteFileAtomic(dataDir_ / name, text);
    WriteFileAtomic(dataDir_ / "preferences", preferences);
    return Run();
}

bool ChatServerFixture::RestartServer() {
    StopServer();
    io_.restart();
    return Run();
}

ChatServerOptions ChatServerFixture::TestTimings() {
    ChatServerOptions options;
    options.writeBehindDelay = 50ms;
    options.badPasswordDelay = 300ms;
    options.adminCheckInterval = 0ms;
    options.saveRetryDelay = 50ms;
    options.saveRetryLimit = 200ms;
    options.listenAddresses = {"127.0.0.1"};
    return options;
}

bool ChatServerFixture::Run() {
    ChatServerOptions options = options_;
    options.dataDir = dataDir_;
    options.preferencesFile = dataDir_ / "preferences";
    options.clock = &clock_;
    server_ = std::make_unique<ChatServer>(io_, observer_, LinkForServer(), options);
    ServerCreated(*server_);
    const bool ok = server_->StartUp();
    port_ = server_->ListeningPort();
    thread_ = std::thread([this] {
        auto guard = boost::asio::make_work_guard(io_);
        io_.run();
    });
    started_ = true;
    return ok;
}

void ChatServerFixture::StopServer() {
    if (!started_) return;
    OnServer([](ChatServer& server) { server.Close(); });
    io_.stop();
    thread_.join();
    server_.reset();
    started_ = false;
}

void ChatServerFixture::TearDown() {
    StopServer();
    if (!HasFailure()) fs::remove_all(dataDir_);
}

void ChatServerFixture::OnServer(const std::function<void(ChatServer&)>& f) {
    std::promise<void> done;
    boost::asio::post(io_, [&] {
        f(*server_);
        done.set_value();
    });
    done.get_future().wait();
}

TTcpSrvClient* ChatServerFixture::FindClient(ChatServer& server, const std::string& nick) {
    TTcpSrvClient* found = nullptr;
    server.Clients().ForEachClientDown([&](TTcpSrvClient& c) {
        if (c.Nick() == nick) found = &c;
    });
    return found;
}

void ChatServerFixture::Set(const std::string& nick, const std::function<void(TTcpSrvClient&)>& f) {
    OnServer([&](ChatServer& s) {
        TTcpSrvClient* record = FindClient(s, nick);
        ASSERT_NE(record, nullptr) << nick;
        f(*record);
    });
}

void ChatServerFixture::Connect(const std::vector<std::string>& nicks, const DataFiles& files) {
    ASSERT_TRUE(StartServer(files));
    for (const auto& nick : nicks) {
        users_[nick] = std::make_unique<TestClient>(port_);
        users_[nick]->Login(nick);
    }
    for (const auto& nick : nicks) users_[nick]->Collect();
}

std::string ChatServerFixture::Do(const std::string& nick, const std::string& line) {
    U(nick).Send(line + "\r\n");
    return U(nick).Collect();
}

void ChatServerFixture::LogInThree(const std::string& second, const std::string& secondAddress) {
    ASSERT_TRUE(StartServer());
    alice_ = std::make_unique<TestClient>(port_);
    alice_->Login("alice");
    bob_ = std::make_unique<TestClient>(port_, secondAddress);
    bob_->Login(second);
    carol_ = std::make_unique<TestClient>(port_);
    carol_->Login("carol");
    alice_->ReadUntil("*** carol joined\r\n");
    bob_->ReadUntil("*** carol joined\r\n");
}


unsigned short FreePort() {
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor probe(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    return probe.local_endpoint().port();
}

TestClient::TestClient(unsigned short port, const std::string& localAddress, int receiveBuffer, bool telnet) {
    const bool v6 = localAddress.find(':') != std::string::npos;
    fd_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    int connected = -1;
    if (v6) {
        sockaddr_in6 remote{};
        remote.sin6_family = AF_INET6;
        remote.sin6_port = htons(port);
        ::inet_pton(AF_INET6, localAddress.c_str(), &remote.sin6_addr);
        connected = ::connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
    } else {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, localAddress.c_str(), &local.sin_addr);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
        connected = ::connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
    }
    if (connected != 0) ADD_FAILURE() << "cannot connect to port " << port << " from " << localAddress;
    // Agree to the server's echo and SGA, as a telnet client does.
    if (telnet) Send("\xff\xfd\x01\xff\xfd\x03");
}

TestClient::~TestClient() { CloseSocket(); }

void TestClient::CloseSocket() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void TestClient::Send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            ADD_FAILURE() << "send failed";
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

bool TestClient::Fill(std::size_t bytes, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (buffer_.size() < bytes) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char chunk[4096];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

std::string TestClient::Read(const std::string& expected) {
    Fill(expected.size(), 5s);
    const std::size_t n = std::min(expected.size(), buffer_.size());
    std::string got = buffer_.substr(0, n);
    buffer_.erase(0, n);
    return got;
}

std::string TestClient::ReadUntil(const std::string& marker) {
    std::size_t at;
    while ((at = buffer_.find(marker)) == std::string::npos) {
        if (!Fill(buffer_.size() + 1, 5s)) {
            ADD_FAILURE() << "never received: " << marker << "\nreceived: " << buffer_;
            return std::exchange(buffer_, {});
        }
    }
    std::string got = buffer_.substr(0, at + marker.size());
    buffer_.erase(0, at + marker.size());
    return got;
}

std::string TestClient::ReadToClose() {
    while (Fill(buffer_.size() + 1, 5s)) {
    }
    return std::exchange(buffer_, {});
}

std::string TestClient::ExpectBanner(const std::string& announcement) {
    const std::string expected = kGreeting + "Announcements:\r\n" + announcement + "Nickname: \r\n";
    std::string got = Read(expected);
    EXPECT_EQ(got, expected);
    return got;
}

void TestClient::Login(const std::string& nick) {
    ExpectBanner("Hello there.\r\n");
    Send(nick + "\r\n");
    const std::string expected = nick + "\r\nWelcome!\r\n*** " + nick + " joined\r\n";
    EXPECT_EQ(Read(expected), expected);
}

std::string TestClient::Collect() {
    // An empty line: answered " No text to send." and nothing else.
    static const std::string kAnswer = "*** No text to send.\r\n";
    Send("\r\n");
    std::string got = ReadUntil(kAnswer);
    got.resize(got.size() - kAnswer.size());
    if (got.size() >= 2 && got.compare(got.size() - 2, 2, "\r\n") == 0) got.resize(got.size() - 2);
    return got;
}

}  // namespace qm::test
