// Connections that do not log in: the login time limit and the cap on
// logins in progress from one address, over real sockets.
#include "chat_fixture.h"
#include "commands/login.h"
#include "server/address_group.h"
#include "storage/user_database.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;

const std::string kBanner = kGreeting + "Announcements:\r\nHello there.\r\nNickname: \r\n";
const std::string kBusy = "Sorry.  All connections full.  Please try again later\r\n";

class LoginLimits : public ChatServerFixture {
protected:
    // A client at the nickname prompt, its banner read.
    std::unique_ptr<TestClient> AtPrompt(const std::string& address = "127.0.0.1") {
        auto client = std::make_unique<TestClient>(port_, address);
        client->ExpectBanner("Hello there.\r\n");
        return client;
    }

    bool WaitForLogCount(const std::string& text, std::size_t count) const {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        do {
            const auto lines = observer_.LogLines();
            if (std::count_if(lines.begin(), lines.end(),
                              [&](const std::string& line) { return line.find(text) != std::string::npos; }) >=
                static_cast<std::ptrdiff_t>(count))
                return true;
            std::this_thread::sleep_for(5ms);
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }
};

struct TimeoutCase {
    std::string name;
    std::string sent;      // after the banner
    std::string answered;  // what the server answers to it
    bool closed;
};

TEST_F(LoginLimits, ConnectionsStillLoggingInAreClosedWhenTheirTimeIsUp) {
    options_.loginTimeout = 300ms;
    const std::string zed = "Zed\r\n" + EncodePassword("Zed", "pw") + "\r\nY\r\nN\r\nN\r\nN\r\n";
    ASSERT_TRUE(StartServer({{"user.dat", zed}}));
    const std::string handshake(kGameHandshake);
    const std::vector<TimeoutCase> cases = {
        {"silent", "", "", true},
        {"half a nickname", "ca", "ca", true},
        {"logged in", "amy\r\n", "amy\r\nWelcome!\r\n*** amy joined\r\n", false},
        {"game client", handshake + "\r\n", handshake + "\r\n* Entered chess mode.\r\n" + kWontEcho, false},
        // Already in the main channel: amy hears of its departure.
        {"at the login password prompt", "Zed\r\n", "Zed\r\nPassword: ", true},
    };
    // All connect at once, so that when the last of the closed ones has gone
    // every one of them has passed its time.
    std::vector<std::unique_ptr<TestClient>> clients;
    for (const auto& c : cases) {
        clients.push_back(AtPrompt());
        clients.back()->Send(c.sent);
        EXPECT_EQ(clients.back()->Read(c.answered), c.answered) << c.name;
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (!cases[i].closed) continue;
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(clients[i]->ReadToClose(), "Login timed out.\r\n");
    }
    EXPECT_EQ(clients[2]->Collect(), "*** Zed disconnected\r\n");
    EXPECT_EQ(clients[3]->Collect(), "");
}

TEST_F(LoginLimits, AddressesHoldOnlySoManyLoginsInProgress) {
    ASSERT_TRUE(StartServer({}, "MaxLoginsPerAddress=2\n"));
    auto first = AtPrompt();
    auto second = AtPrompt();
    // One over the cap is turned away as a full server turns it away.
    TestClient third(port_);
    EXPECT_EQ(third.ReadToClose(), kGreeting + "Announcements:\r\nHello there.\r\n" + kBusy);
    // Another address has a cap of its own.
    auto elsewhere = AtPrompt("127.0.0.2");
    // A login that ends, by a nickname or by closing, makes room.
    first->Send("amy\r\n");
    EXPECT_EQ(first->Read("amy\r\nWelcome!\r\n"), "amy\r\nWelcome!\r\n");
    auto fourth = AtPrompt();
    // The server has seen the close once it has logged the disconnect (the
    // third's is logged already).
    second->CloseSocket();
    EXPECT_TRUE(WaitForLogCount("Client disconnecting: Choosing nickname...", 2));
    auto fifth = AtPrompt();
    TestClient sixth(port_);
    EXPECT_EQ(sixth.ReadToClose(), kGreeting + "Announcements:\r\nHello there.\r\n" + kBusy);
}

struct CapCase {
    std::string preferences;
    int admitted;  // of the connections opened at once from one address
    bool reported;
};

TEST_F(LoginLimits, CapComesFromThePreferencesAndZeroMeansNone) {
    const std::vector<CapCase> cases = {
        {"", 20, false},
        {"MaxLoginsPerAddress=3\n", 3, false},
        {"MaxLoginsPerAddress=0\n", 30, false},
        // The operator hears of a value that means nothing; the default holds.
        {"MaxLoginsPerAddress=many\n", 20, true},
        {"MaxLoginsPerAddress=-2\n", 20, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.preferences);
        ASSERT_TRUE(StartServer({}, c.preferences));
        std::vector<std::unique_ptr<TestClient>> clients;
        for (int i = 0; i < 30; ++i) clients.push_back(std::make_unique<TestClient>(port_));
        int admitted = 0;
        for (auto& client : clients) {
            client->ReadUntil("Hello there.\r\n");
            if (client->ReadUntil("\r\n") == "Nickname: \r\n") ++admitted;
        }
        EXPECT_EQ(admitted, c.admitted);
        const auto errors = observer_.Errors();
        EXPECT_EQ(errors.size(), c.reported ? 1u : 0u);
        if (c.reported && !errors.empty()) {
            EXPECT_NE(errors[0].find("MaxLoginsPerAddress="), std::string::npos) << errors[0];
        }
        clients.clear();
        StopServer();
        observer_.Clear();
        io_.restart();
    }
}

TEST(AddressGroup, IPv6AddressesCountByTheirSlash64) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"127.0.0.1", "127.0.0.1"},
        {"192.0.2.7", "192.0.2.7"},
        {"::ffff:192.0.2.7", "192.0.2.7"},
        {"2001:db8:1:2::5", "2001:db8:1:2::/64"},
        {"2001:db8:1:2:ffff:eeee:dddd:cccc", "2001:db8:1:2::/64"},
        {"2001:db8:1:3::5", "2001:db8:1:3::/64"},
        {"::1", "::/64"},
        {"not an address", "not an address"},
    };
    for (const auto& [address, group] : cases) EXPECT_EQ(AddressGroup(address), group) << address;
}

}  // namespace
}  // namespace qm::test
