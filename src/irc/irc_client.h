#pragma once
// The client side of the IRC protocol over one outgoing connection: it
// registers with the server, answers PING and the common CTCP queries by
// itself, keeps track of users and channels, paces what it sends, and reports
// everything else through IrcClientEvents. Everything runs on the thread of
// the io_context it is given; nothing here blocks or locks.
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "irc/irc_channels.h"
#include "irc/irc_events.h"
#include "irc/irc_message.h"
#include "irc/irc_modes.h"
#include "irc/irc_users.h"
#include "irc/keepalive.h"
#include "irc/line_receiver.h"
#include "irc/send_pacer.h"
#include "net/outgoing_connection.h"

namespace qm {

// The automatic answers to CTCP FINGER, VERSION, USERINFO and CLIENTINFO.
struct TReplies {
    std::string Finger;
    std::string Version = "Quillmoot IRC client";
    std::string UserInfo;
    std::string ClientInfo = "Quillmoot IRC client";
};

struct IrcTimings {
    // Flood control: this many lines at once, then one per interval.
    int sendBurst = 5;
    std::chrono::milliseconds sendInterval{2000};
    // Lines waiting beyond that; chat lines are dropped first when full.
    std::size_t sendQueueLimit = 200;
    // After this long without a line from the server it is pinged ...
    std::chrono::milliseconds idlePing{std::chrono::seconds(120)};
    // ... and given up if nothing arrives within this much longer.
    std::chrono::milliseconds pingTimeout{std::chrono::seconds(60)};
    // A connection attempt (resolving, connecting, the TLS handshake) that
    // has not come up by then is given up.
    std::chrono::milliseconds connectTimeout{std::chrono::seconds(60)};
};

class TIRCClient final : private OutgoingObserver {
public:
    // Makes a fresh, unopened connection for every Connect.
    using ConnectionFactory = std::function<std::unique_ptr<OutgoingConnection>()>;

    TIRCClient(boost::asio::io_context& io, ConnectionFactory factory);
    // Drops a live connection without raising events.
    ~TIRCClient() override;
    TIRCClient(const TIRCClient&) = delete;
    TIRCClient& operator=(const TIRCClient&) = delete;

    // Where the events go; nullptr for nowhere. Channel records keep the
    // observer that was set when they were created.
    void SetEvents(IrcClientEvents* events);

    // --- Properties ---
    // The nick the server knows the client by while connected, else the nick
    // to register with. Setting it while connected asks the server for the
    // change ("NICK <new>"); the server's confirmation changes it.
    std::string Nick() const;
    void SetNick(std::string_view nick);
    const std::string& AltNick() const { return altNick_; }
    void SetAltNick(std::string nick) { altNick_ = std::move(nick); }
    const std::string& Username() const { return username_; }
    void SetUsername(std::string name) { username_ = std::move(name); }
    const std::string& RealName() const { return realName_; }
    void SetRealName(std::string name) { realName_ = std::move(name); }
    // The host to connect to; after registration, the name the server gave
    // itself in its welcome.
    const std::string& Server() const { return server_; }
    void SetServer(std::string server) { server_ = std::move(server); }
    const std::string& Port() const { return port_; }
    void SetPort(std::string port) { port_ = std::move(port); }
    // Sent as "PASS" before registering when not empty.
    const std::string& Password() const { return password_; }
    void SetPassword(std::string password) { password_ = std::move(password); }
    const TReplies& Replies() const { return replies_; }
    void SetReplies(const TReplies& replies) { replies_ = replies; }
    // Follows the server's user MODE lines; set by hand only while disconnected.
    TUserModes UserMode() const { return userMode_; }
    void SetUserMode(TUserModes modes);
    bool Tls() const { return tls_; }
    void SetTls(bool on) { tls_ = on; }
    // With TLS: the SHA-256 of the server's certificate in hex; empty to
    // verify the certificate against the system's CA store instead.
    const std::string& TlsFingerprint() const { return tlsFingerprint_; }
    void SetTlsFingerprint(std::string fingerprint) { tlsFingerprint_ = std::move(fingerprint); }
    // Read at every Connect.
    const IrcTimings& Timings() const { return timings_; }
    void SetTimings(const IrcTimings& timings) { timings_ = timings; }

    // --- State ---
    TState State() const { return state_; }
    // Anything but csDisconnected.
    bool Connected() const { return state_ != csDisconnected; }
    // Set by reply 306, cleared by 305.
    bool Away() const { return away_; }
    const TUsers& Users() const { return users_; }
    const TChannels& Channels() const { return channels_; }
    std::string LocalHost() const;
    std::string LocalIPAddr() const;

    // --- Operations ---
    // Every line goes out through here (CR LF is added). A line holding CR, LF
    // or NUL is refused, and nothing is sent before the transport is up; both
    // raise OnError. Lines are paced (see IrcTimings).
    void Raw(std::string_view line);
    // "PRIVMSG <target> :<text>"; a text too long for one line (as the other
    // clients receive it, with this client's prefix in front) goes as several
    // lines, cut between characters.
    // With a `head`, every line begins with it (who speaks, for a relay).
    void Say(std::string_view target, std::string_view text, std::string_view head = {});
    // "NOTICE <target> :<text>", split like Say.
    void Notice(std::string_view target, std::string_view text);
    // Say (target, "\x01<COMMAND> <args>\x01"); long arguments go as several
    // queries, each framed.
    void CTCPQuery(std::string_view target, std::string_view command, std::string_view args);
    void Action(std::string_view target, std::string_view text);
    // Notice (target, "\x01<command> <args>\x01"), split like CTCPQuery.
    void CTCPReply(std::string_view target, std::string_view command, std::string_view args);
    void Join(std::string_view channel, std::string_view key = {});
    void Part(std::string_view channel, std::string_view reason = {});
    void Kick(std::string_view channel, std::string_view nick, std::string_view reason);
    // "QUIT :<reason>", ahead of everything queued.
    void Quit(std::string_view reason);
    void Mode(std::string_view target, std::string_view modes, std::string_view params = {});
    void GetTopic(std::string_view channel);
    void SetTopic(std::string_view channel, std::string_view topic);
    void SetAwayMessage(std::string_view text);
    void ClearAwayMessage();
    // Starts a connection to Server and Port; a live one is dropped first
    // (raising OnDisconnect for it).
    void Connect();
    // Closes gracefully once registered, else (or with `force`) drops the
    // connection. No QUIT is sent. OnDisconnect follows from the loop.
    void Disconnect(bool force = false);

private:
    // OutgoingObserver
    void OnOutgoingConnected() override;
    void OnOutgoingData(std::string_view bytes) override;
    void OnOutgoingFailed(const std::string& reason) override;
    void OnOutgoingClosed(const std::string& reason) override;

    IrcClientEvents& Events() { return *events_; }
    void SetState(TState state);
    // The end of a connection, however it came: csDisconnected, OnDisconnect.
    void ConnectionEnded();
    // Drops the transport at once; the closed event it owes ends the connection.
    void AbortTransport();
    void PingTimedOut();
    void ConnectTimedOut();

    // Refuses (with OnError) a line that cannot go out now.
    bool CanSend(std::string_view line);
    void SendNow(std::string line);
    // Sends "<command> <target> :<head><text><tail>" in as many lines as the
    // text needs.
    void SendText(std::string_view command, std::string_view target, std::string_view head, std::string_view text,
                  std::string_view tail);
    void WriteLine(const std::string& line);

    // Handling of received lines (irc_dispatch.cpp).
    void HandleLine(const IrcMessage& msg);
    void HandleNumeric(int numeric, const IrcMessage& msg, TUser& user);
    void NickInUse();
    void HandlePrivmsg(const IrcMessage& msg, TUser& user);
    void HandleNotice(const IrcMessage& msg, TUser& user);
    void HandleJoin(const IrcMessage& msg, TUser& user);
    void HandlePart(const IrcMessage& msg, TUser& user);
    void HandleKick(const IrcMessage& msg, TUser& user);
    void HandleMode(const IrcMessage& msg, TUser& user);
    void HandleNick(const IrcMessage& msg, TUser& user);
    void HandleQuit(const IrcMessage& msg, TUser& user);
    void HandleInvite(const IrcMessage& msg, TUser& user);
    void HandleKill(const IrcMessage& msg, TUser& user);
    void HandlePing(const IrcMessage& msg, TUser& user);
    void HandleWallops(const IrcMessage& msg, TUser& user);
    void HandleCtcpQuery(const IrcMessage& msg, TUser& user);
    struct CommandRow;
    static const CommandRow kCommands[];

    boost::asio::io_context& io_;
    ConnectionFactory factory_;
    IrcClientEvents* events_;

    std::string nick_ = "Nick";
    std::string altNick_ = "OtherNick";
    std::string username_ = "username";
    std::string realName_ = "Real name";
    std::string server_;
    std::string port_ = "6667";
    std::string password_;
    TReplies replies_;
    TUserModes userMode_;
    bool tls_ = false;
    std::string tlsFingerprint_;
    IrcTimings timings_;

    TState state_ = csDisconnected;
    std::string currentNick_;
    // "user@host" as the server shows this client to others; empty until a
    // line of the client's own comes back (its JOIN, for instance).
    std::string ownAddress_;
    bool away_ = false;
    std::unique_ptr<OutgoingConnection> connection_;
    // The transport reported the connection up and it has not been dropped.
    bool transportUp_ = false;
    // This side asked for the close, so the closed event is no surprise.
    bool closeRequested_ = false;
    // Counts connections and forced drops; handling that spans events checks
    // it to notice that a handler reconnected or dropped the link meanwhile.
    unsigned epoch_ = 0;
    LineReceiver receiver_;
    SendPacer pacer_;
    Keepalive keepalive_;
    boost::asio::steady_timer connectTimer_;
    TUsers users_;
    TChannels channels_;
    TUserRef ownUser_;
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace qm
