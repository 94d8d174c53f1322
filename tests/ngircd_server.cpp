#include "ngircd_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>
#include <vector>

#include "scratch_dir.h"

namespace qm::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// How long ngircd may take to listen. With TLS and no DHFile it first
// generates Diffie-Hellman parameters, which takes a moment on a slow machine.
constexpr auto kStartLimit = 30s;
// Fresh port pairs tried on the first start when ngircd cannot bind.
constexpr int kPortAttempts = 5;

// A port nobody listens on right now: the kernel's choice for port 0.
// `avoid` keeps the TLS port apart from the plain one.
unsigned short FreePort(unsigned short avoid = 0) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return 0;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        unsigned short port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            port = ntohs(addr.sin_port);
        ::close(fd);
        if (port != 0 && port != avoid) return port;
    }
    return 0;
}


std::string ReadFile(const fs::path& path, std::size_t from = 0) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    in.seekg(static_cast<std::streamoff>(from));
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string ExitText(int status) {
    if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("was killed by ") + ::strsignal(WTERMSIG(status));
    return "stopped";
}

// Runs a program (no shell) and returns its exit status; its stdout goes
// to `output` when given, stderr to the log `errors`.
int RunProgram(const std::vector<std::string>& argv, const fs::path& errors, std::string* output) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return -1;
    const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(null, 0);
        ::dup2(out[1], 1);
        ::dup2(err >= 0 ? err : null, 2);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    if (err >= 0) ::close(err);
    if (null >= 0) ::close(null);
    std::string text;
    char chunk[4096];
    ssize_t n;
    while (pid > 0 && (n = ::read(out[0], chunk, sizeof chunk)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    if (output) *output = text;
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool Accepts(unsigned short port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

bool NgircdServer::Available() { return ::access(kBinary, X_OK) == 0; }

NgircdServer::NgircdServer(NgircdOptions options) : options_(std::move(options)) {
    // A test may run more than one server (two IRC networks).
    static int serial = 0;
    dir_ = MakeScratchDir("ngircd" + std::to_string(++serial));
    config_ = dir_ / "ngircd.conf";
    logFile_ = dir_ / "ngircd.log";
    runUid_ = ::geteuid();
    runGid_ = ::getegid();
    if (runUid_ == 0) {
        dropPrivileges_ = true;
        runUid_ = 65534;
        runGid_ = 65534;
        if (const passwd* pw = ::getpwnam("nobody")) {
            runUid_ = pw->pw_uid;
            runGid_ = pw->pw_gid;
        }
    }
    // Clients see the MotdPhrase (ngircd prefers it to the file); the file
    // keeps ngircd away from the system's /etc/ngircd/ngircd.motd.
    std::ofstream(dir_ / "ngircd.motd") << options_.motdPhrase << "\n";
    if (options_.tls && !MakeCertificate()) ADD_FAILURE() << "no TLS certificate:\n" << LogTail();
}

NgircdServer::~NgircdServer() {
    Stop();
    // Kept after a failure: its log and configuration tell what happened.
    if (::testing::Test::HasFailure()) {
        std::cerr << "ngircd's configuration and log are in " << dir_.string() << "\n";
    } else {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
}

bool NgircdServer::MakeCertificate() {
    certFile_ = dir_ / "cert.pem";
    keyFile_ = dir_ / "key.pem";
    // Two days: long enough for any test run, and short-lived if ever copied.
    const int made = RunProgram({kOpenssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                                 "/CN=localhost", "-addext", "subjectAltName=DNS:localhost", "-keyout",
                                 keyFile_.string(), "-out", certFile_.string()},
                                logFile_, nullptr);
    if (made != 0) return false;
    std::string printed;
    if (RunProgram({kOpenssl, "x509", "-noout", "-fingerprint", "-sha256", "-in", certFile_.string()}, logFile_,
                   &printed) != 0)
        return false;
    // "sha256 Fingerprint=9E:A9:...\n" (older releases write "SHA256").
    const auto eq = printed.find('=');
    if (eq == std::string::npos) return false;
    fingerprint_ = printed.substr(eq + 1);
    while (!fingerprint_.empty() && (fingerprint_.back() == '\n' || fingerprint_.back() == '\r'))
        fingerprint_.pop_back();
    return true;
}

bool NgircdServer::WriteConfig() {
    std::ofstream out(config_, std::ios::trunc);
    out << "# One test's ngircd: loopback only, no lookups, files in this directory.\n"
        << "[Global]\n"
        << "\tName = " << options_.name << "\n"
        << "\tInfo = Quillmoot test server\n"
        // Without them ngircd warns on every start that RFC wants them.
        << "\tAdminInfo1 = Quillmoot tests\n"
        << "\tAdminInfo2 = loopback\n"
        << "\tAdminEMail = root@localhost\n"
        // The user it already runs as (see the header); without these it
        // claims to fall back from root to "nobody" even when not root.
        << "\tServerUID = " << runUid_ << "\n"
        << "\tServerGID = " << runGid_ << "\n"
        << "\tListen = 127.0.0.1\n"
        << "\tPorts = " << port_ << "\n"
        // Strings are taken as they stand: quotes would reach the clients.
        << "\tMotdPhrase = " << options_.motdPhrase << "\n"
        << "\tMotdFile = " << (dir_ / "ngircd.motd").string() << "\n"
        << "\tPidFile = " << (dir_ / "ngircd.pid").string() << "\n";
    out << "[Limits]\n";
    if (options_.relaxLimits) {
        out << "\tMaxConnections = 0\n"
            << "\tMaxConnectionsIP = 0\n"
            << "\tMaxJoins = 0\n"
            << "\tMaxPenaltyTime = 0\n";
    }
    if (options_.maxNickLength > 0) out << "\tMaxNickLength = " << options_.maxNickLength << "\n";
    if (options_.pingTimeout > 0) {
        out << "\tPingTimeout = " << options_.pingTimeout << "\n"
            << "\tPongTimeout = " << options_.pingTimeout << "\n";
    }
    out << "[Options]\n"
        << "\tDNS = no\n"
        << "\tIdent = no\n"
        << "\tPAM = no\n"
        << "\tConnectIPv6 = no\n";
    if (options_.tls) {
        out << "[SSL]\n"
            << "\tCertFile = " << certFile_.string() << "\n"
            << "\tKeyFile = " << keyFile_.string() << "\n"
            << "\tPorts = " << tlsPort_ << "\n";
    }
    out.close();
    if (!out) return false;
    if (dropPrivileges_) {
        // ngircd runs as runUid_: it writes its PID file here and reads the
        // key and configuration again on REHASH.
        std::error_code ec;
        for (const auto& entry : fs::recursive_directory_iterator(dir_, ec))
            if (::chown(entry.path().c_str(), runUid_, runGid_) != 0) return false;
        if (ec || ::chown(dir_.c_str(), runUid_, runGid_) != 0) return false;
    }
    return true;
}

std::string NgircdServer::Log() const { return ReadFile(logFile_); }

std::string NgircdServer::LogTail() const {
    const std::string log = Log();
    return log.size() > 3000 ? "..." + log.substr(log.size() - 3000) : log;
}

bool NgircdServer::Start() {
    if (pid_ > 0) return true;
    std::string why;
    for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
        if (!portsFixed_) {
            port_ = FreePort();
            tlsPort_ = options_.tls ? FreePort(port_) : 0;
            if (port_ == 0 || (options_.tls && tlsPort_ == 0)) {
                why = "no free loopback port";
                continue;
            }
        } else if (attempt > 0) {
            // The same ports again: wait for whoever holds one to let go.
            std::this_thread::sleep_for(200ms);
        }
        why = Launch();
        if (why.empty()) {
            portsFixed_ = true;
            return true;
        }
    }
    ADD_FAILURE() << "ngircd did not start on port " << port_ << ": " << why << "\nits log:\n" << LogTail();
    return false;
}

std::string NgircdServer::Launch() {
    if (!WriteConfig()) return "cannot write " + config_.string();
    std::error_code ec;
    const auto logStart = fs::exists(logFile_) ? fs::file_size(logFile_, ec) : 0;

    // Everything the child needs is prepared before fork: between fork and
    // exec only async-signal-safe calls are allowed.
    std::vector<std::string> argv{kBinary, "-n", "-f", config_.string()};
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    const int log = ::open(logFile_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (log < 0 || null < 0) {
        if (log >= 0) ::close(log);
        if (null >= 0) ::close(null);
        return "cannot open " + logFile_.string();
    }
    if (dropPrivileges_ && ::fchown(log, runUid_, runGid_) != 0) {
        ::close(log);
        ::close(null);
        return "cannot hand the log to the server's user";
    }
    const pid_t parent = ::getpid();
    const bool drop = dropPrivileges_;
    const uid_t uid = runUid_;
    const gid_t gid = runGid_;

    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(log);
        ::close(null);
        return std::string("fork: ") + std::strerror(errno);
    }
    if (pid == 0) {
        ::dup2(null, 0);
        ::dup2(log, 1);
        ::dup2(log, 2);
        // The test process's sockets (chat servers, clients) stay with it.
        ::close_range(3, ~0U, 0);
        if (drop && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)) {
            static const char kMsg[] = "harness: cannot drop privileges\n";
            [[maybe_unused]] auto ignored = ::write(2, kMsg, sizeof kMsg - 1);
            ::_exit(126);
        }
        // Set after the credential change, which would clear it: ngircd ends
        // with the test process even if that one crashes.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(0);
        ::execv(args[0], args.data());
        static const char kMsg[] = "harness: cannot execute ngircd\n";
        [[maybe_unused]] auto ignored = ::write(2, kMsg, sizeof kMsg - 1);
        ::_exit(127);
    }
    ::close(log);
    ::close(null);
    pid_ = pid;

    // Ready when ngircd has said it listens on every port and the plain one
    // accepts a connection; a port some other program grabbed meanwhile
    // shows up as "Can't bind" in the log.
    const std::string plain = "Now listening on [127.0.0.1]:" + std::to_string(port_) + " ";
    const std::string secure = "Now listening on [127.0.0.1]:" + std::to_string(tlsPort_) + " ";
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return "ngircd " + ExitText(status);
        }
        const std::string out = ReadFile(logFile_, logStart);
        if (out.find("Can't bind") != std::string::npos) {
            Stop();
            return "a port is taken";
        }
        if (out.find(plain) != std::string::npos && (!options_.tls || out.find(secure) != std::string::npos) &&
            Accepts(port_))
            return "";
        std::this_thread::sleep_for(10ms);
    }
    Stop();
    return "not listening after " + std::to_string(kStartLimit.count()) + " s";
}

void NgircdServer::Stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno == ECHILD)) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(5ms);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

bool NgircdServer::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
}

}  // namespace qm::test
