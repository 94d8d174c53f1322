// What the IRC client does to stay welcome on a server: long texts cut to
// fit, flood control, and the keepalive ping.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "irc_fixture.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using IrcSending = IrcClientTest;

// A text of `length` bytes mixing one-, two- and three-byte characters.
std::string MixedText(std::size_t length) {
    const std::string pattern = "abc \xC3\xA9\xE2\x82\xAC xyz ";
    std::string text;
    while (text.size() < length) text += pattern;
    while (text.size() > length || (text.size() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0xC0))
        text.pop_back();
    return text;
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

TEST_F(IrcSending, LongTextIsSplitIntoLinesThatFit) {
    const struct {
        std::string name;
        std::function<void(const std::string&)> send;
        std::string head, tail;
        bool ownAddressKnown;
    } cases[] = {
        {"say, own address unknown", [&](const std::string& t) { client.Say("#c", t); }, "PRIVMSG #c :", "", false},
        {"say, own address known", [&](const std::string& t) { client.Say("#c", t); }, "PRIVMSG #c :", "", true},
        {"notice", [&](const std::string& t) { client.Notice("bob", t); }, "NOTICE bob :", "", false},
        {"action", [&](const std::string& t) { client.Action("#c", t); }, "PRIVMSG #c :\x01" "ACTION ", "\x01", true},
        // A relayed line names its speaker on every piece.
        {"say with a head", [&](const std::string& t) { client.Say("#c", t, "[alice] "); }, "PRIVMSG #c :[alice] ",
         "", false},
    };
    const std::string text = MixedText(700);
    ASSERT_GT(text.size(), 690u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Register();
        if (c.ownAddressKnown) Feed(":me!user@some.host.example JOIN #c");
        // Others see the line with this prefix, CR LF included.
        const std::size_t prefix = c.ownAddressKnown ? std::string(":me!user@some.host.example ").size() : 1 + 2 + 1 + 76 + 1;
        ClearSent();
        c.send(text);
        const std::vector<std::string> lines = Sent();
        ASSERT_GE(lines.size(), 2u);
        std::string joined;
        for (const std::string& line : lines) {
            EXPECT_LE(prefix + line.size() + 2, 512u);
            ASSERT_TRUE(line.starts_with(c.head));
            ASSERT_TRUE(line.ends_with(c.tail));
            const std::string piece = line.substr(c.head.size(), line.size() - c.head.size() - c.tail.size());
            ASSERT_FALSE(piece.empty());
            EXPECT_FALSE(IsContinuationByte(piece.front()));
            joined += piece;
        }
        EXPECT_EQ(joined, text);
        // Nothing is wasted: the first line uses the room there is, give or
        // take one character.
        EXPECT_GE(prefix + lines[0].size() + 2, 512u - 2);
    }
}

TEST_F(IrcSending, ShortTextGoesInOneLine) {
    Register();
    const std::string text(512 - 2 - (1 + 2 + 1 + 76 + 1) - std::string("PRIVMSG #c :").size(), 'x');
    client.Say("#c", text);
    EXPECT_THAT(Sent(), ElementsAre("PRIVMSG #c :" + text));
    ClearSent();
    client.Say("#c", text + "y");
    EXPECT_THAT(Sent(), ElementsAre("PRIVMSG #c :" + text, "PRIVMSG #c :y"));
}

class IrcPacing : public IrcClientTest {
protected:
    void RegisterWith(int burst, std::chrono::milliseconds interval, std::size_t queueLimit) {
        IrcTimings t = QuietTimings();
        t.sendBurst = burst;
        t.sendInterval = interval;
        t.sendQueueLimit = queueLimit;
        client.SetTimings(t);
        // Registration takes two lines (NICK, USER) of the burst.
        ConnectTransport();
        Feed(":irc.test 001 me :Welcome");
        ClearSent();
        events.Clear();
    }
    bool SentCount(std::size_t n) { return RunUntil([&] { return Sent().size() >= n; }); }
};

TEST_F(IrcPacing, BurstThenOneLinePerInterval) {
    RegisterWith(5, 100ms, 200);
    for (int i = 1; i <= 6; ++i) client.Say("#c", "line " + std::to_string(i));
    EXPECT_EQ(Sent().size(), 3u);
    EXPECT_EQ(events.Named("OnSend").size(), 3u);
    ASSERT_TRUE(SentCount(6));
    EXPECT_THAT(Sent(), ElementsAre("PRIVMSG #c :line 1", "PRIVMSG #c :line 2", "PRIVMSG #c :line 3",
                                    "PRIVMSG #c :line 4", "PRIVMSG #c :line 5", "PRIVMSG #c :line 6"));
    EXPECT_EQ(events.Named("OnSend").size(), 6u);
}

TEST_F(IrcPacing, PongAndQuitGoAheadOfAFullQueue) {
    RegisterWith(3, 1h, 5);
    for (int i = 1; i <= 12; ++i) client.Say("#c", "line " + std::to_string(i));
    const std::size_t before = Sent().size();
    Feed("PING :irc.test");
    client.Quit("bye");
    const std::vector<std::string> sent = Sent();
    ASSERT_EQ(sent.size(), before + 2);
    EXPECT_EQ(sent[before], "PONG :irc.test");
    EXPECT_EQ(sent[before + 1], "QUIT :bye");
    EXPECT_THAT(events.Named("OnSendQueueOverflow"), ElementsAre("OnSendQueueOverflow()"));
}

TEST_F(IrcPacing, FullQueueDropsTheOldestChatLinesFirst) {
    RegisterWith(2, 150ms, 3);
    // The allowance is used up: everything below waits in the queue.
    client.Raw("JOIN #a");
    client.Say("#c", "one");
    client.Notice("bob", "two");
    client.Say("#c", "three");   // drops "one"
    client.Raw("MODE #a +n");    // drops "two"
    client.Raw("TOPIC #a");      // drops "three"
    client.Raw("AWAY gone");     // no chat line left: drops "JOIN #a"
    EXPECT_THAT(events.Named("OnSendQueueOverflow"), ElementsAre("OnSendQueueOverflow()"));
    ASSERT_TRUE(SentCount(3));
    EXPECT_THAT(Sent(), ElementsAre("MODE #a +n", "TOPIC #a", "AWAY gone"));

    // Drained below the limit, a new overflow is reported again.
    events.Clear();
    ClearSent();
    for (int i = 0; i < 6; ++i) client.Say("#c", std::to_string(i));
    EXPECT_THAT(events.Named("OnSendQueueOverflow"), ElementsAre("OnSendQueueOverflow()"));
}

TEST_F(IrcPacing, DisconnectEmptiesTheQueue) {
    RegisterWith(2, 15ms, 200);
    for (int i = 1; i <= 5; ++i) client.Say("#c", std::to_string(i));
    const std::size_t before = Sent().size();
    client.Disconnect();
    Wire().RaiseClosed("closed");
    RunFor(60ms);
    EXPECT_EQ(Sent().size(), before);
    // Nothing of the old queue reaches a new connection either.
    RegisterWith(100, 15ms, 200);
    RunFor(60ms);
    EXPECT_THAT(Sent(), IsEmpty());
}

TEST_F(IrcPacing, NewConnectionPacesWithItsOwnTimings) {
    RegisterWith(2, 1h, 200);
    client.Say("#c", "waits an hour");
    RegisterWith(2, 15ms, 200);
    client.Say("#c", "a");
    client.Say("#c", "b");
    EXPECT_THAT(Sent(), IsEmpty());
    ASSERT_TRUE(SentCount(2));
    EXPECT_THAT(Sent(), ElementsAre("PRIVMSG #c :a", "PRIVMSG #c :b"));
}

class IrcKeepalive : public IrcClientTest {
protected:
    void RegisterWith(std::chrono::milliseconds idle, std::chrono::milliseconds timeout) {
        IrcTimings t = QuietTimings();
        t.idlePing = idle;
        t.pingTimeout = timeout;
        client.SetTimings(t);
        Register();
    }
};

TEST_F(IrcKeepalive, QuietServerIsPinged) {
    RegisterWith(30ms, 1h);
    ASSERT_TRUE(RunUntil([&] { return !Sent().empty(); }));
    EXPECT_THAT(Sent(), ElementsAre("PING :irc.test"));
    // An answer keeps the link; the next quiet spell brings the next ping.
    Feed(":irc.test PONG irc.test :irc.test");
    ClearSent();
    ASSERT_TRUE(RunUntil([&] { return !Sent().empty(); }));
    EXPECT_THAT(Sent(), ElementsAre("PING :irc.test"));
    EXPECT_THAT(events.Named("OnTransportError"), IsEmpty());
    EXPECT_FALSE(Wire().aborted);
}

TEST_F(IrcKeepalive, AnyLineCountsAsAnAnswer) {
    RegisterWith(30ms, 200ms);
    ASSERT_TRUE(RunUntil([&] { return !Sent().empty(); }));
    Feed(":bob!b@h PRIVMSG me :still here");
    // Less than idle + timeout later: the link must still be there.
    RunFor(100ms);
    EXPECT_THAT(events.Named("OnTransportError"), IsEmpty());
    EXPECT_FALSE(Wire().aborted);
}

TEST_F(IrcKeepalive, NoAnswerDropsTheLinkOnce) {
    RegisterWith(20ms, 20ms);
    ASSERT_TRUE(RunUntil([&] { return Wire().aborted; }));
    EXPECT_THAT(Sent(), ElementsAre("PING :irc.test"));
    EXPECT_THAT(events.Named("OnTransportError"),
                ElementsAre("OnTransportError(Ping timeout: no answer from the server for 1 seconds.)"));
    EXPECT_EQ(client.State(), csConnected);
    events.Clear();
    Wire().RaiseClosed("aborted");
    EXPECT_THAT(events.log, ElementsAre("OnStateChange(0)", "OnDisconnect()"));
    RunFor(60ms);
    EXPECT_THAT(events.log, ElementsAre("OnStateChange(0)", "OnDisconnect()"));
}

TEST_F(IrcClientTest, AnAttemptThatNeverComesUpIsGivenUp) {
    IrcTimings t;
    t.connectTimeout = 20ms;
    client.SetTimings(t);
    client.Connect();
    ASSERT_TRUE(RunUntil([&] { return client.State() == csDisconnected; }));
    EXPECT_TRUE(Wire().aborted);
    EXPECT_THAT(events.log, ElementsAre("OnStateChange(1)",
                                        "OnTransportError(Connection attempt timed out after 1 seconds.)",
                                        "OnStateChange(0)", "OnDisconnect()"));
    // A connection that comes up in time is not given up later.
    events.Clear();
    ConnectTransport();
    RunFor(60ms);
    EXPECT_THAT(events.Named("OnTransportError"), IsEmpty());
    EXPECT_NE(client.State(), csDisconnected);
}

}  // namespace
}  // namespace qm::test
