// Line intake and the command interpreter against whatever users type: a
// chat server with three connected clients, driven line by line without a
// listening socket. Each input line starts with one byte that says which
// client sends it, whether a minute passes first and whether the IRC link
// goes up or down first; the rest is the line.
// The clients' output goes into socket pairs on this machine, read and
// dropped, so the server's output path runs as it does for a real peer.
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "access/telnet_ways.h"
#include "chat/client_events.h"
#include "scratch_file.h"
#include "server/chat_server.h"
#include "storage/settings.h"

namespace qm {
namespace {

class SilentObserver final : public OperatorObserver {
public:
    void LogLineAdded(const std::string&) override {}
    void OnlineUsersChanged(const OnlineUserChange&) override {}
    void ListeningChanged(bool) override {}
    void OperatorError(const std::string&) override {}
    void LinkLogLineAdded(const std::string&) override {}
    void LinkStateChanged(LinkState) override {}
    void BansChanged(const std::vector<std::string>&) override {}
};

// An IRC link that carries the chat side while it is up, so that the
// bridged channel's paths run too; what it is told is dropped.
class SilentLink final : public IrcLink {
public:
    bool up = true;
    bool IsUp() const override { return up; }
    bool ChannelSpy() const override { return false; }
    std::string IrcChannel() const override { return "#quill"; }
    void SayToLinkedChannel(std::string_view, std::string_view) override {}
    void SayToIrcUser(std::string_view, std::string_view, std::string_view) override {}
};

// The shipped message texts and help files, read once: a server is made for
// every input and starts from them.
const Settings& ShippedSettings() {
    static const Settings settings = [] {
        Settings s;
        const std::filesystem::path dir = QM_SOURCE_DIR "/data";
        LoadAnnouncement(dir, s);
        LoadHelpTexts(dir, s);
        LoadMessages(dir, s);
        LoadServerSettings(dir, s);
        // Flood protection is released by the server's timer, which does not
        // run here; with it on, every client would fall silent after a few lines.
        s.FloodProt = false;
        return s;
    }();
    return settings;
}

// What the listening server does for accepted clients, for clients made
// here: lines go to the chat server's transport events, and a closed
// connection is announced and leaves the list.
class Session final : private ClientEvents {
public:
    static constexpr std::size_t kClients = 3;

    Session() : server_(io_, observer_, link_, Options()) {
        server_.state().settings = ShippedSettings();
        for (std::size_t i = 0; i < kClients; ++i) Connect(i);
    }

    ~Session() override {
        for (const int fd : peers_) close(fd);
    }

    // One line from client `which`, then one round of the loop. A client
    // whose connection has closed (/quit, /kill) connects again first.
    void Line(std::size_t which, std::string line) {
        which %= kClients;
        if (closed_[which]) {
            close(peers_[which]);
            Connect(which);
        }
        auto& client = *clients_[which];
        // A paused connection holds its lines back; a closed one sends none.
        if (client.Connected() && !client.Paused() && !client.CloseRequested())
            OnClientLine(client, std::move(line));
        Round();
    }

    void PassMinute() { clock_.Advance(std::chrono::minutes(1)); }
    void ToggleLink() { link_.up = !link_.up; }

private:
    ChatServerOptions Options() {
        ChatServerOptions options;
        options.dataDir = fuzz::ScratchDir();
        options.preferencesFile = fuzz::ScratchDir() / "preferences.ini";
        options.badPasswordDelay = std::chrono::milliseconds(0);
        options.clock = &clock_;
        return options;
    }

    void Connect(std::size_t i) {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds) != 0) std::abort();
        boost::asio::ip::tcp::socket socket(io_);
        socket.assign(boost::asio::ip::tcp::v4(), fds[0]);
        peers_[i] = fds[1];
        auto client = std::make_shared<TTcpSrvClient>(io_, TelnetWay().Open(scheduler_, std::move(socket)),
                                                      static_cast<ClientEvents&>(*this),
                                                      "127.0.0." + std::to_string(i + 1),
                                                      static_cast<unsigned short>(4000 + i));
        clients_[i] = client;
        closed_[i] = false;
        server_.Clients().Add(client);
        static_cast<TransportEvents&>(server_).OnClientConnect(*client);
        Round();
    }

    // Runs what is ready (writes, password results, a held line's release)
    // and reads what the clients were sent, as a peer that keeps up.
    void Round() {
        io_.poll();
        io_.restart();
        char buffer[16384];
        for (const int fd : peers_)
            while (read(fd, buffer, sizeof buffer) > 0) {
            }
    }

    void OnClientLine(TTcpSrvClient& client, std::string line) override {
        auto& events = static_cast<TransportEvents&>(server_);
        try {
            events.OnDataAvailable(client, std::move(line), true);
        } catch (const std::exception& e) {
            events.OnClientException(client, e);
            client.Close();
        }
    }

    void OnClientClosed(TTcpSrvClient& client, std::string partial) override {
        auto self = client.Self();
        auto& events = static_cast<TransportEvents&>(server_);
        if (!partial.empty()) events.OnDataAvailable(client, std::move(partial), false);
        events.OnClientDisconnect(client);
        server_.Clients().Remove(client);
        for (std::size_t i = 0; i < kClients; ++i)
            if (clients_[i].get() == &client) closed_[i] = true;
    }

    void OnClientOverflow(TTcpSrvClient& client) override {
        static_cast<TransportEvents&>(server_).OnClientOverflow(client);
    }

    boost::asio::io_context io_;
    ManualClock clock_{TimePoint(std::chrono::hours(24 * 365 * 50))};
    SilentObserver observer_;
    SilentLink link_;
    OutputScheduler scheduler_{io_};
    ChatServer server_;
    std::array<std::shared_ptr<TTcpSrvClient>, kClients> clients_;
    std::array<int, kClients> peers_{-1, -1, -1};
    std::array<bool, kClients> closed_{};
};

}  // namespace
}  // namespace qm

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qm::Session session;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    while (!input.empty()) {
        const std::size_t end = input.find('\n');
        std::string_view line = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view{} : input.substr(end + 1);
        if (line.empty()) continue;
        const auto head = static_cast<unsigned char>(line.front());
        line.remove_prefix(1);
        if (head & 0x80) session.PassMinute();
        if (head & 0x40) session.ToggleLink();
        session.Line(head % qm::Session::kClients, std::string(line));
    }
    return 0;
}
