// Game relay between game clients: challenges, setup and moves, resignation
// and the win count, over real sockets.
#include <array>

#include "chat_fixture.h"

namespace qm::test {
namespace {

const std::string kHandshake = "gamma kilo omega sigma 48210573918265x-903174x-58";

// A player's side of the game: partner, whether a game runs, games won.
struct Seat {
    std::string aux;
    bool inGame = false;
    int won = 0;
    bool operator==(const Seat&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Seat& s) {
    return os << "{aux \"" << s.aux << "\", inGame " << s.inGame << ", won " << s.won << "}";
}

const Seat kFree{};

class GameFixture : public ChatServerFixture {
protected:
    void SetUp() override { ASSERT_TRUE(StartServer()); }

    // A game client that has sent the handshake and then taken `nick`
    // (as /n would; renamed on the server so that no notice is involved).
    std::unique_ptr<TestClient> Player(const std::string& nick) {
        auto client = std::make_unique<TestClient>(port_);
        client->ExpectBanner("Hello there.\r\n");
        client->Send(kHandshake + "\r\n");
        const std::string expected = kHandshake + "\r\n* Entered chess mode.\r\n" + kWontEcho;
        EXPECT_EQ(client->Read(expected), expected);
        OnServer([&](ChatServer& s) {
            TTcpSrvClient* record = FindClient(s, std::string(kChoosingNickname));
            ASSERT_NE(record, nullptr);
            record->SetNick(nick);
        });
        return client;
    }

    void Set(const std::string& nick, const std::function<void(TTcpSrvClient&)>& f) {
        OnServer([&](ChatServer& s) {
            TTcpSrvClient* record = FindClient(s, nick);
            ASSERT_NE(record, nullptr);
            f(*record);
        });
    }

    Seat SeatOf(const std::string& nick) {
        Seat seat;
        Set(nick, [&](TTcpSrvClient& c) { seat = {c.AuxNick, c.InGame, c.GamesWon}; });
        return seat;
    }
};

// Everything a client without echo has received until now: an empty line
// is answered " No text to send.", and whatever came before that answer is
// returned (game clients have no echo, so the line itself is not repeated).
std::string Received(TestClient& client) {
    static const std::string kAnswer = "*** No text to send.\r\n";
    client.Send("\r\n");
    std::string got = client.ReadUntil(kAnswer);
    EXPECT_TRUE(got.size() >= kAnswer.size() && got.compare(got.size() - kAnswer.size(), kAnswer.size(), kAnswer) == 0)
        << got;
    if (got.size() >= kAnswer.size()) got.resize(got.size() - kAnswer.size());
    return got;
}

// Sends a line and waits until the server has handled it, checking what the
// sender itself got back; only then is it safe to look at the others.
void Settle(TestClient& sender, const std::string& line, const std::string& own = "") {
    sender.Send(line + "\r\n");
    EXPECT_EQ(Received(sender), own) << line;
}

class Game : public GameFixture {};

// One line sent by one player, what each of the three players receives
// exactly, and where each of them stands afterwards.
struct Step {
    int sender;  // index into the players
    std::string line;
    std::array<std::string, 3> received;
    std::array<Seat, 3> after;
};

TEST_F(Game, StateMachineStepByStep) {
    const std::array<std::string, 3> names = {"alice", "bob", "carol"};
    std::array<std::unique_ptr<TestClient>, 3> players;
    for (int i = 0; i < 3; ++i) players[i] = Player(names[i]);
    enum { kAlice, kBob, kCarol };

    const Seat aliceWithBob{"bob", false, 0};
    const Seat bobWithAlice{"alice", false, 0};
    const Seat alicePlaying{"bob", true, 0};
    const Seat bobPlaying{"alice", true, 0};
    const Seat bobWon{"", false, 1};

    const std::vector<Step> steps = {
        // A challenge pairs both sides; the challenged one is told.
        {kAlice, "/chall bob", {"", "CHALLENGE alice\r\n", ""}, {aliceWithBob, bobWithAlice, kFree}},
        // Setup travels during an open challenge, and the sender gets no error.
        {kAlice, "/setp white", {"", "SETP white\r\n", ""}, {aliceWithBob, bobWithAlice, kFree}},
        {kBob, "/setp", {"SETP \r\n", "", ""}, {aliceWithBob, bobWithAlice, kFree}},
        // No moves before the game runs.
        {kBob, "/move e7e5", {"", "", ""}, {aliceWithBob, bobWithAlice, kFree}},
        // carol is not alice's partner: nothing at all happens.
        {kCarol, "/accept alice", {"", "", ""}, {aliceWithBob, bobWithAlice, kFree}},
        {kCarol, "/reject alice", {"", "", ""}, {aliceWithBob, bobWithAlice, kFree}},
        // Accepting starts the game on both sides.
        {kBob, "/accept alice", {"ACCEPT bob\r\n", "", ""}, {alicePlaying, bobPlaying, kFree}},
        // A player in a game can be neither challenged nor answered.
        {kCarol, "/chall alice", {"", "", "ERR\r\n"}, {alicePlaying, bobPlaying, kFree}},
        {kCarol, "/accept bob", {"", "", "ERR\r\n"}, {alicePlaying, bobPlaying, kFree}},
        {kCarol, "/reject bob", {"", "", "ERR\r\n"}, {alicePlaying, bobPlaying, kFree}},
        // Setup and moves pass unchanged, blanks included.
        {kBob, "/SETP board  b", {"SETP board  b\r\n", "", ""}, {alicePlaying, bobPlaying, kFree}},
        {kAlice, "/move e2e4", {"", "MOVE e2e4\r\n", ""}, {alicePlaying, bobPlaying, kFree}},
        {kBob, "/Move e7 e5 ", {"MOVE e7 e5 \r\n", "", ""}, {alicePlaying, bobPlaying, kFree}},
        // A free client's move and setup go nowhere; its setup fails once.
        {kCarol, "/move x", {"", "", ""}, {alicePlaying, bobPlaying, kFree}},
        {kCarol, "/setp x", {"", "", "ERR\r\n"}, {alicePlaying, bobPlaying, kFree}},
        {kCarol, "/give", {"", "", ""}, {alicePlaying, bobPlaying, kFree}},
        // Resigning: the opponent wins, everybody else (the loser too) hears it.
        {kAlice,
         "/give",
         {"bob has won the game!\r\n", "W\r\n", "bob has won the game!\r\n"},
         {kFree, bobWon, kFree}},
        {kBob, "/wins", {"* bob has won 1 games.\r\n", "* bob has won 1 games.\r\n", "* bob has won 1 games.\r\n"},
         {kFree, bobWon, kFree}},
        {kCarol, "/WINS", {"* carol has won 0 games.\r\n", "* carol has won 0 games.\r\n", "* carol has won 0 games.\r\n"},
         {kFree, bobWon, kFree}},
        // After the game nothing is left to move or resign.
        {kAlice, "/move e2e4", {"", "", ""}, {kFree, bobWon, kFree}},
        {kAlice, "/give", {"", "", ""}, {kFree, bobWon, kFree}},
        {kAlice, "/setp x", {"ERR\r\n", "", ""}, {kFree, bobWon, kFree}},
        // A rejected challenge frees both sides.
        {kCarol, "/CHALL bob", {"", "CHALLENGE carol\r\n", ""}, {kFree, {"carol", false, 1}, {"bob", false, 0}}},
        {kBob, "/reject carol", {"", "", "REJECT bob\r\n"}, {kFree, bobWon, kFree}},
        // Rejecting again finds no pairing: no answer.
        {kBob, "/reject carol", {"", "", ""}, {kFree, bobWon, kFree}},
    };
    for (std::size_t n = 0; n < steps.size(); ++n) {
        const Step& step = steps[n];
        SCOPED_TRACE("step " + std::to_string(n + 1) + ": " + names[step.sender] + " sends " + step.line);
        players[step.sender]->Send(step.line + "\r\n");
        // The sender first: once it has its answer, its line has been handled.
        EXPECT_EQ(Received(*players[step.sender]), step.received[step.sender]);
        for (int i = 0; i < 3; ++i) {
            if (i == step.sender) continue;
            EXPECT_EQ(Received(*players[i]), step.received[i]) << names[i];
        }
        for (int i = 0; i < 3; ++i) EXPECT_EQ(SeatOf(names[i]), step.after[i]) << names[i];
    }
}

TEST_F(Game, NamesMatchExactlyAndOnlyInTheSameChannel) {
    auto alice = Player("alice");
    auto bob = Player("Bob");
    auto dave = Player("dave");
    Set("dave", [](TTcpSrvClient& c) { c.SetChannel("Other"); });
    // Channels compare without letter case; nicknames do not.
    Set("alice", [](TTcpSrvClient& c) { c.SetChannel("CHESS"); });
    for (const std::string line : {"/chall bob", "/chall BOB", "/chall Bo", "/chall Bob ", "/chall dave", "/chall"}) {
        SCOPED_TRACE(line);
        alice->Send(line + "\r\n");
        EXPECT_EQ(Received(*alice), "");
        EXPECT_EQ(Received(*bob), "");
        EXPECT_EQ(Received(*dave), "");
        EXPECT_EQ(SeatOf("alice"), kFree);
    }
    // The separator after the command word is not looked at.
    alice->Send("/challxBob\r\n");
    EXPECT_EQ(Received(*alice), "");
    EXPECT_EQ(Received(*bob), "CHALLENGE alice\r\n");
    // An answer must name the challenger exactly, too.
    bob->Send("/accept ALICE\r\n");
    EXPECT_EQ(Received(*bob), "");
    EXPECT_EQ(Received(*alice), "");
    EXPECT_EQ(SeatOf("Bob"), (Seat{"alice", false, 0}));
}

TEST_F(Game, ChallengingAgainOverwritesThePairing) {
    auto alice = Player("alice");
    auto bob = Player("bob");
    auto carol = Player("carol");
    Settle(*alice, "/chall bob");
    EXPECT_EQ(Received(*bob), "CHALLENGE alice\r\n");
    // carol's challenge takes bob from alice; alice still names bob.
    Settle(*carol, "/chall bob");
    EXPECT_EQ(Received(*bob), "CHALLENGE carol\r\n");
    EXPECT_EQ(SeatOf("alice"), (Seat{"bob", false, 0}));
    EXPECT_EQ(SeatOf("bob"), (Seat{"carol", false, 0}));
    // Accepting alice now starts nothing: her partner is someone else.
    alice->Send("/accept bob\r\n");
    EXPECT_EQ(Received(*alice), "");
    EXPECT_EQ(Received(*bob), "");
    EXPECT_EQ(SeatOf("bob"), (Seat{"carol", false, 0}));
    Settle(*bob, "/accept carol");
    EXPECT_EQ(Received(*carol), "ACCEPT bob\r\n");
    // A player who challenges during its game replaces its own partner; the
    // old opponent keeps playing.
    bob->Send("/chall alice\r\n");
    EXPECT_EQ(Received(*bob), "");
    EXPECT_EQ(Received(*alice), "CHALLENGE bob\r\n");
    EXPECT_EQ(SeatOf("bob"), (Seat{"alice", true, 0}));
    EXPECT_EQ(SeatOf("carol"), (Seat{"bob", true, 0}));
    // bob's moves now go to alice; carol's still go to bob.
    bob->Send("/move a1\r\n");
    EXPECT_EQ(Received(*bob), "");
    EXPECT_EQ(Received(*alice), "MOVE a1\r\n");
    EXPECT_EQ(Received(*carol), "");
    carol->Send("/move h8\r\n");
    EXPECT_EQ(Received(*carol), "");
    EXPECT_EQ(Received(*bob), "MOVE h8\r\n");
}

TEST_F(Game, AcceptingPairsTheAccepterWithItsChallenger) {
    auto alice = Player("alice");
    auto bob = Player("bob");
    auto carol = Player("carol");
    Settle(*alice, "/chall bob");
    Settle(*carol, "/chall bob");
    EXPECT_EQ(Received(*bob), "CHALLENGE alice\r\nCHALLENGE carol\r\n");
    // bob takes alice's challenge, although carol's came later.
    Settle(*bob, "/accept alice");
    EXPECT_EQ(Received(*alice), "ACCEPT bob\r\n");
    EXPECT_EQ(SeatOf("bob"), (Seat{"alice", true, 0}));
    Settle(*bob, "/move e4");
    EXPECT_EQ(Received(*alice), "MOVE e4\r\n");
    EXPECT_EQ(Received(*carol), "");
}

TEST_F(Game, ResigningWhileTheOpponentIsInAnotherChannel) {
    auto alice = Player("alice");
    auto bob = Player("bob");
    auto carol = Player("carol");
    Settle(*alice, "/chall bob");
    EXPECT_EQ(Received(*bob), "CHALLENGE alice\r\n");
    Settle(*bob, "/accept alice");
    EXPECT_EQ(Received(*alice), "ACCEPT bob\r\n");
    Set("bob", [](TTcpSrvClient& c) { c.SetChannel("Elsewhere"); });
    // The move finds no opponent in the channel.
    alice->Send("/move e2e4\r\n");
    EXPECT_EQ(Received(*alice), "");
    EXPECT_EQ(Received(*bob), "");
    alice->Send("/give\r\n");
    EXPECT_EQ(Received(*alice), "bob has won the game!\r\n");
    EXPECT_EQ(Received(*carol), "bob has won the game!\r\n");
    EXPECT_EQ(Received(*bob), "");
    EXPECT_EQ(SeatOf("alice"), kFree);
    EXPECT_EQ(SeatOf("bob"), (Seat{"alice", true, 0}));
}

TEST_F(Game, OpponentLeavingEndsTheGameWithoutAWin) {
    auto alice = Player("alice");
    auto bob = Player("bob");
    Settle(*alice, "/chall bob");
    EXPECT_EQ(Received(*bob), "CHALLENGE alice\r\n");
    Settle(*bob, "/accept alice");
    EXPECT_EQ(Received(*alice), "ACCEPT bob\r\n");
    bob->CloseSocket();
    // The error first, then the channel's ordinary departure notice.
    const std::string expected = "ERR\r\n*** bob disconnected\r\n";
    EXPECT_EQ(alice->Read(expected), expected);
    EXPECT_EQ(SeatOf("alice"), kFree);
    // Free again: no more moves, nothing to resign.
    alice->Send("/move e2e4\r\n");
    alice->Send("/give\r\n");
    EXPECT_EQ(Received(*alice), "");
}

TEST_F(Game, ChatUsersMayPlayButOnlyGameClientsCountWins) {
    auto alice = std::make_unique<TestClient>(port_);
    alice->Login("alice");
    auto bob = std::make_unique<TestClient>(port_);
    bob->Login("bob");
    alice->ReadUntil("*** bob joined\r\n");
    // Any client may challenge; chat users have their lines echoed.
    alice->Send("/chall bob\r\n");
    EXPECT_EQ(alice->Collect(), "/chall bob\r\n");
    EXPECT_EQ(bob->Collect(), "CHALLENGE alice\r\n");
    // /wins needs game-client mode: nothing for anyone.
    alice->Send("/wins\r\n");
    EXPECT_EQ(alice->Collect(), "/wins\r\n");
    EXPECT_EQ(bob->Collect(), "");
}

TEST_F(Game, GameClientsNameThemselvesAndPlay) {
    std::array<std::unique_ptr<TestClient>, 2> players;
    for (const std::string nick : {"alice", "bob"}) {
        auto client = std::make_unique<TestClient>(port_);
        client->ExpectBanner("Hello there.\r\n");
        client->Send(kHandshake + "\r\n");
        client->ReadUntil("* Entered chess mode.\r\n");
        client->Send("/n " + nick + "\r\n");
        // What the renaming told the channel is not the game's business here.
        Received(*client);
        players[nick == "alice" ? 0 : 1] = std::move(client);
    }
    auto& alice = *players[0];
    auto& bob = *players[1];
    Received(alice);  // bob's renaming
    alice.Send("/chall bob\r\n");
    EXPECT_EQ(Received(alice), "");
    EXPECT_EQ(Received(bob), "CHALLENGE alice\r\n");
    bob.Send("/accept alice\r\n");
    EXPECT_EQ(Received(bob), "");
    EXPECT_EQ(Received(alice), "ACCEPT bob\r\n");
    Settle(alice, "/move e2e4");
    EXPECT_EQ(Received(bob), "MOVE e2e4\r\n");
    EXPECT_EQ(SeatOf("alice"), (Seat{"bob", true, 0}));
    EXPECT_EQ(SeatOf("bob"), (Seat{"alice", true, 0}));
}

TEST_F(Game, WinsLineCarriesNoChannelTag) {
    auto alice = Player("alice");
    auto bob = Player("bob");
    Set("bob", [](TTcpSrvClient& c) {
        c.QueryMode = true;
        c.QueryTarget = "someone";
    });
    alice->Send("/wins\r\n");
    EXPECT_EQ(Received(*alice), "* alice has won 0 games.\r\n");
    EXPECT_EQ(Received(*bob), "* alice has won 0 games.\r\n");
}

}  // namespace
}  // namespace qm::test
