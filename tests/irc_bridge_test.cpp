// The IRC link against a real IRC server: what IRC users do reaches the
// chat channel "IRC", what chat users do reaches the IRC channel, byte for
// byte on both sides.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "irc_bridge_fixture.h"
#include "storage/user_database.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

std::string From(const std::string& nick) { return ":" + nick + "!~tester@127.0.0.1"; }

// Every line `client` reads up to and including `last`.
std::vector<std::string> LinesThrough(IrcTestClient& client, const std::string& last,
                                      std::chrono::milliseconds limit = 10s) {
    std::vector<std::string> lines;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        auto line = client.ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()));
        if (!line) break;
        lines.push_back(*line);
        if (*line == last) return lines;
    }
    std::string seen;
    for (const auto& l : lines) seen += "\n  " + l;
    ADD_FAILURE() << "never received: " << last << "\nreceived:" << seen;
    return lines;
}

using IrcBridge_ = IrcBridgeFixture;

TEST_F(IrcBridge_, IrcEventsReachOnlyTheBridgedChannel) {
    auto ann = IrcUserInQuill(irc_->Port(), "ann");  // first in the channel: an IRC operator
    auto bob = IrcUserInQuill(irc_->Port(), "bob");
    Connect({"alice", "carol", "dave"});
    Do("alice", "/j IRC");
    Do("carol", "/j irc");
    // Chat channels match ignoring case, so alice heard carol come in; the
    // bridge does not: it takes "IRC" exactly.
    for (const char* nick : {"alice", "dave"}) U(nick).Collect();
    BringLinkUp();
    EXPECT_EQ(U("alice").Collect(), "I*R*C: Link up.\r\nI*R*C: Linked with #quill\r\n");
    ann->WaitFor(kLinkPrefix + " JOIN :#quill");

    // Each step is seen by an IRC user first, so the link gets them in this order.
    auto cat = IrcUserInQuill(irc_->Port(), "cat");
    ann->WaitFor(From("cat") + " JOIN :#quill");
    ann->Send("PRIVMSG #quill :hello");
    ann->Send("PRIVMSG #quill :\x01" "ACTION waves\x01");
    ann->Send("MODE #quill +o bob");
    ann->WaitFor(From("ann") + " MODE #quill +o bob");
    ann->Send("MODE #quill -o bob");
    ann->WaitFor(From("ann") + " MODE #quill -o bob");
    // cat joined after the link: it has no record, so there is nobody to name.
    ann->Send("MODE #quill +o cat");
    ann->WaitFor(From("ann") + " MODE #quill +o cat");
    bob->Send("NICK bobby");
    ann->WaitFor(From("bob") + " NICK :bobby");
    bob->Send("PART #quill :bye");
    ann->WaitFor(":bobby!~tester@127.0.0.1 PART #quill :bye");
    ann->Send("KICK #quill cat :out");
    ann->WaitFor(From("ann") + " KICK #quill cat :out");
    ann->Send("QUIT :gone");
    ann->WaitForClose();

    EXPECT_EQ(TakeLinkLogThrough("*** ann quits."), (std::vector<std::string>{
                                                        "*** cat joins.",
                                                        "*** ann has opped bob",
                                                        "*** ann has deopped bob",
                                                        "*** bob is now bobby.",
                                                        "*** bobby parts.",
                                                        "*** ann kicked cat.",
                                                        "*** ann quits.",
                                                    }));
    EXPECT_EQ(U("alice").Collect(),
              "I*R*C: cat has joined channel #quill\r\n"
              "[ann] hello\r\n"
              "[*] ann waves\r\n"
              "I*R*C: ann has opped bob in #quill\r\n"
              "I*R*C: ann has deopped bob in #quill\r\n"
              "I*R*C: bob is now known as: bobby\r\n"
              "I*R*C: bobby has parted channel #quill\r\n"
              "I*R*C: cat was kicked from channel #quill by ann\r\n"
              "I*R*C: ann has left IRC.\r\n");
    // "irc" in lower case is another channel; the main channel hears nothing either.
    EXPECT_EQ(U("carol").Collect(), "");
    EXPECT_EQ(U("dave").Collect(), "");
}

TEST_F(IrcBridge_, ChatLinesAndEventsReachTheIrcChannel) {
    auto ann = IrcUserInQuill(irc_->Port(), "ann");
    Connect({"alice", "bob", "carol", "dave"});
    BringLinkUp();
    ann->WaitFor(kLinkPrefix + " JOIN :#quill");
    Set("alice", [](TTcpSrvClient& c) { c.IsServOp = true; });

    Do("alice", "/j IRC");  // the first in: its operator
    Do("alice", "hello");
    Do("alice", "/me waves");
    Do("alice", ",a comma line stays here");
    Do("carol", "/j irc");
    Do("carol", "not bridged");
    Do("bob", "/j IRC");
    Do("alice", "/v bob");
    Do("bob", "without a voice");
    EXPECT_EQ(Do("bob", "/im ann psst"),
              "/im ann psst\r\n"
              "I*R*C: Message is undeliverable at this time.\r\n"
              "I*R*C: The link may be down, you may not have a voice, you're not in channel IRC, or single "
              "directional mode is enabled.\r\n"
              "I*R*C: Type /stat to check the current status.\r\n");
    Do("alice", "/im ann psst");
    Do("alice", "/o bob");
    Do("alice", "/d bob");
    Do("alice", "/n alicia");
    Do("alice", "/kill dave = spam");
    U("carol").Send("/quit bye\r\n");
    U("bob").CloseSocket();

    EXPECT_EQ(LinesThrough(*ann, kToChannel + "*** bob was disconnected."),
              (std::vector<std::string>{
                  kToChannel + "*** alice has joined.",
                  kToChannel + "[alice] hello",
                  kToChannel + "* alice waves",
                  kToChannel + "*** bob has joined.",
                  kLinkPrefix + " PRIVMSG ann :[alice] psst",
                  kToChannel + "*** bob was opped.",
                  kToChannel + "*** bob was deopped.",
                  kToChannel + "*** alice is now known as alicia",
                  kToChannel + "*** dave was killed by alicia (spam)",
                  kToChannel + "*** carol has quit.",
                  kToChannel + "*** bob was disconnected.",
              }));
    ann->ExpectNothing(300ms);
}

TEST_F(IrcBridge_, DotCommandsOfIrcUsers) {
    auto ann = IrcUserInQuill(irc_->Port(), "ann");
    Connect({"alice", "bob", "carol"});
    Do("alice", "/j IRC");
    Do("bob", "/j IRC");
    Set("bob", [](TTcpSrvClient& c) { c.HasIrcVoice = false; });
    Do("carol", "/away lunch");
    BringLinkUp();
    ann->WaitFor(kLinkPrefix + " JOIN :#quill");
    for (const char* nick : {"alice", "bob", "carol"}) U(nick).Collect();
    const std::string notice = kLinkPrefix + " NOTICE ann :";

    // Any word that begins with the command counts.
    ann->Send("PRIVMSG #quill :.helpme");
    EXPECT_EQ(LinesThrough(*ann, notice + ".names Get a list of people being linked (and whether they can talk)"),
              (std::vector<std::string>{
                  notice + "Help:",
                  notice + ".m <nickname> = <message> Send a private message",
                  notice + ".names Get a list of people being linked (and whether they can talk)",
              }));
    ann->Send("PRIVMSG #quill :.names");
    EXPECT_EQ(LinesThrough(*ann, notice + "Nick: alice Status: User can speak."),
              (std::vector<std::string>{notice + "Nick: bob Status: User may not speak.",
                                        notice + "Nick: alice Status: User can speak."}));
    // Any channel, any letter case; an away user is still reached.
    ann->Send("PRIVMSG #quill :.m CAROL = hi there");
    EXPECT_EQ(ann->ReadLine(), notice + "carol is away: lunch. Message was still sent.");
    EXPECT_EQ(U("carol").Collect(), "Private from IRC: [ann] hi there\r\n");
    // A private message to the link's nick works the same way.
    ann->Send("PRIVMSG Shadow- :.m alice = psst");
    EXPECT_EQ(U("alice").ReadUntil("\r\n"), "Private from IRC: [ann] psst\r\n");
    for (const char* line : {".m nobody = x", ".mx", ".m carol=x", ".m"}) {
        ann->Send("PRIVMSG #quill :"s + line);
        EXPECT_EQ(ann->ReadLine(), notice + "User is not online.") << line;
    }
    ann->Send("PRIVMSG Shadow- :hello you");
    const std::string relayed = "[ann] hello you\r\n";
    EXPECT_EQ(U("alice").ReadUntil("\r\n"), relayed);
    EXPECT_EQ(U("bob").Collect(), relayed);
    EXPECT_EQ(U("carol").Collect(), "");

    // With nobody in the bridged channel, .names answers nothing.
    Do("alice", "/j elsewhere");
    Do("bob", "/j elsewhere");
    ann->Send("PRIVMSG #quill :.names");
    ann->Send("PRIVMSG #quill :.help");
    EXPECT_EQ(LinesThrough(*ann, notice + "Help:"),
              (std::vector<std::string>{kToChannel + "*** alice has left.", kToChannel + "*** bob has left.",
                                        notice + "Help:"}));
}

// A connection that has typed a registered nickname but not its password
// is not that user: .m does not reach it.
TEST_F(IrcBridge_, DotMessageSkipsAConnectionAskedForAPassword) {
    auto ann = IrcUserInQuill(irc_->Port(), "ann");
    Connect({"alice"}, {{"user.dat", "Dave\r\n" + EncodePassword("Dave", "pw") + "\r\nY\r\nN\r\nN\r\nN\r\n"}});
    Do("alice", "/j IRC");
    TestClient impostor(port_);
    impostor.ExpectBanner("Hello there.\r\n");
    impostor.Send("Dave\r\n");
    EXPECT_EQ(impostor.Read("Dave\r\nPassword: "), "Dave\r\nPassword: ");
    BringLinkUp();
    ann->WaitFor(kLinkPrefix + " JOIN :#quill");
    U("alice").Collect();
    ann->Send("PRIVMSG #quill :.m dave = are you there");
    EXPECT_EQ(ann->ReadLine(), kLinkPrefix + " NOTICE ann :User is not online.");
    EXPECT_EQ(impostor.Collect(), "");
}

TEST_F(IrcBridge_, ChannelSpyModeCarriesIrcOnly) {
    settings_.ChannelSpy = true;
    auto ann = IrcUserInQuill(irc_->Port(), "ann");
    Connect({"alice"});
    Do("alice", "/j IRC");
    BringLinkUp();
    EXPECT_EQ(U("alice").Collect(), "I*R*C: Link up.\r\nI*R*C: Linked with #quill Channel spy mode enabled.\r\n");
    ann->WaitFor(kLinkPrefix + " JOIN :#quill");
    Do("alice", "hello");
    Do("alice", "/j IRC");
    U("alice").Collect();
    ann->Send("PRIVMSG #quill :.help");
    EXPECT_EQ(U("alice").ReadUntil("\r\n"), "[ann] .help\r\n");
    EXPECT_EQ(Do("alice", "/stat"),
              "/stat\r\nI*R*C: Link up.  Linking with: #quill\r\n"
              "I*R*C: You currently have a voice, which means you may speak.\r\n"
              "I*R*C: Single directional mode is enabled.  You will only be able to see the conversation on "
              "IRC, not participate in it.\r\n");
    ann->ExpectNothing(300ms);
}

TEST_F(IrcBridge_, ControlBytesNeverCrossTheLink) {
    auto ann = AliceAndAnnLinked();

    // IRC formatting, colours with their digits, escape sequences, a stray CTCP byte.
    ann->Send("PRIVMSG #quill :\x02" "bold\x02 \x03" "04,12red\x03 \x1b[31mesc\x07 a\x01" "b");
    EXPECT_EQ(U("alice").ReadUntil("\r\n"), "[ann] bold red [31mesc ab\r\n");

    // A chat user cannot put a protocol line into the relayed text: a line end
    // ends the chat line, and the rest is a chat line of its own.
    U("alice").Send("hi\rQUIT :bye\r\n");
    EXPECT_EQ(ann->ReadLine(), kToChannel + "[alice] hi");
    EXPECT_EQ(ann->ReadLine(), kToChannel + "[alice] QUIT :bye");
    EXPECT_EQ(U("alice").Collect(), "hi\r\n<alice> hi\r\nQUIT :bye\r\n<alice> QUIT :bye\r\n");
    // Nor can the operator's raw line.
    Link([](IrcBridge& b) { b.Enter("PRIVMSG #quill :x\r\nQUIT :gone", ""); });
    TakeLinkLogThrough("*** Line not sent: it holds a line end or NUL.");
    Link([](IrcBridge& b) { b.Enter("", "from the operator"); });
    EXPECT_EQ(ann->ReadLine(), kToChannel + "from the operator");
    EXPECT_EQ(LinkState(), csConnected);
    // IRC does not echo the link's own lines back to the chat users.
    EXPECT_EQ(U("alice").Collect(), "");
}

TEST_F(IrcBridge_, TheLongestChatLineArrivesWholeInOrder) {
    auto ann = AliceAndAnnLinked();
    std::string line;
    for (int i = 0; line.size() < 512; ++i) line += std::to_string(i % 10);
    line.resize(512);
    U("alice").Send(line + "\r\n");

    // Every piece says who speaks, so none can pass for a line of the link's own.
    const std::string head = kToChannel + "[alice] ";
    std::string received;
    int pieces = 0;
    while (received.size() < line.size()) {
        const auto got = ann->ReadLine();
        ASSERT_TRUE(got) << "received so far: " << received;
        ASSERT_EQ(got->rfind(head, 0), 0u) << *got;
        EXPECT_LE(got->size() + 2, 512u) << *got;
        EXPECT_EQ(got->find("[CUT]"), std::string::npos) << *got;
        received += got->substr(head.size());
        ++pieces;
    }
    EXPECT_EQ(received, line);
    EXPECT_EQ(pieces, 2);
}

TEST_F(IrcBridge_, ABurstOfChatLinesIsPacedAndNotDropped) {
    settings_.SendInterval = IrcLinkSettings{}.SendInterval;
    auto ann = AliceAndAnnLinked();
    std::string burst;
    std::vector<std::string> expected;
    for (int i = 1; i <= 15; ++i) {
        burst += "line " + std::to_string(i) + "\r\n";
        expected.push_back(kToChannel + "[alice] line " + std::to_string(i));
    }
    U("alice").Send(burst);
    // Five at once, then one every two seconds.
    EXPECT_EQ(LinesThrough(*ann, expected.back(), 40s), expected);
    EXPECT_EQ(LinkState(), csConnected);
    EXPECT_EQ(U("alice").Collect().find("Link down"), std::string::npos);
}

TEST_F(IrcBridge_, StatShowsTheLinkAndAFailedAttemptIsLogged) {
    Connect({"alice"});
    Do("alice", "/j IRC");
    const std::string voice = "I*R*C: You currently have a voice, which means you may speak.\r\n";
    const std::string bi =
        "I*R*C: Bi-directional mode is enabled.  If you have a voice, you will be able to participate in the "
        "conversation on IRC.\r\n";
    EXPECT_EQ(Do("alice", "/stat"), "/stat\r\nI*R*C: Link down.\r\n" + voice + bi);
    BringLinkUp();
    U("alice").Collect();
    EXPECT_EQ(Do("alice", "/stat"), "/stat\r\nI*R*C: Link up.  Linking with: #quill\r\n" + voice + bi);

    // Stop, then a start that is refused: the link log says why.
    Link([](IrcBridge& b) { b.Stop(); });
    TakeLinkLogThrough("*** Disconnected!");
    EXPECT_EQ(U("alice").Collect(), "I*R*C: Link down.\r\n");
    irc_->Stop();
    Link([](IrcBridge& b) { b.Start(); });
    TakeLinkLogThrough("*** Cannot connect to 127.0.0.1 port " + settings_.Port + ": Connection refused.");
    TakeLinkLogThrough("*** Disconnected!");
    // The chat users heard of this outage once already.
    EXPECT_EQ(U("alice").Collect(), "");
    EXPECT_EQ(Do("alice", "/stat"), "/stat\r\nI*R*C: Link down.\r\n" + voice + bi);
}

class IrcBridgeKept : public IrcBridgeFixture {
protected:
    void SetUp() override {
        keeper_ = true;
        IrcBridgeFixture::SetUp();
    }
};

TEST_F(IrcBridgeKept, TheLinkComesBackAfterTheIrcServerDoes) {
    Connect({"alice"});
    Do("alice", "/j IRC");
    OnServer([&](ChatServer&) { linkKeeper_->Begin(); });
    TakeLinkLogThrough("*** Joined channel: #quill");
    EXPECT_EQ(U("alice").Collect(), "I*R*C: Link up.\r\nI*R*C: Linked with #quill\r\n");

    irc_->Stop();
    TakeLinkLogThrough("*** Disconnected!");
    // Two more attempts fail while the server is away ...
    TakeLinkLogThrough("*** Cannot connect to 127.0.0.1 port " + settings_.Port + ": Connection refused.");
    TakeLinkLogThrough("*** Cannot connect to 127.0.0.1 port " + settings_.Port + ": Connection refused.");
    // ... and the chat users hear of the outage once.
    EXPECT_EQ(U("alice").Collect(), "I*R*C: Link down.\r\n");

    ASSERT_TRUE(irc_->Start());
    TakeLinkLogThrough("*** Joined channel: #quill");
    EXPECT_EQ(U("alice").Collect(), "I*R*C: Link up.\r\nI*R*C: Linked with #quill\r\n");
    auto ann = IrcUserInQuill(irc_->Port(), "ann");
    Do("alice", "back again");
    EXPECT_EQ(ann->ReadLine(), kToChannel + "[alice] back again");
}

TEST_F(IrcBridgeKept, AKickedLinkDoesNotJoinAgain) {
    auto ann = IrcUserInQuill(irc_->Port(), "ann");  // the channel's operator
    Connect({"alice"});
    OnServer([&](ChatServer&) { linkKeeper_->Begin(); });
    TakeLinkLogThrough("*** Joined channel: #quill");
    ann->Send("KICK #quill Shadow- :enough");
    TakeLinkLogThrough("*** Kicked from #quill; the link does not join it again by itself.");
    // A new connection does not join either.
    Link([](IrcBridge& b) { b.Client().Disconnect(true); });
    TakeLinkLogThrough("*** Connected to IRC server... logging in....");
    ASSERT_TRUE(WaitForState(csConnected));
    ann->Send("NAMES #quill");
    EXPECT_EQ(ann->WaitFor(" 353 "), ":irc.test 353 ann = #quill :@ann");
}

class IrcBridgeTls : public IrcBridgeFixture {
protected:
    void SetUp() override {
        ircOptions_.tls = true;
        IrcBridgeFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        settings_.Port = "+" + std::to_string(irc_->TlsPort());
    }
};

TEST_F(IrcBridgeTls, APinnedCertificateCarriesTheLink) {
    settings_.TlsFingerprint = irc_->CertificateFingerprint();
    auto ann = AliceAndAnnLinked();
    Do("alice", "over TLS");
    EXPECT_EQ(ann->ReadLine(), kToChannel + "[alice] over TLS");
    ann->Send("PRIVMSG #quill :and back");
    U("alice").ReadUntil("[ann] and back\r\n");
}

TEST_F(IrcBridgeTls, ACertificateThatFailsVerificationTakesTheLinkDown) {
    const struct {
        std::string fingerprint, logged;
    } cases[] = {
        {std::string(64, 'a'), "*** TLS certificate does not match the pinned fingerprint"},
        // Self-signed, and no pin: the system's CA store does not know it.
        {"", "*** TLS certificate verification failed"},
    };
    Connect({"alice"});
    Do("alice", "/j IRC");
    for (const auto& c : cases) {
        Link([&](IrcBridge& b) {
            IrcLinkSettings s = b.Settings();
            s.TlsFingerprint = c.fingerprint;
            b.Configure(s);
            b.Start();
        });
        const auto log = TakeLinkLogThrough("*** Disconnected!");
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[log.size() - 2].rfind(c.logged, 0), 0u) << log[log.size() - 2];
        EXPECT_EQ(LinkState(), csDisconnected);
    }
    EXPECT_EQ(U("alice").Collect(), "I*R*C: Link down.\r\n");
}

}  // namespace
}  // namespace qm::test
