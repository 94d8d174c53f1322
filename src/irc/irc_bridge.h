#pragma once
// The IRC link: one IRC client that joins one IRC channel and bridges it
// with the chat channel "IRC". What happens on IRC reaches the members of
// the bridged channel and the link log; what the chat commands say reaches
// the IRC channel (IrcLink). It also carries the link window's operations:
// Start, Stop, Join, a line to the channel and a raw line.
#include <boost/asio/io_context.hpp>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "irc/bridge_chat_side.h"
#include "irc/irc_client.h"
#include "irc/irc_link.h"
#include "irc/irc_link_settings.h"
#include "net/output_scheduler.h"

namespace qm {

class IrcBridge final : public IrcLink, private IrcClientEvents {
public:
    // Connects over TCP (or TLS) on `io`.
    explicit IrcBridge(boost::asio::io_context& io);
    // Connects through `factory` (tests).
    IrcBridge(boost::asio::io_context& io, TIRCClient::ConnectionFactory factory);
    ~IrcBridge() override;

    // Where IRC's lines go; must be called before Start and outlive the bridge.
    void AttachChat(BridgeChatSide& chat) { chat_ = &chat; }

    // The stored values. The channel and channel spy mode count at once; the
    // identity, server and port at the next Start.
    void Configure(const IrcLinkSettings& settings) { settings_ = settings; }
    const IrcLinkSettings& Settings() const { return settings_; }
    // The client's pacing and keepalive times (tests shorten them); the send
    // interval comes from the settings.
    void SetTimings(const IrcTimings& timings) { timings_ = timings; }

    // The link window's operations.
    void Start();
    void Stop();
    void Join();
    // The Enter action: the raw line first, then the line to the channel;
    // either may be empty.
    void Enter(std::string_view raw, std::string_view toChannel);

    TState State() const { return client_.State(); }
    TIRCClient& Client() { return client_; }

    // Each line of the link log as it is added; the front end keeps the log.
    std::function<void(const std::string&)> onLinkLog;
    // For the operator's front end: the link's state changed.
    std::function<void(TState)> onLinkState;
    // For a keeper of the link: the client's state changed; the link was
    // kicked from a channel.
    std::function<void(TState)> onStateChange;
    std::function<void(const std::string& channel)> onKicked;

    // IrcLink
    bool IsUp() const override { return client_.Connected(); }
    bool ChannelSpy() const override { return settings_.ChannelSpy; }
    std::string IrcChannel() const override { return settings_.Channel; }
    void SayToLinkedChannel(std::string_view head, std::string_view text) override;
    void SayToIrcUser(std::string_view nick, std::string_view head, std::string_view text) override;

    // Adds a line to the link log.
    void AddLinkLog(const std::string& line);

private:
    void ToChat(const std::string& line);
    // .help, .names and .m; false for any other text.
    bool HandleDotCommand(TUser& sender, const std::string& text);
    void PrivateToChat(TUser& sender, std::string_view text);

    // IrcClientEvents
    void OnConnect() override;
    void OnDisconnect() override;
    void OnJoined(TChannel* channel) override;
    void OnJoin(TUser* user, TChannel* channel) override;
    void OnPart(TUser* user, TChannel* channel) override;
    void OnKick(TUser* user, TUser* victim, TChannel* channel) override;
    void OnKicked(TUser* user, TChannel* channel) override;
    void OnQuit(TUser* user) override;
    void OnNickChange(TUser* user, const std::string& newNick) override;
    void OnOp(TUser* user, TChannel* channel, TUser* target) override;
    void OnDeop(TUser* user, TChannel* channel, TUser* target) override;
    void OnMessage(TUser* user, TChannel* channel, const std::string& content) override;
    void OnAction(TUser* user, TChannel* channel, const std::string& content) override;
    void OnStateChange(TState state) override;
    void OnTransportError(const std::string& reason) override;
    void OnSendQueueOverflow() override;
    void OnError(TUser* user, const std::string& numeric, const std::string& text) override;

    OutputScheduler scheduler_;
    TIRCClient client_;
    BridgeChatSide* chat_ = nullptr;
    IrcLinkSettings settings_;
    IrcTimings timings_;
    // The chat users have been told the link is down and nothing since: a
    // further failed attempt tells them nothing new.
    bool chatHeardDown_ = false;
};

}  // namespace qm
