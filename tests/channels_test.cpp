// Moving between channels, nickname changes and the channel operator's
// commands, over real sockets.
#include <vector>

#include "chat_fixture.h"
#include "commands/channels.h"
#include "commands/login.h"
#include "storage/user_database.h"

namespace qm::test {
namespace {

using Channels = ChatServerFixture;

// Names compare ignoring letter case, so the pseudo-name of those still
// choosing a nickname is reserved in every spelling: no channel of that name
// carries lines to them, and no nickname of that name takes registration or
// mail.
TEST_F(Channels, ThePseudoNameIsReservedInEveryLetterCase) {
    Connect({"alice", "bob"});
    Set("alice", [](TTcpSrvClient& c) { c.IsChanOp = true; });
    const std::string usage = "*** Usage: /j <channel>\r\n";
    const std::string inUse = "*** That nickname is in use.  Try another.\r\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/j choosing nickname...", usage},
        {"/j CHOOSING NICKNAME...", usage},
        {"/join Choosing Nickname...", usage},
        {"/n choosing nickname...", inUse},
        {"/n CHOOSING nickname...", inUse},
    };
    for (const auto& [line, reply] : cases) {
        SCOPED_TRACE(line);
        EXPECT_EQ(Do("alice", line), line + "\r\n" + reply);
    }
    // Alice is still in the main channel, and a newcomer at the prompt hears
    // nothing of it before it has a nickname.
    TestClient waiting(port_);
    waiting.ExpectBanner("Hello there.\r\n");
    U("alice").Send("hello\r\n");
    EXPECT_EQ(U("bob").Collect(), "<alice> hello\r\n");
    waiting.Send("wendy\r\n");
    EXPECT_EQ(waiting.Read("wendy\r\nWelcome!\r\n"), "wendy\r\nWelcome!\r\n");

    // A game client keeps the pseudo-name until it names itself.
    TestClient game(port_);
    game.ExpectBanner("Hello there.\r\n");
    game.Send(std::string(kGameHandshake) + "\r\n/reg secret\r\n");
    game.ReadUntil("* Entered chess mode.\r\n");
    EXPECT_NE(game.ReadUntil("\r\n").find("You have no nickname to register."), std::string::npos);
    OnServer([](ChatServer& s) { EXPECT_LT(s.state().users.FindUserRecord(kChoosingNickname), 0); });

    // A record of the pseudo-name, as older versions let a game client make
    // one, takes no mail.
    StopServer();
    users_.clear();
    io_.restart();
    const std::string pseudo = std::string(kChoosingNickname) + "\r\n" + EncodePassword(std::string(kChoosingNickname), "x") + "\r\nN\r\nN\r\nN\r\nN\r\n";
    Connect({"carol"}, {{"user.dat", pseudo}});
    EXPECT_EQ(Do("carol", "/reg pw"), "/reg pw\r\n*** You have been registered.\r\n");
    EXPECT_EQ(Do("carol", "/send choosing Nickname... = hi"),
              "/send choosing Nickname... = hi\r\n*** Recipient: choosing Nickname... is not registered.\r\n");
}

TEST_F(Channels, JoinAnnouncesThePartAndTheJoin) {
    Connect({"alice", "bob", "carol"});
    EXPECT_EQ(Do("alice", "/j Room"), "/j Room\r\n*** alice left\r\n");
    EXPECT_EQ(U("bob").Collect(), "*** alice left\r\n");
    EXPECT_EQ(Do("bob", "/J ROOM"), "/J ROOM\r\n*** bob left\r\n");
    EXPECT_EQ(U("alice").Collect(), "*** bob joined\r\n");
    EXPECT_EQ(U("carol").Collect(), "*** alice left\r\n*** bob left\r\n");
    // The channel is named as typed, and compared without letter case.
    EXPECT_EQ(Read("bob", &TTcpSrvClient::Channel), "ROOM");

    // Rejoining one's own channel: everybody there hears both, the sender too.
    EXPECT_EQ(Do("alice", "/j room"), "/j room\r\n*** alice left\r\n*** alice joined\r\n");
    EXPECT_EQ(U("bob").Collect(), "*** alice left\r\n*** alice joined\r\n");
    EXPECT_EQ(U("carol").Collect(), "");

    // An undercover user comes and goes unheard.
    Set("bob", [](TTcpSrvClient& c) { c.Undercover = true; });
    EXPECT_EQ(Do("bob", "/j Main"), "/j Main\r\n");
    EXPECT_EQ(U("alice").Collect(), "");
    EXPECT_EQ(U("carol").Collect(), "");
}

struct OperatorCase {
    const char* what;
    std::string bobChannel;  // where the only other user is
    bool bobUndercover;
    bool wasOp;
    std::string target;
    bool isOp;
};

TEST_F(Channels, JoinDecidesOperatorStatus) {
    Connect({"alice", "bob"});
    const std::vector<OperatorCase> cases = {
        {"first into an empty channel", "Busy", false, false, "Empty", true},
        {"into an occupied channel", "Busy", false, false, "busy", false},
        {"an operator into an occupied channel", "Busy", false, true, "BUSY", true},
        {"into a channel whose only member is undercover", "Busy", true, false, "Busy", false},
        {"into the occupied main channel", "Main", false, true, "Main", false},
        {"into the empty main channel", "Busy", false, true, "MAIN", false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        Set("alice", [&](TTcpSrvClient& c) {
            c.SetChannel("Start");
            c.IsOp = k.wasOp;
        });
        Set("bob", [&](TTcpSrvClient& c) {
            c.SetChannel(k.bobChannel);
            c.Undercover = k.bobUndercover;
        });
        Do("alice", "/j " + k.target);
        EXPECT_EQ(Get("alice", &TTcpSrvClient::IsOp), k.isOp);
        EXPECT_EQ(Read("alice", &TTcpSrvClient::Channel), k.target);
        U("bob").Collect();
    }
}

TEST_F(Channels, JoinRefusals) {
    Connect({"alice", "bob"});
    TestClient waiting(port_);  // still at the nickname prompt, its pseudo-channel locked
    waiting.ExpectBanner("Hello there.\r\n");
    Set("bob", [](TTcpSrvClient& c) {
        c.SetChannel("Vault");
        c.ChannelLocked = true;
    });
    const std::string usage = "*** Usage: /j <channel>\r\n";
    const std::string denied = "*** Access to this channel is not allowed.\r\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/j", usage},
        {"/j ", usage},
        {"/j Chess", usage},
        {"/j Choosing nickname...", usage},
        {"/j vault", denied},
        {"/j choosing nickname...", usage},
    };
    for (const auto& [line, reply] : cases) {
        SCOPED_TRACE(line);
        EXPECT_EQ(Do("alice", line), line + "\r\n" + reply);
    }
    // The summary of the IRC commands comes first, even when the way is barred.
    Set("bob", [](TTcpSrvClient& c) { c.SetChannel("IRC"); });
    EXPECT_EQ(Do("alice", "/j IRC"),
              "/j IRC\r\n*** Commands for IRC: /v <nick> - Gives/Removes the ability to speak to others on IRC "
              "(if you are an op).\r\n/stat - IRC status\r\n/im <nick> <message> - Send a private message to a "
              "person on IRC.\r\n" + denied);
    // One's own lock bars a rejoin.
    Set("alice", [](TTcpSrvClient& c) { c.ChannelLocked = true; });
    EXPECT_EQ(Do("alice", "/j main"), "/j main\r\n" + denied);
    EXPECT_EQ(Read("alice", &TTcpSrvClient::Channel), "Main");
    EXPECT_EQ(U("bob").Collect(), "");
}

TEST_F(Channels, LockFlipsEveryMembersFlag) {
    Connect({"alice", "bob", "carol"});
    Do("alice", "/j Room");
    Do("bob", "/j Room");
    U("alice").Collect();
    U("carol").Collect();
    EXPECT_EQ(Do("bob", "/l"), "/l\r\n*** You are not an op.\r\n");

    EXPECT_EQ(Do("alice", "/L"), "/L\r\n*** alice has locked this channel.\r\n");
    EXPECT_EQ(U("bob").Collect(), "*** alice has locked this channel.\r\n");
    EXPECT_TRUE(Get("bob", &TTcpSrvClient::ChannelLocked));
    EXPECT_EQ(Do("carol", "/j room"), "/j room\r\n*** Access to this channel is not allowed.\r\n");

    // A member who came in past the lock flips the other way, and keeps the
    // channel locked on its own.
    Set("bob", [](TTcpSrvClient& c) { c.ChannelLocked = false; });
    EXPECT_EQ(Do("alice", "/l"), "/l\r\n*** alice has unlocked this channel.\r\n");
    EXPECT_EQ(U("bob").Collect(), "*** alice has locked this channel.\r\n");
    EXPECT_EQ(Do("carol", "/j ROOM"), "/j ROOM\r\n*** Access to this channel is not allowed.\r\n");
    EXPECT_EQ(Do("alice", "/l"), "/l\r\n*** alice has locked this channel.\r\n");
    EXPECT_EQ(U("bob").Collect(), "*** alice has unlocked this channel.\r\n");

    // Once the last flagged member has gone, the channel is open again.
    Do("alice", "/j Main");
    EXPECT_EQ(U("carol").Collect(), "*** alice joined\r\n");
    EXPECT_EQ(Do("carol", "/j Room"), "/j Room\r\n*** carol left\r\n");
    EXPECT_EQ(U("bob").Collect(), "*** alice left\r\n*** carol joined\r\n");
}

TEST_F(Channels, OperatorCommandsNeedAnOperator) {
    Connect({"alice", "bob"});
    for (const std::string line : {"/o bob", "/d bob", "/k bob", "/l", "/wall hi", "/v bob", "/op now"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(Do("alice", line), line + "\r\n*** You are not an op.\r\n");
    }
    // Only in the linked channel does an operator hand out voices.
    Set("alice", [](TTcpSrvClient& c) { c.IsOp = true; });
    EXPECT_EQ(Do("alice", "/v bob"), "/v bob\r\n*** You are not an op.\r\n");
    Set("alice", [](TTcpSrvClient& c) { c.SetChannel("irc"); });
    EXPECT_EQ(Do("alice", "/v bob"), "/v bob\r\n*** You are not an op.\r\n");
    // The target's channel must be the operator's exactly.
    Set("alice", [](TTcpSrvClient& c) { c.SetChannel("MAIN"); });
    const std::string absent = "*** User is not online or not on this channel.\r\n";
    for (const std::string line : {"/o bob", "/d bob", "/k bob", "/o nobody"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(Do("alice", line), line + "\r\n" + absent);
    }
    EXPECT_EQ(U("bob").Collect(), "");
    EXPECT_FALSE(Get("bob", &TTcpSrvClient::IsOp));
}

TEST_F(Channels, OpWallDeopAndKick) {
    Connect({"alice", "bob", "carol", "dave"});
    Do("alice", "/j Room");
    Do("bob", "/j Room");
    Do("dave", "/j Room");
    for (const char* nick : {"alice", "bob", "carol", "dave"}) U(nick).Collect();

    // The notice names the target as typed.
    EXPECT_EQ(Do("alice", "/o BOB"), "/o BOB\r\n*** BOB opped by alice\r\n");
    EXPECT_EQ(U("bob").Collect(), "*** BOB opped by alice\r\n");
    EXPECT_TRUE(Get("bob", &TTcpSrvClient::IsOp));

    // Only the channel's operators read /wall.
    EXPECT_EQ(Do("bob", "/wall ops only"), "/wall ops only\r\nAll ops <bob> ops only\r\n");
    EXPECT_EQ(U("alice").Collect(), "All ops <bob> ops only\r\n");
    EXPECT_EQ(U("dave").Collect(), "*** BOB opped by alice\r\n");
    EXPECT_EQ(U("carol").Collect(), "");

    EXPECT_EQ(Do("bob", "/d alice"), "/d alice\r\n*** alice deopped by bob\r\n");
    EXPECT_FALSE(Get("alice", &TTcpSrvClient::IsOp));

    // The kicked user lands in the main channel, unlocked and without status.
    Set("dave", [](TTcpSrvClient& c) {
        c.IsOp = true;
        c.ChannelLocked = true;
    });
    EXPECT_EQ(Do("bob", "/k dave"), "/k dave\r\n*** dave kicked by bob\r\n");
    EXPECT_EQ(U("dave").Collect(),
              "*** alice deopped by bob\r\n*** You've been kicked.  Sending you to main area.\r\n"
              "*** dave joined\r\n");
    EXPECT_EQ(U("carol").Collect(), "*** dave joined\r\n");
    EXPECT_EQ(U("alice").Collect(), "*** alice deopped by bob\r\n*** dave kicked by bob\r\n");
    EXPECT_EQ(Read("dave", &TTcpSrvClient::Channel), "Main");
    EXPECT_FALSE(Get("dave", &TTcpSrvClient::IsOp));
    EXPECT_FALSE(Get("dave", &TTcpSrvClient::ChannelLocked));

    // A kick inside the main channel: its members hear both notices.
    Set("carol", [](TTcpSrvClient& c) { c.IsOp = true; });
    EXPECT_EQ(Do("carol", "/k Dave"), "/k Dave\r\n*** Dave kicked by carol\r\n*** Dave joined\r\n");
    EXPECT_EQ(U("dave").Collect(),
              "*** You've been kicked.  Sending you to main area.\r\n*** Dave kicked by carol\r\n*** Dave joined\r\n");

    // An operator may deop itself.
    EXPECT_EQ(Do("bob", "/d bob"), "/d bob\r\n*** bob deopped by bob\r\n");
    EXPECT_FALSE(Get("bob", &TTcpSrvClient::IsOp));
}

TEST_F(Channels, VoiceToggles) {
    Connect({"alice", "bob"});
    Do("alice", "/j IRC");
    Do("bob", "/j IRC");
    U("alice").Collect();
    EXPECT_TRUE(Get("alice", &TTcpSrvClient::IsOp));
    EXPECT_EQ(Do("alice", "/v Bob"), "/v Bob\r\n");
    EXPECT_EQ(U("bob").Collect(), "*** You have lost your voice for the IRC link.\r\n");
    EXPECT_FALSE(Get("bob", &TTcpSrvClient::HasIrcVoice));
    Do("alice", "/v bob");
    EXPECT_EQ(U("bob").Collect(), "*** Your voice for the IRC link has been reissued.\r\n");
    EXPECT_TRUE(Get("bob", &TTcpSrvClient::HasIrcVoice));
}

TEST_F(Channels, NickChangeRefusals) {
    Connect({"alice", "bob"});
    const std::string longName(40, 'x');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/n a=b", "*** You may NOT have an = sign in your nick.  You may have any other character.\r\n"},
        {"/n=bob", "*** You may NOT have an = sign in your nick.  You may have any other character.\r\n"},
        {"/n", "*** Useage: /n <nickname>\r\n"},
        {"/n ", "*** Useage: /n <nickname>\r\n"},
        {"/n BOB", "*** That nickname is in use.  Try another.\r\n"},
        {"/n ALICE", "*** That nickname is in use.  Try another.\r\n"},
    };
    for (const auto& [line, reply] : cases) {
        SCOPED_TRACE(line);
        EXPECT_EQ(Do("alice", line), line + "\r\n" + reply);
    }
    EXPECT_EQ(Read("alice", &TTcpSrvClient::Nick), "alice");
    EXPECT_EQ(U("bob").Collect(), "");
}

TEST_F(Channels, NickChangeToAFreeName) {
    Connect({"alice", "bob", "carol"});
    Set("carol", [](TTcpSrvClient& c) { c.SetChannel("Elsewhere"); });
    const std::string longName(40, 'z');
    const std::string cut(35, 'z');
    EXPECT_EQ(Do("alice", "/n " + longName), "/n " + longName + "\r\n*** alice is now known as " + cut + "\r\n");
    EXPECT_EQ(U("bob").Collect(), "*** alice is now known as " + cut + "\r\n");
    EXPECT_EQ(U("carol").Collect(), "");
    OnServer([&](ChatServer& s) {
        EXPECT_EQ(FindClient(s, "alice"), nullptr);
        EXPECT_NE(FindClient(s, cut), nullptr);
        // Newest connection first, as the admin window lists them.
        EXPECT_EQ(s.OnlineUsers(), (std::vector<std::string>{"carol", "bob", cut}));
    });
    // The in-use test looks at the cut name.
    EXPECT_EQ(Do("bob", "/n " + cut + "extra"), "/n " + cut + "extra\r\n*** That nickname is in use.  Try another.\r\n");
}

TEST_F(Channels, NickChangeToARegisteredNameAsksForThePassword) {
    Connect({"alice", "bob"}, {{"user.dat", "Reg\r\n" + EncodePassword("Reg", "pw") + "\r\nY\r\nN\r\nN\r\nN\r\n"}});
    EXPECT_EQ(Do("alice", "/n Reg"), "/n Reg\r\nPassword: ");
    OnServer([&](ChatServer& s) {
        const TTcpSrvClient* c = FindClient(s, "Reg");
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->AuxNick, "alice");
        EXPECT_TRUE(c->AwaitingNickPassword);
        EXPECT_FALSE(c->LineEcho());
    });
    // Nobody has heard of it yet; the password step settles it.
    EXPECT_EQ(U("bob").Collect(), "");
    U("alice").Send("pw\r\n");
    const std::string done = "*** You have 0 messages.\r\nWelcome!\r\n*** alice is now known as Reg\r\n";
    EXPECT_EQ(U("alice").Read(done), done);
    EXPECT_EQ(U("bob").Collect(), "*** alice is now known as Reg\r\n");
}

TEST_F(Channels, GameClientNamesItself) {
    Connect({"alice"});
    const std::string handshake = "gamma kilo omega sigma 48210573918265x-903174x-58\r\n";
    TestClient g1(port_), g2(port_);
    for (TestClient* g : {&g1, &g2}) {
        g->ExpectBanner("Hello there.\r\n");
        g->Send(handshake);
        EXPECT_EQ(g->Read(handshake + "* Entered chess mode.\r\n" + kWontEcho),
                  handshake + "* Entered chess mode.\r\n" + kWontEcho);
    }
    // Members without a name hear the newcomer arrive (echo is off in game mode).
    g1.Send("/n Player1\r\n");
    EXPECT_EQ(g1.Read("*** Player1 joined\r\n"), "*** Player1 joined\r\n");
    EXPECT_EQ(g2.Read("*** Player1 joined\r\n"), "*** Player1 joined\r\n");
    g2.Send("/n Player2\r\n");
    EXPECT_EQ(g2.Read("*** Player2 joined\r\n"), "*** Player2 joined\r\n");
    EXPECT_EQ(g1.Read("*** Choosing nickname... is now known as Player2\r\n"),
              "*** Choosing nickname... is now known as Player2\r\n");
    EXPECT_EQ(U("alice").Collect(), "");
    EXPECT_EQ(Read("Player1", &TTcpSrvClient::Channel), "Chess");
}

TEST_F(Channels, ChannelEventsGoToALinkThatIsUp) {
    Connect({"alice", "bob"});
    OnServer([&](ChatServer&) { link_.up = true; });
    for (const char* line : {"/j IRC", "/j IRC", "/o ALICE", "/d alice", "/j irc", "/n Al"}) Do("alice", line);
    std::vector<std::string> said;
    OnServer([&](ChatServer&) { said = link_.said; });
    EXPECT_EQ(said, (std::vector<std::string>{
                        "*** alice has joined.",
                        "*** alice has joined.",
                        "*** alice has left.",
                        "*** ALICE was opped.",
                        "*** alice was deopped.",
                        "*** alice has left.",
                        "*** alice is now known as Al",
                    }));
    // In channel spy mode nothing goes out.
    OnServer([&](ChatServer&) {
        link_.said.clear();
        link_.spy = true;
    });
    Do("alice", "/j IRC");
    Do("alice", "/n Alice2");
    OnServer([&](ChatServer&) { EXPECT_TRUE(link_.said.empty()); });
}

}  // namespace
}  // namespace qm::test
