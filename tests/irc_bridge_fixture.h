#pragma once
// The chat server with a real IRC link, and a real ngircd on loopback for
// it to link with. Chat users are TestClients, IRC users IrcTestClients, so
// both sides are seen byte for byte.
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "chat_fixture.h"
#include "irc/irc_bridge.h"
#include "irc/irc_link_keeper.h"
#include "irc_test_client.h"
#include "ngircd_server.h"

namespace qm::test {

// ngircd shows the link, whose nick "Night-Wisp" is one character too long
// for its default limit of 9, under its alternative nick.
inline const std::string kLinkPrefix = ":Shadow-!~quillmoot@127.0.0.1";
inline const std::string kToChannel = kLinkPrefix + " PRIVMSG #quill :";

class IrcBridgeFixture : public ChatServerFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    IrcLink& LinkForServer() override;
    void ServerCreated(ChatServer& server) override;

    // Runs `f` on the server's thread with the bridge.
    void Link(const std::function<void(IrcBridge&)>& f);
    TState LinkState();
    // Waits until the link log has a line equal to `line` (counting only
    // lines not yet taken), then returns every line up to it and forgets them.
    std::vector<std::string> TakeLinkLogThrough(const std::string& line,
                                                std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Waits until `state` (polled on the server's thread).
    bool WaitForState(TState state, std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Start, then Join once registered, as the operator does; waits for the join.
    void BringLinkUp();
    // ann on IRC in #quill, alice in the bridged channel, the link up and in
    // #quill: everything both have heard so far is read. Returns ann.
    std::unique_ptr<IrcTestClient> AliceAndAnnLinked();

    NgircdOptions ircOptions_;
    std::unique_ptr<NgircdServer> irc_;
    IrcLinkSettings settings_;
    IrcTimings timings_;
    // With a keeper, the link starts, joins and comes back by itself.
    bool keeper_ = false;
    IrcKeeperTimings keeperTimings_{std::chrono::milliseconds(300), std::chrono::milliseconds(1200),
                                    std::chrono::minutes(1)};
    std::unique_ptr<IrcBridge> bridge_;
    std::unique_ptr<IrcLinkKeeper> linkKeeper_;

private:
    std::mutex mutex_;
    std::vector<std::string> linkLog_;
};

// An IRC user registered and in #quill.
std::unique_ptr<IrcTestClient> IrcUserInQuill(unsigned short port, const std::string& nick);

}  // namespace qm::test
