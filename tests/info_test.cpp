// /ver, /names, /whois, /who, /stat and the help texts, over real sockets.
#include <vector>

#include "chat_fixture.h"
#include "commands/info.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;

using Info = ChatServerFixture;

const std::string kCredits = "*** Quillmoot v1.0 Beta - server " QM_VERSION " by the Quillmoot team, 2026\r\n";

TEST_F(Info, VersionCountsConnectionsAndThePeak) {
    Connect({"alice", "bob", "carol"});
    TestClient prompt(port_);  // counts while still choosing a nickname
    prompt.ExpectBanner("Hello there.\r\n");
    EXPECT_EQ(Do("alice", "/ver"), "/ver\r\n" + kCredits + "*** Number of users: 4 Peak: 4\r\n");
    U("carol").CloseSocket();
    prompt.CloseSocket();
    ASSERT_TRUE(observer_.WaitForLog("Client disconnecting: carol"));
    ASSERT_TRUE(observer_.WaitForLog("Client disconnecting: Choosing nickname..."));
    EXPECT_EQ(U("alice").Collect(), "*** carol disconnected\r\n");
    EXPECT_EQ(Do("alice", "/VER"), "/VER\r\n" + kCredits + "*** Number of users: 2 Peak: 4\r\n");
}

TEST_F(Info, HelpTexts) {
    Connect({"alice"});
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/help", "Help text.\r\n\r\n"},
        {"/HELP CHANNELS", "Channel help.\r\n\r\n"},
        {"/help Registration", "Registration help.\r\n\r\n"},
        {"/help me", "*** No such command.\r\n"},
        {"/help ", "*** No such command.\r\n"},
    };
    for (const auto& [line, reply] : cases) {
        SCOPED_TRACE(line);
        EXPECT_EQ(Do("alice", line), line + "\r\n" + reply);
    }
}

TEST_F(Info, OverlappingCommandWords) {
    Connect({"alice"});
    const std::string names = "*** Nick: alice\r\n*** Modes: \r\n*** Connected for: 00:00:00\r\n\r\nEnd of /names list.\r\n";
    const std::string stat =
        "I*R*C: Link down.\r\n"
        "I*R*C: You currently have a voice, which means you may speak.\r\n"
        "I*R*C: Bi-directional mode is enabled.  If you have a voice, you will be able to participate in the "
        "conversation on IRC.\r\n";
    const std::string notOp = "*** You are not an op.\r\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/NAMES", names},
        {"/whois ALICE",
         "*** Nick: alice\r\n*** Chan: Main\r\n*** Modes: \r\n*** Connected for: 00:00:00\r\n\r\n"
         "End of /whois list.\r\n"},
        {"/whois", "*** User is not online.\r\nEnd of /whois list.\r\n"},
        {"/whois nobody", "*** User is not online.\r\nEnd of /whois list.\r\n"},
        {"/Who", "*** There are 1 users online:\r\n*** Main: alice    Connected for: 00:00:00\r\nEnd of /who list.\r\n"},
        {"/whom", "*** No such command.\r\n"},
        {"/who ", "*** No such command.\r\n"},
        {"/stat", stat},
        {"/status please", stat},
        {"/ver ", notOp},
        {"/version", notOp},
        {"/op now", notOp},
        {"/op", "*** No such command.\r\n"},
        // Not /names: a nickname change to what follows "/n" and its separator.
        {"/names ", "*** alice is now known as mes \r\n"},
    };
    for (const auto& [line, reply] : cases) {
        SCOPED_TRACE(line);
        EXPECT_EQ(Do("alice", line), line + "\r\n" + reply);
    }
    // "/op" stopped at its own row: the refusal was logged.
    EXPECT_TRUE(observer_.WaitForLog("127.0.0.1: alice attempted used /op.  Failed: Not ChanOP"));
}

TEST_F(Info, ListingsHideUndercoverAndInvisibleUsers) {
    // bob is walked last, and hidden from everybody but spies.
    Connect({"bob", "carol", "dave", "erin", "alice"});
    TestClient prompt(port_);
    prompt.ExpectBanner("Hello there.\r\n");
    Set("bob", [](TTcpSrvClient& c) {
        c.Undercover = true;
        c.IsSpy = true;
    });
    Set("carol", [](TTcpSrvClient& c) { c.Invisible = true; });
    Set("dave", [](TTcpSrvClient& c) {
        c.Invisible = true;
        c.SetChannel("Other");
    });
    Set("erin", [](TTcpSrvClient& c) { c.SetChannel("Other"); });

    auto entry = [](const std::string& nick, const std::string& modes) {
        return "*** Nick: " + nick + "\r\n*** Modes: " + modes + "\r\n*** Connected for: 00:00:00\r\n\r\n";
    };
    auto who = [](const std::string& channel, const std::string& nick, const std::string& marks) {
        return "*** " + channel + ": " + nick + " " + marks + "   Connected for: 00:00:00\r\n";
    };
    const std::string waiting = who("Choosing nickname...", "Choosing nickname...", "(channel locked)");
    const std::string bobWhois = "*** Nick: bob\r\n*** Chan: Main\r\n*** Modes: ";
    const std::string whoisEnd = "\r\n*** Connected for: 00:00:00\r\n\r\nEnd of /whois list.\r\n";

    EXPECT_EQ(Do("alice", "/names"),
              "/names\r\n" + entry("alice", "") + entry("carol", "(Invisible) ") + "End of /names list.\r\n");
    EXPECT_EQ(Do("alice", "/who"), "/who\r\n*** There are 6 users online:\r\n" + waiting + who("Main", "alice", "") +
                                       who("Other", "erin", "") + who("Main", "carol", "(Invisible)") +
                                       "End of /who list.\r\n");
    // Asked for by name, the undercover user shows, but not as a spy.
    EXPECT_EQ(Do("alice", "/whois bob"), "/whois bob\r\n" + bobWhois + whoisEnd);
    // Invisible users show to their own channel.
    EXPECT_EQ(Do("erin", "/who"), "/who\r\n*** There are 6 users online:\r\n" + waiting + who("Main", "alice", "") +
                                      who("Other", "erin", "") + who("Other", "dave", "(Invisible)") +
                                      "End of /who list.\r\n");

    // A spy sees the undercover user and the spy mark.
    Set("alice", [](TTcpSrvClient& c) { c.IsSpy = true; });
    EXPECT_EQ(Do("alice", "/names"), "/names\r\n" + entry("alice", "(Spy) ") + entry("carol", "(Invisible) ") +
                                         entry("bob", "(Spy) ") + "End of /names list.\r\n");
    EXPECT_EQ(Do("alice", "/who"), "/who\r\n*** There are 6 users online:\r\n" + waiting +
                                       who("Main", "alice", "(Spy)") + who("Other", "erin", "") +
                                       who("Main", "carol", "(Invisible)") + who("Main", "bob", "(Spy)") +
                                       "End of /who list.\r\n");
    EXPECT_EQ(Do("alice", "/whois BOB"), "/whois BOB\r\n" + bobWhois + "(Spy) " + whoisEnd);
}

TEST_F(Info, ModeMarksAndConnectedTime) {
    Connect({"alice", "bob"});
    Set("bob", [](TTcpSrvClient& c) {
        c.IsOp = true;
        c.ChannelLocked = true;
        c.Away = true;
        c.AwayMessage = "gone fishing";
        c.IsServOp = true;
        c.IsChanOp = true;
        c.Invisible = true;
        c.IsSpy = true;
        c.InGame = true;
    });
    Set("alice", [](TTcpSrvClient& c) { c.IsSpy = true; });
    // A day and a bit later the hours start again.
    clock_.Advance(25h + 5min + 7s);
    users_["carol"] = std::make_unique<TestClient>(port_);
    U("carol").Login("carol");
    U("alice").Collect();

    EXPECT_EQ(Do("alice", "/whois bob"),
              "/whois bob\r\n*** Nick: bob\r\n*** Chan: Main\r\n"
              "*** Modes: (Operator) (channel locked) (ServOP) (ChanOP) (Invisible) (Spy) \r\n"
              "*** Away: gone fishing\r\n*** Currently playing a game.\r\n*** Connected for: 01:05:07\r\n\r\n"
              "End of /whois list.\r\n");
    EXPECT_EQ(Do("alice", "/names"),
              "/names\r\n"
              "*** Nick: carol\r\n*** Modes: \r\n*** Connected for: 00:00:00\r\n\r\n"
              "*** Nick: bob\r\n*** Modes: (Operator) (channel locked) (ServOP) (ChanOP) (Invisible) (Spy) \r\n"
              "*** Away: gone fishing\r\n*** Connected for: 01:05:07\r\n\r\n"
              "*** Nick: alice\r\n*** Modes: (Spy) \r\n*** Connected for: 01:05:07\r\n\r\n"
              "End of /names list.\r\n");
    EXPECT_EQ(Do("alice", "/who"),
              "/who\r\n*** There are 3 users online:\r\n"
              "*** Main: carol    Connected for: 00:00:00\r\n"
              "*** Main: bob (Operator)(channel locked)(Away)(ServOP)(ChanOP)(Invisible)(Spy)(Playing)"
              "   Connected for: 01:05:07\r\n"
              "*** Main: alice (Spy)   Connected for: 01:05:07\r\n"
              "End of /who list.\r\n");
    clock_.Advance(23h);
    EXPECT_EQ(Do("carol", "/whois carol"),
              "/whois carol\r\n*** Nick: carol\r\n*** Chan: Main\r\n*** Modes: \r\n*** Connected for: 23:00:00\r\n\r\n"
              "End of /whois list.\r\n");
}

TEST_F(Info, StatReportsTheLinkAndTheVoice) {
    Connect({"alice"});
    Set("alice", [](TTcpSrvClient& c) { c.HasIrcVoice = false; });
    const std::string noVoice =
        "I*R*C: You currently do not have a voice, which means you may not speak.  You can regain a voice from an "
        "operator in IRC.\r\n";
    const std::string bi =
        "I*R*C: Bi-directional mode is enabled.  If you have a voice, you will be able to participate in the "
        "conversation on IRC.\r\n";
    EXPECT_EQ(Do("alice", "/stat"), "/stat\r\nI*R*C: Link down.\r\n" + noVoice + bi);

    OnServer([&](ChatServer&) { link_.up = true; });
    auto stat = [&] { return Do("alice", "/stat").substr(std::string("/stat\r\n").size()); };
    EXPECT_EQ(stat(), "I*R*C: Link up.  Linking with: #quill\r\n" + noVoice + bi);
    OnServer([&](ChatServer&) { link_.spy = true; });
    EXPECT_EQ(stat(),
              "I*R*C: Link up.  Linking with: #quill\r\n" + noVoice +
                  "I*R*C: Single directional mode is enabled.  You will only be able to see the conversation on "
                  "IRC, not participate in it.\r\n");
}

}  // namespace
}  // namespace qm::test
