// The operator's actions that the console's windows call, over real sockets:
// the admin controls, the user data editor, the ban list, the announcement
// and the Properties dialog's Okay and Cancel.
#include <sys/stat.h>

#include <filesystem>
#include <future>

#include "chat_fixture.h"
#include "storage/password_hash.h"
#include "storage/text_file.h"

namespace qm::test {
namespace {

// What a connection from a banned address receives.
const std::string kRefused = kGreeting + "You are banned.\r\nNickname: \r\n";

class OperatorApiTest : public ChatServerFixture {
protected:
    std::string File(const char* name) { return ReadFileBytes(dataDir_ / name); }
    // Runs `f` on the server's thread and returns its result.
    template <typename F>
    auto Ask(F f) {
        decltype(f(*server_)) result{};
        OnServer([&](ChatServer& s) { result = f(s); });
        return result;
    }
    // Write Record, waiting for its end (the hash is made off the loop).
    bool WriteRecord(const std::string& nick, const std::string& password, RoleFlags roles) {
        std::promise<bool> written;
        auto result = written.get_future();
        OnServer([&](ChatServer& s) { s.WriteRecord(nick, password, roles, [&](bool ok) { written.set_value(ok); }); });
        return result.wait_for(std::chrono::seconds(10)) == std::future_status::ready && result.get();
    }
};

// ---- admin controls ----

struct RoleCase {
    Role role;
    bool TTcpSrvClient::*flag;
    std::string promotion;
    std::string removal;
};

std::vector<RoleCase> RoleCases() {
    return {
        {Role::kServOp, &TTcpSrvClient::IsServOp,
         "*** You have been promoted to ServOP\r\nCommands: /kill <nick> = <reason> Removes <nick> from the "
         "server.\r\n/ban <nick> Adds <nick> to the server's ban list.\r\n/on <message> Sends a notice to every "
         "ServOPs\r\n",
         "*** You have been removed of your ServOP status by the admin.\r\n"},
        {Role::kChanOp, &TTcpSrvClient::IsChanOp,
         "*** You have been promoted to ChanOP\r\nCommands: /join <channel> Joins a channel even if it is "
         "locked.\r\n/op Give yourself ops quietly.\r\n/deop <nick> Deop even if you are not in the channel or "
         "an operator.\r\n/cn <message> Sends a notice to all ChanOPs\r\n",
         "*** You have been removed of your ChanOP status by the admin.\r\n"},
        {Role::kSpy, &TTcpSrvClient::IsSpy,
         "*** You have been promoted to spy.\r\nCommands: /under Enables/disables undercover mode.\r\n/sn "
         "<message> Sends notice to all spies.\r\nIn undercover mode you can not appear on a /who or /names "
         "list.  You can join and leave a channel quietly.\r\n",
         "*** You have been removed of your spy status by the admin.\r\n"},
    };
}

TEST_F(OperatorApiTest, RoleBoxesChangeOnlyWhatDiffers) {
    LogInThree("Bob");
    for (const auto& c : RoleCases()) {
        SCOPED_TRACE(static_cast<int>(c.role));
        Set("Bob", [&](TTcpSrvClient& bob) { bob.*c.flag = true; });
        // Showing the role (a box set to what the user has) sends nothing.
        const auto roles = Ask([](ChatServer& s) { return s.RolesOf("Bob"); });
        ASSERT_TRUE(roles.has_value());
        EXPECT_EQ(roles->servOp, c.role == Role::kServOp);
        EXPECT_EQ(roles->chanOp, c.role == Role::kChanOp);
        EXPECT_EQ(roles->spy, c.role == Role::kSpy);
        OnServer([&](ChatServer& s) { s.SetRole("Bob", c.role, true); });
        EXPECT_EQ(bob_->Collect(), "");
        // Clearing takes the role with the removal text; ticking gives it back.
        OnServer([&](ChatServer& s) { s.SetRole("Bob", c.role, false); });
        EXPECT_EQ(bob_->Collect(), c.removal);
        EXPECT_FALSE(Get("Bob", c.flag));
        OnServer([&](ChatServer& s) { s.SetRole("Bob", c.role, true); });
        EXPECT_EQ(bob_->Collect(), c.promotion);
        EXPECT_TRUE(Get("Bob", c.flag));
        Set("Bob", [&](TTcpSrvClient& bob) { bob.*c.flag = false; });
    }
    // The nickname is compared with its letter case; nobody else heard anything.
    OnServer([](ChatServer& s) { s.SetRole("bob", Role::kSpy, true); });
    EXPECT_FALSE(Get("Bob", &TTcpSrvClient::IsSpy));
    EXPECT_FALSE(Ask([](ChatServer& s) { return s.RolesOf("bob"); }).has_value());
    EXPECT_EQ(alice_->Collect(), "");
    EXPECT_EQ(bob_->Collect(), "");
}

TEST_F(OperatorApiTest, KillWithEmptyReasonTellsTheVictimAndItsChannel) {
    LogInThree("Bob");
    observer_.Clear();
    OnServer([](ChatServer& s) { s.AdminKill("BOB", ""); });
    EXPECT_EQ(bob_->ReadToClose(), "Closing Link: Killed by the admin for reason: \r\n");
    // The kill notice, then the ordinary departure notice of the disconnect.
    const std::string heard = "*** Bob killed by the admin. ()\r\n*** Bob disconnected\r\n";
    EXPECT_EQ(alice_->Read(heard), heard);
    EXPECT_EQ(carol_->Read(heard), heard);
    // Unlike /kill, nothing is logged but the disconnect, and IRC hears only that.
    for (const auto& line : observer_.LogLines()) EXPECT_EQ(line.find("kill"), std::string::npos) << line;
    OnServer([this](ChatServer&) {
        ASSERT_EQ(link_.said.size(), 0u);  // the link is down in this fixture
    });
}

TEST_F(OperatorApiTest, KillOfSomebodyWhoLeftDoesNothing) {
    LogInThree("Bob");
    OnServer([](ChatServer& s) { s.AdminKill("nobody", "bye"); });
    EXPECT_EQ(alice_->Collect(), "");
    EXPECT_EQ(bob_->Collect(), "");
}

TEST_F(OperatorApiTest, BanOfAConnectedUserAppendsItsAddressQuietly) {
    LogInThree("Bob", "127.0.0.2");
    OnServer([](ChatServer& s) {
        s.AdminBan("bob");  // letter case significant: nobody
        s.AdminBan("Bob");
    });
    EXPECT_EQ(File("bans.txt"), "127.0.0.2\r\n");
    EXPECT_EQ(observer_.BanLists(), (std::vector<std::vector<std::string>>{{"127.0.0.2"}}));
    EXPECT_EQ(bob_->Collect(), "");
    TestClient again(port_, "127.0.0.2");
    EXPECT_EQ(again.ReadToClose(), kRefused);
}

// ---- ban list ----

TEST_F(OperatorApiTest, BanListEditsCountAtOnceAndAreWritten) {
    ASSERT_TRUE(StartServer());
    OnServer([](ChatServer& s) {
        s.AddBan("127.0.0.*");
        s.AddBan("10.0.0.1");
        s.AddBan("10.0.0.1");  // the same text twice is two entries
    });
    EXPECT_EQ(File("bans.txt"), "127.0.0.*\r\n10.0.0.1\r\n10.0.0.1\r\n");
    TestClient refused(port_, "127.0.0.77");
    EXPECT_EQ(refused.ReadToClose(), kRefused);

    OnServer([](ChatServer& s) {
        s.RemoveBan(0);
        s.RemoveBan(7);  // no such row: nothing
        s.RemoveBan(1);
        s.RemoveBan(0);
    });
    EXPECT_EQ(File("bans.txt"), "");
    EXPECT_TRUE(Ask([](ChatServer& s) { return s.SettingValues().Bans; }).empty());
    const auto lists = observer_.BanLists();
    ASSERT_EQ(lists.size(), 6u);
    EXPECT_EQ(lists[3], (std::vector<std::string>{"10.0.0.1", "10.0.0.1"}));
    EXPECT_TRUE(lists.back().empty());
    TestClient welcome(port_, "127.0.0.77");
    welcome.Login("again");
}

// The editor's Add with nothing typed would ban everybody.
TEST_F(OperatorApiTest, BlankBanEntryIsRefused) {
    ASSERT_TRUE(StartServer());
    OnServer([](ChatServer& s) {
        s.AddBan("");
        s.AddBan(" \t");
    });
    const std::string refused = "A blank ban entry would ban everybody; it was not added.";
    EXPECT_EQ(observer_.Errors(), (std::vector<std::string>{refused, refused}));
    EXPECT_TRUE(Ask([](ChatServer& s) { return s.SettingValues().Bans; }).empty());
    EXPECT_TRUE(observer_.BanLists().empty());
    TestClient welcome(port_);
    welcome.Login("welcome");
}

TEST_F(OperatorApiTest, BanListThatCannotBeWrittenStillCounts) {
    ASSERT_TRUE(StartServer());
    std::filesystem::remove(dataDir_ / "bans.txt");
    std::filesystem::create_directory(dataDir_ / "bans.txt");
    OnServer([](ChatServer& s) { s.AddBan("127.0.0.9"); });
    EXPECT_EQ(observer_.Errors(), std::vector<std::string>{"Cannot create file " + (dataDir_ / "bans.txt").string() + ": Is a directory"});
    TestClient refused(port_, "127.0.0.9");
    EXPECT_EQ(refused.ReadToClose(), kRefused);
}

// ---- announcement ----

TEST_F(OperatorApiTest, AnnouncementCountsAtOnceAndIsSavedOnlyOnSave) {
    ASSERT_TRUE(StartServer());
    OnServer([](ChatServer& s) { s.SetSetting("Announcement", "Line one\nLine two"); });
    TestClient first(port_);
    first.ExpectBanner("Line one\r\nLine two\r\n");
    EXPECT_EQ(File("announce.txt"), "Hello there.\r\n");
    // Load brings back the file's text; Save writes the field.
    EXPECT_TRUE(Ask([](ChatServer& s) { return s.LoadAnnouncement(); }));
    EXPECT_EQ(Ask([](ChatServer& s) { return s.SettingValues().Announcement; }), "Hello there.\r\n");
    OnServer([](ChatServer& s) { s.SetSetting("Announcement", "Saved\r\n"); });
    EXPECT_TRUE(Ask([](ChatServer& s) { return s.SaveAnnouncement(); }));
    EXPECT_EQ(File("announce.txt"), "Saved\r\n");
    // A file that cannot be read leaves the text as it was.
    std::filesystem::remove(dataDir_ / "announce.txt");
    EXPECT_FALSE(Ask([](ChatServer& s) { return s.LoadAnnouncement(); }));
    EXPECT_EQ(observer_.Errors(),
              std::vector<std::string>{"Cannot open file " + (dataDir_ / "announce.txt").string()});
    EXPECT_EQ(Ask([](ChatServer& s) { return s.SettingValues().Announcement; }), "Saved\r\n");
}

// ---- Properties: Okay and Cancel ----

TEST_F(OperatorApiTest, TypedPrefixCountsBeforeOkay) {
    Connect({"amy"});
    OnServer([](ChatServer& s) { s.SetSetting("Prefix", "!!"); });
    U("amy").Send("/xyz\r\n");
    EXPECT_EQ(U("amy").Read("/xyz\r\n!! No such command.\r\n"), "/xyz\r\n!! No such command.\r\n");
    EXPECT_EQ(File("messages.dat").substr(0, 5), "***\r\n");
}

TEST_F(OperatorApiTest, CancelReadsTheFilesBack) {
    ASSERT_TRUE(StartServer());
    OnServer([](ChatServer& s) {
        for (const auto& [name, value] : {std::pair{"Welcome", "Changed"}, {"Prefix", "!!"}, {"HelpReply", "x"},
                                          {"HelpChan", "kept"}, {"AdminPass", "kept"}})
            s.SetSetting(name, value);
    });
    EXPECT_TRUE(Ask([](ChatServer& s) { return s.RevertProperties(); }));
    const Settings values = Ask([](ChatServer& s) { return s.SettingValues(); });
    EXPECT_EQ(values.Welcome, "Welcome!");
    EXPECT_EQ(values.Prefix, "***");
    EXPECT_EQ(values.HelpReply, "Help text.\r\n");
    EXPECT_EQ(values.HelpChan, "kept\r\n");
    EXPECT_EQ(values.AdminPass, "kept");
}

TEST_F(OperatorApiTest, CancelStopsAtAFileThatCannotBeRead) {
    ASSERT_TRUE(StartServer());
    OnServer([](ChatServer& s) {
        s.SetSetting("Prefix", "!!");
        s.SetSetting("Welcome", "Changed");
    });
    std::filesystem::remove(dataDir_ / "help.txt");
    EXPECT_FALSE(Ask([](ChatServer& s) { return s.RevertProperties(); }));
    EXPECT_EQ(observer_.Errors(), std::vector<std::string>{"Cannot open file " + (dataDir_ / "help.txt").string()});
    const Settings values = Ask([](ChatServer& s) { return s.SettingValues(); });
    EXPECT_EQ(values.Prefix, "***");      // read before the failing file
    EXPECT_EQ(values.Welcome, "Changed");  // after it: not read
}

TEST_F(OperatorApiTest, OkayWritesTheFilesAndAppliesBusyAndMax) {
    Connect({"amy"});
    OnServer([](ChatServer& s) {
        s.SetSetting("Prefix", "!!");
        s.SetSetting("Max", "1");
        s.SetSetting("Busy", "Full up.");
        s.SetSetting("HelpReply", "New help\nsecond line");
    });
    EXPECT_TRUE(Ask([](ChatServer& s) { return s.ApplyProperties(); }));
    EXPECT_EQ(File("messages.dat"),
              "!!\r\njoined\r\nleft\r\nquit\r\ndisconnected\r\nkilled by\r\nchannel\r\nopped by\r\n"
              "deopped by\r\nkicked by\r\nServOP\r\nChanOP\r\nYou are banned.\r\n");
    EXPECT_EQ(File("help.txt"), "New help\r\nsecond line\r\n");
    EXPECT_EQ(File("qmserv.dat"), "0\r\n1\r\nWelcome!\r\nFull up.\r\n5\r\n");
    // One user is the most now; the next is turned away with the new banner.
    TestClient second(port_);
    EXPECT_EQ(second.ReadToClose(), kGreeting + "Announcements:\r\nHello there.\r\nFull up.\r\n");
}

TEST_F(OperatorApiTest, OkayStopsAtASaverThatIsNoNumberWithTheFilesWritten) {
    ASSERT_TRUE(StartServer());
    OnServer([](ChatServer& s) {
        s.SetSetting("Saver", "ten");
        s.SetSetting("Busy", "Busy!");
    });
    EXPECT_FALSE(Ask([](ChatServer& s) { return s.ApplyProperties(); }));
    EXPECT_EQ(observer_.Errors(), std::vector<std::string>{"'ten' is not a valid integer value"});
    EXPECT_EQ(File("qmserv.dat"), "0\r\n0\r\nWelcome!\r\nBusy!\r\nten\r\n");
}

TEST_F(OperatorApiTest, OkayStopsAtAFileThatCannotBeWritten) {
    ASSERT_TRUE(StartServer());
    std::filesystem::remove(dataDir_ / "help.txt");
    std::filesystem::create_directory(dataDir_ / "help.txt");
    OnServer([](ChatServer& s) { s.SetSetting("Prefix", "!!"); });
    EXPECT_FALSE(Ask([](ChatServer& s) { return s.ApplyProperties(); }));
    EXPECT_EQ(observer_.Errors(), std::vector<std::string>{"Cannot create file " + (dataDir_ / "help.txt").string() + ": Is a directory"});
    EXPECT_EQ(File("messages.dat").substr(0, 4), "!!\r\n");             // before: written
    EXPECT_EQ(File("qmserv.dat"), "0\r\n0\r\nWelcome!\r\nBusy now.\r\n5\r\n");  // after: not
}

// ---- user data editor ----

std::string Record(const std::string& nick, const std::string& stored, const std::string& roles) {
    return nick + "\r\n" + stored + "\r\nY\r\n" + roles;
}

TEST_F(OperatorApiTest, UserDataListsRecordsAndReadsTheirRoleLines) {
    ASSERT_TRUE(StartServer({{"user.dat", Record("Ann", "x", "Y\r\nN\r\n?\r\n") +
                                              Record("Bob", "y", "N\r\nY\r\nY\r\n") + "Cut\r\nz\r\n"}}));
    EXPECT_EQ(Ask([](ChatServer& s) { return s.RegisteredNicks(); }),
              (std::vector<std::string>{"Ann", "Bob", "Cut"}));
    const auto ann = Ask([](ChatServer& s) { return s.RecordRolesOf("Ann"); });
    ASSERT_TRUE(ann.has_value());
    EXPECT_EQ(ann->servOp, std::optional<bool>(true));
    EXPECT_EQ(ann->chanOp, std::optional<bool>(false));
    EXPECT_EQ(ann->spy, std::nullopt);
    const auto cut = Ask([](ChatServer& s) { return s.RecordRolesOf("Cut"); });
    ASSERT_TRUE(cut.has_value());
    EXPECT_EQ(cut->servOp, std::nullopt);
    EXPECT_FALSE(Ask([](ChatServer& s) { return s.RecordRolesOf("ann"); }).has_value());
}

TEST_F(OperatorApiTest, WriteRecordWithoutPasswordRewritesOnlyTheRoleLines) {
    ASSERT_TRUE(StartServer({{"user.dat", Record("Ann", "stored", "Y\r\nN\r\n?\r\n")}}));
    EXPECT_TRUE(WriteRecord("Ann", "", RoleFlags{false, true, true}));
    StopServer();  // writes user.dat
    EXPECT_EQ(File("user.dat"), "Ann\r\nstored\r\nY\r\nN\r\nY\r\nY\r\n");
}

TEST_F(OperatorApiTest, WriteRecordWithPasswordStoresAHashTheUserLogsInWith) {
    ASSERT_TRUE(StartServer({{"user.dat", Record("Ann", "old", "N\r\nN\r\nN\r\n")}}));
    EXPECT_FALSE(WriteRecord("ann", "pw", RoleFlags{}));  // no such record
    EXPECT_TRUE(WriteRecord("Ann", "new secret", RoleFlags{true, false, false}));
    const auto lines = Ask([](ChatServer& s) { return s.state().users.Lines(); });
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_TRUE(IsPasswordHash(lines[1])) << lines[1];
    EXPECT_EQ(lines[3], "Y");

    TestClient ann(port_);
    ann.ExpectBanner("Hello there.\r\n");
    ann.Send("Ann\r\nnew secret\r\n");
    EXPECT_EQ(ann.ReadUntil("*** Ann joined\r\n"),
              "Ann\r\nPassword: *** You have 0 messages.\r\nWelcome!\r\n*** Ann joined\r\n");
    // The new settings apply at the next login.
    EXPECT_TRUE(Get("Ann", &TTcpSrvClient::IsServOp));
}

}  // namespace
}  // namespace qm::test
