#pragma once
// What the chat side needs of the IRC link: its state and the two ways of
// saying something on IRC. The server is given one (the real bridge in the
// programs, a recording one in tests).
#include <string>
#include <string_view>

namespace qm {

// The chat channel that is bridged with IRC: this name exactly, in this case
// ("irc" is an ordinary channel).
inline constexpr std::string_view kBridgedChannel = "IRC";

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
    // A channel message to the linked IRC channel: `head` says who speaks
    // ("[nick] ", "* nick ", or nothing for the server's own notices). A text
    // too long for one IRC line goes as several, each beginning with `head`,
    // so that no piece can pass for a line of the link's own.
    virtual void SayToLinkedChannel(std::string_view head, std::string_view text) = 0;
    // A private message to one IRC user, split in the same way.
    virtual void SayToIrcUser(std::string_view nick, std::string_view head, std::string_view text) = 0;

    // Server events (joins, departures, renames) reach the IRC channel only
    // while the link is up and carries this server's side too.
    bool CarriesChatSide() const { return IsUp() && !ChannelSpy(); }
    void Announce(std::string_view text) {
        if (CarriesChatSide()) SayToLinkedChannel({}, text);
    }
    // A user's own words (chat lines, /me, /im) reach IRC only from the
    // bridged channel and while the user has a voice there.
    bool Forwards(std::string_view channel, bool hasVoice) const {
        return channel == kBridgedChannel && hasVoice && CarriesChatSide();
    }
};

}  // namespace qm
