// Chat lines, comma lines, query lines and the message commands, over real sockets.
#include "chat_fixture.h"

namespace qm::test {
namespace {

class Routing : public ChatServerFixture {
protected:
    void SetUp() override { LogInThree("bob"); }
};

TEST_F(Routing, ChatLineReachesTheChannelWithTagsForQueryMembers) {
    Set("carol", [](TTcpSrvClient& c) { c.SetChannel("Elsewhere"); });
    Set("bob", [](TTcpSrvClient& c) {
        c.QueryMode = true;
        c.QueryTarget = "nobody";
    });
    alice_->Send("hello\r\n");
    EXPECT_EQ(alice_->Read("hello\r\n<alice> hello\r\n"), "hello\r\n<alice> hello\r\n");
    EXPECT_EQ(bob_->Read("Main: <alice> hello\r\n"), "Main: <alice> hello\r\n");
    EXPECT_EQ(carol_->Collect(), "");
    // Channel names compare without letter case.
    Set("carol", [](TTcpSrvClient& c) { c.SetChannel("MAIN"); });
    alice_->Send("again\r\n");
    EXPECT_EQ(carol_->Read("<alice> again\r\n"), "<alice> again\r\n");
}

TEST_F(Routing, QueryLinesGoToThePartnerOnly) {
    Set("alice", [](TTcpSrvClient& c) {
        c.QueryMode = true;
        c.QueryTarget = "BOB";
    });
    alice_->Send("psst\r\n");
    alice_->Read("psst\r\n");
    EXPECT_EQ(bob_->Read("Private: <alice> psst\r\n"), "Private: <alice> psst\r\n");
    // A partner in query mode (with anyone) gets no "Private: ".
    Set("bob", [](TTcpSrvClient& c) {
        c.QueryMode = true;
        c.QueryTarget = "carol";
    });
    alice_->Send("again\r\n");
    alice_->Read("again\r\n");
    EXPECT_EQ(bob_->Read("<alice> again\r\n"), "<alice> again\r\n");
    EXPECT_EQ(alice_->Collect(), "");
    EXPECT_EQ(carol_->Collect(), "");
    // A comma line goes to the channel, without its comma while the query is open.
    alice_->Send(",to all\r\n");
    EXPECT_EQ(carol_->Read("<alice> to all\r\n"), "<alice> to all\r\n");
    EXPECT_EQ(bob_->Read("Main: <alice> to all\r\n"), "Main: <alice> to all\r\n");
    // A query whose partner is gone delivers to nobody, silently.
    Set("alice", [](TTcpSrvClient& c) { c.QueryTarget = "gone"; });
    alice_->Send("void\r\n");
    EXPECT_EQ(alice_->Collect(), ",to all\r\nMain: <alice> to all\r\nvoid\r\n");
}

TEST_F(Routing, CommaLineKeepsItsCommaOutsideAQuery) {
    bob_->Send(",hi\r\n");
    EXPECT_EQ(alice_->Read("<bob> ,hi\r\n"), "<bob> ,hi\r\n");
}

TEST_F(Routing, ActionLine) {
    bob_->Send("/ME waves\r\n");
    EXPECT_EQ(alice_->Read("* bob waves\r\n"), "* bob waves\r\n");
    // The first four characters are the command and its separator, whatever they are.
    bob_->Send("/mexample\r\n");
    EXPECT_EQ(alice_->Read("* bob ample\r\n"), "* bob ample\r\n");
}

struct PrivateCase {
    std::string line;
    std::string toBob;    // what bob receives
    std::string toAlice;  // what alice receives after the echo
};

TEST_F(Routing, PrivateMessages) {
    Set("carol", [](TTcpSrvClient& c) {
        c.Away = true;
        c.AwayMessage = "lunch";
    });
    const std::vector<PrivateCase> cases = {
        {"/m bob = hi there", "Private: <alice> hi there\r\n", ""},
        {"/M BOB = a = b", "Private: <alice> a = b\r\n", ""},
        {"/m b = hi", "", ""},  // "=" before the 7th character: no reply at all
        {"/m nobody = hi", "", "*** User is not online.\r\n"},
        {"/m bob hi", "", ""},
        {"/m carol = hi", "", "*** carol is away: lunch. Message was still sent.\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        alice_->Send(c.line + "\r\n");
        EXPECT_EQ(alice_->Collect(), c.line + "\r\n" + c.toAlice);
        EXPECT_EQ(bob_->Collect(), c.toBob);
    }
    EXPECT_EQ(carol_->Collect(), "Private: <alice> hi\r\n");
    // No "Private: " for a recipient whose query target is exactly the sender.
    Set("bob", [](TTcpSrvClient& c) { c.QueryTarget = "alice"; });
    alice_->Send("/m bob = direct\r\n");
    EXPECT_EQ(bob_->Read("<alice> direct\r\n"), "<alice> direct\r\n");
    Set("bob", [](TTcpSrvClient& c) { c.QueryTarget = "ALICE"; });
    alice_->Send("/m bob = cased\r\n");
    EXPECT_EQ(bob_->Read("Private: <alice> cased\r\n"), "Private: <alice> cased\r\n");
}

TEST_F(Routing, IrcMessageWhileTheLinkIsDown) {
    const std::string refused =
        "I*R*C: Message is undeliverable at this time.\r\n"
        "I*R*C: The link may be down, you may not have a voice, you're not in channel IRC, "
        "or single directional mode is enabled.\r\n"
        "I*R*C: Type /stat to check the current status.\r\n";
    alice_->Send("/im someone hello\r\n");
    EXPECT_EQ(alice_->Collect(), "/im someone hello\r\n" + refused);
    alice_->Send("/im someone\r\n");  // no blank after the nick: no reply
    EXPECT_EQ(alice_->Collect(), "/im someone\r\n");
}

TEST_F(Routing, UnknownCommands) {
    for (const std::string line : {"/xyz", "/PASS x", "/", "/helpme", "/whom"}) {
        SCOPED_TRACE(line);
        alice_->Send(line + "\r\n");
        EXPECT_EQ(alice_->Collect(), line + "\r\n*** No such command.\r\n");
    }
    EXPECT_EQ(bob_->Collect(), "");
}

}  // namespace
}  // namespace qm::test
