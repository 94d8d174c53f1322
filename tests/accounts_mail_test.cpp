// Registration, passwords and mail over real sockets.
#include "chat_fixture.h"
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
    badPasswordDelay_ = 2s;
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
        {"/send bob = hi", "*** Recipient: bob is not registered.\r\n"},  // registration is exact
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

TEST_F(Mail, UnregisteredUsersAndOfflineRecipients) {
    TestClient carol(port_);
    carol.Login("carol");
    Expect(carol, {
        {"/send Ann = hi", "*** You are not registered.\r\n"},
        {"/read", "*** You are not registered.\r\n"},
        {"/del 1", "*** You are not registered.\r\n"},
    });
    // Mail for somebody offline waits for the next login, and the notice
    // reaches whoever is online under the name in any letter case.
    TestClient bob(port_);
    bob.Login("bob");
    ann_->ReadUntil("*** bob joined\r\n");
    Expect(*ann_, {{"/send Bob = while you were out", ""}, {"/send Bob = and again", ""}});
    EXPECT_EQ(bob.Collect(), "*** You have a new message.  Type /read to list your messages.\r\n"
                             "*** You have a new message.  Type /read to list your messages.\r\n");
    Expect(bob, {{"/read", "*** You are not registered.\r\n"}});
    TestClient real(port_);
    bob.CloseSocket();
    ASSERT_TRUE(observer_.WaitForLog("Client disconnecting: bob"));
    LoginRegistered(real, "Bob", "b", 2);
}

}  // namespace
}  // namespace qm::test
