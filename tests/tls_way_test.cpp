// Telnet over TLS from the server's side: what happens before and around
// the handshake, and the listener as the preference store and the operator
// open and close it. (A real TLS client chatting with a telnet user, and
// certificates renewed at a hang-up, are in the daemon's tests.)
#include <algorithm>

#include "chat_fixture.h"
#include "net/tls_filter.h"
#include "net/tls_server_context.h"
#include "ngircd_server.h"
#include "scratch_dir.h"
#include "storage/text_file.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;

// The first bytes a TLS client sends.
std::string ClientHello() {
    TlsFilter client({"localhost", "", "", ""});
    client.Start();
    std::string hello;
    client.TakeOutgoing(hello);
    return hello;
}

class TlsWay : public ChatServerFixture {
protected:
    bool StartWithTls(const DataFiles& files = {}, const std::string& preferences = "") {
        tlsPort_ = FreePort();
        return StartServer(files, "TlsPort=" + std::to_string(tlsPort_) + "\n" + preferences);
    }
    // A TLS client's connection that has said `bytes` (not a telnet client:
    // it sends nothing of its own).
    std::unique_ptr<TestClient> Knock(const std::string& bytes) {
        auto client = std::make_unique<TestClient>(tlsPort_, "127.0.0.1", 0, false);
        if (!bytes.empty()) client->Send(bytes);
        return client;
    }
    unsigned short tlsPort_ = 0;
};

struct RefusalCase {
    std::string name;
    DataFiles files;
    std::string preferences;
    bool telnetUserFirst;  // one connection at the nickname prompt already
    std::string logged;
};

// Refused before the handshake: there is no session to speak in yet, so
// the connection is closed without a word, whatever the client has sent.
TEST_F(TlsWay, RefusalsBeforeTheHandshakeCloseWithoutAWord) {
    const std::vector<RefusalCase> cases = {
        {"banned", {{"bans.txt", "127.0.0.1\r\n"}}, "", false,
         "Client connecting: 127.0.0.1 (tls) is banned right now."},
        {"past Max", {{"qmserv.dat", "0\r\n1\r\nWelcome!\r\nBusy now.\r\n5\r\n"}}, "", true,
         "Client connecting: 127.0.0.1 (tls)"},
        {"over the logins of one address", {}, "MaxLoginsPerAddress=1\n", true,
         "Client connecting: 127.0.0.1 (tls)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(StartWithTls(c.files, c.preferences));
        std::unique_ptr<TestClient> first;
        if (c.telnetUserFirst) {
            first = std::make_unique<TestClient>(port_);
            first->ExpectBanner("Hello there.\r\n");
        }
        EXPECT_EQ(Knock(ClientHello())->ReadToClose(), "");
        EXPECT_TRUE(observer_.WaitForLog(c.logged));
        StopServer();
        observer_.Clear();
        io_.restart();
    }
    // Admitted, the same hello is answered.
    ASSERT_TRUE(StartWithTls());
    auto admitted = Knock(ClientHello());
    EXPECT_NE(admitted->ReadUntil("\x16\x03"), "");
}

struct StallCase {
    std::string name;
    std::string sent;
    std::chrono::milliseconds loginTimeout;
};

// A handshake that never completes ends at the login timeout, one that
// fails ends at once; either way the server goes on serving everybody.
TEST_F(TlsWay, AHandshakeThatStallsOrFailsEnds) {
    const std::string hello = ClientHello();
    const std::vector<StallCase> cases = {
        {"silent", "", 300ms},
        {"half a hello", hello.substr(0, hello.size() / 2), 300ms},
        {"no TLS at all", "GET / HTTP/1.0\r\n\r\n", 60s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        options_.loginTimeout = c.loginTimeout;
        ASSERT_TRUE(StartWithTls());
        auto knock = Knock(c.sent);
        EXPECT_TRUE(observer_.WaitForLog("Client disconnecting: Choosing nickname...")) << c.name;
        knock->ReadToClose();
        TestClient telnet(port_);
        telnet.Login("amy");
        StopServer();
        observer_.Clear();
        io_.restart();
    }
}

// The listener opens and closes with Activate, Deactivate and the store
// read again; while the server is deactivated nothing opens.
TEST_F(TlsWay, TheListenerFollowsTheOperatorAndTheStore) {
    ASSERT_TRUE(StartWithTls());
    const unsigned short first = tlsPort_;
    EXPECT_TRUE(observer_.WaitForLog("Listening on 127.0.0.1 port " + std::to_string(first) + " (tls)"));
    EXPECT_TRUE(Accepts(first));

    OnServer([](ChatServer& s) { s.Deactivate(); });
    EXPECT_FALSE(Accepts(first));
    const unsigned short second = FreePort();
    const auto reload = [&](const std::string& preferences) {
        WriteFileAtomic(dataDir_ / "preferences", preferences);
        OnServer([](ChatServer& s) {
            s.Preferences().Reload();
            s.ReloadListeners();
        });
    };
    reload("TlsPort=" + std::to_string(second) + "\n");
    EXPECT_FALSE(Accepts(second));

    OnServer([](ChatServer& s) { s.Activate(); });
    EXPECT_TRUE(observer_.WaitForLog("Listening on 127.0.0.1 port " + std::to_string(second) + " (tls)"));
    EXPECT_TRUE(Accepts(second));

    reload("TlsPort=0\n");
    EXPECT_TRUE(observer_.WaitForLog("Stopped listening on port " + std::to_string(second) + " (tls)"));
    EXPECT_FALSE(Accepts(second));
    // The telnet way is not the store's business.
    unsigned short telnetPort = 0;
    OnServer([&](ChatServer& s) { telnetPort = s.ListeningPort(); });
    EXPECT_TRUE(Accepts(telnetPort));

    reload("TlsPort=tls\n");
    const auto errors = observer_.Errors();
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors.back().find("TlsPort=tls in "), std::string::npos) << errors.back();
}

struct CertificateProblem {
    std::string name;
    std::string preferences;
    std::string error;
};

// A certificate that cannot be used is reported, and the way stays closed
// rather than open with something the operator did not ask for.
TEST_F(TlsWay, ACertificateThatCannotBeUsedIsReportedAndKeepsTheWayClosed) {
    const auto files = MakeScratchDir("tls-files");
    WriteFileAtomic(files / "cert.pem", MakeSelfSignedPem("localhost"));
    WriteFileAtomic(files / "nokey.pem", "not a key\n");
    const std::vector<CertificateProblem> cases = {
        {"missing files", "TlsCertificate=/nonexistent/cert.pem\nTlsKey=/nonexistent/key.pem\n",
         "Cannot use the TLS certificate /nonexistent/cert.pem: "},
        {"a certificate without its key", "TlsCertificate=/nonexistent/cert.pem\n", "go together"},
        {"a key that is no key",
         "TlsCertificate=" + (files / "cert.pem").string() + "\nTlsKey=" + (files / "nokey.pem").string() + "\n",
         "Cannot use the TLS key " + (files / "nokey.pem").string() + ": "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(StartWithTls({}, c.preferences));
        const auto errors = observer_.Errors();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors[0].find(c.error), std::string::npos) << errors[0];
        EXPECT_FALSE(Accepts(tlsPort_));
        const auto log = observer_.LogLines();
        EXPECT_TRUE(std::none_of(log.begin(), log.end(),
                                 [](const std::string& line) { return line.find("(tls)") != std::string::npos; }));
        StopServer();
        observer_.Clear();
        io_.restart();
    }
    std::filesystem::remove_all(files);
}

}  // namespace
}  // namespace qm::test
