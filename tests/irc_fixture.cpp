#include "irc_fixture.h"

namespace qm::test {
namespace {

std::string Name(const TUser* u) { return u ? u->Nick : "-"; }
std::string Name(const TChannel* c) { return c ? c->Name() : "-"; }

}  // namespace

std::vector<std::string> FakeWire::Lines() const {
    std::vector<std::string> lines;
    for (std::size_t pos = 0; pos < sent.size();) {
        const std::size_t end = sent.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(sent.substr(pos) + "<no CR LF>");
            break;
        }
        lines.push_back(sent.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

void FakeWire::RaiseConnected() {
    if (!destroyed) observer->OnOutgoingConnected();
}
void FakeWire::RaiseData(const std::string& bytes) {
    if (!destroyed) observer->OnOutgoingData(bytes);
}
void FakeWire::RaiseFailed(const std::string& reason) {
    if (!destroyed) observer->OnOutgoingFailed(reason);
}
void FakeWire::RaiseClosed(const std::string& reason) {
    if (!destroyed) observer->OnOutgoingClosed(reason);
}

void FakeConnection::Open(const OutgoingTarget& target, OutgoingObserver& observer) {
    wire_->target = target;
    wire_->observer = &observer;
}

void RecordingEvents::Add(const std::string& name, std::initializer_list<std::string> args) {
    std::string entry = name + "(";
    bool first = true;
    for (const std::string& arg : args) {
        if (!first) entry += ",";
        entry += arg;
        first = false;
    }
    log.push_back(entry + ")");
}

std::vector<std::string> RecordingEvents::Named(const std::string& name) const {
    std::vector<std::string> found;
    for (const std::string& entry : log)
        if (entry.starts_with(name + "(")) found.push_back(entry);
    return found;
}

void RecordingEvents::OnMessage(TUser* u, TChannel* c, const std::string& t) { Add("OnMessage", {Name(u), Name(c), t}); }
void RecordingEvents::OnNotice(TUser* u, TChannel* c, const std::string& t) { Add("OnNotice", {Name(u), Name(c), t}); }
void RecordingEvents::OnAction(TUser* u, TChannel* c, const std::string& t) { Add("OnAction", {Name(u), Name(c), t}); }
void RecordingEvents::OnConnect() { Add("OnConnect", {}); }
void RecordingEvents::OnDisconnect() { Add("OnDisconnect", {}); }
void RecordingEvents::OnJoin(TUser* u, TChannel* c) { Add("OnJoin", {Name(u), Name(c)}); }
void RecordingEvents::OnJoined(TChannel* c) { Add("OnJoined", {Name(c)}); }
void RecordingEvents::OnPart(TUser* u, TChannel* c) { Add("OnPart", {Name(u), Name(c)}); }
void RecordingEvents::OnParted(TChannel* c) { Add("OnParted", {Name(c)}); }
void RecordingEvents::OnKick(TUser* u, TUser* v, TChannel* c) { Add("OnKick", {Name(u), Name(v), Name(c)}); }
void RecordingEvents::OnKicked(TUser* u, TChannel* c) { Add("OnKicked", {Name(u), Name(c)}); }
void RecordingEvents::OnNickChange(TUser* u, const std::string& n) { Add("OnNickChange", {Name(u), n}); }
void RecordingEvents::OnNickChanged() { Add("OnNickChanged", {}); }
void RecordingEvents::OnTopic(TUser* u, TChannel* c) { Add("OnTopic", {Name(u), Name(c), c->Topic()}); }
void RecordingEvents::OnNoTopic(TChannel* c) { Add("OnNoTopic", {Name(c)}); }
void RecordingEvents::OnQuit(TUser* u) { Add("OnQuit", {Name(u), u->LastMessage}); }
void RecordingEvents::OnInvite(TUser* u, const std::string& t) { Add("OnInvite", {Name(u), t}); }
void RecordingEvents::OnInviting(const std::string& a, const std::string& b) { Add("OnInviting", {a, b}); }
void RecordingEvents::OnPingPong() { Add("OnPingPong", {}); }
void RecordingEvents::OnError(TUser* u, const std::string& n, const std::string& t) { Add("OnError", {Name(u), n, t}); }
void RecordingEvents::OnAway(TUser* u) { Add("OnAway", {Name(u)}); }
void RecordingEvents::OnNowAway() { Add("OnNowAway", {}); }
void RecordingEvents::OnUnAway() { Add("OnUnAway", {}); }
void RecordingEvents::OnWallops(TUser* u, const std::string& t) { Add("OnWallops", {Name(u), t}); }
void RecordingEvents::OnSystem(TUser* u, const std::string& cat, const std::string& t) {
    Add("OnSystem", {Name(u), cat, t});
}
void RecordingEvents::OnRaw(TUser* u, const std::string& cmd, const std::string& t, bool& suppress) {
    Add("OnRaw", {Name(u), cmd, t});
    suppress = suppressRaw;
}
void RecordingEvents::OnOp(TUser* u, TChannel* c, TUser* t) { Add("OnOp", {Name(u), Name(c), Name(t)}); }
void RecordingEvents::OnDeop(TUser* u, TChannel* c, TUser* t) { Add("OnDeop", {Name(u), Name(c), Name(t)}); }
void RecordingEvents::OnVoice(TUser* u, TChannel* c, TUser* t) { Add("OnVoice", {Name(u), Name(c), Name(t)}); }
void RecordingEvents::OnDevoice(TUser* u, TChannel* c, TUser* t) { Add("OnDevoice", {Name(u), Name(c), Name(t)}); }
void RecordingEvents::OnBan(TUser* u, TChannel* c, const std::string& m) { Add("OnBan", {Name(u), Name(c), m}); }
void RecordingEvents::OnUnban(TUser* u, TChannel* c, const std::string& m) { Add("OnUnban", {Name(u), Name(c), m}); }
void RecordingEvents::OnChannelMode(TUser* u, TChannel* c, const std::string& m) {
    Add("OnChannelMode", {Name(u), Name(c), m});
}
void RecordingEvents::OnUserMode() { Add("OnUserMode", {}); }
void RecordingEvents::OnUserModeChanged() { Add("OnUserModeChanged", {}); }
void RecordingEvents::OnKill(TUser* u, const std::string& v, const std::string& r) { Add("OnKill", {Name(u), v, r}); }
void RecordingEvents::OnUnknownCommand(TUser* u, const std::string& cmd, const std::string& t) {
    Add("OnUnknownCommand", {Name(u), cmd, t});
}
void RecordingEvents::OnCTCPQuery(TUser* u, TChannel* c, const std::string& cmd, const std::string& args,
                                  bool& suppress) {
    Add("OnCTCPQuery", {Name(u), Name(c), cmd, args});
    suppress = suppressCtcp;
}
void RecordingEvents::OnCTCPReply(TUser* u, TChannel* c, const std::string& cmd, const std::string& args) {
    Add("OnCTCPReply", {Name(u), Name(c), cmd, args});
}
void RecordingEvents::OnSend(const std::string& line) { Add("OnSend", {line}); }
void RecordingEvents::OnReceive(const std::string& line) { Add("OnReceive", {line}); }
bool RecordingEvents::OnNicksInUse(std::string& nick) {
    Add("OnNicksInUse", {nick});
    if (!nextNick) return false;
    nick = *nextNick;
    return true;
}
void RecordingEvents::OnChannelUpdate(TChannel* c, TChannelUpdateType type, const TUser* u, int info) {
    Add("OnChannelUpdate", {Name(c), std::to_string(type), Name(u), std::to_string(info)});
}
void RecordingEvents::OnStateChange(TState state) { Add("OnStateChange", {std::to_string(state)}); }
void RecordingEvents::OnTransportError(const std::string& reason) { Add("OnTransportError", {reason}); }
void RecordingEvents::OnSendQueueOverflow() { Add("OnSendQueueOverflow", {}); }

IrcTimings QuietTimings() {
    IrcTimings t;
    t.sendBurst = 10000;
    t.sendInterval = std::chrono::milliseconds(10);
    t.sendQueueLimit = 200;
    t.idlePing = std::chrono::hours(1);
    t.pingTimeout = std::chrono::hours(1);
    return t;
}

IrcClientTest::IrcClientTest()
    : client(io, [this] {
          wires.push_back(std::make_shared<FakeWire>());
          return std::make_unique<FakeConnection>(wires.back());
      }) {
    client.SetEvents(&events);
    client.SetNick("me");
    client.SetAltNick("me2");
    client.SetUsername("user");
    client.SetRealName("Real Name");
    client.SetServer("irc.test");
    client.SetPort("6667");
    client.SetTimings(QuietTimings());
}

void IrcClientTest::ConnectTransport() {
    client.Connect();
    Wire().RaiseConnected();
}

void IrcClientTest::Register() {
    ConnectTransport();
    Feed(":irc.test 001 me :Welcome");
    ASSERT_EQ(client.State(), csConnected);
    events.Clear();
    ClearSent();
}

void IrcClientTest::JoinChannel(const std::string& names) {
    Register();
    Feed(":me!u@host JOIN #c");
    Feed(":irc.test 353 me = #c :" + names);
    Feed(":irc.test 366 me #c :End of NAMES list");
    ASSERT_NE(client.Channels().Get("#c"), nullptr);
    events.Clear();
    ClearSent();
}

void IrcClientTest::Poll() {
    io.restart();
    io.poll();
}

void IrcClientTest::RunFor(std::chrono::milliseconds d) {
    io.restart();
    io.run_for(d);
}

bool IrcClientTest::RunUntil(const std::function<bool()>& done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        RunFor(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace qm::test
