// Registration, passwords and mail over real sockets.
#include "chat_fixture.h"

#include <future>

#include "commands/attempt_throttle.h"
#include "storage/password_hash.h"
#include "storage/text_file.h"
#include "storage/user_database.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;

std::string LegacyRecord(const std::string& nick, const std::string& password) {
    return nick + "\r\n" + EncodePassword(nick, password) + "\r\nY\r\nN\r\nN\r\nN\r\n";
}

class Accounts : public ChatServerFixture {
protected:
    // Chooses a registered nickname and answers its password prompt.
    void AnswerPrompt(TestClient& c, const std::string& nick, const std::string& password) {
        c.ExpectBanner("Hello there.\r\n");
        c.Send(nick + "\r\n");
        EXPECT_EQ(c.Read(nick + "\r\nPassword: "), nick + "\r\nPassword: ");
        c.Send(password + "\r\n");
    }
    void LoginRegistered(TestClient& c, const std::string& nick, const std::string& password, int messages = 0) {
        AnswerPrompt(c, nick, password);
        const std::string in = "*** You have " + std::to_string(messages) + " messages.\r\nWelcome!\r\n*** " + nick + " joined\r\n";
        EXPECT_EQ(c.ReadUntil(" joined\r\n"), in);
    }
    void RefusedPassword(TestClient& c, const std::string& nick, const std::string& password) {
        AnswerPrompt(c, nick, password);
        EXPECT_EQ(c.Read("*** Bad password, try another nick: "), "*** Bad password, try another nick: ");
    }
    std::string StoredPassword(const std::string& nick) {
        std::string stored;
        OnServer([&](ChatServer& s) {
            auto& users = s.state().users;
            stored = users.RecordLine(users.FindUserRecord(nick), UserDatabase::kPassword);
        });
        return stored;
    }
    // Waits until user.dat on disk holds `text`: what a kill -9 would leave.
    bool OnDisk(const std::string& text) {
        for (int i = 0; i < 300; ++i) {
            if (ReadFileBytes(dataDir_ / "user.dat").find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
};

TEST_F(Accounts, RegisterThenLogInWithThePassword) {
    ASSERT_TRUE(StartServer());
    {
        TestClient ann(port_);
        ann.Login("Ann");
        ann.Send("/reg secret\r\n");
        EXPECT_EQ(ann.Read("/reg secret\r\n*** You have been registered.\r\n"),
                  "/reg secret\r\n*** You have been registered.\r\n");
        // The password is stored as a hash, and reaches disk on its own.
        const std::string stored = StoredPassword("Ann");
        EXPECT_EQ(stored.rfind("$argon2id$", 0), 0u) << stored;
        EXPECT_TRUE(OnDisk("Ann\r\n" + stored + "\r\nY\r\nN\r\nN\r\nN\r\n"));
    }
    TestClient wrong(port_);
    RefusedPassword(wrong, "Ann", "secreT");
    TestClient ann(port_);
    LoginRegistered(ann, "Ann", "secret");
    for (const auto& line : observer_.LogLines()) EXPECT_EQ(line.find("secret"), std::string::npos) << line;
}

// A user.dat cut short by hand ends in part of a record; a nickname
// registered after it must still ask for its password next time.
TEST_F(Accounts, RegistrationAfterACutShortFileAsksForThePassword) {
    ASSERT_TRUE(StartServer({{"user.dat", "Bob\r\nlost\r\nY\r\n"}}));
    {
        TestClient ann(port_);
        ann.Login("Ann");
        ann.Send("/reg secret\r\n");
        EXPECT_EQ(ann.Read("/reg secret\r\n*** You have been registered.\r\n"),
                  "/reg secret\r\n*** You have been registered.\r\n");
    }
    TestClient ann(port_);
    LoginRegistered(ann, "Ann", "secret");
}

struct CommandCase {
    std::string line, reply;
};

TEST_F(Accounts, RegAndPassReplies) {
    ASSERT_TRUE(StartServer({{"user.dat", LegacyRecord("Bob", "old")}}));
    TestClient carol(port_);
    carol.Login("carol");
    const std::vector<CommandCase> unregistered = {
        {"/pass new", "*** You haven't registered.  Type /reg <password> to register now.\r\n"},
        {"/pass", "*** You haven't registered.  Type /reg <password> to register now.\r\n"},
        {"/reg", "*** Useage: /reg <password>\r\n"},
        {"/REG x", "*** No such command.\r\n"},
        {"/PASS x", "*** No such command.\r\n"},
    };
    for (const auto& c : unregistered) {
        SCOPED_TRACE(c.line);
        carol.Send(c.line + "\r\n");
        EXPECT_EQ(carol.Read(c.line + "\r\n" + c.reply), c.line + "\r\n" + c.reply);
    }
    TestClient bob(port_);
    LoginRegistered(bob, "Bob", "old");
    const std::vector<CommandCase> registered = {
        {"/pass", "*** Useage: /pass <new password>\r\n"},
        {"/reg again", "*** You may not reregister.\r\n"},
        // A longer word that begins with the command is the command: the
        // password starts at the 7th character, inside the word.
        {"/passwordXY", "*** New password set.\r\n"},
    };
    for (const auto& c : registered) {
        SCOPED_TRACE(c.line);
        bob.Send(c.line + "\r\n");
        EXPECT_EQ(bob.Read(c.line + "\r\n" + c.reply), c.line + "\r\n" + c.reply);
    }
    bob.CloseSocket();
    ASSERT_TRUE(observer_.WaitForLog("Client disconnecting: Bob"));
    TestClient again(port_);
    LoginRegistered(again, "Bob", "ordXY");
    // "/pass" and two blanks sets a password of one blank.
    again.Send("/pass  \r\n");
    EXPECT_EQ(again.Read("/pass  \r\n*** New password set.\r\n"), "/pass  \r\n*** New password set.\r\n");
    again.CloseSocket();
    ASSERT_TRUE(observer_.WaitForLog("Client disconnecting: Bob"));
    TestClient blank(port_);
    LoginRegistered(blank, "Bob", " ");
}

TEST_F(Accounts, LegacyPasswordsStillOpenAndAreUpgraded) {
    // The legacy value depends only on the length and the first character.
    ASSERT_EQ(EncodePassword("Bob", "secret"), EncodePassword("Bob", "sxxxxx"));
    ASSERT_TRUE(StartServer({{"user.dat", LegacyRecord("Bob", "secret") + LegacyRecord("Eve", "pw")}}));
    {
        TestClient bob(port_);
        LoginRegistered(bob, "Bob", "secret");
    }
    std::string stored;
    for (int i = 0; i < 300 && !IsPasswordHash(stored); ++i) {
        stored = StoredPassword("Bob");
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(IsPasswordHash(stored)) << stored;
    EXPECT_TRUE(OnDisk(stored));
    ASSERT_TRUE(observer_.WaitForLog("Client disconnecting: Bob"));
    // What the legacy value let in is refused now; the real password still opens.
    TestClient impostor(port_);
    RefusedPassword(impostor, "Bob", "sxxxxx");
    TestClient bob(port_);
    LoginRegistered(bob, "Bob", "secret");
    // Records nobody logged into keep their legacy value.
    EXPECT_EQ(StoredPassword("Eve"), EncodePassword("Eve", "pw"));
}

TEST_F(Accounts, WrongPasswordsDelayOnlyTheGuesser) {
    options_.badPasswordDelay = 2s;
    ASSERT_TRUE(StartServer({{"user.dat", LegacyRecord("Bob", "secret")}}));
    TestClient other(port_);
    other.Login("other");
    TestClient guesser(port_);
    guesser.ExpectBanner("Hello there.\r\n");
    guesser.Send("Bob\r\n");
    guesser.Read("Bob\r\nPassword: ");
    // A burst of guesses: the second waits behind the first one's delay.
    guesser.Send("guess1\r\nBob\r\nguess2\r\n");
    EXPECT_EQ(guesser.Read("*** Bad password, try another nick: "), "*** Bad password, try another nick: ");
    // Meanwhile everybody else is served at once.
    other.Send("still quick\r\n");
    EXPECT_EQ(other.Read("still quick\r\n<other> still quick\r\n"), "still quick\r\n<other> still quick\r\n");
    EXPECT_EQ(other.Collect(), "");
    // Only now does the guesser's next line come through.
    EXPECT_EQ(guesser.Read("Bob\r\nPassword: *** Bad password, try another nick: "),
              "Bob\r\nPassword: *** Bad password, try another nick: ");
}

// After a few wrong passwords for one nickname from one address, that
// address waits before it is asked for the password again; the nickname
// stays free meanwhile, and neither its owner elsewhere nor the address's
// other nicknames wait.
TEST_F(Accounts, RepeatedWrongPasswordsHoldBackOnlyThatAddressAndNickname) {
    options_.badPasswordDelay = 0ms;
    options_.failedPasswordFirstHold = 1500ms;
    ASSERT_TRUE(StartServer({{"user.dat", LegacyRecord("Bob", "secret") + LegacyRecord("Ann", "a")}}));
    TestClient guesser(port_);
    guesser.ExpectBanner("Hello there.\r\n");
    for (int i = 0; i < AttemptThrottle::kFreeFailures; ++i) {
        const std::string guess = "guess" + std::to_string(i);
        guesser.Send("bob\r\n" + guess + "\r\n");
        EXPECT_EQ(guesser.Read("bob\r\nPassword: *** Bad password, try another nick: "),
                  "bob\r\nPassword: *** Bad password, try another nick: ");
    }
    guesser.Send("bob\r\n");
    EXPECT_EQ(guesser.Read("bob\r\n"), "bob\r\n");
    // While the guesser waits, the owner logs in from another address, and
    // the same address logs in under another nickname.
    TestClient owner(port_, "127.0.0.2");
    LoginRegistered(owner, "Bob", "secret");
    TestClient neighbour(port_);
    LoginRegistered(neighbour, "Ann", "a");
    OnServer([](ChatServer& s) {
        int held = 0;
        s.Clients().ForEachClientDown([&](TTcpSrvClient& c) { held += c.Paused() ? 1 : 0; });
        EXPECT_EQ(held, 1);
    });
    EXPECT_EQ(guesser.Read("*** That nickname is in use.  Try another.\r\nNickname: "),
              "*** That nickname is in use.  Try another.\r\nNickname: ");
    // Each failure is logged with the address and the nickname, never the password.
    int failures = 0;
    for (const auto& line : observer_.LogLines()) {
        EXPECT_EQ(line.find("guess"), std::string::npos) << line;
        failures += line.ends_with("] 127.0.0.1: Bob failed to log in.  Bad password.") ? 1 : 0;
    }
    EXPECT_EQ(failures, AttemptThrottle::kFreeFailures);
}

// The legacy value "Error" would open for any password of 256 characters.
TEST_F(Accounts, LegacyErrorValueOpensForNobody) {
    ASSERT_TRUE(StartServer({{"user.dat", "Eve\r\nError\r\nY\r\nN\r\nN\r\nN\r\n"}}));
    TestClient c(port_);
    RefusedPassword(c, "Eve", std::string(256, 'x'));
}

// The password workers serve logins before password changes, and only so
// many changes wait: beyond that the user is told to try again later.
TEST_F(Accounts, PasswordWorkersServeLoginsFirstAndKeepTheQueueBounded) {
    ASSERT_TRUE(StartServer({{"user.dat", LegacyRecord("Bob", "secret")}}));
    TestClient carol(port_);
    carol.Login("carol");
    // Every worker busy until the test lets it go, and a full queue of changes behind them.
    std::vector<std::promise<void>> release(PasswordWorker::kWorkers);
    std::size_t queued = 0;
    OnServer([&](ChatServer& s) {
        for (auto& r : release)
            s.state().passwords.Submit(PasswordWorker::Priority::kChange,
                                       [gate = r.get_future().share()] { gate.wait(); }, [] {});
        for (std::size_t i = 0; i < PasswordWorker::kMaxWaitingJobs; ++i)
            queued += s.state().passwords.Submit(PasswordWorker::Priority::kChange, [] {},
                                                 [&s] { s.Log("change done"); }) ? 1 : 0;
    });
    EXPECT_EQ(queued, PasswordWorker::kMaxWaitingJobs);
    const std::string busy = "*** The server is busy.  Please try again in a moment.\r\n";
    carol.Send("/reg pw\r\n");
    EXPECT_EQ(carol.Collect(), "/reg pw\r\n" + busy);
    OnServer([](ChatServer& s) { EXPECT_LT(s.state().users.FindUserRecord("carol"), 0); });

    TestClient bob(port_);
    AnswerPrompt(bob, "Bob", "secret");
    // The login waits behind the busy workers too.
    std::size_t waiting = 0;
    for (int i = 0; i < 500 && waiting <= PasswordWorker::kMaxWaitingJobs; ++i) {
        OnServer([&](ChatServer& s) { waiting = s.state().passwords.Waiting(); });
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(waiting, PasswordWorker::kMaxWaitingJobs + 1);
    // One worker free: the login goes first.
    release[0].set_value();
    EXPECT_EQ(bob.ReadUntil(" joined\r\n"), "*** You have 0 messages.\r\nWelcome!\r\n*** Bob joined\r\n");
    ASSERT_TRUE(observer_.WaitForLog("change done"));
    for (std::size_t i = 1; i < release.size(); ++i) release[i].set_value();
    std::vector<std::string> order;
    for (const auto& line : observer_.LogLines()) {
        if (line.ends_with("set nickname to: Bob")) order.push_back("login");
        if (line.ends_with("change done") && (order.empty() || order.back() != "change")) order.push_back("change");
    }
    EXPECT_EQ(order, (std::vector<std::string>{"login", "change"}));
}

TEST_F(Accounts, RegistrationsAndMailSurviveARestart) {
    ASSERT_TRUE(StartServer({{"user.dat", LegacyRecord("Bob", "pw")}}));
    {
        TestClient ann(port_);
        ann.Login("Ann");
        ann.Send("/reg pass\r\n/send Bob = see you\r\n");
        ann.ReadUntil("*** You have been registered.\r\n");
        EXPECT_EQ(ann.Collect(), "/send Bob = see you\r\n");
    }
    ASSERT_TRUE(RestartServer());
    TestClient bob(port_);
    LoginRegistered(bob, "Bob", "pw", 1);
    bob.Send("/read 1\r\n");
    EXPECT_EQ(bob.Read("/read 1\r\n*** From: Ann : see you\r\n"), "/read 1\r\n*** From: Ann : see you\r\n");
    TestClient ann(port_);
    LoginRegistered(ann, "Ann", "pass");
}

// Typing a registered nickname claims it, but proves nothing: until the
// password is right, nothing meant for that user reaches the connection.
TEST_F(Accounts, NothingPrivateReachesAConnectionAskedForAPassword) {
    ASSERT_TRUE(StartServer({{"user.dat", LegacyRecord("Ann", "a") + LegacyRecord("Bob", "b")}}));
    TestClient ann(port_);
    LoginRegistered(ann, "Ann", "a");
    const std::vector<std::string> typed = {"Bob", "BOB"};
    for (const auto& nick : typed) {
        SCOPED_TRACE(nick);
        TestClient impostor(port_);
        impostor.ExpectBanner("Hello there.\r\n");
        impostor.Send(nick + "\r\n");
        EXPECT_EQ(impostor.Read(nick + "\r\nPassword: "), nick + "\r\nPassword: ");
        const std::vector<CommandCase> cases = {
            {"/m Bob = are you there", "*** User is not online.\r\n"},
            {"/m bob = are you there", "*** User is not online.\r\n"},
            {"/query bob", "*** User is not online.\r\n"},
            {"/send Bob = for your eyes only", ""},
        };
        for (const auto& k : cases) {
            SCOPED_TRACE(k.line);
            ann.Send(k.line + "\r\n");
            EXPECT_EQ(ann.Collect(), k.line + "\r\n" + k.reply);
        }
        EXPECT_EQ(impostor.Collect(), "");
        impostor.CloseSocket();
        ann.ReadUntil("*** Bob disconnected\r\n");
    }
}

class Mail : public Accounts {
protected:
    void SetUp() override {
        ASSERT_TRUE(StartServer({{"user.dat", LegacyRecord("Ann", "a") + LegacyRecord("Bob", "b")}}));
        ann_ = std::make_unique<TestClient>(port_);
        LoginRegistered(*ann_, "Ann", "a");
    }
    void Expect(TestClient& c, const std::vector<CommandCase>& cases) {
        for (const auto& k : cases) {
            SCOPED_TRACE(k.line);
            c.Send(k.line + "\r\n");
            EXPECT_EQ(c.Collect(), k.line + "\r\n" + k.reply);
        }
    }
    std::unique_ptr<TestClient> ann_;
};

TEST_F(Mail, SendReadAndDelete) {
    TestClient bob(port_);
    LoginRegistered(bob, "Bob", "b");
    ann_->ReadUntil("*** Bob joined\r\n");
    Expect(*ann_, {
        {"/send Bob = hello", ""},
        {"/send nobody = hi", "*** Recipient: nobody is not registered.\r\n"},
        {"/SEND Bob = 2 = 3", ""},                                        // later "=" belong to the message
        // The nickname ends two characters before the "=", whatever stands there.
        {"/send Bob=x", "*** Recipient: Bo is not registered.\r\n"},
        {"/send Ann = note to self", "*** You have a new message.  Type /read to list your messages.\r\n"},
    });
    const std::string notice = "*** You have a new message.  Type /read to list your messages.\r\n";
    EXPECT_EQ(bob.Collect(), notice + notice);
    EXPECT_EQ(ann_->Collect(), "");
    Expect(bob, {
        {"/read", "*** You have 2 messages.\r\n"},
        {"/read 1", "*** From: Ann : hello\r\n"},
        {"/read 2", "*** From: Ann : 2 = 3\r\n"},
        {"/read 3", "*** No such message!\r\n"},
        {"/read 0", "*** No such message!\r\n"},
        {"/read -1", "*** No such message!\r\n"},
        {"/read two", "*** No such message!\r\n"},
        {"/READ 1", "*** No such command.\r\n"},
        {"/del 0", "*** No such message.\r\n"},
        {"/del x", "*** No such message.\r\n"},
        {"/del", "*** No such message.\r\n"},
        {"/DEL 1", "*** You are not an op.\r\n"},  // not /del: it falls to /d
        {"/del 1", "*** Message deleted.\r\n"},
        {"/read 1", "*** From: Ann : 2 = 3\r\n"},
        {"/read", "*** You have 1 messages.\r\n"},
    });
    Expect(*ann_, {{"/read 1", "*** From: Ann : note to self\r\n"}});
}

TEST_F(Mail, AFullMailboxTakesNoMore) {
    OnServer([](ChatServer& s) {
        for (int i = 1; i < MailStore::kMaxMessages; ++i) s.state().mail.Append("Bob", "Ann", "filler");
    });
    Expect(*ann_, {
        {"/send Bob = the last that fits", ""},
        {"/send Bob = one too many", "*** Bob's mailbox is full.\r\n"},
        {"/send Ann = another box still takes mail",
         "*** You have a new message.  Type /read to list your messages.\r\n"},
    });
    int count = 0;
    std::string last;
    OnServer([&](ChatServer& s) {
        const auto& mail = s.state().mail;
        count = mail.CountFor("Bob");
        last = mail.MessageLine(mail.FindMessage("Bob", count));
    });
    EXPECT_EQ(count, MailStore::kMaxMessages);
    EXPECT_EQ(last, "From: Ann : the last that fits");
}

TEST_F(Mail, UnregisteredUsersAndOfflineRecipients) {
    TestClient carol(port_);
    carol.Login("carol");
    Expect(carol, {
        {"/send Ann = hi", "*** You are not registered.\r\n"},
        {"/read", "*** You are not registered.\r\n"},
        {"/del 1", "*** You are not registered.\r\n"},
    });
    ann_->ReadUntil("*** carol joined\r\n");
    // Mail for somebody offline waits for the next login.
    Expect(*ann_, {{"/send Bob = while you were out", ""}, {"/send Bob = and again", ""}});
    TestClient bob(port_);
    LoginRegistered(bob, "Bob", "b", 2);
}

// Mail addressed in another letter case goes to the registered spelling.
TEST_F(Mail, RecipientInAnyLetterCase) {
    TestClient bob(port_);
    LoginRegistered(bob, "Bob", "b");
    ann_->ReadUntil("*** Bob joined\r\n");
    Expect(*ann_, {{"/send bob = lower", ""}, {"/send BOB = upper", ""}});
    const std::string notice = "*** You have a new message.  Type /read to list your messages.\r\n";
    EXPECT_EQ(bob.Collect(), notice + notice);
    Expect(bob, {
        {"/read", "*** You have 2 messages.\r\n"},
        {"/read 1", "*** From: Ann : lower\r\n"},
        {"/read 2", "*** From: Ann : upper\r\n"},
    });
}

// /reg refuses a nickname that is registered in another letter case.
TEST_F(Accounts, RegRefusesNicknameRegisteredInAnotherCase) {
    ASSERT_TRUE(StartServer({{"user.dat", LegacyRecord("Bob", "b")}}));
    TestClient user(port_);
    user.Login("temp");
    // A name no login can reach any more: the connection is given it directly.
    OnServer([](ChatServer& s) { FindClient(s, "temp")->SetNick("bob"); });
    user.Send("/reg pw\r\n");
    EXPECT_EQ(user.Read("/reg pw\r\n*** You may not reregister.\r\n"), "/reg pw\r\n*** You may not reregister.\r\n");
    OnServer([](ChatServer& s) {
        EXPECT_EQ(s.state().users.Lines().size(), static_cast<std::size_t>(UserDatabase::kRecordLines));
    });
}

}  // namespace
}  // namespace qm::test
