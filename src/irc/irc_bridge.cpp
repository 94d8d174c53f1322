#include "irc/irc_bridge.h"

#include "irc/irc_text.h"
#include "net/tcp_outgoing_connection.h"
#include "storage/control_chars.h"

namespace qm {

namespace {

constexpr std::size_t kMaxPrivateMessage = 512;

// The nick of an IRC user as chat users and the link log see it.
std::string NickOf(const TUser* user) { return user ? StripIrcControls(user->Nick) : std::string(); }
std::string NameOf(const TChannel* channel) { return channel ? StripIrcControls(channel->Name()) : std::string(); }

TReplies ProgramReplies() {
    TReplies replies;
    replies.Finger = "Idle 15 seconds";
    replies.Version = "Quillmoot v1.0 IRC Link";
    replies.UserInfo = "Quillmoot v1.0 Server";
    replies.ClientInfo = "Quillmoot v1.0 IRC Link";
    return replies;
}

}  // namespace

IrcBridge::IrcBridge(boost::asio::io_context& io)
    : IrcBridge(io, [this] { return std::make_unique<TcpOutgoingConnection>(scheduler_); }) {}

IrcBridge::IrcBridge(boost::asio::io_context& io, TIRCClient::ConnectionFactory factory)
    : scheduler_(io), client_(io, std::move(factory)) {
    client_.SetReplies(ProgramReplies());
    client_.SetUserMode(TUserModes{umInvisible});
    client_.SetEvents(this);
}

IrcBridge::~IrcBridge() {
    client_.SetEvents(nullptr);
    scheduler_.BeginShutdown();
}

// ---- the link window's operations ----

void IrcBridge::Start() {
    if (client_.Connected()) return;
    const IrcPort port = ParseIrcPort(settings_.Port);
    client_.SetNick(settings_.Nick);
    client_.SetAltNick(settings_.AltNick);
    client_.SetPort(port.number);
    client_.SetTls(port.tls);
    client_.SetTlsFingerprint(settings_.TlsFingerprint);
    client_.SetRealName(settings_.UserInfo);
    client_.SetServer(settings_.Server);
    client_.SetUsername(settings_.UserID);
    IrcTimings timings = timings_;
    timings.sendInterval = settings_.SendInterval;
    client_.SetTimings(timings);
    client_.Connect();
    AddLinkLog("*** Connecting, please wait...");
}

void IrcBridge::Stop() {
    if (!client_.Connected()) return;
    client_.Disconnect(false);
    AddLinkLog("*** Disconnected.");
}

void IrcBridge::Join() {
    if (client_.Connected()) client_.Join(settings_.Channel);
}

void IrcBridge::Enter(std::string_view raw, std::string_view toChannel) {
    if (!raw.empty()) client_.Raw(raw);
    if (!toChannel.empty()) client_.Say(settings_.Channel, toChannel);
}

// ---- chat to IRC ----

void IrcBridge::SayToLinkedChannel(std::string_view head, std::string_view text) {
    client_.Say(settings_.Channel, text, head);
}

void IrcBridge::SayToIrcUser(std::string_view nick, std::string_view head, std::string_view text) {
    client_.Say(nick, text, head);
}

// ---- IRC to chat ----

void IrcBridge::AddLinkLog(const std::string& line) {
    if (!onLinkLog) return;
    // Reasons and error texts come from the IRC server; the link log goes to
    // the operator's terminal.
    std::string clean = line;
    RemoveControlChars(clean);
    onLinkLog(clean);
}

void IrcBridge::ToChat(const std::string& line) {
    if (chat_) chat_->SendToBridgedChannel(line);
}

void IrcBridge::OnConnect() {
    AddLinkLog("*** Connected to IRC server... logging in....");
    chatHeardDown_ = false;
    ToChat("I*R*C: Link up.\r\n");
}

void IrcBridge::OnDisconnect() {
    AddLinkLog("*** Disconnected!");
    if (chatHeardDown_) return;
    chatHeardDown_ = true;
    ToChat("I*R*C: Link down.\r\n");
}

void IrcBridge::OnJoined(TChannel* channel) {
    const std::string name = NameOf(channel);
    AddLinkLog("*** Joined channel: " + name);
    ToChat(ChannelSpy() ? "I*R*C: Linked with " + name + " Channel spy mode enabled.\r\n"
                        : "I*R*C: Linked with " + name + "\r\n");
}

void IrcBridge::OnJoin(TUser* user, TChannel* channel) {
    const std::string nick = NickOf(user);
    AddLinkLog("*** " + nick + " joins.");
    ToChat("I*R*C: " + nick + " has joined channel " + NameOf(channel) + "\r\n");
}

void IrcBridge::OnPart(TUser* user, TChannel* channel) {
    const std::string nick = NickOf(user);
    AddLinkLog("*** " + nick + " parts.");
    ToChat("I*R*C: " + nick + " has parted channel " + NameOf(channel) + "\r\n");
}

void IrcBridge::OnKick(TUser* user, TUser* victim, TChannel* channel) {
    const std::string by = NickOf(user), kicked = NickOf(victim);
    AddLinkLog("*** " + by + " kicked " + kicked + ".");
    ToChat("I*R*C: " + kicked + " was kicked from channel " + NameOf(channel) + " by " + by + "\r\n");
}

void IrcBridge::OnKicked(TUser*, TChannel* channel) {
    if (onKicked) onKicked(NameOf(channel));
}

void IrcBridge::OnQuit(TUser* user) {
    const std::string nick = NickOf(user);
    AddLinkLog("*** " + nick + " quits.");
    ToChat("I*R*C: " + nick + " has left IRC.\r\n");
}

void IrcBridge::OnNickChange(TUser* user, const std::string& newNick) {
    const std::string old = NickOf(user), renamed = StripIrcControls(newNick);
    AddLinkLog("*** " + old + " is now " + renamed + ".");
    ToChat("I*R*C: " + old + " is now known as: " + renamed + "\r\n");
}

// A mode change for a nick the client has not seen in a names reply has no
// user record; there is nobody to name, so it is not reported.
void IrcBridge::OnOp(TUser* user, TChannel* channel, TUser* target) {
    if (!target) return;
    const std::string by = NickOf(user), opped = NickOf(target);
    AddLinkLog("*** " + by + " has opped " + opped);
    ToChat("I*R*C: " + by + " has opped " + opped + " in " + NameOf(channel) + "\r\n");
}

void IrcBridge::OnDeop(TUser* user, TChannel* channel, TUser* target) {
    if (!target) return;
    const std::string by = NickOf(user), deopped = NickOf(target);
    AddLinkLog("*** " + by + " has deopped " + deopped);
    ToChat("I*R*C: " + by + " has deopped " + deopped + " in " + NameOf(channel) + "\r\n");
}

void IrcBridge::OnAction(TUser* user, TChannel*, const std::string& content) {
    ToChat("[*] " + NickOf(user) + " " + StripIrcControls(content) + "\r\n");
}

void IrcBridge::OnMessage(TUser* user, TChannel*, const std::string& content) {
    // A private message to the link and a message to any channel are handled
    // alike; in channel spy mode the dot-commands are ordinary text.
    if (!ChannelSpy() && HandleDotCommand(*user, content)) return;
    ToChat("[" + NickOf(user) + "] " + StripIrcControls(content) + "\r\n");
}

bool IrcBridge::HandleDotCommand(TUser& sender, const std::string& text) {
    const std::string& to = sender.Nick;
    if (text.starts_with(".help")) {
        client_.Notice(to, "Help:");
        client_.Notice(to, ".m <nickname> = <message> Send a private message");
        client_.Notice(to, ".names Get a list of people being linked (and whether they can talk)");
    } else if (text.starts_with(".names")) {
        if (!chat_) return true;
        chat_->ForEachBridgedMember([&](std::string_view nick, bool hasVoice) {
            client_.Notice(to, "Nick: " + std::string(nick) +
                                   (hasVoice ? " Status: User can speak." : " Status: User may not speak."));
        });
    } else if (text.starts_with(".m")) {
        PrivateToChat(sender, text);
    } else {
        return false;
    }
    return true;
}

// ".m nick = message": every "=" from the 7th character (1-based) up to the
// next-to-last one is tried as the separator, the nickname ending at the
// blank before it and the message starting after the blank that follows it.
void IrcBridge::PrivateToChat(TUser& sender, std::string_view text) {
    bool delivered = false;
    const std::string from = NickOf(&sender);
    for (std::size_t i = 6; i + 1 < text.size(); ++i) {
        if (text[i] != '=' || !chat_) continue;
        const std::string_view nick = text.substr(3, i - 4);
        std::string message = StripIrcControls(text.substr(i + 2));
        if (message.size() > kMaxPrivateMessage) message.resize(kMaxPrivateMessage);
        delivered |= chat_->SendPrivate(nick, "Private from IRC: [" + from + "] " + message + "\r\n",
                                        [&](std::string_view chatNick, std::string_view awayMessage) {
                                            client_.Notice(sender.Nick, std::string(chatNick) + " is away: " +
                                                                            std::string(awayMessage) +
                                                                            ". Message was still sent.");
                                        });
    }
    if (!delivered) client_.Notice(sender.Nick, "User is not online.");
}

void IrcBridge::OnStateChange(TState state) {
    if (onLinkState) onLinkState(state);
    if (onStateChange) onStateChange(state);
}

void IrcBridge::OnTransportError(const std::string& reason) { AddLinkLog("*** " + reason); }

void IrcBridge::OnSendQueueOverflow() {
    AddLinkLog("*** The IRC server is sent lines more slowly than they come; the oldest chat lines were dropped.");
}

// The server's error replies are not shown; a line this side could not send is.
void IrcBridge::OnError(TUser*, const std::string& numeric, const std::string& text) {
    if (numeric.empty()) AddLinkLog("*** " + text);
}

}  // namespace qm
