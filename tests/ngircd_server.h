#pragma once
// A real ngircd IRC server for the IRC link's tests: its own configuration in
// a scratch directory, its own loopback port, started and stopped by the test.
//
// As root, ngircd refuses to keep root: with no ServerUID it switches to
// "nobody" itself, after which it can no longer write its PID file into a
// directory root made, and the switch also clears the parent-death signal
// that would end it if the test process died. So the harness drops to
// "nobody" itself between fork and exec, hands the scratch directory to that
// user, and ngircd never switches (it only does so when started as root).
// ngircd 26 does not chroot unless ChrootDir is set, which the harness never
// does. As a normal user ngircd simply runs as that user.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace qm::test {

struct NgircdOptions {
    // false: ngircd's own limits, as a real network has them (5 connections
    // per IP address, 10 channels per user, commands throttled by penalty
    // time). true: lifted as far as the configuration allows (no per-IP or
    // join limit, no penalty time), for tests about something else.
    bool relaxLimits = false;
    // Seconds of silence after which ngircd PINGs a connection, and then
    // waits as long for the PONG before dropping it. 0: ngircd's defaults
    // (120 and 20). ngircd takes nothing below 5.
    int pingTimeout = 0;
    // Longest nickname ngircd accepts. 0: its default, 9 (as in RFC 2812),
    // which refuses "Night-Wisp" with 432 "Nickname too long, max. 9
    // characters".
    int maxNickLength = 0;
    // Also listen for TLS on a second port, with a fresh self-signed
    // certificate for CN=localhost.
    bool tls = false;
    std::string name = "irc.test";
    std::string motdPhrase = "Quillmoot test server";
};

// Whether something accepts connections on 127.0.0.1:port right now.
bool Accepts(unsigned short port);

class NgircdServer {
public:
    static constexpr const char* kBinary = "/usr/sbin/ngircd";
    static constexpr const char* kOpenssl = "/usr/bin/openssl";
    // Whether ngircd is installed; tests that need it skip without it.
    static bool Available();

    // Writes the configuration (and certificate) but does not start ngircd.
    explicit NgircdServer(NgircdOptions options = {});
    ~NgircdServer();  // Stop()
    NgircdServer(const NgircdServer&) = delete;
    NgircdServer& operator=(const NgircdServer&) = delete;

    // Starts ngircd and waits until it listens. The first start picks free
    // ports (trying fresh ones if ngircd cannot bind them); later starts use
    // the same ports again. Returns false, with a test failure naming the
    // reason and the end of ngircd's log, if it does not come up.
    bool Start();
    // SIGTERM, then SIGKILL if ngircd has not exited after `grace`; reaps it.
    // Clients see their connections close. Does nothing when not running.
    void Stop(std::chrono::milliseconds grace = std::chrono::seconds(5));
    // Whether the started process is still alive (reaps it if it has died).
    bool Running();

    unsigned short Port() const { return port_; }
    unsigned short TlsPort() const { return tlsPort_; }  // 0 without options.tls
    const std::string& Name() const { return options_.name; }
    const std::filesystem::path& Directory() const { return dir_; }
    const std::filesystem::path& ConfigFile() const { return config_; }
    // Empty without options.tls.
    const std::filesystem::path& CertificateFile() const { return certFile_; }
    // SHA-256 fingerprint of the certificate as `openssl x509 -noout
    // -fingerprint -sha256` prints it after the "=": 32 upper-case hex
    // pairs joined by colons ("9E:A9:...:16"). Empty without options.tls.
    const std::string& CertificateFingerprint() const { return fingerprint_; }
    // Everything ngircd has written to stdout/stderr in all its runs.
    std::string Log() const;

private:
    bool WriteConfig();
    bool MakeCertificate();
    // One attempt on the current ports: "" when ngircd listens, else why not.
    std::string Launch();
    std::string LogTail() const;

    NgircdOptions options_;
    std::filesystem::path dir_, config_, logFile_, certFile_, keyFile_;
    std::string fingerprint_;
    unsigned short port_ = 0, tlsPort_ = 0;
    bool portsFixed_ = false;  // after the first successful start
    pid_t pid_ = -1;
    // Whom ngircd runs as: the test's user, or "nobody" when that is root.
    bool dropPrivileges_ = false;
    uid_t runUid_ = 0;
    gid_t runGid_ = 0;
};

}  // namespace qm::test

// For the first line of a test that needs ngircd.
#define QM_REQUIRE_NGIRCD()                                                                     \
    do {                                                                                        \
        if (!::qm::test::NgircdServer::Available())                                             \
            GTEST_SKIP() << ::qm::test::NgircdServer::kBinary                                   \
                         << " is not installed (Debian package ngircd; scripts/install-deps.sh " \
                            "installs it)";                                                     \
    } while (false)
