// How the IRC client keeps its user and channel tables from the server's
// lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "irc_fixture.h"

namespace qm::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using IrcTracking = IrcClientTest;

// "nick:flags" for every member, in order.
std::vector<std::string> Members(const TChannel& channel) {
    std::vector<std::string> list;
    for (const TChannelMember& m : channel.Members()) list.push_back(m.nick + ":" + std::to_string(m.flags));
    return list;
}

// The events a line raised, without the ones every line raises and without
// channel updates.
std::vector<std::string> Reported(const RecordingEvents& events) {
    std::vector<std::string> kept;
    for (const std::string& e : events.log)
        if (!e.starts_with("OnRaw(") && !e.starts_with("OnReceive(") && !e.starts_with("OnChannelUpdate("))
            kept.push_back(e);
    return kept;
}

TEST_F(IrcTracking, OwnJoinAsksForModesBeforeOnJoined) {
    Register();
    Feed(":me!u@host JOIN #c");
    EXPECT_THAT(Sent(), ElementsAre("MODE #c "));
    EXPECT_THAT(Reported(events), ElementsAre("OnSend(MODE #c )", "OnJoined(#c)"));
    const TChannelRef channel = client.Channels().Get("#C");
    ASSERT_NE(channel, nullptr);
    EXPECT_TRUE(channel->Active());
    EXPECT_THAT(Members(*channel), IsEmpty());
}

TEST_F(IrcTracking, NamesGiveFlagsOnce) {
    JoinChannel("@op +voiced @both+ plain me");
    const TChannelRef channel = client.Channels().Get("#c");
    EXPECT_THAT(Members(*channel), ElementsAre("op:1", "voiced:2", "both:3", "plain:0", "me:0"));
    for (const char* nick : {"op", "voiced", "both", "plain"}) EXPECT_NE(client.Users().Get(nick), nullptr) << nick;

    Feed(":irc.test 353 me = #c :PLAIN @plain newcomer");
    EXPECT_THAT(Members(*channel), ElementsAre("op:1", "voiced:2", "both:3", "plain:0", "me:0", "newcomer:0"));
    EXPECT_THAT(events.Named("OnChannelUpdate"), ElementsAre("OnChannelUpdate(#c,3,-,0)"));
    EXPECT_TRUE(channel->HasUser("NEWCOMER"));
    EXPECT_FALSE(channel->HasUser("stranger"));
}

TEST_F(IrcTracking, NamesOfAnUntrackedChannelChangeNothing) {
    Register();
    Feed(":irc.test 353 me = #elsewhere :alice bob");
    EXPECT_EQ(client.Users().Get("alice"), nullptr);
    EXPECT_THAT(events.Named("OnChannelUpdate"), IsEmpty());
}

// One mode line on #c, whose names reply was "@op alice +bob" and where
// "late" joined afterwards.
struct ModeCase {
    std::string name;
    std::string line;
    std::vector<std::string> reported;
    std::string modeString;
    std::vector<std::string> members;
    int modeUpdates;  // cuMode updates raised
};

TEST_F(IrcTracking, ChannelModeChanges) {
    const std::vector<std::string> start = {"op:1", "alice:0", "bob:2", "late:0"};
    const ModeCase cases[] = {
        {"key and limit in one line", ":op!o@h MODE #c +kl secret 10",
         {"OnChannelMode(op,#c,+kl)"}, "+lk 10 secret", start, 3},
        {"-k consumes its argument", ":op!o@h MODE #c +k-k+o key key alice",
         {"OnChannelMode(op,#c,+k-k+o)", "OnOp(op,#c,alice)"}, "", {"op:1", "alice:1", "bob:2", "late:0"}, 2},
        {"-l takes no argument", ":op!o@h MODE #c -l+o alice",
         {"OnChannelMode(op,#c,-l+o)", "OnOp(op,#c,alice)"}, "", {"op:1", "alice:1", "bob:2", "late:0"}, 1},
        {"limit that is no number", ":op!o@h MODE #c +l many", {"OnChannelMode(op,#c,+l)"}, "+l 0", start, 2},
        {"unknown letter", ":op!o@h MODE #c +x", {"OnChannelMode(op,#c,+x)"}, "", start, 0},
        {"unknown letter takes no argument", ":op!o@h MODE #c +xo alice",
         {"OnChannelMode(op,#c,+xo)", "OnOp(op,#c,alice)"}, "", {"op:1", "alice:1", "bob:2", "late:0"}, 0},
        {"op for a nick seen in names", ":op!o@h MODE #c +o bob",
         {"OnChannelMode(op,#c,+o)", "OnOp(op,#c,bob)"}, "", {"op:1", "alice:0", "bob:3", "late:0"}, 0},
        {"op for a nick that joined later", ":op!o@h MODE #c +o late",
         {"OnChannelMode(op,#c,+o)", "OnOp(op,#c,-)"}, "", start, 0},
        {"deop and devoice", ":op!o@h MODE #c -o-v op bob",
         {"OnChannelMode(op,#c,-o-v)", "OnDeop(op,#c,op)", "OnDevoice(op,#c,bob)"}, "",
         {"op:0", "alice:0", "bob:0", "late:0"}, 0},
        {"voice", ":op!o@h MODE #c +v alice",
         {"OnChannelMode(op,#c,+v)", "OnVoice(op,#c,alice)"}, "", {"op:1", "alice:2", "bob:2", "late:0"}, 0},
        {"bans", ":op!o@h MODE #c +b-b *!*@bad *!*@good",
         {"OnChannelMode(op,#c,+b-b)", "OnBan(op,#c,*!*@bad)", "OnUnban(op,#c,*!*@good)"}, "", start, 0},
        {"set by the server", ":irc.test MODE #c +o alice",
         {"OnChannelMode(,#c,+o)", "OnOp(,#c,alice)"}, "", {"op:1", "alice:1", "bob:2", "late:0"}, 0},
        {"plain modes", ":op!o@h MODE #c +ntmisp", {"OnChannelMode(op,#c,+ntmisp)"}, "+psitnm", start, 1},
        {"mode reply", ":irc.test 324 me #c +tnl 20", {}, "+tnl 20", start, 2},
        {"untracked channel", ":op!o@h MODE #other +o alice", {}, "", start, 0},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.name);
        JoinChannel("@op alice +bob");
        Feed(":late!l@h JOIN #c");
        events.Clear();
        Feed(c.line);
        const TChannelRef channel = client.Channels().Get("#c");
        EXPECT_EQ(Reported(events), c.reported);
        EXPECT_EQ(channel->GetModeString(), c.modeString);
        EXPECT_EQ(Members(*channel), c.members);
        int modeUpdates = 0;
        for (const std::string& e : events.Named("OnChannelUpdate")) modeUpdates += e.starts_with("OnChannelUpdate(#c,0,");
        EXPECT_EQ(modeUpdates, c.modeUpdates);
    }
}

TEST_F(IrcTracking, KeyAndLimitAreStored) {
    JoinChannel("me");
    Feed(":op!o@h MODE #c +kl secret 10");
    const TChannelRef channel = client.Channels().Get("#c");
    EXPECT_EQ(channel->Key(), "secret");
    EXPECT_EQ(channel->Limit(), 10);
    EXPECT_TRUE(channel->Modes().Has(cmKey));
    Feed(":op!o@h MODE #c -k-l secret");
    EXPECT_EQ(channel->Key(), "");
    EXPECT_EQ(channel->Limit(), 0);
    EXPECT_TRUE(channel->Modes().Empty());
}

TEST_F(IrcTracking, MemberFlagUpdatesCarryTheNewFlags) {
    JoinChannel("+alice");
    Feed(":op!o@h MODE #c +o alice");
    EXPECT_THAT(events.Named("OnChannelUpdate"), ElementsAre("OnChannelUpdate(#c,2,alice,3)"));
}

TEST_F(IrcTracking, UserModeLinesAboutTheClient) {
    Register();
    Feed(":me MODE me :+iw");
    EXPECT_THAT(Reported(events), ElementsAre("OnUserMode()", "OnUserModeChanged()"));
    EXPECT_EQ(client.UserMode(), (TUserModes{umInvisible, umWallops}));
    events.Clear();
    Feed(":me MODE me +i-x");
    EXPECT_THAT(Reported(events), ElementsAre("OnUserMode()"));
    Feed(":me MODE me -w+os");
    EXPECT_EQ(client.UserMode(), (TUserModes{umInvisible, umOperator, umServerNotices}));
    events.Clear();
    Feed(":bob MODE bob +i");
    EXPECT_THAT(Reported(events), IsEmpty());
    // Set by hand only while disconnected.
    client.SetUserMode({});
    EXPECT_FALSE(client.UserMode().Empty());
    Wire().RaiseClosed("bye");
    client.SetUserMode({umInvisible});
    EXPECT_EQ(client.UserMode(), TUserModes{umInvisible});
}

TEST_F(IrcTracking, NickRenamesUserAndMembers) {
    JoinChannel("@alice bob");
    TUser* alice = client.Users().Get("alice");
    Feed(":alice!a@h NICK alicia");
    EXPECT_THAT(Reported(events), ElementsAre("OnNickChange(alice,alicia)"));
    // The member is renamed while the user record still carries the old nick.
    EXPECT_THAT(events.Named("OnChannelUpdate"), ElementsAre("OnChannelUpdate(#c,4,alice,0)"));
    EXPECT_EQ(client.Users().Get("alice"), nullptr);
    EXPECT_EQ(client.Users().Get("alicia"), alice);
    EXPECT_THAT(Members(*client.Channels().Get("#c")), ElementsAre("alicia:1", "bob:0"));
}

TEST_F(IrcTracking, OwnNickChange) {
    JoinChannel("me");
    Feed(":me!u@h NICK myself");
    EXPECT_THAT(Reported(events), ElementsAre("OnNickChanged()"));
    EXPECT_EQ(client.Nick(), "myself");
    EXPECT_NE(client.Users().Get("myself"), nullptr);
    EXPECT_THAT(Members(*client.Channels().Get("#c")), ElementsAre("myself:0"));
}

TEST_F(IrcTracking, OthersLeaving) {
    const struct {
        std::string line;
        std::vector<std::string> reported;
        std::string update;
        std::string lastMessage;  // of the user who left
    } cases[] = {
        {":bob!b@h PART #c :see you", {"OnPart(bob,#c)"}, "OnChannelUpdate(#c,6,bob,1)", "see you"},
        {":bob!b@h QUIT :gone home", {"OnQuit(bob,gone home)"}, "OnChannelUpdate(#c,8,bob,1)", "gone home"},
        {":alice!a@h KICK #c bob :behave", {"OnKick(alice,bob,#c)"}, "OnChannelUpdate(#c,7,bob,1)", "behave"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        JoinChannel("@alice bob carol");
        const TUser* bob = client.Users().Get("bob");
        Feed(c.line);
        EXPECT_EQ(Reported(events), c.reported);
        EXPECT_THAT(events.Named("OnChannelUpdate"), ElementsAre(c.update));
        EXPECT_THAT(Members(*client.Channels().Get("#c")), ElementsAre("alice:1", "carol:0"));
        EXPECT_EQ(bob->LastMessage, c.lastMessage);
        EXPECT_EQ(client.Channels().Count(), 1u);
    }
}

TEST_F(IrcTracking, JoinOfAnotherUserAddsAMember) {
    JoinChannel("me");
    Feed(":dave!d@h JOIN #c");
    EXPECT_THAT(Reported(events), ElementsAre("OnJoin(dave,#c)"));
    EXPECT_THAT(events.Named("OnChannelUpdate"), ElementsAre("OnChannelUpdate(#c,5,dave,1)"));
    EXPECT_THAT(Members(*client.Channels().Get("#c")), ElementsAre("me:0", "dave:0"));
    // Only the client and names-reply users stay in the user table between lines.
    EXPECT_EQ(client.Users().Get("dave"), nullptr);
    EXPECT_EQ(client.Users().Count(), 1u);
    // A join to a channel the client is not in is not reported.
    events.Clear();
    Feed(":dave!d@h JOIN #other");
    EXPECT_THAT(Reported(events), IsEmpty());
}

TEST_F(IrcTracking, LeavingOneself) {
    const struct {
        std::string line;
        std::string reported;
        TCloseType closeType;
    } cases[] = {
        {":me!u@h PART #c :bye", "OnParted(#c)", ctPart},
        {":op!o@h KICK #c me :out", "OnKicked(op,#c)", ctKick},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        JoinChannel("@op me");
        const TChannelRef channel = client.Channels().Get("#c");
        Feed(c.line);
        EXPECT_THAT(Reported(events), ElementsAre(c.reported));
        EXPECT_EQ(client.Channels().Get("#c"), nullptr);
        EXPECT_FALSE(channel->Active());
        EXPECT_EQ(channel->CloseType(), c.closeType);
        // The names-reply users stay known until the next Connect.
        EXPECT_NE(client.Users().Get("op"), nullptr);
    }
    client.Connect();
    EXPECT_EQ(client.Users().Get("op"), nullptr);
    EXPECT_NE(client.Users().Get("me"), nullptr);
}

TEST_F(IrcTracking, MessagesNameTheirChannel) {
    JoinChannel("bob");
    Feed(":bob!b@h PRIVMSG #c :to all");
    Feed(":bob!b@h PRIVMSG #C :other case");
    Feed(":bob!b@h PRIVMSG #else :elsewhere");
    Feed(":bob!b@h PRIVMSG me :to me");
    EXPECT_THAT(events.Named("OnMessage"),
                ElementsAre("OnMessage(bob,#c,to all)", "OnMessage(bob,#c,other case)",
                            "OnMessage(bob,-,elsewhere)", "OnMessage(bob,-,to me)"));
}

TEST_F(IrcTracking, TopicReplies) {
    JoinChannel("me");
    Feed(":irc.test 332 me #c :the topic");
    EXPECT_THAT(Reported(events), ElementsAre("OnTopic(,#c,the topic)"));
    EXPECT_EQ(client.Channels().Get("#c")->Topic(), "the topic");
    events.Clear();
    Feed(":irc.test 331 me #c :No topic is set");
    EXPECT_THAT(Reported(events), ElementsAre("OnNoTopic(#c)"));
    EXPECT_EQ(client.Channels().Get("#c")->Topic(), "");
    events.Clear();
    Feed(":irc.test 332 me #other :elsewhere");
    EXPECT_THAT(Reported(events), IsEmpty());
}

TEST_F(IrcTracking, ChannelOperationsAndModeBatches) {
    JoinChannel("me");
    TChannel& channel = *client.Channels().Get("#c");
    channel.Op("alice");
    channel.Unban("*!*@x");
    channel.BeginMode();
    channel.Op("a");
    channel.Deop("b");
    channel.Voice("c");
    channel.Devoice("d");
    channel.Ban("*!*@e");
    channel.EndMode();
    channel.BeginMode();
    channel.EndMode();
    channel.Say("hi");
    channel.SetTopic("t");
    channel.Kick("bob", "bye");
    channel.Part("done");
    EXPECT_THAT(Sent(), ElementsAre("MODE #c +o alice", "MODE #c -b *!*@x", "MODE #c +o-o+v-v+b a b c d *!*@e",
                                    "PRIVMSG #c :hi", "TOPIC #c :t", "KICK #c bob :bye", "PART #c :done"));
}

TEST_F(IrcTracking, ModeString) {
    JoinChannel("me");
    const TChannelRef channel = client.Channels().Get("#c");
    EXPECT_EQ(channel->GetModeString(), "");
    Feed(":op!o@h MODE #c +nk pass");
    EXPECT_EQ(channel->GetModeString(), "+nk pass");
}

TEST_F(IrcTracking, UserSays) {
    JoinChannel("bob");
    client.Users().Get("bob")->Say("hello");
    EXPECT_THAT(Sent(), ElementsAre("PRIVMSG bob :hello"));
}

TEST_F(IrcTracking, ConnectHandlerInsideALineIsSafe) {
    // A handler that reconnects while a line is being handled: the rest of the
    // line's handling must not touch the emptied tables.
    struct Reconnecting final : RecordingEvents {
        TIRCClient* client = nullptr;
        void OnOp(TUser* u, TChannel* c, TUser* t) override {
            RecordingEvents::OnOp(u, c, t);
            client->Connect();
        }
    } reconnecting;
    reconnecting.client = &client;
    JoinChannel("alice bob");
    client.SetEvents(&reconnecting);
    Feed(":op!o@h MODE #c +oo alice bob");
    EXPECT_EQ(client.State(), csConnecting);
    EXPECT_EQ(client.Channels().Count(), 0u);
    EXPECT_EQ(reconnecting.Named("OnOp").size(), 2u);
    client.SetEvents(&events);
}

TEST_F(IrcTracking, AHostileServerCannotGrowTheTablesWithoutBound) {
    JoinChannel("@ann");
    // Names replies beyond what any real channel holds stop at a cap.
    for (int reply = 0; reply < 1200; ++reply) {
        std::string names;
        for (int i = 0; i < 50; ++i) names += "n" + std::to_string(reply) + "x" + std::to_string(i) + " ";
        Feed(":irc.test 353 me = #c :" + names);
    }
    EXPECT_EQ(client.Channels().Get("#c")->Members().size(), 50000u);
    EXPECT_TRUE(client.Channels().Get("#c")->HasUser("N0X0"));
    EXPECT_FALSE(client.Channels().Get("#c")->HasUser("n1199x49"));
    // Every line's sender passes through the user table; those who are
    // neither the client nor in a names reply do not stay.
    const std::size_t known = client.Users().Count();
    for (int i = 0; i < 5000; ++i) Feed(":s" + std::to_string(i) + "!u@h PRIVMSG #c :hi");
    EXPECT_EQ(client.Users().Count(), known);
    // Own joins to more channels than anyone needs: the oldest records go.
    for (int i = 0; i < 1500; ++i) Feed(":me!u@host JOIN #j" + std::to_string(i));
    EXPECT_EQ(client.Channels().Count(), 1000u);
    EXPECT_NE(client.Channels().Get("#j1499"), nullptr);
}

}  // namespace
}  // namespace qm::test
