#pragma once
// What the IRC client tells its owner. Every method has an empty default, so
// an observer overrides only what it handles. All are called on the loop
// thread, in the middle of handling a line or a transport event; a handler may
// call the client's operations, Connect and Disconnect included.
//
// Pointers: the user of a line is its sender's record and is never null (a
// server has a record with an empty nick). The channel of OnJoin, OnPart,
// OnKick, OnOp and the other channel events is a joined channel and never
// null; the channel of OnMessage, OnNotice, OnAction, OnCTCPQuery and
// OnCTCPReply is null for a private text or a channel the client is not in.
// A target of OnOp, OnDeop, OnVoice and OnDevoice is null when its nick is not
// in the user table (someone who joined after the client did). Records live
// at least until the handler returns.
#include <string>

#include "irc/irc_channels.h"
#include "irc/irc_users.h"

namespace qm {

enum TState : std::uint8_t { csDisconnected, csConnecting, csLoggingOn, csConnected };

class IrcClientEvents {
public:
    virtual ~IrcClientEvents() = default;

    virtual void OnMessage(TUser* /*user*/, TChannel* /*channel*/, const std::string& /*content*/) {}
    virtual void OnNotice(TUser* /*user*/, TChannel* /*channel*/, const std::string& /*content*/) {}
    virtual void OnAction(TUser* /*user*/, TChannel* /*channel*/, const std::string& /*content*/) {}
    // The transport is connected; the registration lines follow.
    virtual void OnConnect() {}
    virtual void OnDisconnect() {}
    virtual void OnJoin(TUser* /*user*/, TChannel* /*channel*/) {}
    // The client itself joined; the record has just been created.
    virtual void OnJoined(TChannel* /*channel*/) {}
    virtual void OnPart(TUser* /*user*/, TChannel* /*channel*/) {}
    virtual void OnParted(TChannel* /*channel*/) {}
    virtual void OnKick(TUser* /*user*/, TUser* /*victim*/, TChannel* /*channel*/) {}
    virtual void OnKicked(TUser* /*user*/, TChannel* /*channel*/) {}
    // Another user changes nick; `user` still carries the old one.
    virtual void OnNickChange(TUser* /*user*/, const std::string& /*newNick*/) {}
    virtual void OnNickChanged() {}
    virtual void OnTopic(TUser* /*user*/, TChannel* /*channel*/) {}
    virtual void OnNoTopic(TChannel* /*channel*/) {}
    virtual void OnQuit(TUser* /*user*/) {}
    virtual void OnInvite(TUser* /*user*/, const std::string& /*text*/) {}
    virtual void OnInviting(const std::string& /*first*/, const std::string& /*second*/) {}
    // A PING has been answered.
    virtual void OnPingPong() {}
    // An error numeric (401 to 502) with its text, or a line that could not be
    // sent (no user, empty numeric).
    virtual void OnError(TUser* /*user*/, const std::string& /*numeric*/, const std::string& /*text*/) {}
    virtual void OnAway(TUser* /*user*/) {}
    virtual void OnNowAway() {}
    virtual void OnUnAway() {}
    virtual void OnWallops(TUser* /*user*/, const std::string& /*content*/) {}
    // An informational numeric: "WELCOME", "MOTD", "WHOIS", ...
    virtual void OnSystem(TUser* /*user*/, const std::string& /*category*/, const std::string& /*text*/) {}
    // Every parsed line before anything else; setting `suppress` ends its handling.
    virtual void OnRaw(TUser* /*user*/, const std::string& /*command*/, const std::string& /*content*/,
                       bool& /*suppress*/) {}
    virtual void OnOp(TUser* /*user*/, TChannel* /*channel*/, TUser* /*target*/) {}
    virtual void OnDeop(TUser* /*user*/, TChannel* /*channel*/, TUser* /*target*/) {}
    virtual void OnVoice(TUser* /*user*/, TChannel* /*channel*/, TUser* /*target*/) {}
    virtual void OnDevoice(TUser* /*user*/, TChannel* /*channel*/, TUser* /*target*/) {}
    virtual void OnBan(TUser* /*user*/, TChannel* /*channel*/, const std::string& /*hostmask*/) {}
    virtual void OnUnban(TUser* /*user*/, TChannel* /*channel*/, const std::string& /*hostmask*/) {}
    // A channel MODE line, before it is applied.
    virtual void OnChannelMode(TUser* /*user*/, TChannel* /*channel*/, const std::string& /*modes*/) {}
    // A MODE line about the client itself; the second only when the set changed.
    virtual void OnUserMode() {}
    virtual void OnUserModeChanged() {}
    virtual void OnKill(TUser* /*user*/, const std::string& /*victim*/, const std::string& /*reason*/) {}
    virtual void OnUnknownCommand(TUser* /*user*/, const std::string& /*command*/, const std::string& /*content*/) {}
    // Every CTCP query but ACTION and DCC; setting `suppress` holds back the
    // automatic reply.
    virtual void OnCTCPQuery(TUser* /*user*/, TChannel* /*channel*/, const std::string& /*command*/,
                             const std::string& /*args*/, bool& /*suppress*/) {}
    virtual void OnCTCPReply(TUser* /*user*/, TChannel* /*channel*/, const std::string& /*command*/,
                             const std::string& /*args*/) {}
    // A line has been written to the transport (without its CR LF).
    virtual void OnSend(const std::string& /*line*/) {}
    // A non-empty line has arrived, before it is parsed.
    virtual void OnReceive(const std::string& /*line*/) {}
    // The alternative nick is in use too during registration. Return true to
    // go on with `nick` (which may be replaced); false, or an empty nick,
    // drops the connection.
    virtual bool OnNicksInUse(std::string& /*nick*/) { return false; }
    virtual void OnChannelUpdate(TChannel* /*channel*/, TChannelUpdateType /*type*/, const TUser* /*user*/,
                                 int /*info*/) {}
    // The state has changed to `state`.
    virtual void OnStateChange(TState /*state*/) {}
    // A connection attempt failed, or a live connection was lost for a reason
    // the client knows (ping timeout, the transport's reason). Raised before
    // the state returns to csDisconnected and OnDisconnect.
    virtual void OnTransportError(const std::string& /*reason*/) {}
    // The send queue was full and chat lines were dropped; raised once until
    // the queue has drained below its limit again.
    virtual void OnSendQueueOverflow() {}
};

}  // namespace qm
