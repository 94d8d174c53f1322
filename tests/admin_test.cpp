// The administrator, the server-wide roles and their commands, over real sockets.
#include <filesystem>

#include "chat_fixture.h"
#include "commands/attempt_throttle.h"
#include "storage/text_file.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;

class AdminTest : public ChatServerFixture {
protected:
    void SetUp() override { LogInThree("Bob", "127.0.0.2"); }
    void SetAdminPass(const std::string& pass) {
        OnServer([&](ChatServer& s) { s.SetSetting("AdminPass", pass); });
    }
    // Sends the line and checks everything alice got back for it.
    void ExpectReply(const std::string& line, const std::string& reply) {
        SCOPED_TRACE(line);
        alice_->Send(line + "\r\n");
        EXPECT_EQ(alice_->Collect(), line + "\r\n" + reply);
    }
};

// Guessing the administrator password does not scale with connections.
class AdminGuessing : public ChatServerFixture {
protected:
    void Start() {
        LogInThree("Bob", "127.0.0.2");
        OnServer([](ChatServer& s) { s.SetSetting("AdminPass", "secret"); });
    }
    int BadPassLogLines() const {
        int n = 0;
        for (const auto& line : observer_.LogLines())
            n += line.find("attempted to log in as admin.  Bad pass: Failed.") != std::string::npos ? 1 : 0;
        return n;
    }
    void Guess(TestClient& c) {
        c.Send("/admin guess\r\n");
        EXPECT_EQ(c.ReadUntil("*** No such command.\r\n"), "/admin guess\r\n*** No such command.\r\n");
    }
};

TEST_F(AdminGuessing, ChecksTakeTurnsServerWide) {
    options_.adminCheckInterval = 1500ms;
    Start();
    Guess(*alice_);
    // Another connection, from another address, waits for its turn.
    bob_->Send("/admin guess\r\n");
    EXPECT_EQ(bob_->Read("/admin guess\r\n"), "/admin guess\r\n");
    EXPECT_EQ(carol_->Collect(), "");
    EXPECT_EQ(BadPassLogLines(), 1);
    EXPECT_EQ(bob_->ReadUntil("*** No such command.\r\n"), "*** No such command.\r\n");
    EXPECT_EQ(BadPassLogLines(), 2);
}

TEST_F(AdminGuessing, AnAddressThatFailedOftenIsHeldBack) {
    options_.badPasswordDelay = 0ms;
    options_.failedPasswordFirstHold = 1500ms;
    Start();
    for (int i = 0; i < AttemptThrottle::kFreeFailures; ++i) Guess(*alice_);
    alice_->Send("/admin guess\r\n");
    EXPECT_EQ(alice_->Read("/admin guess\r\n"), "/admin guess\r\n");
    // Other addresses are not held back.
    Guess(*bob_);
    EXPECT_EQ(BadPassLogLines(), AttemptThrottle::kFreeFailures + 1);
    EXPECT_EQ(alice_->ReadUntil("*** No such command.\r\n"), "*** No such command.\r\n");
    EXPECT_EQ(BadPassLogLines(), AttemptThrottle::kFreeFailures + 2);
}

struct RefusalCase {
    std::string line;
    std::string log;  // after "<address>: <nick>"
};

TEST_F(AdminTest, CommandsWithoutTheirRoleAreRefusedAndLogged) {
    const std::vector<RefusalCase> cases = {
        {"/admin secret", " attempted to log in as admin.  No pass set: Failed."},
        {"/=sop Bob", " attempted to create a ServOP.  Not admin: Failed."},
        {"/=COP Bob", " attempted to create a ChanOP.  Not admin: Failed."},
        {"/=spy Bob", " attempted to create a spy.  Not admin: Failed."},
        {"/on hello", " attempted to use /on.  Not ServOP: Failed."},
        {"/cn hello", " attempted to use /cn.  Not ChanOP: Failed."},
        {"/sn hello", " attempted to use /sn.  Not Spy: Failed."},
        {"/under", " attempted to use /under.  Not spy: Failed."},
        {"/OP", " attempted used /op.  Failed: Not ChanOP"},
        {"/kill Bob = bye", " attempted to use /kill.  Not ServOP: Failed."},
        {"/ban Bob", " attempted to use /ban.  Not ServOP: Failed."},
        {"/join Other", " attempted to use /join.  Not ChanOP: Failed."},
        {"/deop Bob", " attempted to use /deop.  Not ChanOP: Failed."},
    };
    for (const auto& c : cases) {
        observer_.Clear();
        ExpectReply(c.line, "*** No such command.\r\n");
        EXPECT_TRUE(observer_.WaitForLog("127.0.0.1: alice" + c.log)) << c.line;
    }
    // Nothing happened to anybody.
    EXPECT_EQ(bob_->Collect(), "");
    EXPECT_FALSE(Get("Bob", &TTcpSrvClient::IsServOp));
    EXPECT_FALSE(Get("alice", &TTcpSrvClient::IsOp));
    EXPECT_FALSE(Get("alice", &TTcpSrvClient::IsAdmin));
}

TEST_F(AdminTest, AdminPasswordIgnoresLetterCase) {
    SetAdminPass("secret");
    for (const std::string line : {"/admin wrong", "/admin", "/admin secret2"}) {
        observer_.Clear();
        ExpectReply(line, "*** No such command.\r\n");
        EXPECT_TRUE(observer_.WaitForLog("127.0.0.1: alice attempted to log in as admin.  Bad pass: Failed."))
            << line;
        EXPECT_FALSE(Get("alice", &TTcpSrvClient::IsAdmin));
    }
    const std::string enabled =
        "*** Admin mode enabled.  Here's some commands:\r\n"
        "/=sop <nick> Promotes <nick> to ServOP\r\n"
        "/=cop <nick> Promotes <nick> to ChanOP\r\n"
        "/=spy <nick> Promotes <nick> to a spy\r\n";
    ExpectReply("/ADMIN SECRET", enabled);
    EXPECT_TRUE(observer_.WaitForLog("127.0.0.1: alice has logged in as an admin."));
    EXPECT_TRUE(Get("alice", &TTcpSrvClient::IsAdmin));
    // It can be repeated; the password never reaches the log.
    ExpectReply("/admin secret", enabled);
    for (const auto& line : observer_.LogLines()) EXPECT_EQ(line.find("secret"), std::string::npos) << line;
}

struct PromotionCase {
    std::string command;
    bool TTcpSrvClient::*role;
    std::string text;
};

TEST_F(AdminTest, PromotionsToggleTheRoleAndTellOnlyThePromoted) {
    Set("alice", [](TTcpSrvClient& c) { c.IsAdmin = true; });
    const std::vector<PromotionCase> cases = {
        {"/=sop", &TTcpSrvClient::IsServOp,
         "*** You've been promoted to ServOP\r\n"
         "Commands: /kill <nick> = <reason> Removes <nick> from the server.\r\n"
         "/ban <nick> Adds <nick> to the server's ban list.\r\n"
         "/on <message> Sends a notice to every ServOP\r\n"},
        {"/=cop", &TTcpSrvClient::IsChanOp,
         "*** You've been promoted to ChanOP\r\n"
         "Commands: /join <channel> Joins a channel even if it is locked.\r\n"
         "/op Give yourself ops quietly.\r\n"
         "/deop <nick> Deop even if you are not in the channel or an operator.\r\n"
         "/cn <message> Sends a notice to all ChanOPs\r\n"},
        {"/=spy", &TTcpSrvClient::IsSpy,
         "*** You've been promoted to a spy.  Commands: /under Enables/disables undercover mode.\r\n"
         "/sn <message> Sends notice to all spies.\r\n"
         "In undercover mode you can not appear on a /who or /names list.  "
         "You can join and leave a channel quietly.\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        // The nickname compares without letter case.
        ExpectReply(c.command + " bob", "");
        EXPECT_EQ(bob_->Collect(), c.text);
        EXPECT_TRUE(Get("Bob", c.role));
        // The second time takes the role away; nobody is told.
        ExpectReply(c.command + " BOB", "");
        EXPECT_EQ(bob_->Collect(), "");
        EXPECT_FALSE(Get("Bob", c.role));
        ExpectReply(c.command + " nobody", "*** User is not online.\r\n");
    }
    EXPECT_EQ(carol_->Collect(), "");
}

struct NoticeCase {
    std::string line;
    bool TTcpSrvClient::*role;
    std::string notice;
};

TEST_F(AdminTest, RoleNoticesReachEveryHolderIncludingTheSender) {
    const std::vector<NoticeCase> cases = {
        {"/on hello all", &TTcpSrvClient::IsServOp, "*** ServOPs: <alice> hello all\r\n"},
        {"/cn hello all", &TTcpSrvClient::IsChanOp, "*** ChanOPs: <alice> hello all\r\n"},
        {"/sn hello all", &TTcpSrvClient::IsSpy, "*** Spies: <alice> hello all\r\n"},
        {"/SN", &TTcpSrvClient::IsSpy, "*** Spies: <alice> \r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        Set("alice", [&](TTcpSrvClient& r) { r.*c.role = true; });
        ExpectReply(c.line, c.notice);
        // Alone with the role: only the sender hears it.
        EXPECT_EQ(bob_->Collect(), "");
        Set("Bob", [&](TTcpSrvClient& r) {
            r.*c.role = true;
            r.SetChannel("Elsewhere");
        });
        ExpectReply(c.line, c.notice);
        EXPECT_EQ(bob_->Collect(), c.notice);
        EXPECT_EQ(carol_->Collect(), "");
        Set("alice", [&](TTcpSrvClient& r) { r.*c.role = false; });
        Set("Bob", [&](TTcpSrvClient& r) { r.*c.role = false; });
    }
}

TEST_F(AdminTest, UndercoverAndQuietOp) {
    Set("alice", [](TTcpSrvClient& c) {
        c.IsSpy = true;
        c.IsChanOp = true;
    });
    ExpectReply("/under", "*** Now undercover.\r\n");
    EXPECT_TRUE(observer_.WaitForLog("127.0.0.1: alice now undercover"));
    EXPECT_TRUE(Get("alice", &TTcpSrvClient::Undercover));
    ExpectReply("/undercover", "*** No longer undercover.\r\n");
    EXPECT_TRUE(observer_.WaitForLog("127.0.0.1: alice no longer undercover"));
    EXPECT_FALSE(Get("alice", &TTcpSrvClient::Undercover));

    ExpectReply("/Op", "*** You quietly been given operator status.\r\n");
    EXPECT_TRUE(observer_.WaitForLog("127.0.0.1: alice used /op."));
    EXPECT_TRUE(Get("alice", &TTcpSrvClient::IsOp));
    // The channel is not told.
    EXPECT_EQ(bob_->Collect(), "");
}

TEST_F(AdminTest, KillNoticeGoesToTheVictimsChannelOnly) {
    Set("alice", [](TTcpSrvClient& c) { c.IsServOp = true; });
    Set("Bob", [](TTcpSrvClient& c) { c.SetChannel("Back"); });
    Set("carol", [](TTcpSrvClient& c) { c.SetChannel("back"); });
    TestClient dave(port_);
    dave.Login("dave");
    alice_->ReadUntil("*** dave joined\r\n");

    alice_->Send("/kill bob = too loud\r\n");
    EXPECT_EQ(bob_->ReadToClose(), "Closing Link: Killed by alice for reason: too loud\r\n");
    EXPECT_EQ(carol_->Read("*** Bob killed by alice (too loud)\r\n"), "*** Bob killed by alice (too loud)\r\n");
    EXPECT_TRUE(observer_.WaitForLog("127.0.0.1: alice used /kill."));
    EXPECT_TRUE(observer_.WaitForLog("Client disconnecting: Bob"));
    // The killer's channel hears nothing, and the departure sends no more notices.
    EXPECT_EQ(alice_->Collect(), "/kill bob = too loud\r\n");
    EXPECT_EQ(dave.Collect(), "");
    EXPECT_EQ(carol_->Collect(), "");
}

TEST_F(AdminTest, KillParsing) {
    Set("alice", [](TTcpSrvClient& c) { c.IsServOp = true; });
    // The nickname ends two characters before "=", the reason starts two after it.
    ExpectReply("/kill Bob=reason", "*** User is not online.\r\n");
    ExpectReply("/kill Bob", "*** User is not online.\r\n");
    ExpectReply("/kill Bob =", "*** User is not online.\r\n");
    ExpectReply("/kill nobody = x", "*** User is not online.\r\n");
    EXPECT_EQ(bob_->Collect(), "");
    // Nothing after "= " : killed with an empty reason, seen from the same channel.
    alice_->Send("/kill carol = \r\n");
    EXPECT_EQ(carol_->ReadToClose(), "Closing Link: Killed by alice for reason: \r\n");
    EXPECT_EQ(alice_->Collect(), "/kill carol = \r\n*** carol killed by alice ()\r\n");
    EXPECT_EQ(bob_->Collect(), "*** carol killed by alice ()\r\n");
}

TEST_F(AdminTest, BanAppendsTheAddressAndSavesAtOnce) {
    Set("alice", [](TTcpSrvClient& c) { c.IsServOp = true; });
    const auto before = ReadLines(dataDir_ / "bans.txt");
    ExpectReply("/ban BOB", "*** Ban added.  List saved.\r\n");
    ExpectReply("/ban nobody", "*** User is not online.\r\n");
    auto expected = before;
    expected.push_back("127.0.0.2");
    EXPECT_EQ(ReadLines(dataDir_ / "bans.txt"), expected);
    // Not disconnected, not told: Bob goes on chatting until he reconnects.
    EXPECT_EQ(bob_->Collect(), "");
    bob_->Send("still here\r\n");
    EXPECT_EQ(alice_->Read("<Bob> still here\r\n"), "<Bob> still here\r\n");
    TestClient again(port_, "127.0.0.2");
    // The next connection from that address is turned away before the announcements.
    EXPECT_EQ(again.ReadToClose().find("Announcements:"), std::string::npos);
}

TEST_F(AdminTest, BanThatCannotBeSavedStaysInMemoryAndTellsTheOperator) {
    Set("alice", [](TTcpSrvClient& c) { c.IsServOp = true; });
    // A directory where the file should be: the list cannot be written.
    std::filesystem::remove(dataDir_ / "bans.txt");
    std::filesystem::create_directory(dataDir_ / "bans.txt");
    ExpectReply("/ban Bob", "");
    ASSERT_FALSE(observer_.Errors().empty());
    EXPECT_NE(observer_.Errors().back().find("Cannot create file"), std::string::npos);
    std::vector<std::string> bans;
    OnServer([&](ChatServer& s) { bans = s.settings().Bans; });
    ASSERT_FALSE(bans.empty());
    EXPECT_EQ(bans.back(), "127.0.0.2");
}

TEST_F(AdminTest, ForcedJoinAndItsOperatorStatus) {
    Set("alice", [](TTcpSrvClient& c) { c.IsChanOp = true; });
    Set("carol", [](TTcpSrvClient& c) {
        c.SetChannel("Busy");
        c.ChannelLocked = true;
    });
    // Into a locked channel with members: no operator status.
    ExpectReply("/join busy", "*** alice left\r\n");
    EXPECT_EQ(bob_->Collect(), "*** alice left\r\n");
    EXPECT_EQ(carol_->Collect(), "*** alice joined\r\n");
    EXPECT_FALSE(Get("alice", &TTcpSrvClient::IsOp));
    EXPECT_FALSE(Get("alice", &TTcpSrvClient::ChannelLocked));
    // Into a new, empty channel: operator.
    ExpectReply("/join Empty", "*** alice left\r\n");
    EXPECT_EQ(carol_->Collect(), "*** alice left\r\n");
    EXPECT_TRUE(Get("alice", &TTcpSrvClient::IsOp));
    // Into the main channel: operator status goes.
    ExpectReply("/join MAIN", "*** alice left\r\n");
    EXPECT_EQ(bob_->Collect(), "*** alice joined\r\n");
    EXPECT_FALSE(Get("alice", &TTcpSrvClient::IsOp));
    EXPECT_EQ(Read("alice", &TTcpSrvClient::Channel), "MAIN");
    // Undercover: no notices at all.
    Set("alice", [](TTcpSrvClient& c) { c.Undercover = true; });
    ExpectReply("/join Busy", "");
    EXPECT_EQ(bob_->Collect(), "");
    EXPECT_EQ(carol_->Collect(), "");
}

TEST_F(AdminTest, ForcedDeopComparesNicknamesExactly) {
    Set("alice", [](TTcpSrvClient& c) {
        c.IsChanOp = true;
        c.SetChannel("Other");
    });
    Set("Bob", [](TTcpSrvClient& c) { c.IsOp = true; });
    ExpectReply("/deop bob", "*** User is not online.\r\n");
    EXPECT_TRUE(Get("Bob", &TTcpSrvClient::IsOp));
    // From outside the channel: its members hear it, the sender does not.
    ExpectReply("/deop Bob", "");
    EXPECT_FALSE(Get("Bob", &TTcpSrvClient::IsOp));
    EXPECT_EQ(bob_->Collect(), "*** Bob deopped by alice\r\n");
    EXPECT_EQ(carol_->Collect(), "*** Bob deopped by alice\r\n");
    // The channel comparison is exact too.
    Set("carol", [](TTcpSrvClient& c) { c.SetChannel("MAIN"); });
    ExpectReply("/deop Bob", "");
    EXPECT_EQ(bob_->Collect(), "*** Bob deopped by alice\r\n");
    EXPECT_EQ(carol_->Collect(), "");
}

}  // namespace
}  // namespace qm::test
