// Away, invisible, echo, query and quit, over real sockets.
#include "chat_fixture.h"

namespace qm::test {
namespace {

class ModesTest : public ChatServerFixture {
protected:
    void SetUp() override { LogInThree("Bob"); }
    void ExpectReply(TestClient& client, const std::string& line, const std::string& reply) {
        SCOPED_TRACE(line);
        client.Send(line + "\r\n");
        EXPECT_EQ(client.Collect(), line + "\r\n" + reply);
    }
    // The line comes back as typed before the channel's copy. (The telnet
    // client has not answered the server's echo offer, so the server may
    // still be waiting to make it again.)
    static void ExpectEchoed(TestClient& client, const std::string& line) {
        client.Send(line + "\r\n");
        const std::string got = client.ReadUntil("> " + line + "\r\n");
        const std::string tail = line + "\r\n<";
        ASSERT_GE(got.size(), tail.size());
        EXPECT_NE(got.find(tail), std::string::npos) << got;
    }
};

struct AwayCase {
    std::string line;
    std::string reply;
    bool away;
    std::string message;
};

TEST_F(ModesTest, AwayTogglesAndKeepsItsText) {
    const std::vector<AwayCase> cases = {
        {"/away lunch break", "*** You are now away.\r\n", true, "lunch break"},
        // A text given while away only ends the away state.
        {"/AWAY back soon", "*** You are no longer away.\r\n", false, ""},
        {"/away", "*** You are now away.\r\n", true, ""},
        {"/away", "*** You are no longer away.\r\n", false, ""},
        {"/awaysoon", "*** You are now away.\r\n", true, "oon"},
    };
    for (const auto& c : cases) {
        ExpectReply(*alice_, c.line, c.reply);
        EXPECT_EQ(Get("alice", &TTcpSrvClient::Away), c.away) << c.line;
        EXPECT_EQ(Get("alice", &TTcpSrvClient::AwayMessage), c.message) << c.line;
    }
    // Nobody else is told.
    EXPECT_EQ(bob_->Collect(), "");
}

TEST_F(ModesTest, InvisibleToggles) {
    ExpectReply(*alice_, "/inv", "*** Invisible mode enabled.\r\n");
    EXPECT_TRUE(Get("alice", &TTcpSrvClient::Invisible));
    ExpectReply(*alice_, "/INV", "*** Invisible mode disabled.\r\n");
    EXPECT_FALSE(Get("alice", &TTcpSrvClient::Invisible));
    // Only the whole line is the command.
    ExpectReply(*alice_, "/inv now", "*** No such command.\r\n");
    EXPECT_EQ(bob_->Collect(), "");
}

TEST_F(ModesTest, EchoTogglesAndIsStoredForRegisteredNicknames) {
    std::vector<std::string> usersBefore;
    OnServer([&](ChatServer& s) { usersBefore = s.state().users.Lines(); });
    // Unregistered: the choice lasts for the connection only.
    ExpectReply(*bob_, "/echo", "*** Echo disabled.\r\n" + kWontEcho);
    bob_->Send("quiet\r\n");
    EXPECT_EQ(bob_->Read("<Bob> quiet\r\n"), "<Bob> quiet\r\n");
    alice_->ReadUntil("<Bob> quiet\r\n");
    bob_->Send("/ECHO\r\n");
    EXPECT_EQ(bob_->Read("*** Echo enabled.\r\n"), "*** Echo enabled.\r\n");
    ExpectEchoed(*bob_, "loud");
    alice_->ReadUntil("<Bob> loud\r\n");
    std::vector<std::string> usersAfter;
    OnServer([&](ChatServer& s) { usersAfter = s.state().users.Lines(); });
    EXPECT_EQ(usersAfter, usersBefore);

    // Registered (exact nickname): the record's echo line follows.
    OnServer([](ChatServer& s) { s.state().users.AppendRecord("alice", "stored"); });
    auto echoLine = [&] {
        std::string line;
        OnServer([&](ChatServer& s) {
            auto& users = s.state().users;
            line = users.RecordLine(users.FindUserRecord("alice"), UserDatabase::kEcho);
        });
        return line;
    };
    ExpectReply(*alice_, "/echo", "*** Echo disabled.\r\n" + kWontEcho);
    EXPECT_EQ(echoLine(), "N");
    alice_->Send("/echo\r\n");
    EXPECT_EQ(alice_->Read("*** Echo enabled.\r\n"), "*** Echo enabled.\r\n");
    ExpectEchoed(*alice_, "loud");
    EXPECT_EQ(echoLine(), "Y");
}

TEST_F(ModesTest, QueryFramingWithAndWithoutThePartnersOwnQuery) {
    // The target is kept as typed; routing finds Bob without letter case.
    ExpectReply(*alice_, "/query bob", "*** Beginning query with bob\r\n");
    EXPECT_TRUE(Get("alice", &TTcpSrvClient::QueryMode));
    EXPECT_EQ(Get("alice", &TTcpSrvClient::QueryTarget), "bob");
    alice_->Send("psst\r\n");
    EXPECT_EQ(bob_->Read("Private: <alice> psst\r\n"), "Private: <alice> psst\r\n");
    EXPECT_EQ(alice_->Collect(), "psst\r\n");
    EXPECT_EQ(carol_->Collect(), "");

    // Bob answers with a query of his own: no "Private: " either way.
    ExpectReply(*bob_, "/QUERY alice", "*** Beginning query with alice\r\n");
    bob_->Send("yes?\r\n");
    bob_->Read("yes?\r\n");
    EXPECT_EQ(alice_->Read("<Bob> yes?\r\n"), "<Bob> yes?\r\n");
    alice_->Send("later\r\n");
    EXPECT_EQ(bob_->Read("<alice> later\r\n"), "<alice> later\r\n");
    // Channel lines reach query users tagged with their channel.
    carol_->Send("all\r\n");
    carol_->Read("all\r\n<carol> all\r\n");
    EXPECT_EQ(alice_->Collect(), "later\r\nMain: <carol> all\r\n");

    // Failures leave the query as it was; a one-character nick closes it.
    ExpectReply(*alice_, "/query nobody", "*** User is not online.\r\n");
    EXPECT_EQ(Get("alice", &TTcpSrvClient::QueryTarget), "bob");
    ExpectReply(*alice_, "/query x", "*** Query disabled.\r\n");
    EXPECT_FALSE(Get("alice", &TTcpSrvClient::QueryMode));
    EXPECT_EQ(Get("alice", &TTcpSrvClient::QueryTarget), "");
    ExpectReply(*alice_, "/query", "*** Query disabled.\r\n");

    // A query with oneself brings the lines back unmarked.
    ExpectReply(*carol_, "/query carol", "*** Beginning query with carol\r\n");
    carol_->Send("me\r\n");
    EXPECT_EQ(carol_->Collect(), "me\r\n<carol> me\r\n");
}

TEST_F(ModesTest, QuitTellsTheChannelOnceAndIgnoresLaterLines) {
    Set("carol", [](TTcpSrvClient& c) { c.SetChannel("Elsewhere"); });
    // The line after /quit arrives before the close and is ignored.
    alice_->Send("/quit gone home\r\nhello\r\n");
    EXPECT_EQ(bob_->Read("*** alice quit (gone home)\r\n"), "*** alice quit (gone home)\r\n");
    EXPECT_EQ(alice_->ReadToClose().rfind("/quit gone home\r\n", 0), 0u);
    EXPECT_TRUE(observer_.WaitForLog("Client disconnecting: alice"));
    // No "disconnected" notice, no chat line, nothing elsewhere.
    EXPECT_EQ(bob_->Collect(), "");
    EXPECT_EQ(carol_->Collect(), "");

    // Without a reason the parentheses stay empty.
    carol_->Send("/QUIT\r\n");
    EXPECT_EQ(carol_->ReadToClose(), "/QUIT\r\n");
    EXPECT_EQ(bob_->Collect(), "");
    TestClient dave(port_);
    dave.Login("dave");
    bob_->ReadUntil("*** dave joined\r\n");
    bob_->Send("/quit\r\n");
    EXPECT_EQ(dave.Read("*** Bob quit ()\r\n"), "*** Bob quit ()\r\n");
}

TEST_F(ModesTest, QuitDuringAGameSendsErrToTheOpponentInAnotherChannel) {
    Set("alice", [](TTcpSrvClient& c) {
        c.InGame = true;
        c.AuxNick = "Bob";
    });
    Set("Bob", [](TTcpSrvClient& c) {
        c.SetChannel("Chess");
        c.InGame = true;
        c.AuxNick = "alice";
    });
    alice_->Send("/quit resign\r\n");
    EXPECT_EQ(bob_->Read("ERR\r\n"), "ERR\r\n");
    EXPECT_EQ(carol_->Read("*** alice quit (resign)\r\n"), "*** alice quit (resign)\r\n");
    alice_->ReadToClose();
    EXPECT_TRUE(observer_.WaitForLog("Client disconnecting: alice"));
    EXPECT_FALSE(Get("Bob", &TTcpSrvClient::InGame));
    EXPECT_EQ(Get("Bob", &TTcpSrvClient::AuxNick), "");
    // The disconnect does not repeat the "ERR".
    EXPECT_EQ(bob_->Collect(), "");
}

}  // namespace
}  // namespace qm::test
