// The clients kept by channel and by nickname: whatever order users joined a
// channel in, renamed themselves or left, a walk over a channel or a
// nickname finds exactly whom the walk over everybody would, in the same
// order (the newest connection first).
#include "chat_fixture.h"

namespace qm::test {
namespace {

class ClientIndexTest : public ChatServerFixture {
protected:
    void SetUp() override { Connect({"alice", "bob", "carol", "dave"}); }
    // The nicknames /names lists for `nick`'s channel, in its order.
    std::string Names(const std::string& nick) {
        U(nick).Send("/names\r\n");
        const std::string listing = U(nick).ReadUntil("End of /names list.\r\n");
        std::string names;
        for (std::size_t at = listing.find("Nick: "); at != std::string::npos; at = listing.find("Nick: ", at + 1))
            names += listing.substr(at + 6, listing.find("\r\n", at) - at - 6) + " ";
        return names;
    }
    void Say(const std::string& nick, const std::string& line) {
        U(nick).Send(line + "\r\n");
        U(nick).Collect();
    }
};

TEST_F(ClientIndexTest, ChannelMembersKeepTheOrderOfConnectionsWhateverTheOrderOfJoining) {
    // Joined newest first and in mixed letter case: one channel all the same.
    Say("dave", "/j room");
    Say("alice", "/j ROOM");
    Say("carol", "/j Room");
    EXPECT_EQ(Names("alice"), "dave carol alice ");
    EXPECT_EQ(Names("bob"), "bob ");
    for (const char* nick : {"alice", "bob", "carol", "dave"}) U(nick).Collect();
    // A line reaches the members only.
    U("carol").Send("hello\r\n");
    for (const char* member : {"alice", "dave"}) EXPECT_EQ(U(member).Read("<carol> hello\r\n"), "<carol> hello\r\n");
    EXPECT_EQ(U("bob").Collect(), "");
    // One leaves for the main channel, another disconnects.
    Say("alice", "/j Main");
    users_.at("dave")->CloseSocket();
    users_.erase("dave");
    EXPECT_TRUE(observer_.WaitForLog("Client disconnecting: dave"));
    EXPECT_EQ(Names("carol"), "carol ");
    EXPECT_EQ(Names("bob"), "bob alice ");
}

TEST_F(ClientIndexTest, ARenamedUserIsFoundByTheNewNameOnly) {
    Say("bob", "/n Robert");
    U("alice").Send("/m ROBERT = hi\r\n");
    EXPECT_EQ(U("bob").Read("Private: <alice> hi\r\n"), "Private: <alice> hi\r\n");
    U("alice").Collect();
    U("alice").Send("/m bob = hi\r\n");
    EXPECT_EQ(U("alice").Read("/m bob = hi\r\n*** User is not online.\r\n"), "/m bob = hi\r\n*** User is not online.\r\n");
    // The old name is free again, the new one taken.
    TestClient newcomer(port_);
    newcomer.Login("bob");
    TestClient rival(port_);
    rival.ExpectBanner("Hello there.\r\n");
    rival.Send("robert\r\n");
    EXPECT_EQ(rival.Read("robert\r\n*** That nickname is in use.  Try another.\r\nNickname: "),
              "robert\r\n*** That nickname is in use.  Try another.\r\nNickname: ");
}

TEST_F(ClientIndexTest, AKickMovesTheTargetWhileItsChannelIsWalked) {
    Say("carol", "/j Room");
    Say("alice", "/j Room");
    Say("bob", "/j Room");
    // carol was first, so she runs the channel and kicks two of its members.
    Say("carol", "/k alice");
    Say("carol", "/k bob");
    EXPECT_EQ(Names("carol"), "carol ");
    EXPECT_EQ(Names("dave"), "dave bob alice ");
}

}  // namespace
}  // namespace qm::test
