// quillmootd as a process: seeding, start-up failures, signals.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "child_process.h"
#include "daemon_process.h"
#include "net/tls_filter.h"
#include "irc_test_client.h"
#include "ngircd_server.h"
#include "scratch_dir.h"
#include "chat_fixture.h"
#include "storage/mail_store.h"
#include "storage/text_file.h"

namespace qm {
namespace {

using test::Daemon;
using test::FreePort;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class DaemonTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = test::MakeScratchDir("daemon");
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir_);
    }
    // The shipped defaults, listening on `port` (0: any free one).
    void PrepareDataDir(unsigned short port = 0) {
        for (const auto& entry : fs::directory_iterator(fs::path(QM_SOURCE_DIR) / "data"))
            fs::copy_file(entry.path(), dir_ / entry.path().filename(), fs::copy_options::overwrite_existing);
        auto lines = ReadLines(dir_ / "qmserv.dat");
        lines[0] = std::to_string(port);
        WriteLines(dir_ / "qmserv.dat", lines);
    }
    fs::path dir_;
};

TEST_F(DaemonTest, EmptyDataDirectoryIsSeededWithTheDefaults) {
    // A file a way in makes for itself is none of the program's files.
    WriteFileAtomic(dir_ / "tls-selfsigned.pem", "kept\n");
    Daemon daemon(dir_);
    // The shipped port may be taken on this machine; seeding happens first either way.
    EXPECT_TRUE(daemon.WaitForOutput("was seeded with the shipped defaults."));
    EXPECT_TRUE(daemon.WaitForOutput("Loaded preferences."));
    for (const char* name : {"qmserv.dat", "messages.dat", "help.txt", "helpchannel.txt", "helpregister.txt",
                             "announce.txt", "bans.txt", "user.dat", "mail.dat"})
    {
        EXPECT_EQ(ReadFileBytes(dir_ / name), ReadFileBytes(fs::path(QM_SOURCE_DIR) / "data" / name)) << name;
        // Data files are for the owner only, whatever mode the shipped copies have.
        EXPECT_EQ(fs::status(dir_ / name).permissions(), fs::perms::owner_read | fs::perms::owner_write) << name;
    }
    EXPECT_EQ(ReadFileBytes(dir_ / "tls-selfsigned.pem"), "kept\n");
    if (daemon.Stdout().find("Databases ready.") != std::string::npos ||
        daemon.WaitForOutput("Databases ready."))
        EXPECT_EQ(daemon.Signal(SIGTERM), 0);
    else
        EXPECT_EQ(daemon.Wait(), 1);
}

TEST_F(DaemonTest, PartlyFilledDataDirectoryFailsWithTheMissingFile) {
    PrepareDataDir();
    fs::remove(dir_ / "messages.dat");
    Daemon daemon(dir_);
    EXPECT_EQ(daemon.Wait(), 1);
    EXPECT_NE(daemon.Stderr().find("Cannot open file"), std::string::npos) << daemon.Stderr();
    EXPECT_NE(daemon.Stderr().find("messages.dat"), std::string::npos) << daemon.Stderr();
    EXPECT_FALSE(fs::exists(dir_ / "messages.dat"));
}

TEST_F(DaemonTest, HangUpReloadsAndTerminateSavesEverything) {
    PrepareDataDir();
    WriteFileAtomic(dir_ / "user.dat", "Bob\r\n1-2-3\r\nY\r\nN\r\nN\r\nN\r\n");
    Daemon daemon(dir_);
    ASSERT_TRUE(daemon.WaitForOutput("Databases ready."));
    EXPECT_EQ(daemon.Stdout().rfind("Loaded Quillmoot.\n", 0), 0u);
    fs::remove(dir_ / "user.dat");
    fs::remove(dir_ / "mail.dat");
    // SIGHUP: reload the settings; the daemon keeps running.
    daemon.Send(SIGHUP);
    EXPECT_TRUE(daemon.WaitForOutput("Reloaded preferences."));
    EXPECT_EQ(daemon.Signal(SIGTERM), 0);
    EXPECT_EQ(ReadFileBytes(dir_ / "user.dat"), "Bob\r\n1-2-3\r\nY\r\nN\r\nN\r\nN\r\n");
    EXPECT_EQ(ReadFileBytes(dir_ / "mail.dat").rfind("{\\rtf", 0), 0u);
    bool logWritten = false;
    for (const auto& entry : fs::directory_iterator(dir_))
        if (entry.path().extension() == ".log") logWritten = true;
    EXPECT_TRUE(logWritten);
}

// The SHA-256 fingerprint of the first certificate in `pem` (text around it
// is skipped), as `openssl x509 -fingerprint -sha256` prints it.
std::string FingerprintOfPem(const std::string& pem) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (!cert) return "no certificate in: " + pem;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(cert, EVP_sha256(), digest, &length);
    X509_free(cert);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) hex += fmt::format("{:02x}", digest[i]);
    return FormatFingerprint(hex);
}

// What a TLS client is shown on the port: the fingerprint of the certificate.
std::string PresentedFingerprint(unsigned short port) {
    test::ChildProcess client({"/usr/bin/openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(port)});
    client.CloseInput();
    client.Wait();
    return FingerprintOfPem(client.Stdout());
}

// A new key and certificate for `name` in two PEM files, as an operator's
// certificate authority would hand them out.
void MakeCertificate(const fs::path& certificate, const fs::path& key, const std::string& name) {
    test::ChildProcess openssl({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                                "ec_paramgen_curve:P-256", "-nodes", "-days", "2", "-subj", "/CN=" + name, "-keyout",
                                key.string(), "-out", certificate.string()});
    openssl.CloseInput();
    ASSERT_EQ(openssl.Wait(), 0) << openssl.Stderr();
}

TEST_F(DaemonTest, TelnetOverTlsChatsWithTelnetAndPresentsTheCertificateOfTheLastHangUp) {
    const unsigned short port = FreePort();
    unsigned short tlsPort = FreePort();
    while (tlsPort == port) tlsPort = FreePort();
    PrepareDataDir(port);
    const auto preferences = dir_ / "config" / "Quillmoot" / "preferences";
    fs::create_directories(preferences.parent_path());
    WriteFileAtomic(preferences, "TlsPort=" + std::to_string(tlsPort) + "\n");
    Daemon daemon(dir_, {"--listen", "127.0.0.1"});
    ASSERT_TRUE(daemon.WaitForOutput("Databases ready.")) << daemon.Stdout() << daemon.Stderr();
    EXPECT_TRUE(daemon.WaitForOutput("Listening on 127.0.0.1 port " + std::to_string(port) + " (telnet)"));
    EXPECT_TRUE(daemon.WaitForOutput("Listening on 127.0.0.1 port " + std::to_string(tlsPort) + " (tls)"));

    // Without a certificate of its own, the server made one, for its owner's eyes only.
    const auto selfSigned = dir_ / "tls-selfsigned.pem";
    ASSERT_TRUE(fs::exists(selfSigned));
    EXPECT_EQ(fs::status(selfSigned).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    const std::string madeFingerprint = FingerprintOfPem(ReadFileBytes(selfSigned));
    EXPECT_TRUE(daemon.WaitForOutput("(" + selfSigned.string() + ", self-signed) SHA-256 fingerprint: " +
                                     madeFingerprint));
    EXPECT_EQ(PresentedFingerprint(tlsPort), madeFingerprint);

    // A user over TLS and one over plain telnet talk to each other.
    test::TestClient ann(port);
    ann.ReadUntil("Nickname: \r\n");
    ann.Send("ann\r\n");
    ann.ReadUntil("ann has joined the chat.\r\n");
    test::ChildProcess bob({"/usr/bin/openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(tlsPort),
                            "-quiet"});
    ASSERT_TRUE(bob.WaitForOutput("Nickname: \r\n")) << bob.Stdout() << bob.Stderr();
    bob.Write("bob\r\n");
    EXPECT_TRUE(bob.WaitForOutput("bob has joined the chat.\r\n"));
    ann.ReadUntil("bob has joined the chat.\r\n");
    ann.Send("hello bob\r\n");
    EXPECT_TRUE(bob.WaitForOutput("<ann> hello bob\r\n")) << bob.Stdout();
    bob.Write("hi ann\r\n");
    ann.ReadUntil("<bob> hi ann\r\n");
    EXPECT_TRUE(daemon.WaitForOutput("Client connecting: 127.0.0.1 (tls)\n"));
    bob.Write("/quit\r\n");
    EXPECT_EQ(bob.Wait(), 0);

    // The operator's own certificate, then the same files renewed on disk:
    // each hang-up makes the next handshake present what the files hold.
    const auto certificate = dir_ / "cert.pem", key = dir_ / "key.pem";
    WriteFileAtomic(preferences, "TlsPort=" + std::to_string(tlsPort) + "\nTlsCertificate=" + certificate.string() +
                                     "\nTlsKey=" + key.string() + "\n");
    for (const std::string name : {"chat.example", "renewed.example"}) {
        SCOPED_TRACE(name);
        MakeCertificate(certificate, key, name);
        const std::string expected = FingerprintOfPem(ReadFileBytes(certificate));
        daemon.Send(SIGHUP);
        EXPECT_TRUE(daemon.WaitForOutput("(" + certificate.string() + ") SHA-256 fingerprint: " + expected));
        EXPECT_EQ(PresentedFingerprint(tlsPort), expected);
    }
    // The user over telnet never noticed.
    ann.Send("still here\r\n");
    ann.ReadUntil("<ann> still here\r\n");
    EXPECT_EQ(daemon.Signal(SIGTERM), 0);
}

// What a user was told has been done is on disk when the reply arrives: a
// daemon killed at that moment still has it when it starts again.
TEST_F(DaemonTest, ConfirmedChangesSurviveAKillRightAfterTheConfirmation) {
    const unsigned short port = FreePort();
    PrepareDataDir(port);
    // The second line of user.dat, empty while it holds no record.
    const auto storedPassword = [&] {
        const auto lines = ReadLines(dir_ / "user.dat");
        return lines.size() > 1 ? lines[1] : std::string();
    };
    std::string before;
    struct Step {
        std::string lines, confirmation;
        std::function<bool()> onDisk;
    };
    const std::vector<Step> steps = {
        {"Ann\r\n/reg secret\r\n", "You have been registered.\r\n",
         [&] {
             const auto lines = ReadLines(dir_ / "user.dat");
             return !lines.empty() && lines.front() == "Ann";
         }},
        {"Ann\r\nsecret\r\n/pass other\r\n", "New password set.\r\n",
         [&] { return storedPassword() != before; }},
        {"Ann\r\nother\r\n/send Ann = hello\r\n", "You have a new message.",
         [&] {
             MailStore mail;
             mail.Load(dir_ / "mail.dat");
             const int first = mail.FindMessage("Ann", 1);
             return first >= 0 && mail.MessageLine(first) == "From: Ann : hello";
         }},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.lines);
        before = storedPassword();
        Daemon daemon(dir_);
        ASSERT_TRUE(daemon.WaitForOutput("Databases ready."));
        test::TestClient ann(port);
        ann.ReadUntil("Nickname: \r\n");
        ann.Send(step.lines);
        ASSERT_NE(ann.ReadUntil(step.confirmation).find(step.confirmation), std::string::npos);
        EXPECT_EQ(daemon.Signal(SIGKILL), -1);
        EXPECT_TRUE(step.onDisk());
    }
}

// Standard output on a pipe nobody reads: the server goes on serving, and
// once the reader is back it hears how many log lines it missed.
TEST_F(DaemonTest, StandardOutputThatIsNotReadDropsLinesInsteadOfStoppingService) {
    const unsigned short port = FreePort();
    PrepareDataDir(port);
    Daemon daemon(dir_);
    ASSERT_TRUE(daemon.WaitForOutput("Databases ready."));
    test::TestClient ann(port);
    ann.ReadUntil("Nickname: \r\n");
    ann.Send("Ann\r\n");
    ann.ReadUntil("joined the chat.\r\n");
    // Main channel chat goes to the log, and from there to standard output:
    // far more than the pipe and the daemon's buffer hold.
    const std::string chat = std::string(500, 'x') + "\r\n";
    for (int batch = 0; batch < 32; ++batch) {
        std::string lines;
        for (int i = 0; i < 250; ++i) lines += chat;
        ann.Send(lines + "\r\n");
        ASSERT_NE(ann.ReadUntil("No text to send.\r\n").find("No text to send."), std::string::npos) << batch;
    }
    // Another user is still served.
    test::TestClient ben(port);
    ben.ReadUntil("Nickname: \r\n");
    ben.Send("Ben\r\n");
    EXPECT_NE(ben.ReadUntil("joined the chat.\r\n").find("joined the chat."), std::string::npos);
    // The reader is back: the next log line is preceded by what it missed.
    const std::string notice = " log lines were dropped: standard output was not being read.\n";
    bool told = false;
    for (int attempt = 0; attempt < 20 && !told; ++attempt) {
        test::TestClient knock(port);  // logged as a connection
        knock.ReadUntil("Nickname: \r\n");
        told = daemon.WaitForOutput(notice, 1s);
    }
    ASSERT_TRUE(told);
    const std::string& out = daemon.Stdout();
    const auto end = out.find(notice);
    const auto start = out.rfind('\n', end) + 1;
    const std::string stamp = out.substr(start, 8);
    EXPECT_TRUE(stamp.size() == 8 && stamp[0] == '[' && stamp[3] == ':' && stamp[6] == ']' && stamp[7] == ' ')
        << stamp;
    EXPECT_GT(std::stoi(out.substr(start + 8, end - start - 8)), 0);
    EXPECT_EQ(daemon.Signal(SIGTERM), 0);
}

TEST_F(DaemonTest, ConsoleEndsOnTerminateAndSavesEverything) {
    const unsigned short port = FreePort();
    PrepareDataDir(port);
    Daemon console(dir_, {}, QM_CONSOLE_PATH);
    // The console logs into its window; a connection that is answered shows it runs.
    std::string heard;
    for (int attempt = 0; attempt < 100 && heard.empty(); ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(100ms);
        if (!test::Accepts(port)) continue;
        test::TestClient ann(port);
        ann.Send("Ann\r\n/reg secret\r\n");
        heard = ann.ReadUntil("You have been registered.\r\n");
    }
    ASSERT_NE(heard, "");
    fs::remove(dir_ / "mail.dat");
    EXPECT_EQ(console.Signal(SIGTERM), 0) << console.Stderr();
    EXPECT_EQ(ReadLines(dir_ / "user.dat").front(), "Ann");
    EXPECT_TRUE(fs::exists(dir_ / "mail.dat"));
}

// Logs in as `nick`, tries "/admin <password>" and returns what came back
// (up to the answer to an empty line sent after it).
std::string TryAdmin(unsigned short port, const std::string& nick, const std::string& password) {
    test::TestClient client(port);
    client.ReadUntil("Nickname: \r\n");
    client.Send(nick + "\r\n");
    client.ReadUntil("joined the chat.\r\n");
    client.Send("/admin " + password + "\r\n\r\n");
    return client.ReadUntil("No text to send.\r\n");
}

TEST_F(DaemonTest, AdminPasswordComesFromItsFileAndIsReadAgainOnHangUp) {
    const unsigned short port = FreePort();
    PrepareDataDir(port);
    const fs::path passFile = dir_ / "admin-pass";
    WriteFileAtomic(passFile, "Opensesame\r\nsecond line\r\n");
    Daemon daemon(dir_, {"--admin-pass-file", passFile.string()});
    ASSERT_TRUE(daemon.WaitForOutput("Databases ready."));
    // Only the first line counts, and letter case does not.
    EXPECT_NE(TryAdmin(port, "Ann", "OPENSESAME").find("Admin mode enabled."), std::string::npos);
    EXPECT_EQ(TryAdmin(port, "Ben", "second line").find("Admin mode enabled."), std::string::npos);

    WriteFileAtomic(passFile, "xyzzy42plugh\n");
    daemon.Send(SIGHUP);
    ASSERT_TRUE(daemon.WaitForOutput("Reloaded preferences."));
    EXPECT_EQ(TryAdmin(port, "Cid", "opensesame").find("Admin mode enabled."), std::string::npos);
    EXPECT_NE(TryAdmin(port, "Dee", "xyzzy42plugh").find("Admin mode enabled."), std::string::npos);

    // A file that has gone keeps the password that was read last.
    fs::remove(passFile);
    daemon.Send(SIGHUP);
    ASSERT_TRUE(daemon.WaitForOutputCount("Reloaded preferences.", 2));
    EXPECT_NE(TryAdmin(port, "Eve", "xyzzy42plugh").find("Admin mode enabled."), std::string::npos);
    EXPECT_EQ(daemon.Signal(SIGTERM), 0);
    EXPECT_NE(daemon.Stderr().find("Cannot open file"), std::string::npos) << daemon.Stderr();
    // The password is never written anywhere.
    EXPECT_EQ(daemon.Stdout().find("xyzzy42plugh"), std::string::npos);
    EXPECT_EQ(daemon.Stdout().find("pensesame"), std::string::npos);
    for (const auto& entry : fs::directory_iterator(dir_)) {
        if (entry.is_regular_file()) {
            EXPECT_EQ(ReadFileBytes(entry.path()).find("xyzzy42plugh"), std::string::npos) << entry.path();
        }
    }
}

TEST_F(DaemonTest, AdminPasswordFileThatCannotBeReadStopsTheStart) {
    PrepareDataDir();
    Daemon daemon(dir_, {"--admin-pass-file", (dir_ / "missing").string()});
    EXPECT_EQ(daemon.Wait(), 1);
    EXPECT_NE(daemon.Stderr().find("Cannot open file"), std::string::npos) << daemon.Stderr();
    EXPECT_NE(daemon.Stderr().find("missing"), std::string::npos) << daemon.Stderr();
}

TEST_F(DaemonTest, WithoutAnAdminPasswordAdminIsRefused) {
    const unsigned short port = FreePort();
    PrepareDataDir(port);
    Daemon daemon(dir_);
    ASSERT_TRUE(daemon.WaitForOutput("Databases ready."));
    EXPECT_NE(TryAdmin(port, "Ann", "").find(" No such command.\r\n"), std::string::npos);
    EXPECT_TRUE(daemon.WaitForOutput("Ann attempted to log in as admin.  No pass set: Failed."));
    EXPECT_EQ(daemon.Signal(SIGTERM), 0);
}

// The link's values come from the preference store of the service's user.
void WritePreferences(const fs::path& dataDir, const std::string& text) {
    fs::create_directories(dataDir / "config" / "Quillmoot");
    WriteFileAtomic(dataDir / "config" / "Quillmoot" / "preferences", text);
}

TEST_F(DaemonTest, IrcOptionKeepsTheLinkUpAndReadsItsValuesAgainOnHangUp) {
    QM_REQUIRE_NGIRCD();
    test::NgircdServer irc;
    ASSERT_TRUE(irc.Start());
    PrepareDataDir(FreePort());
    const std::string values = "Server=127.0.0.1\nPort=" + std::to_string(irc.Port()) + "\n";
    WritePreferences(dir_, values + "Channel=#quill\n");
    test::IrcTestClient ann(irc.Port());
    ASSERT_TRUE(ann.Register("ann"));
    ASSERT_TRUE(ann.Join("#quill"));

    Daemon daemon(dir_, {"--irc"});
    ASSERT_TRUE(daemon.WaitForOutput("IRC: *** Joined channel: #quill\n"));
    EXPECT_TRUE(ann.WaitFor(":Shadow-!~quillmoot@127.0.0.1 JOIN :#quill"));
    EXPECT_NE(daemon.Stdout().find("IRC: *** Connected to IRC server... logging in....\n"), std::string::npos);

    // A new channel counts from the next join: after the IRC server's restart.
    WritePreferences(dir_, values + "Channel=#other\n");
    daemon.Send(SIGHUP);
    ASSERT_TRUE(daemon.WaitForOutput("Reloaded preferences."));
    irc.Stop();
    ASSERT_TRUE(daemon.WaitForOutput("IRC: *** Disconnected!"));
    ASSERT_TRUE(irc.Start());
    EXPECT_TRUE(daemon.WaitForOutput("IRC: *** Joined channel: #other\n", 30s));

    EXPECT_EQ(daemon.Signal(SIGTERM), 0);
    // The link's lines go to standard output, never into the server log.
    for (const auto& entry : fs::directory_iterator(dir_)) {
        if (entry.path().extension() != ".log") continue;
        const std::string log = ReadFileBytes(entry.path());
        EXPECT_NE(log.find("Databases ready."), std::string::npos);
        EXPECT_EQ(log.find("Joined channel"), std::string::npos) << entry.path();
    }
}

TEST_F(DaemonTest, IrcOptionWithoutAServerSaysSoAndStaysDown) {
    PrepareDataDir(FreePort());
    Daemon daemon(dir_, {"--irc"});
    EXPECT_TRUE(daemon.WaitForOutput("IRC: *** The IRC link is not configured (no server set); it stays down.\n"));
    EXPECT_EQ(daemon.Signal(SIGTERM), 0);
    EXPECT_EQ(daemon.Stdout().find("IRC: *** Connecting"), std::string::npos);
}

TEST_F(DaemonTest, IrcLinkWithoutAServerStartsOnceOneIsSetAndHangUpReadsIt) {
    QM_REQUIRE_NGIRCD();
    test::NgircdServer irc;
    ASSERT_TRUE(irc.Start());
    PrepareDataDir(FreePort());
    Daemon daemon(dir_, {"--irc"});
    ASSERT_TRUE(daemon.WaitForOutput("IRC: *** The IRC link is not configured"));
    WritePreferences(dir_, "Server=127.0.0.1\nPort=" + std::to_string(irc.Port()) + "\nChannel=#quill\n");
    daemon.Send(SIGHUP);
    EXPECT_TRUE(daemon.WaitForOutput("IRC: *** Joined channel: #quill\n"));
    EXPECT_EQ(daemon.Signal(SIGTERM), 0);
}

TEST_F(DaemonTest, WithoutIrcOptionTheLinkStaysDown) {
    PrepareDataDir(FreePort());
    WritePreferences(dir_, "Server=127.0.0.1\nPort=1\nChannel=#quill\n");
    Daemon daemon(dir_);
    ASSERT_TRUE(daemon.WaitForOutput("Databases ready."));
    EXPECT_EQ(daemon.Signal(SIGTERM), 0);
    EXPECT_EQ(daemon.Stdout().find("IRC:"), std::string::npos);
}

// The command line: --version and --help end the program with 0; anything it
// does not know is a usage error, 2, in one line with a hint.
TEST_F(DaemonTest, CommandLineExitStatuses) {
    {
        Daemon daemon(dir_, {"--version"});
        EXPECT_EQ(daemon.Wait(), 0);
        EXPECT_EQ(daemon.Stdout(), std::string("quillmootd ") + QM_VERSION + "\n");
    }
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--no-such-option"},
                                                std::vector<std::string>{"--data-dir"},
                                                std::vector<std::string>{"surplus"}}) {
        Daemon daemon(dir_, args);
        EXPECT_EQ(daemon.Wait(), 2) << args[0];
        const std::string& err = daemon.Stderr();
        EXPECT_EQ(err.rfind("quillmootd: ", 0), 0u) << err;
        EXPECT_NE(err.find("\nTry 'quillmootd --help' for more information.\n"), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
    }
}

// systemd's side of the notify protocol: a datagram socket named by
// NOTIFY_SOCKET, one message per datagram.
class NotifySocket {
public:
    explicit NotifySocket(const fs::path& path) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string name = path.string();
        EXPECT_LT(name.size(), sizeof address.sun_path);
        name.copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~NotifySocket() { ::close(fd_); }
    std::string Environment() const { return "NOTIFY_SOCKET=" + path_.string(); }

    // The next message within `limit`, skipping watchdog pings unless asked
    // for; each ping's arrival is kept.
    std::optional<std::string> Next(std::chrono::milliseconds limit = 10s, bool pings = false) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
            char buffer[512];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) return std::nullopt;
            std::string message(buffer, static_cast<std::size_t>(n));
            if (message == "WATCHDOG=1") {
                pingTimes_.push_back(std::chrono::steady_clock::now());
                if (!pings) continue;
            }
            return message;
        }
    }
    const std::vector<std::chrono::steady_clock::time_point>& PingTimes() const { return pingTimes_; }

private:
    fs::path path_;
    int fd_ = -1;
    std::vector<std::chrono::steady_clock::time_point> pingTimes_;
};

TEST_F(DaemonTest, TellsTheServiceManagerReadyReloadingStoppingAndFeedsTheWatchdog) {
    const unsigned short port = FreePort();
    PrepareDataDir(port);
    NotifySocket notify(dir_ / "notify");
    // A watchdog timeout of 400 ms: a ping every 200 ms.
    Daemon daemon(dir_, {}, QM_DAEMON_PATH, {notify.Environment(), "WATCHDOG_USEC=400000"});

    ASSERT_EQ(notify.Next(), "READY=1");
    // Ready means listening, with the databases loaded.
    {
        test::TestClient early(port);
        EXPECT_NE(early.ReadUntil("Nickname: ").find("Nickname: "), std::string::npos);
    }
    EXPECT_TRUE(daemon.WaitForOutput("Databases ready.", 1s));

    for (int i = 0; i < 4; ++i) ASSERT_EQ(notify.Next(2s, true), "WATCHDOG=1");

    daemon.Send(SIGHUP);
    const auto reloading = notify.Next();
    ASSERT_TRUE(reloading);
    EXPECT_EQ(reloading->rfind("RELOADING=1\nMONOTONIC_USEC=", 0), 0u) << *reloading;
    EXPECT_EQ(notify.Next(), "READY=1");
    EXPECT_TRUE(daemon.WaitForOutput("Reloaded preferences."));

    daemon.Send(SIGTERM);
    EXPECT_EQ(notify.Next(), "STOPPING=1");
    EXPECT_EQ(daemon.Wait(), 0);

    // Pings come at the interval asked for: never two in one half-interval
    // (a loop that pinged on every turn would), and several a second.
    const auto& times = notify.PingTimes();
    ASSERT_GE(times.size(), 4u);
    for (std::size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 100ms);
}

// Outside systemd nothing is sent and nothing changes.
TEST_F(DaemonTest, WithoutAServiceManagerTheDaemonRunsAsBefore) {
    PrepareDataDir(FreePort());
    Daemon daemon(dir_, {}, QM_DAEMON_PATH, {"WATCHDOG_USEC=100000"});
    ASSERT_TRUE(daemon.WaitForOutput("Databases ready."));
    EXPECT_EQ(daemon.Signal(SIGTERM), 0);
}

// Whether a TCP connection to address:port is accepted (IPv4 or IPv6).
bool Accepts(const std::string& address, unsigned short port) {
    const bool v6 = address.find(':') != std::string::npos;
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage remote{};
    socklen_t length = 0;
    if (v6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&remote);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        ::inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr);
        length = sizeof *in6;
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&remote);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        ::inet_pton(AF_INET, address.c_str(), &in4->sin_addr);
        length = sizeof *in4;
    }
    const bool accepted = ::connect(fd, reinterpret_cast<sockaddr*>(&remote), length) == 0;
    ::close(fd);
    return accepted;
}

// --listen restricts the daemon to the addresses given; without it, IPv6 and
// IPv4 are both served.
TEST_F(DaemonTest, ListenOptionChoosesTheAddresses) {
    struct Case {
        std::vector<std::string> args;
        bool v4, v6;
    };
    const std::vector<Case> cases = {
        {{}, true, true},
        {{"--listen", "127.0.0.1"}, true, false},
        {{"--listen", "::1"}, false, true},
        {{"--listen", "::1", "--listen", "127.0.0.1"}, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const unsigned short port = FreePort();
        PrepareDataDir(port);
        Daemon daemon(dir_, c.args);
        ASSERT_TRUE(daemon.WaitForOutput("Databases ready."));
        EXPECT_EQ(Accepts("127.0.0.1", port), c.v4);
        EXPECT_EQ(Accepts("::1", port), c.v6);
        EXPECT_EQ(daemon.Signal(SIGTERM), 0);
    }
    Daemon daemon(dir_, {"--listen", "nowhere"});
    EXPECT_EQ(daemon.Wait(), 2);
    EXPECT_NE(daemon.Stderr().find("nowhere"), std::string::npos) << daemon.Stderr();
}

}  // namespace
}  // namespace qm
