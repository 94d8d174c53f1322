// The server's lifecycle and connection handling, over real sockets.
#include <sys/socket.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "chat_fixture.h"
#include "storage/text_file.h"
#include "storage/user_database.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool LogHas(const RecordingObserver& observer, const std::string& text) {
    for (const auto& line : observer.LogLines())
        if (line.find(text) != std::string::npos) return true;
    return false;
}

using ServerLifecycle = ChatServerFixture;

TEST_F(ServerLifecycle, StartUpLogsItsStepsInOrder) {
    ASSERT_TRUE(StartServer());
    const auto log = observer_.LogLines();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0].substr(8), "Loaded preferences.");
    EXPECT_NE(log[1].find("] Server started on: "), std::string::npos);
    EXPECT_NE(log[1].find("  Waiting for connections..."), std::string::npos);
    // The port setting is 0, any free port: the log names the one taken.
    EXPECT_EQ(log[2].substr(8), "Listening on port: " + std::to_string(port_));
    // What is really open, socket by socket (the fixture listens on loopback).
    EXPECT_EQ(log[3].substr(8), "Listening on 127.0.0.1 port " + std::to_string(port_) + " (telnet)");
    EXPECT_EQ(log[4].substr(8), "Databases ready.");
    EXPECT_EQ(log[0].substr(0, 1), "[");
    EXPECT_EQ(log[0].substr(3, 1), ":");
}

// Bob's record lost its password line, so Amy's nickname stands on a setting
// line. With LF line ends, which a save would turn into CR LF.
const std::string kShiftedUsers = "Bob\nY\nN\nN\nN\nAmy\npw\nY\nN\nN\nN\n";

struct StartUpFailure {
    std::string file, content, error;
    bool listening;
};

TEST_F(ServerLifecycle, StartUpStopsAtTheFailingStep) {
    const std::vector<StartUpFailure> cases = {
        {"messages.dat", "<missing>", "Cannot open file ", false},
        {"qmserv.dat", "0\r\n0\r\nWelcome!\r\n", "qmserv.dat, line 5: '' is not a valid integer value", true},
        {"qmserv.dat", "port\r\n", "qmserv.dat, line 1: 'port' is not a valid integer value", false},
        {"qmserv.dat", "70000\r\n0\r\n", "qmserv.dat, line 1: '70000' is no port (1-65535", false},
        {"qmserv.dat", "-1\r\n0\r\n", "qmserv.dat, line 1: '-1' is no port (1-65535", false},
        {"qmserv.dat", "0\r\nten\r\n", "qmserv.dat, line 2: 'ten' is not a valid integer value", false},
        {"user.dat", "<missing>", "Cannot open file ", true},
        {"user.dat", kShiftedUsers, "user.dat, line 6: 'Amy' is no setting", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " " + c.error);
        EXPECT_FALSE(StartServer({{c.file, c.content}}));
        const auto errors = observer_.Errors();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors[0].find(c.error), std::string::npos) << errors[0];
        EXPECT_EQ(port_ != 0, c.listening);
        EXPECT_FALSE(LogHas(observer_, "Databases ready."));
        StopServer();
        observer_.Clear();
        io_.restart();
    }
}

struct SaverCase {
    std::string saver;
    bool accepted;
};

// The log-save interval is at most a day: far larger values overflow the
// timer, which would then save without pause.
TEST_F(ServerLifecycle, LogSaveIntervalMustBeZeroToADay) {
    const std::vector<SaverCase> cases = {
        {"0", true}, {"5", true}, {"1440", true}, {"1441", false}, {"153722868", false}, {"-1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("Saver " + c.saver);
        const bool started = StartServer({{"qmserv.dat", "0\r\n0\r\nWelcome!\r\nBusy now.\r\n" + c.saver + "\r\n"}});
        EXPECT_EQ(started, c.accepted);
        const std::string named = "Saver " + c.saver + " in " + (dataDir_ / "qmserv.dat").string();
        if (c.accepted) {
            EXPECT_TRUE(observer_.Errors().empty());
        } else {
            ASSERT_EQ(observer_.Errors().size(), 1u);
            EXPECT_NE(observer_.Errors()[0].find(named), std::string::npos) << observer_.Errors()[0];
            EXPECT_FALSE(LogHas(observer_, "Databases ready."));
        }
        StopServer();
        observer_.Clear();
        io_.restart();
    }
    // The same check when the operator applies the Properties.
    ASSERT_TRUE(StartServer());
    for (const auto& c : cases) {
        SCOPED_TRACE("Properties, Saver " + c.saver);
        observer_.Clear();
        bool applied = false;
        OnServer([&](ChatServer& s) {
            s.SetSetting("Saver", c.saver);
            applied = s.ApplyProperties();
        });
        EXPECT_EQ(applied, c.accepted);
        if (!c.accepted) {
            ASSERT_EQ(observer_.Errors().size(), 1u);
            EXPECT_NE(observer_.Errors()[0].find("Saver " + c.saver + " in " + (dataDir_ / "qmserv.dat").string()),
                      std::string::npos)
                << observer_.Errors()[0];
        }
    }
}

TEST_F(ServerLifecycle, StartUpRemovesTheTemporaryFilesOfAnInterruptedSave) {
    ASSERT_TRUE(StartServer({{".user.dat.tmp.0123456789ab", "Bob\r\n"}, {"notes.tmp", "mine"}}));
    EXPECT_FALSE(fs::exists(dataDir_ / ".user.dat.tmp.0123456789ab"));
    EXPECT_EQ(ReadFileBytes(dataDir_ / "notes.tmp"), "mine");
    EXPECT_TRUE(LogHas(observer_, "Removed an unfinished save: .user.dat.tmp.0123456789ab"));
}

TEST_F(ServerLifecycle, DatabasesThatFailedToLoadAreNeverOverwritten) {
    const std::string mail = "Bob\r\nFrom: amy : hi\r\n";
    for (const std::string users : {"<missing>", kShiftedUsers.c_str()}) {
        SCOPED_TRACE(users);
        EXPECT_FALSE(StartServer({{"user.dat", users}, {"mail.dat", mail}}));
        StopServer();
        if (users == "<missing>")
            EXPECT_FALSE(fs::exists(dataDir_ / "user.dat"));
        else
            EXPECT_EQ(ReadFileBytes(dataDir_ / "user.dat"), users);
        EXPECT_EQ(ReadFileBytes(dataDir_ / "mail.dat"), mail);
        observer_.Clear();
        io_.restart();
    }
}

TEST_F(ServerLifecycle, DeactivateKeepsUsersAndRefusesNewConnections) {
    ASSERT_TRUE(StartServer());
    TestClient alice(port_);
    alice.Login("alice");
    OnServer([](ChatServer& s) { s.Deactivate(); });
    EXPECT_TRUE(LogHas(observer_, "Server deactivated.  No more incomming connections allowed."));
    alice.Send("still here\r\n");
    EXPECT_EQ(alice.Read("still here\r\n<alice> still here\r\n"), "still here\r\n<alice> still here\r\n");

    // The listening port is closed: a connect is refused.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_NE(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    ::close(fd);

    // Activate listens on the port setting again.
    OnServer([](ChatServer& s) { s.Activate(); });
    EXPECT_TRUE(LogHas(observer_, "Server activated.  Listening on port: 0"));
}

TEST_F(ServerLifecycle, CloseWritesDatabasesAndLog) {
    ASSERT_TRUE(StartServer({{"user.dat", "Bob\r\n1-2-3\r\nY\r\nN\r\nN\r\nN\r\n"},
                             {"mail.dat", "Bob\r\nFrom: amy : hi\r\n"}}));
    StopServer();
    EXPECT_EQ(ReadFileBytes(dataDir_ / "user.dat"), "Bob\r\n1-2-3\r\nY\r\nN\r\nN\r\nN\r\n");
    const std::string mail = ReadFileBytes(dataDir_ / "mail.dat");
    EXPECT_EQ(mail.rfind("{\\rtf", 0), 0u);
    MailStore reread;
    reread.Load(dataDir_ / "mail.dat");
    EXPECT_EQ(reread.Lines(), (std::vector<std::string>{"Bob", "From: amy : hi"}));
    EXPECT_TRUE(fs::exists(dataDir_ / LogFileName(clock_.Now())));
}

TEST_F(ServerLifecycle, ChangedDatabasesReachDiskSoonAfterTheChange) {
    ASSERT_TRUE(StartServer());
    OnServer([](ChatServer& s) { s.state().users.AppendRecord("Zed", "9-9-9"); });
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    std::string content;
    while (std::chrono::steady_clock::now() < deadline) {
        content = ReadFileBytes(dataDir_ / "user.dat");
        if (!content.empty()) break;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(content, "Zed\r\n9-9-9\r\nY\r\nN\r\nN\r\nN\r\n");
}

// True once `condition` holds, false when it did not within a few seconds.
bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

TEST_F(ServerLifecycle, AFailingSaveNamesItsReasonAndIsRetriedWithoutAnotherChange) {
    ASSERT_TRUE(StartServer());
    // A directory where user.dat should be makes every write of it fail.
    const auto users = dataDir_ / "user.dat";
    fs::remove(users);
    fs::create_directories(users / "blocker");
    OnServer([](ChatServer& s) { s.state().users.AppendRecord("Zed", "9-9-9"); });
    // Each retry that fails again says so.
    ASSERT_TRUE(Eventually([&] { return observer_.Errors().size() >= 2; }));
    for (const auto& error : observer_.Errors())
        EXPECT_EQ(error, "Cannot create file " + users.string() + ": Is a directory");
    // Once the obstacle is gone, a retry writes what is in memory, with no
    // change and no save asked for.
    fs::remove_all(users);
    EXPECT_TRUE(Eventually([&] {
        return fs::is_regular_file(users) && ReadFileBytes(users) == "Zed\r\n9-9-9\r\nY\r\nN\r\nN\r\nN\r\n";
    }));
}

// The day's log file is added to, never replaced: a restart keeps the
// morning's lines, and lines saved after midnight go to the new day's file.
TEST_F(ServerLifecycle, TheDaysLogGrowsAcrossRestartsAndMidnightStartsANewFile) {
    ASSERT_TRUE(StartServer());
    const auto firstDay = dataDir_ / LogFileName(clock_.Now());
    OnServer([](ChatServer& s) { s.Log("first run"); });
    ASSERT_TRUE(RestartServer());
    OnServer([](ChatServer& s) {
        s.Log("second run");
        s.SaveLog();
    });
    ASSERT_TRUE(Eventually([&] { return ReadFileBytes(firstDay).find("second run") != std::string::npos; }));
    clock_.Advance(24h);
    OnServer([](ChatServer& s) { s.Log("next day"); });
    StopServer();

    const auto lines = ReadLines(firstDay);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Loaded Quillmoot."), 2);
    const auto at = [&](const std::string& text) {
        return std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.ends_with(text); });
    };
    EXPECT_LT(at("] first run"), at("] second run"));
    EXPECT_NE(at("] second run"), lines.end());
    EXPECT_EQ(ReadFileBytes(dataDir_ / LogFileName(clock_.Now())),
              "[" + FormatHourMinute(clock_.Now()) + "] next day\r\n");
}

using Connections = ChatServerFixture;

TEST_F(Connections, NewConnectionGetsNegotiationAnnouncementsAndPrompt) {
    ASSERT_TRUE(StartServer({{"announce.txt", "Line one\r\nLine two\r\n"}}));
    TestClient c(port_);
    c.ExpectBanner("Line one\r\nLine two\r\n");
    EXPECT_TRUE(observer_.WaitForLog("Client connecting: 127.0.0.1"));
    OnServer([](ChatServer& s) { EXPECT_EQ(s.PeakUsers(), 1); });
}

struct BanCase {
    std::string entry, address;
    bool banned;
};

TEST_F(Connections, BannedAddressGetsMessageThenPromptThenClose) {
    const std::vector<BanCase> cases = {
        {"127.0.0.2", "127.0.0.2", true},
        {"127.0.0.2", "127.0.0.25", true},  // an entry bans what begins with it
        {"127.0.0.2", "127.0.0.3", false},
        {"127.0.*4", "127.0.0.4", true},   // "*" stands for exactly two characters
        {"127.0.*4", "127.0.1.4", true},
        {"127.0.*4", "127.0.0.5", false},
        {"127.0.?.6", "127.0.9.6", true},  // "?" for exactly one
        {"::", "::1", true},               // IPv6 addresses by the same rule
        {"::2", "::1", false},
        {"::", "127.0.0.8", false},
    };
    options_.listenAddresses = {"::1", "127.0.0.1"};
    for (const auto& c : cases) {
        SCOPED_TRACE("entry '" + c.entry + "', address " + c.address);
        ASSERT_TRUE(StartServer({{"bans.txt", c.entry + "\r\n"}}));
        TestClient client(port_, c.address);
        if (c.banned) {
            EXPECT_EQ(client.ReadToClose(), kGreeting + "You are banned.\r\nNickname: \r\n");
            EXPECT_TRUE(observer_.WaitForLog("Client connecting: " + c.address + " is banned right now."));
            OnServer([](ChatServer& s) { EXPECT_EQ(s.PeakUsers(), 0); });
        } else {
            client.ExpectBanner("Hello there.\r\n");
        }
        StopServer();
        observer_.Clear();
        io_.restart();
    }
}

// IPv4 and IPv6 clients on one server: on the one dual-stack socket it
// opens by default, and on one socket per address given. An IPv4 client is
// written as dotted decimal, never as an IPv4-mapped IPv6 address.
TEST_F(Connections, IPv6AndIPv4ClientsTalkToEachOther) {
    for (const std::vector<std::string>& addresses :
         {std::vector<std::string>{}, std::vector<std::string>{"::1", "127.0.0.1"}}) {
        SCOPED_TRACE(addresses.empty() ? "every interface" : "::1 and 127.0.0.1");
        options_.listenAddresses = addresses;
        ASSERT_TRUE(StartServer());
        {
            TestClient six(port_, "::1");
            six.Login("six");
            EXPECT_TRUE(observer_.WaitForLog("Client connecting: ::1"));
            TestClient four(port_, "127.0.0.1");
            four.Login("four");
            EXPECT_TRUE(observer_.WaitForLog("Client connecting: 127.0.0.1"));
            EXPECT_EQ(six.Read("*** four joined\r\n"), "*** four joined\r\n");
            four.Send("hello over four\r\n");
            EXPECT_EQ(six.ReadUntil("hello over four\r\n"), "<four> hello over four\r\n");
            six.Send("and over six\r\n");
            EXPECT_NE(four.ReadUntil("<six> and over six\r\n").find("<six> and over six"), std::string::npos);
        }
        EXPECT_TRUE(observer_.WaitForLog("::1 set nickname to: six"));
        EXPECT_TRUE(observer_.WaitForLog("127.0.0.1 set nickname to: four"));
        for (const auto& line : observer_.LogLines()) EXPECT_EQ(line.find("::ffff:"), std::string::npos) << line;
        StopServer();
        observer_.Clear();
        io_.restart();
    }
}

// An empty entry would match every address: blank lines are no entries, and
// the log says how many were skipped.
TEST_F(Connections, BlankLinesOfTheBanListBanNobody) {
    ASSERT_TRUE(StartServer({{"bans.txt", "\r\n127.0.0.9\r\n \r\n\t\r\n"}}));
    TestClient client(port_);
    client.ExpectBanner("Hello there.\r\n");
    TestClient banned(port_, "127.0.0.9");
    EXPECT_EQ(banned.ReadToClose(), kGreeting + "You are banned.\r\nNickname: \r\n");
    const auto log = observer_.LogLines();
    const auto skipped = std::count_if(log.begin(), log.end(), [](const std::string& line) {
        return line.find("Skipped 3 blank lines of ") != std::string::npos && line.find("bans.txt") != std::string::npos;
    });
    EXPECT_EQ(skipped, 1);
}

TEST_F(Connections, OverTheMaximumGetsTheBusyBanner) {
    ASSERT_TRUE(StartServer({{"qmserv.dat", "0\r\n1\r\nWelcome!\r\nBusy now.\r\n5\r\n"}}));
    TestClient first(port_);
    first.ExpectBanner("Hello there.\r\n");
    TestClient second(port_);
    // The busy text of qmserv.dat only reaches the transport when the
    // operator saves the settings; until then the built-in text is used.
    EXPECT_EQ(second.ReadToClose(), kGreeting +
                                        "Announcements:\r\nHello there.\r\n"
                                        "Sorry.  All connections full.  Please try again later\r\n");
}

TEST_F(Connections, PeakUsersCountsTheMostAtOnce) {
    ASSERT_TRUE(StartServer());
    {
        TestClient a(port_), b(port_), c(port_);
        a.ExpectBanner("Hello there.\r\n");
        b.ExpectBanner("Hello there.\r\n");
        c.ExpectBanner("Hello there.\r\n");
        OnServer([](ChatServer& s) { EXPECT_EQ(s.PeakUsers(), 3); });
    }
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(observer_.WaitForLog("Client disconnecting: Choosing nickname..."));
    TestClient d(port_);
    d.ExpectBanner("Hello there.\r\n");
    OnServer([](ChatServer& s) { EXPECT_EQ(s.PeakUsers(), 3); });
}

TEST_F(Connections, LinesAreCleanedBeforeUse) {
    ASSERT_TRUE(StartServer());
    TestClient alice(port_), bob(port_);
    alice.Login("alice");
    bob.Login("bob");
    EXPECT_EQ(alice.Read("*** bob joined\r\n"), "*** bob joined\r\n");

    // An empty line is answered and goes nowhere; so is one that held only control bytes.
    bob.Send("\r\n");
    EXPECT_EQ(bob.Read("\r\n*** No text to send.\r\n"), "\r\n*** No text to send.\r\n");
    bob.Send("\x01\x02\r\n");
    EXPECT_EQ(bob.Read("\x01\x02\r\n*** No text to send.\r\n"), "\x01\x02\r\n*** No text to send.\r\n");

    // Control bytes never reach other users.
    bob.Send("he\x07llo\x1b[2J\r\n");
    EXPECT_EQ(alice.Read("<bob> hello\r\n"), "<bob> hello\r\n");

    // A long line is cut to 512 characters.
    const std::string longLine(600, 'x');
    bob.Send(longLine + "\r\n");
    const std::string framed = "<bob> " + std::string(512, 'x') + "\r\n";
    EXPECT_EQ(alice.Read(framed), framed);
    EXPECT_EQ(alice.Collect(), "");
}

struct C1Case {
    std::string bobSends;
    std::string aliceSends;  // then; empty: she only collects
    std::string aliceSees;   // somewhere in what she gets
};

// UTF-8 terminals send the C1 controls (CSI, NEL, ...) as C2 80 to C2 9F;
// they are removed wherever the single control bytes are, on every path a
// line takes to other users. Other bytes 128-255 are 8-bit letters and stay.
TEST_F(Connections, C1ControlsNeverReachOtherUsers) {
    Connect({"alice", "bob"});
    const std::vector<C1Case> cases = {
        {"a\xC2\x9B" "2Jb", "", "<bob> a2Jb\r\n"},
        {"x\xC2\x85y\xC2\x80z\xC2\x9F", "", "<bob> xyz\r\n"},
        // What the removal of a control byte would bring together goes too.
        {"\xC2\x01\x85" "ok \xC2\xC2\x9B\x9B" "ok", "", "<bob> ok ok\r\n"},
        {"caf\xE9 \xC2\xA9 \xC2" "A \x85\x9B \xC2", "", "<bob> caf\xE9 \xC2\xA9 \xC2" "A \x85\x9B \xC2\r\n"},
        {"/me wa\xC2\x9Bves", "", "* bob waves\r\n"},
        {"/away o\xC2\x90ut", "/whois bob", "Away: out\r\n"},
        {"/m alice = p\xC2\x8Dst", "", "<bob> pst\r\n"},
        {"/n b\xC2\x85o", "", "*** bob is now known as bo\r\n"},
        {"/j r\xC2\x9Doom", "/who", "room: bo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bobSends);
        U("bob").Send(c.bobSends + "\r\n");
        U("bob").Collect();
        const std::string seen = c.aliceSends.empty() ? U("alice").Collect() : Do("alice", c.aliceSends);
        EXPECT_NE(seen.find(c.aliceSees), std::string::npos) << seen;
    }
    // Nor do they reach the log.
    for (const auto& line : observer_.LogLines()) EXPECT_EQ(line.find("\xC2\x9B"), std::string::npos) << line;
    EXPECT_TRUE(observer_.WaitForLog("<bob> a2Jb"));
}

TEST_F(Connections, MainChannelChatIsLoggedButNotCommandsOrOtherChannels) {
    ASSERT_TRUE(StartServer());
    TestClient alice(port_);
    alice.Login("alice");
    alice.Send("hello\r\n");
    alice.Send("/me waves\r\n");
    alice.Collect();
    OnServer([](ChatServer& s) { FindClient(s, "alice")->SetChannel("Elsewhere"); });
    alice.Send("not logged\r\n");
    alice.Collect();
    const auto log = observer_.LogLines();
    int chat = 0;
    for (const auto& line : log) {
        if (line.find("> ") == std::string::npos || line[0] != '[') continue;
        ++chat;
        EXPECT_EQ(line.substr(8), "<alice> hello");
    }
    EXPECT_EQ(chat, 1);
}

TEST_F(Connections, DisconnectIsLoggedAndAnnouncedToTheChannel) {
    ASSERT_TRUE(StartServer());
    TestClient alice(port_);
    alice.Login("alice");
    {
        TestClient bob(port_);
        bob.Login("bob");
        alice.Read("*** bob joined\r\n");
        clock_.Advance(25h + 3s);
    }
    EXPECT_EQ(alice.Read("*** bob disconnected\r\n"), "*** bob disconnected\r\n");
    EXPECT_TRUE(observer_.WaitForLog("Client disconnecting: bob    Duration: 01:00:03"));
}

TEST_F(Connections, PartialLineAtCloseIsHandledBeforeTheDisconnect) {
    ASSERT_TRUE(StartServer());
    {
        TestClient c(port_);
        c.ExpectBanner("Hello there.\r\n");
        c.Send("bye");
        EXPECT_EQ(c.Read("bye"), "bye");
    }
    EXPECT_TRUE(observer_.WaitForLog("Client disconnecting: bye"));
    EXPECT_TRUE(LogHas(observer_, "127.0.0.1 set nickname to: bye"));
}

TEST_F(Connections, AnnouncedDepartureSilencesOnlyThatConnection) {
    ASSERT_TRUE(StartServer());
    TestClient alice(port_), bob(port_);
    alice.Login("alice");
    bob.Login("bob");
    alice.Read("*** bob joined\r\n");
    OnServer([](ChatServer& s) { FindClient(s, "bob")->DepartureAnnounced = true; });
    bob.Send("ignored\r\n");
    alice.Send("heard\r\n");
    EXPECT_EQ(alice.Read("heard\r\n<alice> heard\r\n"), "heard\r\n<alice> heard\r\n");
    bob.CloseSocket();
    EXPECT_TRUE(observer_.WaitForLog("Client disconnecting: bob"));
    EXPECT_EQ(alice.Collect(), "");
}

TEST_F(Connections, TelnetTimingMarkIsRefusedSoClientsDoNotFreeze) {
    ASSERT_TRUE(StartServer());
    TestClient c(port_);
    c.ExpectBanner("Hello there.\r\n");
    c.Send("\xff\xfd\x06");  // IAC DO TIMING-MARK
    EXPECT_EQ(c.Read("\xff\xfc\x06"), "\xff\xfc\x06");
}

TEST_F(Connections, PeerThatStopsReadingIsDropped) {
    ASSERT_TRUE(StartServer());
    TestClient sleeper(port_, "127.0.0.1", 4096);
    sleeper.Login("sleeper");
    TestClient talker(port_);
    talker.Login("talker");
    const std::string line = std::string(500, 'y') + "\r\n";
    std::string burst;
    for (int i = 0; i < 64; ++i) burst += line;
    bool dropped = false;
    std::thread drain([&] { talker.ReadToClose(); });
    for (int round = 0; round < 400 && !dropped; ++round) {
        talker.Send(burst);
        dropped = LogHas(observer_, "stopped reading");
    }
    EXPECT_TRUE(observer_.WaitForLog("Client dropped: 127.0.0.1 (sleeper) stopped reading"));
    EXPECT_TRUE(observer_.WaitForLog("Client disconnecting: sleeper"));
    talker.CloseSocket();
    drain.join();
}

// A member whose socket is full keeps what a channel shares with everybody
// as well as what is meant for it alone, in the order it was said, and gets
// all of it once it reads again.
TEST_F(Connections, PeerThatFallsBehindGetsChannelAndPrivateLinesInOrder) {
    ASSERT_TRUE(StartServer());
    TestClient sleeper(port_, "127.0.0.1", 4096);
    sleeper.Login("sleeper");
    TestClient talker(port_);
    talker.Login("talker");
    const auto unsentForSleeper = [&] {
        std::size_t bytes = 0;
        Set("sleeper", [&](TTcpSrvClient& c) { bytes = c.UnsentBytes(); });
        return bytes;
    };
    const std::string filler(300, 'f');
    std::vector<std::string> said;
    int serial = 0;
    // Until well behind (the kernel takes megabytes first), and still far
    // from the limit that drops it; each burst is handled before the next.
    for (int burst = 0; burst < 1000 && unsentForSleeper() < 128 * 1024; ++burst) {
        std::string lines;
        for (int i = 0; i < 20; ++i, ++serial) {
            said.push_back("c" + std::to_string(serial));
            said.push_back("p" + std::to_string(serial));
            lines += said[said.size() - 2] + " " + filler + "\r\n";
            lines += "/m sleeper = " + said.back() + " " + filler + "\r\n";
        }
        talker.Send(lines);
        talker.Collect();
    }
    ASSERT_GE(unsentForSleeper(), 128u * 1024);
    // Read line by line: one search over megabytes would take too long.
    std::string got;
    for (std::size_t i = 0; i < said.size() && !HasFailure(); ++i) got += sleeper.ReadUntil(said[i] + " " + filler);

    std::vector<std::string> heard;
    for (std::size_t at = 0; (at = got.find(' ' + filler, at)) != std::string::npos; at += filler.size()) {
        const std::size_t start = got.find_last_of(" >:", at - 1) + 1;
        heard.push_back(got.substr(start, at - start));
    }
    EXPECT_EQ(heard, said);
    EXPECT_FALSE(LogHas(observer_, "stopped reading"));
}

TEST_F(Connections, AllUnsentOutputTogetherIsCappedByDroppingTheLargestFirst) {
    ASSERT_TRUE(StartServer({}, "MaxTotalOutputMiB=1\n"));
    // Peers that never read. "bigone", alone in a channel of its own, is
    // owed private lines until 600 KiB wait for it, well below its own
    // 1 MiB limit; the other two are owed the main channel's lines without
    // end, and pass the limit of all three together while each still waits
    // for less than bigone.
    std::vector<std::unique_ptr<TestClient>> sleepers;
    for (const std::string nick : {"bigone", "s1", "s2"}) {
        sleepers.push_back(std::make_unique<TestClient>(port_, "127.0.0.1", 4096));
        sleepers.back()->Login(nick);
    }
    sleepers.front()->Send("/j Quiet\r\n");
    TestClient talker(port_);
    talker.Login("talker");
    std::thread drain([&] { talker.ReadToClose(); });
    const auto unsentForBigone = [&] {
        std::size_t bytes = 0;
        Set("bigone", [&](TTcpSrvClient& c) { bytes = c.UnsentBytes(); });
        return bytes;
    };
    const std::string text(400, 'z');
    constexpr int kMaxBursts = 600, kLinesPerBurst = 50;
    std::string burst;
    for (int i = 0; i < kLinesPerBurst; ++i) burst += "/m bigone = " + text + "\r\n";
    for (int round = 0; round < kMaxBursts && unsentForBigone() < 600 * 1024; ++round) talker.Send(burst);
    burst.clear();
    for (int i = 0; i < kLinesPerBurst; ++i) burst += text + "\r\n";
    for (int round = 0; round < kMaxBursts && !LogHas(observer_, "stopped reading"); ++round) talker.Send(burst);
    const bool dropped = observer_.WaitForLog("stopped reading");
    talker.CloseSocket();
    drain.join();

    ASSERT_TRUE(dropped);
    std::vector<std::string> drops;
    for (const auto& line : observer_.LogLines())
        if (line.find("Client dropped: ") != std::string::npos) drops.push_back(line);
    ASSERT_FALSE(drops.empty());
    EXPECT_NE(drops.front().find("Client dropped: 127.0.0.1 (bigone) stopped reading"), std::string::npos)
        << drops.front();
}

TEST_F(Connections, FloodProtectionIgnoresAFlooderAndSaysSoOnce) {
    ASSERT_TRUE(StartServer({}, "FloodProt=true\n"));
    TestClient alice(port_), bob(port_);
    alice.Login("alice");
    bob.Login("bob");
    alice.Read("*** bob joined\r\n");
    std::string lines;
    for (int i = 0; i < 30; ++i) lines += "l" + std::to_string(i) + "\r\n";
    bob.Send(lines);
    // The clock stands still, so every line after bob's nickname follows its
    // predecessor within a second: 23 get through, then bob is muted.
    std::string expected;
    for (int i = 0; i < 23; ++i) expected += "<bob> l" + std::to_string(i) + "\r\n";
    EXPECT_EQ(alice.Read(expected), expected);
    const std::string received = bob.ReadUntil("*** You are sending lines too fast.  They are ignored for a while.\r\n");
    EXPECT_EQ(bob.ReadUntil("l29\r\n").find("too fast"), std::string::npos);
    EXPECT_TRUE(LogHas(observer_, "bob is flooding"));
    EXPECT_EQ(alice.Collect(), "");
}

}  // namespace
}  // namespace qm::test
