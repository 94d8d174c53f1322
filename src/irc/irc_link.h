#pragma once
// What the chat commands need of the IRC link: its state and the two ways of
// saying something on IRC.
#include <string>
#include <string_view>

namespace qm {

class IrcLink {
public:
    virtual ~IrcLink() = default;
    // The IRC client is not disconnected (connecting counts as up).
    virtual bool IsUp() const = 0;
    // "IRC Channel Spy": the link is single-directional, nothing from this
    // server goes to IRC.
    virtual bool ChannelSpy() const = 0;
    // The IRC channel the link talks to, as the operator set it now.
    virtual std::string IrcChannel() const = 0;
    // A channel message to the linked IRC channel.
    virtual void SayToLinkedChannel(std::string_view text) = 0;
    // A private message to one IRC user.
    virtual void SayToIrcUser(std::string_view nick, std::string_view text) = 0;

    // Server events (joins, departures, renames) reach the IRC channel only
    // while the link is up and carries this server's side too.
    void Announce(std::string_view text) {
        if (IsUp() && !ChannelSpy()) SayToLinkedChannel(text);
    }
};

// The link as it is while no IRC client exists: always down, bi-directional,
// no channel.
class NoIrcLink final : public IrcLink {
public:
    bool IsUp() const override { return false; }
    bool ChannelSpy() const override { return false; }
    std::string IrcChannel() const override { return {}; }
    void SayToLinkedChannel(std::string_view) override {}
    void SayToIrcUser(std::string_view, std::string_view) override {}
};

}  // namespace qm
