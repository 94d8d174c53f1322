#include "irc_bridge_fixture.h"

#include <thread>

namespace qm::test {

using namespace std::chrono_literals;

void IrcBridgeFixture::SetUp() {
    QM_REQUIRE_NGIRCD();
    irc_ = std::make_unique<NgircdServer>(ircOptions_);
    ASSERT_TRUE(irc_->Start()) << irc_->Log();
    settings_.Server = "127.0.0.1";
    settings_.Port = std::to_string(irc_->Port());
    settings_.Channel = "#quill";
    // Quicker than the default pacing, so that tests with many lines stay short;
    // the pacing test sets the default back.
    settings_.SendInterval = std::chrono::milliseconds(200);
}

void IrcBridgeFixture::TearDown() {
    StopServer();
    linkKeeper_.reset();
    bridge_.reset();
    ChatServerFixture::TearDown();
}

IrcLink& IrcBridgeFixture::LinkForServer() {
    // The keeper holds the bridge: it goes first.
    linkKeeper_.reset();
    bridge_ = std::make_unique<IrcBridge>(io_);
    bridge_->Configure(settings_);
    bridge_->SetTimings(timings_);
    bridge_->onLinkLog = [this](const std::string& line) {
        std::lock_guard lock(mutex_);
        linkLog_.push_back(line);
    };
    if (keeper_) linkKeeper_ = std::make_unique<IrcLinkKeeper>(io_, *bridge_, keeperTimings_);
    return *bridge_;
}

void IrcBridgeFixture::ServerCreated(ChatServer& server) { bridge_->AttachChat(server.BridgeSide()); }

void IrcBridgeFixture::Link(const std::function<void(IrcBridge&)>& f) {
    OnServer([&](ChatServer&) { f(*bridge_); });
}

TState IrcBridgeFixture::LinkState() {
    TState state = csDisconnected;
    Link([&](IrcBridge& b) { state = b.State(); });
    return state;
}

std::vector<std::string> IrcBridgeFixture::TakeLinkLogThrough(const std::string& line,
                                                              std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            for (std::size_t i = 0; i < linkLog_.size(); ++i) {
                if (linkLog_[i] != line) continue;
                std::vector<std::string> taken(linkLog_.begin(), linkLog_.begin() + static_cast<long>(i) + 1);
                linkLog_.erase(linkLog_.begin(), linkLog_.begin() + static_cast<long>(i) + 1);
                return taken;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                std::string seen;
                for (const auto& l : linkLog_) seen += "\n  " + l;
                ADD_FAILURE() << "the link log never showed: " << line << "\nit holds:" << seen;
                return {};
            }
        }
        std::this_thread::sleep_for(10ms);
    }
}

bool IrcBridgeFixture::WaitForState(TState state, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (LinkState() != state) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

void IrcBridgeFixture::BringLinkUp() {
    Link([](IrcBridge& b) { b.Start(); });
    ASSERT_TRUE(WaitForState(csConnected));
    Link([](IrcBridge& b) { b.Join(); });
    TakeLinkLogThrough("*** Joined channel: #quill");
}

std::unique_ptr<IrcTestClient> IrcBridgeFixture::AliceAndAnnLinked() {
    auto ann = IrcUserInQuill(irc_->Port(), "ann");
    Connect({"alice"});
    Do("alice", "/j IRC");
    BringLinkUp();
    EXPECT_TRUE(ann->WaitFor(kLinkPrefix + " JOIN :#quill"));
    U("alice").Collect();
    return ann;
}

std::unique_ptr<IrcTestClient> IrcUserInQuill(unsigned short port, const std::string& nick) {
    auto client = std::make_unique<IrcTestClient>(port);
    EXPECT_TRUE(client->Register(nick));
    EXPECT_TRUE(client->Join("#quill"));
    return client;
}

}  // namespace qm::test
