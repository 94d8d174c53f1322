// The login dialogue over real sockets.
#include "chat_fixture.h"
#include "storage/user_database.h"

namespace qm::test {
namespace {

using Login = ChatServerFixture;

std::string Record(const std::string& nick, const std::string& password, const std::string& echo = "Y",
                   const std::string& roles = "N\r\nN\r\nN\r\n") {
    return nick + "\r\n" + EncodePassword(nick, password) + "\r\n" + echo + "\r\n" + roles;
}

struct NicknameCase {
    std::string typed;
    std::string reply;  // after the echo of the typed line
};

TEST_F(Login, NicknamesThatAreRefused) {
    ASSERT_TRUE(StartServer());
    TestClient alice(port_);
    alice.Login("Alice");
    TestClient c(port_);
    c.ExpectBanner("Hello there.\r\n");
    const std::vector<NicknameCase> cases = {
        {"bob=1", "*** You may NOT have a = sign in your nick.  You may have any other character.\r\n"},
        {"alice", "*** That nickname is in use.  Try another.\r\nNickname: "},
        {"ALICE", "*** That nickname is in use.  Try another.\r\nNickname: "},
        {"Choosing nickname...", "*** That nickname is in use.  Try another.\r\nNickname: "},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.typed);
        c.Send(k.typed + "\r\n");
        const std::string expected = k.typed + "\r\n" + k.reply;
        EXPECT_EQ(c.Read(expected), expected);
    }
    // Still at the nickname step: the next line is a nickname.
    c.Send("carol\r\n");
    EXPECT_EQ(c.Read("carol\r\nWelcome!\r\n*** carol joined\r\n"), "carol\r\nWelcome!\r\n*** carol joined\r\n");
    EXPECT_EQ(alice.Read("*** carol joined\r\n"), "*** carol joined\r\n");
}

TEST_F(Login, LongNicknameIsCutAndSlashLinesAreNicknames) {
    ASSERT_TRUE(StartServer());
    const std::string forty(40, 'n');
    TestClient a(port_);
    a.ExpectBanner("Hello there.\r\n");
    a.Send(forty + "\r\n");
    const std::string expected = forty + "\r\nWelcome!\r\n*** " + std::string(35, 'n') + " joined\r\n";
    EXPECT_EQ(a.Read(expected), expected);

    TestClient b(port_);
    b.Login("/help");
    EXPECT_TRUE(observer_.WaitForLog("127.0.0.1 set nickname to: /help"));
}

TEST_F(Login, GameHandshakeEntersChessMode) {
    ASSERT_TRUE(StartServer());
    TestClient game(port_);
    game.ExpectBanner("Hello there.\r\n");
    game.Send("gamma kilo omega sigma 48210573918265x-903174x-58\r\n");
    // The handshake is echoed, then the echo is off (and the client is told).
    const std::string expected = "gamma kilo omega sigma 48210573918265x-903174x-58\r\n* Entered chess mode.\r\n" + kWontEcho;
    EXPECT_EQ(game.Read(expected), expected);
    OnServer([](ChatServer& s) {
        auto* c = FindClient(s, "Choosing nickname...");
        ASSERT_NE(c, nullptr);
        EXPECT_TRUE(c->ChessMode);
        EXPECT_EQ(c->Channel(), "Chess");
    });
    // Letter case matters: this one is a nickname (cut to 35 characters).
    TestClient other(port_);
    other.ExpectBanner("Hello there.\r\n");
    other.Send("GAMMA kilo omega sigma 48210573918265x-903174x-58\r\n");
    EXPECT_EQ(other.ReadUntil(" joined\r\n"),
              "GAMMA kilo omega sigma 48210573918265x-903174x-58\r\nWelcome!\r\n"
              "*** GAMMA kilo omega sigma 482105739182 joined\r\n");
}

TEST_F(Login, RegisteredNicknameAsksForItsPassword) {
    ASSERT_TRUE(StartServer({{"user.dat", Record("Bob", "secret", "N")},
                             {"mail.dat", "Bob\r\nFrom: amy : one\r\nbob\r\nFrom: amy : x\r\nBob\r\nFrom: amy : two\r\n"}}));
    TestClient watcher(port_);
    watcher.Login("watcher");

    TestClient bob(port_);
    bob.ExpectBanner("Hello there.\r\n");
    bob.Send("Bob\r\n");
    // The prompt; the echo stays claimed by the server, so nothing shows the password.
    EXPECT_EQ(bob.Read("Bob\r\nPassword: "), "Bob\r\nPassword: ");
    // While the password is awaited the claimed nickname is taken...
    TestClient rival(port_);
    rival.ExpectBanner("Hello there.\r\n");
    rival.Send("bob\r\n");
    EXPECT_EQ(rival.Read("bob\r\n*** That nickname is in use.  Try another.\r\nNickname: "),
              "bob\r\n*** That nickname is in use.  Try another.\r\nNickname: ");
    // ...and the main channel is heard.
    watcher.Send("hi\r\n");
    EXPECT_EQ(bob.Read("<watcher> hi\r\n"), "<watcher> hi\r\n");

    // A wrong password goes back to the nickname step; it was not echoed.
    bob.Send("wrong\r\n");
    const std::string bad = "*** Bad password, try another nick: ";
    EXPECT_EQ(bob.Read(bad), bad);
    watcher.Send("again\r\n");
    EXPECT_EQ(watcher.Read("hi\r\n<watcher> hi\r\nagain\r\n<watcher> again\r\n"),
              "hi\r\n<watcher> hi\r\nagain\r\n<watcher> again\r\n");

    // The right one: the message count comes before the welcome; the
    // stored echo setting "N" leaves the echo off.
    bob.Send("Bob\r\n");
    EXPECT_EQ(bob.Read("Bob\r\nPassword: "), "Bob\r\nPassword: ");
    bob.Send("secret\r\n");
    const std::string in = "*** You have 2 messages.\r\nWelcome!\r\n*** Bob joined\r\n" + kWontEcho;
    EXPECT_EQ(bob.Read(in), in);
    EXPECT_EQ(watcher.Read("*** Bob joined\r\n"), "*** Bob joined\r\n");
    bob.Send("quiet\r\n");
    EXPECT_EQ(bob.Read("<Bob> quiet\r\n"), "<Bob> quiet\r\n");

    // Passwords are never logged.
    for (const auto& line : observer_.LogLines()) {
        EXPECT_EQ(line.find("secret"), std::string::npos) << line;
        EXPECT_EQ(line.find("wrong"), std::string::npos) << line;
    }
}

TEST_F(Login, StoredSettingsGiveEchoAndRoles) {
    ASSERT_TRUE(StartServer({{"user.dat", Record("Ann", "pw", "Y", "Y\r\nN\r\nY\r\n") + "Cut\r\n" +
                                              EncodePassword("Cut", "pw") + "\r\n"}}));
    TestClient ann(port_);
    ann.ExpectBanner("Hello there.\r\n");
    ann.Send("Ann\r\npw\r\n");
    const std::string in = "Ann\r\nPassword: *** You have 0 messages.\r\nWelcome!\r\n*** Ann joined\r\n";
    EXPECT_EQ(ann.Read(in), in);
    ann.Send("x\r\n");
    EXPECT_EQ(ann.Read("x\r\n<Ann> x\r\n"), "x\r\n<Ann> x\r\n");
    OnServer([](ChatServer& s) {
        auto* c = FindClient(s, "Ann");
        ASSERT_NE(c, nullptr);
        EXPECT_TRUE(c->IsServOp);
        EXPECT_FALSE(c->IsChanOp);
        EXPECT_TRUE(c->IsSpy);
        EXPECT_FALSE(c->ChannelLocked);
    });
    // A record cut short after its password line still opens, and raises no role.
    TestClient cut(port_);
    cut.ExpectBanner("Hello there.\r\n");
    cut.Send("Cut\r\n");
    cut.Read("Cut\r\nPassword: ");
    cut.Send("pw\r\n");
    EXPECT_EQ(cut.ReadUntil("*** Cut joined\r\n"), "*** You have 0 messages.\r\nWelcome!\r\n*** Cut joined\r\n");
    OnServer([](ChatServer& s) { EXPECT_FALSE(FindClient(s, "Cut")->IsServOp); });
}

struct SpellingCase {
    std::string typed, password;
    std::string joined;  // the nickname the user gets, or empty when the password is refused
};

// A nickname typed in another letter case is the registered one: it asks
// for that record's password and gives the registered spelling. A record
// spelt exactly as typed comes first, so a file that holds "Ann" and "ann"
// keeps both.
TEST_F(Login, RegisteredNicknameInAnyLetterCase) {
    ASSERT_TRUE(StartServer({{"user.dat", Record("Bob", "secret") + Record("Ann", "first") + Record("ann", "other")}}));
    const std::vector<SpellingCase> cases = {
        {"BOB", "secret", "Bob"}, {"bob", "secret", "Bob"},  {"Bob", "secret", "Bob"}, {"bOB", "wrong", ""},
        {"Ann", "first", "Ann"},  {"ann", "other", "ann"},   {"ANN", "first", "Ann"},  {"ann", "first", ""},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.typed + " " + k.password);
        TestClient c(port_);
        c.ExpectBanner("Hello there.\r\n");
        c.Send(k.typed + "\r\n");
        EXPECT_EQ(c.Read(k.typed + "\r\nPassword: "), k.typed + "\r\nPassword: ");
        c.Send(k.password + "\r\n");
        if (k.joined.empty()) {
            EXPECT_EQ(c.Read("*** Bad password, try another nick: "), "*** Bad password, try another nick: ");
            continue;
        }
        const std::string in = "*** You have 0 messages.\r\nWelcome!\r\n*** " + k.joined + " joined\r\n";
        EXPECT_EQ(c.ReadUntil(" joined\r\n"), in);
        EXPECT_EQ(Read(k.joined, &TTcpSrvClient::Nick), k.joined);
        c.CloseSocket();
        ASSERT_TRUE(observer_.WaitForLog("Client disconnecting: " + k.joined));
        observer_.Clear();
    }
}

TEST_F(Login, NickChangeToRegisteredNicknameInAnyLetterCase) {
    ASSERT_TRUE(StartServer({{"user.dat", Record("Bob", "secret")}}));
    TestClient other(port_), user(port_);
    other.Login("other");
    user.Login("temp");
    other.Read("*** temp joined\r\n");
    user.Send("/n BOB\r\n");
    EXPECT_EQ(user.Read("/n BOB\r\nPassword: "), "/n BOB\r\nPassword: ");
    user.Send("secret\r\n");
    const std::string in = "*** You have 0 messages.\r\nWelcome!\r\n*** temp is now known as Bob\r\n";
    EXPECT_EQ(user.ReadUntil("known as Bob\r\n"), in);
    EXPECT_EQ(other.Read("*** temp is now known as Bob\r\n"), "*** temp is now known as Bob\r\n");
    OnServer([](ChatServer& s) { EXPECT_EQ(s.OnlineUsers(), (std::vector<std::string>{"Bob", "other"})); });
}

// A password prompt holds the nickname only for a while: an unanswered
// login prompt closes the connection, an unanswered /n prompt is refused
// like a wrong password.
TEST_F(Login, UnansweredPasswordPromptRunsOut) {
    options_.passwordPromptTimeout = std::chrono::milliseconds(300);
    ASSERT_TRUE(StartServer({{"user.dat", Record("Bob", "secret")}}));
    TestClient user(port_);
    user.Login("temp");
    user.Send("/n bob\r\n");
    EXPECT_EQ(user.Read("/n bob\r\nPassword: "), "/n bob\r\nPassword: ");
    EXPECT_EQ(user.ReadUntil("\r\n"), "*** Bad password.  Returning to your old nick.\r\n");
    EXPECT_EQ(Read("temp", &TTcpSrvClient::Nick), "temp");
    EXPECT_FALSE(Get("temp", &TTcpSrvClient::AwaitingNickPassword));

    TestClient idle(port_);
    idle.ExpectBanner("Hello there.\r\n");
    idle.Send("Bob\r\n");
    EXPECT_EQ(idle.ReadToClose(), "Bob\r\nPassword: Login timed out.\r\n");
    // The nickname is free again.
    TestClient bob(port_);
    bob.ExpectBanner("Hello there.\r\n");
    bob.Send("Bob\r\nsecret\r\n");
    EXPECT_EQ(bob.ReadUntil(" joined\r\n"), "Bob\r\nPassword: *** You have 0 messages.\r\nWelcome!\r\n*** Bob joined\r\n");
}

TEST_F(Login, NicknameChangePassword) {
    ASSERT_TRUE(StartServer({{"user.dat", Record("Bob", "secret")}}));
    TestClient other(port_), user(port_);
    other.Login("other");
    user.Login("temp");
    other.Read("*** temp joined\r\n");
    // What /n does before it asks for the password.
    auto ask = [&] {
        OnServer([](ChatServer& s) {
            auto* c = FindClient(s, "temp");
            c->AuxNick = "temp";
            c->SetNick("Bob");
            c->AwaitingNickPassword = true;
            c->SetLineEcho(false);
        });
    };
    ask();
    user.Send("nope\r\n");
    EXPECT_EQ(user.Read("*** Bad password.  Returning to your old nick.\r\n"),
              "*** Bad password.  Returning to your old nick.\r\n");
    ask();
    user.Send("secret\r\n");
    const std::string in = "*** You have 0 messages.\r\nWelcome!\r\n*** temp is now known as Bob\r\n";
    EXPECT_EQ(user.Read(in), in);
    EXPECT_EQ(other.Read("*** temp is now known as Bob\r\n"), "*** temp is now known as Bob\r\n");
    OnServer([](ChatServer& s) {
        EXPECT_EQ(s.OnlineUsers(), (std::vector<std::string>{"Bob", "other"}));
        EXPECT_EQ(FindClient(s, "Bob")->AuxNick, "temp");
    });
    for (const auto& line : observer_.LogLines()) EXPECT_EQ(line.find("nope"), std::string::npos) << line;
}

}  // namespace
}  // namespace qm::test
