// The IRC client's connection life and its handling of server lines, on the
// fake transport.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "irc/ctcp.h"
#include "irc_fixture.h"

namespace qm::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

bool Logged(const RecordingEvents& events, const std::string& entry) {
    return std::find(events.log.begin(), events.log.end(), entry) != events.log.end();
}

// The log without the events every line raises (OnRaw, OnReceive).
std::vector<std::string> Handling(const RecordingEvents& events) {
    std::vector<std::string> kept;
    for (const std::string& e : events.log)
        if (!e.starts_with("OnRaw(") && !e.starts_with("OnReceive(")) kept.push_back(e);
    return kept;
}

using IrcClientLifecycle = IrcClientTest;

TEST_F(IrcClientLifecycle, ConnectOpensTheTargetAndRegisters) {
    client.SetTls(true);
    client.SetTlsFingerprint("AB:CD");
    client.Connect();
    EXPECT_EQ(client.State(), csConnecting);
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(Wire().target.host, "irc.test");
    EXPECT_EQ(Wire().target.port, "6667");
    EXPECT_TRUE(Wire().target.tls);
    EXPECT_EQ(Wire().target.fingerprint, "AB:CD");

    events.Clear();
    Wire().RaiseConnected();
    EXPECT_EQ(client.State(), csLoggingOn);
    const std::string user = "USER user " + client.LocalHost() + " irc.test :Real Name";
    EXPECT_THAT(events.log, ElementsAre("OnStateChange(2)", "OnConnect()", "OnSend(NICK me)", "OnSend(" + user + ")"));
    EXPECT_THAT(Sent(), ElementsAre("NICK me", user));
}

TEST_F(IrcClientLifecycle, PasswordGoesFirst) {
    client.SetPassword("secret");
    ConnectTransport();
    EXPECT_THAT(Sent(), ElementsAre("PASS secret", "NICK me", ::testing::StartsWith("USER user ")));
}

TEST_F(IrcClientLifecycle, RegistrationEndsWithWelcomeOrMotd) {
    const struct {
        std::string line;
        TState state;
        std::string server;
    } cases[] = {
        {":hub.example 001 me :Welcome", csConnected, "hub.example"},
        {":hub.example 002 me :Your host", csConnected, "hub.example"},
        {":hub.example 003 me :Created", csConnected, "hub.example"},
        {":hub.example 004 me hub.example 1.0 io tn", csConnected, "hub.example"},
        {":hub.example 375 me :- MOTD -", csConnected, "irc.test"},
        {":hub.example 251 me :There are 3 users", csLoggingOn, "irc.test"},
        {":hub.example NOTICE * :Looking up your host", csLoggingOn, "irc.test"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        client.SetServer("irc.test");
        ConnectTransport();
        events.Clear();
        Feed(c.line);
        EXPECT_EQ(client.State(), c.state);
        EXPECT_EQ(client.Server(), c.server);
        EXPECT_EQ(events.Named("OnStateChange").size(), c.state == csConnected ? 1u : 0u);
        // A second welcome changes nothing.
        events.Clear();
        Feed(c.line);
        EXPECT_THAT(events.Named("OnStateChange"), IsEmpty());
    }
}

TEST_F(IrcClientLifecycle, FailedAttemptReportsWhyThenDisconnects) {
    client.Connect();
    events.Clear();
    Wire().RaiseFailed("Connection refused");
    EXPECT_THAT(events.log, ElementsAre("OnTransportError(Connection refused)", "OnStateChange(0)", "OnDisconnect()"));
    EXPECT_EQ(client.State(), csDisconnected);
    EXPECT_EQ(client.Users().Get("me"), nullptr);
}

TEST_F(IrcClientLifecycle, ServerClosingReportsWhyThenDisconnects) {
    Register();
    Wire().RaiseClosed("Connection reset by peer");
    EXPECT_THAT(events.log,
                ElementsAre("OnTransportError(Connection reset by peer)", "OnStateChange(0)", "OnDisconnect()"));
    EXPECT_EQ(client.Users().Get("me"), nullptr);
    EXPECT_EQ(client.Nick(), "me");
}

TEST_F(IrcClientLifecycle, DisconnectClosesGracefullyOnlyWhenRegistered) {
    const struct {
        bool registered, force, graceful;
    } cases[] = {
        {true, false, true},
        {true, true, false},
        {false, false, false},
        {false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "registered " << c.registered << " force " << c.force);
        if (c.registered)
            Register();
        else
            ConnectTransport();
        ClearSent();
        events.Clear();
        client.Disconnect(c.force);
        EXPECT_EQ(Wire().closed, c.graceful);
        EXPECT_EQ(Wire().aborted, !c.graceful);
        EXPECT_THAT(Sent(), IsEmpty());  // no QUIT
        EXPECT_THAT(events.log, IsEmpty());
        Wire().RaiseClosed("closed");
        EXPECT_THAT(events.log, ElementsAre("OnStateChange(0)", "OnDisconnect()"));
    }
}

TEST_F(IrcClientLifecycle, DisconnectWhileConnectingEndsFromTheLoop) {
    client.Connect();
    events.Clear();
    client.Disconnect();
    EXPECT_TRUE(Wire().aborted);
    EXPECT_THAT(events.log, IsEmpty());
    Poll();
    EXPECT_THAT(events.log, ElementsAre("OnStateChange(0)", "OnDisconnect()"));
    EXPECT_EQ(client.State(), csDisconnected);
}

TEST_F(IrcClientLifecycle, ConnectWhileConnectedDropsTheOldConnection) {
    Register();
    client.Connect();
    ASSERT_EQ(wires.size(), 2u);
    EXPECT_TRUE(wires[0]->aborted);
    EXPECT_TRUE(wires[0]->destroyed);
    EXPECT_THAT(events.log, ElementsAre("OnStateChange(0)", "OnDisconnect()", "OnStateChange(1)"));
    EXPECT_EQ(client.State(), csConnecting);
    // The old connection's late events go nowhere.
    events.Clear();
    wires[0]->RaiseClosed("late");
    EXPECT_THAT(events.log, IsEmpty());
    Wire().RaiseConnected();
    EXPECT_EQ(client.State(), csLoggingOn);
}

TEST_F(IrcClientLifecycle, NothingIsSentBeforeTheTransportIsUp) {
    client.Raw("JOIN #c");
    client.Connect();
    client.Say("#c", "hello");
    EXPECT_THAT(events.Named("OnError"),
                ElementsAre("OnError(-,,Not connected to server.)", "OnError(-,,Not connected to server.)"));
    EXPECT_THAT(Sent(), IsEmpty());
}

TEST_F(IrcClientLifecycle, NickPropertyFollowsTheServer) {
    EXPECT_EQ(client.Nick(), "me");
    Register();
    client.SetNick("other");
    EXPECT_THAT(Sent(), ElementsAre("NICK other"));
    EXPECT_EQ(client.Nick(), "me");
    Feed(":me!u@h NICK other");
    EXPECT_EQ(client.Nick(), "other");
    EXPECT_TRUE(Logged(events, "OnNickChanged()"));
    Wire().RaiseClosed("bye");
    // Disconnected, the stored nick shows again and can be set.
    EXPECT_EQ(client.Nick(), "me");
    client.SetNick("third");
    EXPECT_EQ(client.Nick(), "third");
}

// --- Nick in use during registration ---

struct NickCase {
    std::string name;
    std::vector<std::string> replies;  // numerics fed in turn
    std::optional<std::string> offered;  // what OnNicksInUse answers
    std::vector<std::string> sent;
    bool aborted;
    bool asked;  // OnNicksInUse was raised
};

TEST_F(IrcClientLifecycle, NickInUseTriesAltNickThenGivesUp) {
    const NickCase cases[] = {
        {"first in use", {"433"}, {}, {"NICK me2"}, false, false},
        {"both in use", {"433", "433"}, {}, {"NICK me2"}, true, true},
        {"handler offers one", {"433", "433"}, "me3", {"NICK me2", "NICK me3"}, false, true},
        {"handler offers empty", {"433", "433"}, "", {"NICK me2"}, true, true},
        {"erroneous nick", {"432"}, {}, {"NICK me2"}, false, false},
        {"erroneous twice", {"432", "432"}, {}, {"NICK me2"}, true, true},
        {"in use, then erroneous", {"433", "432"}, {}, {"NICK me2"}, true, true},
        {"other error", {"436"}, {}, {}, false, false},
    };
    for (const NickCase& c : cases) {
        SCOPED_TRACE(c.name);
        events.nextNick = c.offered;
        ConnectTransport();
        ClearSent();
        events.Clear();
        for (const std::string& numeric : c.replies) Feed(":irc.test " + numeric + " * me :Nickname is already in use");
        EXPECT_EQ(Sent(), c.sent);
        EXPECT_EQ(Wire().aborted, c.aborted);
        EXPECT_EQ(events.Named("OnError").size(), c.replies.size());
        // The error is reported before the next nick goes out.
        if (!c.sent.empty()) {
            const auto error = std::find_if(events.log.begin(), events.log.end(),
                                            [](const std::string& e) { return e.starts_with("OnError("); });
            const auto send = std::find(events.log.begin(), events.log.end(), "OnSend(" + c.sent[0] + ")");
            EXPECT_LT(error, send);
        }
        EXPECT_EQ(events.Named("OnNicksInUse"),
                  c.asked ? std::vector<std::string>{"OnNicksInUse(me2)"} : std::vector<std::string>{});
    }
}

TEST_F(IrcClientLifecycle, NickInUseAfterRegistrationIsOnlyAnError) {
    Register();
    Feed(":irc.test 433 me other :Nickname is already in use");
    EXPECT_THAT(Sent(), IsEmpty());
    EXPECT_THAT(Handling(events), ElementsAre("OnError(,433,me other :Nickname is already in use)"));
    EXPECT_FALSE(Wire().aborted);
}

TEST_F(IrcClientLifecycle, NoNickLeftDropsTheConnection) {
    ConnectTransport();
    Feed(":irc.test 433 * me :in use");
    Feed(":irc.test 433 * me2 :in use");
    ASSERT_TRUE(Wire().aborted);
    events.Clear();
    Wire().RaiseClosed("aborted");
    EXPECT_THAT(events.log, ElementsAre("OnStateChange(0)", "OnDisconnect()"));
}

// --- Sending ---

TEST_F(IrcClientLifecycle, OperationsSendTheirLines) {
    Register();
    const struct {
        std::function<void()> call;
        std::string line;
    } cases[] = {
        {[&] { client.Raw("WHOIS bob"); }, "WHOIS bob"},
        {[&] { client.Say("#c", "hello there"); }, "PRIVMSG #c :hello there"},
        {[&] { client.Say("bob", ""); }, "PRIVMSG bob :"},
        {[&] { client.Notice("bob", "psst"); }, "NOTICE bob :psst"},
        {[&] { client.CTCPQuery("bob", "version", ""); }, "PRIVMSG bob :\x01VERSION \x01"},
        {[&] { client.CTCPQuery("bob", "ping", "123"); }, "PRIVMSG bob :\x01PING 123\x01"},
        {[&] { client.Action("#c", "waves"); }, "PRIVMSG #c :\x01" "ACTION waves\x01"},
        {[&] { client.CTCPReply("bob", "VERSION", "v1"); }, "NOTICE bob :\x01VERSION v1\x01"},
        {[&] { client.Join("#c"); }, "JOIN #c"},
        {[&] { client.Join("#c", "key"); }, "JOIN #c key"},
        {[&] { client.Part("#c"); }, "PART #c"},
        {[&] { client.Part("#c", "bye now"); }, "PART #c :bye now"},
        {[&] { client.Kick("#c", "bob", "flood"); }, "KICK #c bob :flood"},
        {[&] { client.Quit("gone"); }, "QUIT :gone"},
        {[&] { client.Mode("#c", "+o", "bob"); }, "MODE #c +o bob"},
        {[&] { client.Mode("#c", "+n"); }, "MODE #c +n"},
        {[&] { client.GetTopic("#c"); }, "TOPIC #c"},
        {[&] { client.SetTopic("#c", "new topic"); }, "TOPIC #c :new topic"},
        {[&] { client.SetAwayMessage("lunch"); }, "AWAY lunch"},
        {[&] { client.ClearAwayMessage(); }, "AWAY"},
    };
    for (const auto& c : cases) {
        ClearSent();
        events.Clear();
        c.call();
        EXPECT_THAT(Sent(), ElementsAre(c.line));
        EXPECT_THAT(events.log, ElementsAre("OnSend(" + c.line + ")"));
    }
}

TEST_F(IrcClientLifecycle, LinesWithLineEndsOrNulAreRefused) {
    Register();
    const std::string refused = "OnError(-,,Line not sent: it holds a line end or NUL.)";
    const std::function<void()> calls[] = {
        [&] { client.Raw("PRIVMSG #c :a\r\nQUIT :pwned"); },
        [&] { client.Raw("PRIVMSG #c :a\nQUIT"); },
        [&] { client.Raw("PRIVMSG #c :a\rb"); },
        [&] { client.Raw(std::string("PRIVMSG #c :a\0b", 16)); },
        [&] { client.Say("#c", std::string(600, 'x') + "\nQUIT"); },
        [&] { client.Say("#c\r\nQUIT", "hi"); },
        [&] { client.Notice("bob", "a\nb"); },
        [&] { client.Join("#c\n"); },
        [&] { client.Quit("bye\r\nJOIN #x"); },
        [&] { client.CTCPReply("bob", "VERSION", "x\ny"); },
    };
    for (const auto& call : calls) {
        events.Clear();
        call();
        EXPECT_THAT(Sent(), IsEmpty());
        EXPECT_THAT(events.log, ElementsAre(refused));
    }
}

// --- Receiving ---

TEST_F(IrcClientLifecycle, ReceiveBufferSplitsLines) {
    Register();
    Wire().RaiseData("PING :one\r\nPING :two\n\r\n\n:irc.test NOTICE me :par");
    EXPECT_THAT(Sent(), ElementsAre("PONG :one", "PONG :two"));
    EXPECT_THAT(events.Named("OnReceive"), ElementsAre("OnReceive(PING :one)", "OnReceive(PING :two)"));
    EXPECT_THAT(events.Named("OnNotice"), IsEmpty());
    Wire().RaiseData("tial\r");
    EXPECT_THAT(events.Named("OnNotice"), IsEmpty());
    Wire().RaiseData("\n");
    EXPECT_THAT(events.Named("OnNotice"), ElementsAre("OnNotice(,-,partial)"));
}

TEST_F(IrcClientLifecycle, OverlongLineIsDroppedUpToItsLineFeed) {
    Register();
    const std::string junk(LineReceiver::kMaxLine / 2 + 1, 'j');
    Wire().RaiseData(":irc.test NOTICE me :" + junk);
    Wire().RaiseData(junk);
    Wire().RaiseData(junk + "\r\nPING :after\r\n");
    EXPECT_THAT(events.Named("OnReceive"), ElementsAre("OnReceive(PING :after)"));
    EXPECT_THAT(Sent(), ElementsAre("PONG :after"));
}

TEST_F(IrcClientLifecycle, PingIsAnsweredBeforeOnPingPong) {
    Register();
    Feed("PING :irc.test");
    EXPECT_THAT(Sent(), ElementsAre("PONG :irc.test"));
    EXPECT_THAT(Handling(events), ElementsAre("OnSend(PONG :irc.test)", "OnPingPong()"));
}

TEST_F(IrcClientLifecycle, SuppressedRawLineIsNotHandled) {
    Register();
    events.suppressRaw = true;
    Feed("PING :irc.test");
    EXPECT_THAT(Sent(), IsEmpty());
    EXPECT_THAT(events.log, ElementsAre("OnReceive(PING :irc.test)", "OnRaw(,PING,:irc.test)"));
}

// Each line, and the event it must raise (after OnReceive and OnRaw).
struct LineCase {
    std::string line;
    std::string event;
};

TEST_F(IrcClientLifecycle, ServerLinesRaiseTheirEvents) {
    const LineCase cases[] = {
        {":bob!b@h PRIVMSG me :hi there", "OnMessage(bob,-,hi there)"},
        {":bob!b@h PRIVMSG me :", "OnMessage(bob,-,)"},
        {":bob!b@h NOTICE me :note", "OnNotice(bob,-,note)"},
        {":bob!b@h INVITE me #c", "OnInvite(bob,me)"},
        {":oper!o@h KILL bob :too noisy", "OnKill(oper,bob,too noisy)"},
        {":oper!o@h WALLOPS :attention", "OnWallops(oper,attention)"},
        {":bob!b@h QUIT :bye", "OnQuit(bob,bye)"},
        {":bob!b@h NICK bobby", "OnNickChange(bob,bobby)"},
        {":irc.test 301 me bob :away", "OnAway()"},
        {":irc.test 305 me :back", "OnUnAway()"},
        {":irc.test 306 me :away", "OnNowAway()"},
        {":irc.test 341 me bob #c", "OnInviting(me,bob)"},
        {":irc.test 401 me bob :No such nick", "OnError(,401,me bob :No such nick)"},
        {":irc.test 502 me :Cant change mode", "OnError(,502,me :Cant change mode)"},
        {":irc.test 999 me :what", "OnUnknownCommand(,999,me :what)"},
        {":irc.test 400 me :what", "OnUnknownCommand(,400,me :what)"},
        {":irc.test FOO bar baz", "OnUnknownCommand(,FOO,bar baz)"},
        {":bob!b@h privmsg me :lower case", "OnUnknownCommand(bob,privmsg,me :lower case)"},
    };
    Register();
    for (const LineCase& c : cases) {
        events.Clear();
        Feed(c.line);
        EXPECT_THAT(Handling(events), ElementsAre(c.event)) << c.line;
        EXPECT_THAT(events.log, Contains("OnReceive(" + c.line + ")"));
    }
}

TEST_F(IrcClientLifecycle, AwayRepliesSetTheFlag) {
    Register();
    Feed(":irc.test 306 me :You have been marked as being away");
    EXPECT_TRUE(client.Away());
    Feed(":irc.test 305 me :You are no longer marked as being away");
    EXPECT_FALSE(client.Away());
}

TEST_F(IrcClientLifecycle, InformationalNumericsGoToOnSystem) {
    const LineCase cases[] = {
        {":irc.test 001 me :Welcome to IRC", "OnSystem(,WELCOME,Welcome to IRC)"},
        {":irc.test 200 me Link 1.0 hub next", "OnSystem(,TRACE,Link 1.0 hub next)"},
        {":irc.test 261 me File log 3", "OnSystem(,TRACE,File log 3)"},
        {":irc.test 211 me link 0 1 2", "OnSystem(,STATS,link 0 1 2)"},
        {":irc.test 219 me l :End of STATS report", "OnSystem(,STATS,l :End of STATS report)"},
        {":irc.test 243 me O *@* * oper", "OnSystem(,STATS,O *@* * oper)"},
        {":irc.test 221 me +iw", "OnSystem(,UMODE,+iw)"},
        {":irc.test 251 me :There are 5 users", "OnSystem(,LUSER,There are 5 users)"},
        {":irc.test 252 me 2 :operator(s) online", "OnSystem(,LUSER,2 operator(s) online)"},
        {":irc.test 256 me irc.test :Administrative info", "OnSystem(,ADMIN,irc.test Administrative info)"},
        {":irc.test 302 me :bob=+b@h", "OnSystem(,USERHOST,bob=+b@h)"},
        {":irc.test 303 me :bob", "OnSystem(,ISON,bob)"},
        {":irc.test 311 me bob b host.net * :Bob Real", "OnSystem(,WHOIS,bob is b@host.net * Bob Real)"},
        {":irc.test 312 me bob hub.net :Hub server", "OnSystem(,WHOIS,bob is using hub.net :Hub server)"},
        {":irc.test 313 me bob :is an IRC operator", "OnSystem(,WHOIS,bob is an IRC operator)"},
        {":irc.test 314 me bob b host.net * :Bob Real", "OnSystem(,WHOWAS,bob was b@host.net * Bob Real)"},
        {":irc.test 315 me #c :End of WHO list", "OnSystem(,WHO,#c :End of WHO list)"},
        {":irc.test 317 me bob 42 1700000000 :seconds idle",
         "OnSystem(,WHOIS,bob has been idle 42 seconds, signed on at 1700000000)"},
        {":irc.test 318 me bob :End of WHOIS list", "OnSystem(,WHOIS,bob :End of WHOIS list)"},
        {":irc.test 319 me bob :@#c #d", "OnSystem(,WHOIS,bob is on @#c #d)"},
        {":irc.test 321 me Channel :Users Name", "OnSystem(,LIST,Start of LIST)"},
        {":irc.test 322 me #c 5 :the topic", "OnSystem(,LIST,#c 5 the topic)"},
        {":irc.test 323 me :End of LIST", "OnSystem(,LIST,End of LIST)"},
        {":irc.test 329 me #c 1700000000", "OnSystem(,329,#c 1700000000)"},
        {":irc.test 342 me bob :Summoning user to IRC", "OnSystem(,SUMMON,bob has been summoned)"},
        {":irc.test 351 me 2.0 irc.test :a comment", "OnSystem(,VERSION,2.0 irc.test :a comment)"},
        {":irc.test 352 me #c b host irc.test bob H :0 Bob", "OnSystem(,WHO,#c b host irc.test bob H 0 Bob)"},
        {":irc.test 353 me = #c :@op bob", "OnSystem(,NAMES,#c :@op bob)"},
        {":irc.test 364 me hub.net irc.test :1 Hub", "OnSystem(,LINKS,hub.net irc.test :1 Hub)"},
        {":irc.test 365 me * :End of LINKS list", "OnSystem(,LINKS,* :End of LINKS list)"},
        {":irc.test 366 me #c :End of NAMES list", "OnSystem(,NAMES,#c :End of NAMES list)"},
        {":irc.test 367 me #c *!*@bad", "OnSystem(,BANS,#c *!*@bad)"},
        {":irc.test 368 me #c :End of ban list", "OnSystem(,BANS,#c :End of ban list)"},
        {":irc.test 369 me bob :End of WHOWAS", "OnSystem(,WHOWAS,bob :End of WHOWAS)"},
        {":irc.test 371 me :Some info", "OnSystem(,INFO,Some info)"},
        {":irc.test 372 me :- Message of the day", "OnSystem(,MOTD,- Message of the day)"},
        {":irc.test 374 me :End of INFO", "OnSystem(,INFO,End of INFO)"},
        {":irc.test 375 me :- irc.test MOTD", "OnSystem(,MOTD,- irc.test MOTD)"},
        {":irc.test 376 me :End of MOTD", "OnSystem(,MOTD,End of MOTD)"},
        {":irc.test 381 me :You are now an operator", "OnSystem(,OPER,You are now an operator)"},
        {":irc.test 382 me ircd.conf :Rehashing", "OnSystem(,REHASH,ircd.conf :Rehashing)"},
        {":irc.test 391 me irc.test :Monday noon", "OnSystem(,TIME,irc.test :Monday noon)"},
        {":irc.test 392 me :UserID Terminal Host", "OnSystem(,USERS,UserID Terminal Host)"},
        {":irc.test 395 me :Nobody logged in", "OnSystem(,USERS,Nobody logged in)"},
    };
    Register();
    for (const LineCase& c : cases) {
        events.Clear();
        Feed(c.line);
        EXPECT_THAT(events.Named("OnSystem"), ElementsAre(c.event)) << c.line;
        EXPECT_THAT(events.Named("OnUnknownCommand"), IsEmpty()) << c.line;
    }
}

// --- CTCP ---

TEST_F(IrcClientLifecycle, CtcpQueriesAreAnsweredWithTheReplies) {
    client.SetReplies({"Idle 15 seconds", "Quillmoot v1.0 IRC Link", "Quillmoot v1.0 Server", "Quillmoot v1.0 IRC Link"});
    const struct {
        std::string query;
        std::string reply;  // empty: none
    } cases[] = {
        {"\x01VERSION\x01", "NOTICE bob :\x01VERSION Quillmoot v1.0 IRC Link\x01"},
        {"\x01" "FINGER\x01", "NOTICE bob :\x01" "FINGER Idle 15 seconds\x01"},
        {"\x01USERINFO\x01", "NOTICE bob :\x01USERINFO Quillmoot v1.0 Server\x01"},
        {"\x01" "CLIENTINFO\x01", "NOTICE bob :\x01" "CLIENTINFO Quillmoot v1.0 IRC Link\x01"},
        {"\x01PING 1234 5678\x01", "NOTICE bob :\x01PING 1234 5678\x01"},
        {"\x01SOUND ding.wav\x01", ""},
        {"\x01" "ERROR oops\x01", ""},
        {"\x01XYZZY\x01", ""},
    };
    Register();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        ClearSent();
        events.Clear();
        Feed(":bob!b@h PRIVMSG me :" + c.query);
        const CtcpText ctcp = SplitCtcp(c.query);
        EXPECT_THAT(events.Named("OnCTCPQuery"), ElementsAre("OnCTCPQuery(bob,-," + ctcp.command + "," + ctcp.args + ")"));
        EXPECT_THAT(events.Named("OnMessage"), IsEmpty());
        EXPECT_EQ(Sent(), c.reply.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.reply});
    }
}

TEST_F(IrcClientLifecycle, CtcpTimeTellsTheLocalTime) {
    Register();
    Feed(":bob!b@h PRIVMSG me :\x01TIME\x01");
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_THAT(Sent()[0], ::testing::StartsWith("NOTICE bob :\x01TIME Local time is "));
    EXPECT_THAT(Sent()[0], ::testing::EndsWith("\x01"));
}

TEST_F(IrcClientLifecycle, CtcpSpecialCases) {
    Register();
    Feed(":me!u@h JOIN #c");
    const LineCase cases[] = {
        {":bob!b@h PRIVMSG #c :\x01" "ACTION waves\x01", "OnAction(bob,#c,waves)"},
        {":bob!b@h PRIVMSG me :\x01" "ACTION\x01", "OnAction(bob,-,)"},
        {":bob!b@h PRIVMSG me :\x01" "DCC SEND file 1 2 3\x01", ""},
        {":bob!b@h NOTICE me :\x01VERSION their client\x01", "OnCTCPReply(bob,-,VERSION,their client)"},
        {":bob!b@h NOTICE #c :\x01PING 5\x01", "OnCTCPReply(bob,#c,PING,5)"},
        {":bob!b@h NOTICE me :\x01" "DCC CHAT\x01", ""},
    };
    for (const LineCase& c : cases) {
        ClearSent();
        events.Clear();
        Feed(c.line);
        EXPECT_EQ(Handling(events), c.event.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.event})
            << c.line;
        EXPECT_THAT(Sent(), IsEmpty());
    }
}

TEST_F(IrcClientLifecycle, SuppressedCtcpQueryIsNotAnswered) {
    Register();
    events.suppressCtcp = true;
    Feed(":bob!b@h PRIVMSG me :\x01VERSION\x01");
    EXPECT_THAT(events.Named("OnCTCPQuery"), ElementsAre("OnCTCPQuery(bob,-,VERSION,)"));
    EXPECT_THAT(Sent(), IsEmpty());
}

TEST_F(IrcClientLifecycle, LocalAddressQueries) {
    EXPECT_FALSE(client.LocalHost().empty());
    const std::string ip = client.LocalIPAddr();
    EXPECT_EQ(std::count(ip.begin(), ip.end(), '.'), 3) << ip;
}

}  // namespace
}  // namespace qm::test
