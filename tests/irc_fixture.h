#pragma once
// The IRC client under test on a fake transport: the test sees every byte the
// client sends, raises the transport's events by hand, and reads the client's
// events as a list of short texts such as "OnJoin(bob,#c)".
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "irc/irc_client.h"

namespace qm::test {

// What one fake connection saw; outlives the connection so that a test can
// look at it after the client has dropped it.
struct FakeWire {
    OutgoingObserver* observer = nullptr;
    OutgoingTarget target;
    std::string sent;  // every byte given to Send
    bool closed = false;
    bool aborted = false;
    bool destroyed = false;

    // The sent lines without their CR LF.
    std::vector<std::string> Lines() const;
    // Events reach the client only while the connection object exists.
    void RaiseConnected();
    void RaiseData(const std::string& bytes);
    void RaiseFailed(const std::string& reason);
    void RaiseClosed(const std::string& reason);
};

class FakeConnection final : public OutgoingConnection {
public:
    explicit FakeConnection(std::shared_ptr<FakeWire> wire) : wire_(std::move(wire)) {}
    ~FakeConnection() override { wire_->destroyed = true; }
    void Open(const OutgoingTarget& target, OutgoingObserver& observer) override;
    void Send(std::string_view bytes) override { wire_->sent += bytes; }
    void Close() override { wire_->closed = true; }
    void Abort() override { wire_->aborted = true; }

private:
    std::shared_ptr<FakeWire> wire_;
};

// Writes each event as "Name(arg,arg,...)"; a user or channel by its nick or
// name, a missing one as "-".
class RecordingEvents : public IrcClientEvents {
public:
    std::vector<std::string> log;
    // What OnNicksInUse answers: no value leaves the event unhandled.
    std::optional<std::string> nextNick;
    // Set `suppress` in OnRaw / OnCTCPQuery.
    bool suppressRaw = false;
    bool suppressCtcp = false;

    // The entries that begin with `name` + "(".
    std::vector<std::string> Named(const std::string& name) const;
    void Clear() { log.clear(); }

    void OnMessage(TUser* u, TChannel* c, const std::string& t) override;
    void OnNotice(TUser* u, TChannel* c, const std::string& t) override;
    void OnAction(TUser* u, TChannel* c, const std::string& t) override;
    void OnConnect() override;
    void OnDisconnect() override;
    void OnJoin(TUser* u, TChannel* c) override;
    void OnJoined(TChannel* c) override;
    void OnPart(TUser* u, TChannel* c) override;
    void OnParted(TChannel* c) override;
    void OnKick(TUser* u, TUser* v, TChannel* c) override;
    void OnKicked(TUser* u, TChannel* c) override;
    void OnNickChange(TUser* u, const std::string& n) override;
    void OnNickChanged() override;
    void OnTopic(TUser* u, TChannel* c) override;
    void OnNoTopic(TChannel* c) override;
    void OnQuit(TUser* u) override;
    void OnInvite(TUser* u, const std::string& t) override;
    void OnInviting(const std::string& a, const std::string& b) override;
    void OnPingPong() override;
    void OnError(TUser* u, const std::string& n, const std::string& t) override;
    void OnAway(TUser* u) override;
    void OnNowAway() override;
    void OnUnAway() override;
    void OnWallops(TUser* u, const std::string& t) override;
    void OnSystem(TUser* u, const std::string& cat, const std::string& t) override;
    void OnRaw(TUser* u, const std::string& cmd, const std::string& t, bool& suppress) override;
    void OnOp(TUser* u, TChannel* c, TUser* target) override;
    void OnDeop(TUser* u, TChannel* c, TUser* target) override;
    void OnVoice(TUser* u, TChannel* c, TUser* target) override;
    void OnDevoice(TUser* u, TChannel* c, TUser* target) override;
    void OnBan(TUser* u, TChannel* c, const std::string& mask) override;
    void OnUnban(TUser* u, TChannel* c, const std::string& mask) override;
    void OnChannelMode(TUser* u, TChannel* c, const std::string& modes) override;
    void OnUserMode() override;
    void OnUserModeChanged() override;
    void OnKill(TUser* u, const std::string& victim, const std::string& reason) override;
    void OnUnknownCommand(TUser* u, const std::string& cmd, const std::string& t) override;
    void OnCTCPQuery(TUser* u, TChannel* c, const std::string& cmd, const std::string& args,
                     bool& suppress) override;
    void OnCTCPReply(TUser* u, TChannel* c, const std::string& cmd, const std::string& args) override;
    void OnSend(const std::string& line) override;
    void OnReceive(const std::string& line) override;
    bool OnNicksInUse(std::string& nick) override;
    void OnChannelUpdate(TChannel* c, TChannelUpdateType type, const TUser* u, int info) override;
    void OnStateChange(TState state) override;
    void OnTransportError(const std::string& reason) override;
    void OnSendQueueOverflow() override;

private:
    void Add(const std::string& name, std::initializer_list<std::string> args);
};

class IrcClientTest : public ::testing::Test {
protected:
    IrcClientTest();

    // Every connection the client has asked for, oldest first.
    std::vector<std::shared_ptr<FakeWire>> wires;
    FakeWire& Wire() { return *wires.back(); }

    // Connect, and the transport reports the connection up.
    void ConnectTransport();
    // ConnectTransport, then the welcome: the client is csConnected as
    // "me" at irc.test. Clears the event log and the sent bytes.
    void Register();
    // Register and join #c, whose names reply holds `names`.
    void JoinChannel(const std::string& names);
    // One line from the server (CR LF added).
    void Feed(const std::string& line) { Wire().RaiseData(line + "\r\n"); }
    std::vector<std::string> Sent() const { return wires.back()->Lines(); }
    void ClearSent() { wires.back()->sent.clear(); }
    // Runs the loop's ready handlers, or for a while.
    void Poll();
    void RunFor(std::chrono::milliseconds d);
    // Runs the loop until `done` holds; false if it still does not after a
    // few seconds.
    bool RunUntil(const std::function<bool()>& done);

    boost::asio::io_context io;
    RecordingEvents events;
    TIRCClient client;
};

// The timings of the tests: no pacing in the way, keepalive far off.
IrcTimings QuietTimings();

}  // namespace qm::test
