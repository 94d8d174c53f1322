#include "net/tls_filter.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "scratch_dir.h"

namespace qm {
namespace {

using State = TlsFilter::State;

struct PKeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
using PKeyPtr = std::unique_ptr<EVP_PKEY, PKeyFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;

struct Credentials {
    PKeyPtr key;
    X509Ptr cert;
};

constexpr long kDay = 24 * 60 * 60;

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    ASSERT_NE(ext, nullptr) << value;
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// A certificate for `cn`, signed by `issuer` (self-signed when there is
// none), valid from `fromDays` to `untilDays` days from now.
Credentials MakeCertificate(const char* cn, const char* altNames, bool isCa, const Credentials* issuer,
                            long fromDays = -1, long untilDays = 2) {
    static long serial = 1;
    Credentials made{PKeyPtr(EVP_EC_gen("P-256")), X509Ptr(X509_new())};
    X509* cert = made.cert.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial++);
    X509_gmtime_adj(X509_getm_notBefore(cert), fromDays * kDay);
    X509_gmtime_adj(X509_getm_notAfter(cert), untilDays * kDay);
    X509_set_pubkey(cert, made.key.get());
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509* signer = issuer ? issuer->cert.get() : cert;
    X509_set_issuer_name(cert, X509_get_subject_name(signer));
    AddExtension(cert, signer, NID_basic_constraints, isCa ? "critical,CA:TRUE" : "critical,CA:FALSE");
    AddExtension(cert, signer, NID_subject_key_identifier, "hash");
    AddExtension(cert, signer, NID_authority_key_identifier, "keyid:always");
    if (altNames) AddExtension(cert, signer, NID_subject_alt_name, altNames);
    EXPECT_GT(X509_sign(cert, issuer ? issuer->key.get() : made.key.get(), EVP_sha256()), 0);
    return made;
}

// Made once: key generation is the slow part of these tests.
struct TestPki {
    // Self-signed, as `openssl req -x509` makes them (it marks them CA:TRUE).
    Credentials selfSigned = MakeCertificate("localhost", "DNS:localhost", true, nullptr);
    Credentials ca = MakeCertificate("Quillmoot Test CA", nullptr, true, nullptr);
    Credentials leaf = MakeCertificate("localhost", "DNS:localhost,IP:127.0.0.1", false, &ca);
    Credentials expired = MakeCertificate("localhost", "DNS:localhost", false, &ca, -10, -1);
};

const TestPki& Pki() {
    static const TestPki pki;
    return pki;
}

std::string Sha256Hex(X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(cert, EVP_sha256(), digest, &length);
    std::string hex;
    static const char* digits = "0123456789abcdef";
    for (unsigned int i = 0; i < length; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 15];
    }
    return hex;
}

std::filesystem::path WritePem(const std::filesystem::path& dir, const char* name, X509* cert) {
    const auto path = dir / name;
    BIO* file = BIO_new_file(path.c_str(), "w");
    EXPECT_NE(file, nullptr);
    if (file) {
        PEM_write_bio_X509(file, cert);
        BIO_free(file);
    }
    return path;
}

std::string VerifyError(long code) {
    return std::string("TLS certificate verification failed: ") + X509_verify_cert_error_string(code);
}

// The server end, played with OpenSSL itself over memory BIOs.
class TestServer {
public:
    // `greeting` is sent the moment the handshake completes, as an IRC
    // server sends its first notices.
    explicit TestServer(const Credentials& creds, int maxVersion = 0, std::string greeting = "")
        : greeting_(std::move(greeting)) {
        ctx_ = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(ctx_, creds.cert.get());
        SSL_CTX_use_PrivateKey(ctx_, creds.key.get());
        if (maxVersion != 0) {
            SSL_CTX_set_max_proto_version(ctx_, maxVersion);
            // TLS 1.1 needs SHA-1, which the default security level refuses.
            if (maxVersion < TLS1_2_VERSION) SSL_CTX_set_security_level(ctx_, 0);
        }
        ssl_ = SSL_new(ctx_);
        in_ = BIO_new(BIO_s_mem());
        out_ = BIO_new(BIO_s_mem());
        BIO_set_mem_eof_return(in_, -1);
        SSL_set_bio(ssl_, in_, out_);
        SSL_set_accept_state(ssl_);
    }
    ~TestServer() {
        SSL_free(ssl_);
        SSL_CTX_free(ctx_);
    }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    void FromNetwork(std::string_view bytes) {
        if (!bytes.empty()) BIO_write(in_, bytes.data(), static_cast<int>(bytes.size()));
        if (failed_) return;
        if (!handshakeDone_) {
            ERR_clear_error();
            const int result = SSL_do_handshake(ssl_);
            if (result != 1) {
                if (SSL_get_error(ssl_, result) != SSL_ERROR_WANT_READ) failed_ = true;
                ERR_clear_error();
                return;
            }
            handshakeDone_ = true;
            if (!greeting_.empty()) Send(greeting_);
        }
        char buffer[4096];
        for (;;) {
            std::size_t got = 0;
            ERR_clear_error();
            if (SSL_read_ex(ssl_, buffer, sizeof buffer, &got) == 1) {
                received += std::string_view(buffer, got);
                continue;
            }
            const int error = SSL_get_error(ssl_, 0);
            if (error == SSL_ERROR_ZERO_RETURN) peerClosed = true;
            else if (error != SSL_ERROR_WANT_READ) failed_ = true;
            ERR_clear_error();
            return;
        }
    }
    void Send(std::string_view bytes) {
        std::size_t written = 0;
        ASSERT_EQ(SSL_write_ex(ssl_, bytes.data(), bytes.size(), &written), 1);
    }
    void Shutdown() { SSL_shutdown(ssl_); }
    std::string TakeOutgoing() {
        char* data = nullptr;
        const long size = BIO_get_mem_data(out_, &data);
        std::string bytes(data, static_cast<std::size_t>(size));
        (void)BIO_reset(out_);
        return bytes;
    }
    // The name the client asked for; empty when it sent none.
    std::string Sni() const {
        const char* name = SSL_get_servername(ssl_, TLSEXT_NAMETYPE_host_name);
        return name ? name : "";
    }
    bool HandshakeDone() const { return handshakeDone_; }

    std::string received;
    bool peerClosed = false;

private:
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    BIO* in_ = nullptr;
    BIO* out_ = nullptr;
    std::string greeting_;
    bool handshakeDone_ = false;
    bool failed_ = false;
};

constexpr std::size_t kWhole = std::numeric_limits<std::size_t>::max();

// Moves bytes both ways until neither side has anything to say, cutting
// every transfer into reads of at most `readSize` bytes as a socket may.
// The client's plaintext is appended to `toClient`.
void Pump(TlsFilter& client, TestServer& server, std::string& toClient, std::size_t readSize = kWhole) {
    for (int round = 0; round < 100; ++round) {
        std::string clientBytes;
        client.TakeOutgoing(clientBytes);
        for (std::size_t at = 0; at < clientBytes.size(); at += readSize) {
            server.FromNetwork(std::string_view(clientBytes).substr(at, readSize));
        }
        if (clientBytes.empty()) server.FromNetwork({});
        const std::string serverBytes = server.TakeOutgoing();
        for (std::size_t at = 0; at < serverBytes.size(); at += readSize) {
            client.FromNetwork(std::string_view(serverBytes).substr(at, readSize), toClient);
        }
        if (clientBytes.empty() && serverBytes.empty() && !client.HasOutgoing()) return;
    }
    ADD_FAILURE() << "the exchange never went quiet";
}

enum class Cert { kSelfSigned, kLeaf, kExpired };

const Credentials& CredentialsOf(Cert which) {
    switch (which) {
        case Cert::kSelfSigned: return Pki().selfSigned;
        case Cert::kLeaf: return Pki().leaf;
        case Cert::kExpired: return Pki().expired;
    }
    return Pki().selfSigned;
}

enum class Trust { kSystem, kSelfSignedFile, kCaFile, kCaDir };

struct HandshakeCase {
    std::string name;
    Cert cert;
    std::string pin;
    Trust trust;
    std::string host;
    std::string reason;  // empty: the handshake succeeds
    std::string sni;     // what the server sees (on success)
};

std::vector<HandshakeCase> HandshakeCases() {
    const std::string selfFp = Sha256Hex(Pki().selfSigned.cert.get());
    const std::string leafFp = Sha256Hex(Pki().leaf.cert.get());
    const std::string caFp = Sha256Hex(Pki().ca.cert.get());
    const auto pinMismatch = [](const std::string& got) {
        return "TLS certificate does not match the pinned fingerprint (got " + FormatFingerprint(got) + ")";
    };
    return {
        {"pin as openssl prints it matches a self-signed certificate", Cert::kSelfSigned,
         FormatFingerprint(selfFp), Trust::kSystem, "localhost", "", "localhost"},
        {"pin in lower case without colons; the name is not checked", Cert::kSelfSigned, selfFp, Trust::kSystem,
         "irc.example.net", "", "irc.example.net"},
        {"pin with an address sends no SNI", Cert::kSelfSigned, selfFp, Trust::kSystem, "127.0.0.1", "", ""},
        {"wrong pin", Cert::kSelfSigned, caFp, Trust::kSystem, "localhost", pinMismatch(selfFp), ""},
        {"pin of the issuing CA is not the server's certificate", Cert::kLeaf, caFp, Trust::kCaFile, "localhost",
         pinMismatch(leafFp), ""},
        {"a pinned certificate needs no valid dates: the pin is the trust",
         Cert::kExpired, Sha256Hex(Pki().expired.cert.get()), Trust::kSystem, "localhost", "", "localhost"},
        {"self-signed and not trusted", Cert::kSelfSigned, "", Trust::kSystem, "localhost",
         VerifyError(X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT), ""},
        {"self-signed and given as the CA file", Cert::kSelfSigned, "", Trust::kSelfSignedFile, "localhost", "",
         "localhost"},
        {"self-signed, trusted, other host", Cert::kSelfSigned, "", Trust::kSelfSignedFile, "otherhost",
         VerifyError(X509_V_ERR_HOSTNAME_MISMATCH), ""},
        {"issued by an unknown CA", Cert::kLeaf, "", Trust::kSystem, "localhost",
         VerifyError(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY), ""},
        {"issued by the CA file's CA", Cert::kLeaf, "", Trust::kCaFile, "localhost", "", "localhost"},
        {"issued by a CA from the CA directory", Cert::kLeaf, "", Trust::kCaDir, "localhost", "", "localhost"},
        {"a trailing dot is no part of the name", Cert::kLeaf, "", Trust::kCaFile, "localhost.", "", "localhost"},
        {"address in the certificate", Cert::kLeaf, "", Trust::kCaFile, "127.0.0.1", "", ""},
        {"other host", Cert::kLeaf, "", Trust::kCaFile, "otherhost", VerifyError(X509_V_ERR_HOSTNAME_MISMATCH), ""},
        {"a wildcard-free name is not a suffix match", Cert::kLeaf, "", Trust::kCaFile, "evil-localhost",
         VerifyError(X509_V_ERR_HOSTNAME_MISMATCH), ""},
        {"other address", Cert::kLeaf, "", Trust::kCaFile, "127.0.0.2", VerifyError(X509_V_ERR_IP_ADDRESS_MISMATCH),
         ""},
        {"expired", Cert::kExpired, "", Trust::kCaFile, "localhost", VerifyError(X509_V_ERR_CERT_HAS_EXPIRED), ""},
    };
}

TlsClientConfig ConfigFor(const HandshakeCase& c, const std::filesystem::path& dir) {
    TlsClientConfig config{c.host, c.pin, "", ""};
    switch (c.trust) {
        case Trust::kSystem: break;
        case Trust::kSelfSignedFile:
            config.caFile = WritePem(dir, "self.pem", Pki().selfSigned.cert.get());
            break;
        case Trust::kCaFile: config.caFile = WritePem(dir, "ca.pem", Pki().ca.cert.get()); break;
        case Trust::kCaDir: {
            // A CA directory holds the certificates under their subject hash.
            const auto caDir = dir / "cadir";
            std::filesystem::create_directories(caDir);
            char hashName[32];
            std::snprintf(hashName, sizeof hashName, "%08lx.0", X509_subject_name_hash(Pki().ca.cert.get()));
            WritePem(caDir, hashName, Pki().ca.cert.get());
            config.caDir = caDir;
            break;
        }
    }
    return config;
}

TEST(TlsFilterHandshake, OutcomeByCertificateAndTrust) {
    const auto dir = test::MakeScratchDir("tls");
    for (const auto& c : HandshakeCases()) {
        for (int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
            SCOPED_TRACE(c.name + (version == TLS1_2_VERSION ? " (TLS 1.2)" : " (TLS 1.3)"));
            TestServer server(CredentialsOf(c.cert), version);
            TlsFilter client(ConfigFor(c, dir));
            client.ToNetwork("NICK early\r\n");  // before the handshake: held until it succeeds
            client.Start();
            EXPECT_EQ(client.state(), State::kHandshaking);
            std::string toClient;
            Pump(client, server, toClient);
            EXPECT_EQ(toClient, "");
            if (c.reason.empty()) {
                EXPECT_EQ(client.state(), State::kOpen);
                EXPECT_EQ(client.FailureReason(), "");
                EXPECT_EQ(server.received, "NICK early\r\n");
                EXPECT_EQ(server.Sni(), c.sni);
            } else {
                EXPECT_EQ(client.state(), State::kFailed);
                EXPECT_EQ(client.FailureReason(), c.reason);
                // Nothing the user queued may reach a server that was refused.
                EXPECT_EQ(server.received, "");
                client.ToNetwork("more\r\n");
                std::string after;
                client.TakeOutgoing(after);
                server.FromNetwork(after);
                EXPECT_EQ(server.received, "");
            }
        }
    }
}

// Failures whose detail is OpenSSL's wording or a path: the start of the
// reason is ours and is what a person reads first.
TEST(TlsFilterHandshake, SetUpAndProtocolFailures) {
    const auto dir = test::MakeScratchDir("tls");
    struct Case {
        const char* name;
        TlsClientConfig config;
        int serverMaxVersion;
        std::string reasonStart;
    };
    const std::string missing = (dir / "missing.pem").string();
    const std::vector<Case> cases = {
        {"pin with a non-hex digit", {"localhost", "xy", "", ""}, 0,
         "TLS pinned fingerprint is invalid: the fingerprint contains 'x', which is not a hex digit"},
        {"pin too short", {"localhost", "AB:CD", "", ""}, 0,
         "TLS pinned fingerprint is invalid: the fingerprint has 4 hex digits; a SHA-256 fingerprint has 64"},
        {"no host and no pin", {"", "", "", ""}, 0,
         "TLS setup failed: no server host name to verify the certificate against"},
        {"CA file missing", {"localhost", "", missing, ""}, 0,
         "TLS setup failed: cannot load CA certificates from " + missing + ": No such file or directory"},
        {"server speaks only TLS 1.1", {"localhost", Sha256Hex(Pki().selfSigned.cert.get()), "", ""},
         // The server's alert: our hello offered nothing older than TLS 1.2.
         TLS1_1_VERSION, "TLS handshake failed: tlsv1 alert protocol version"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server(Pki().selfSigned, c.serverMaxVersion);
        TlsFilter client(c.config);
        client.ToNetwork("NICK early\r\n");
        client.Start();
        std::string toClient;
        Pump(client, server, toClient);
        EXPECT_EQ(client.state(), State::kFailed);
        EXPECT_EQ(client.FailureReason().substr(0, c.reasonStart.size()), c.reasonStart)
            << client.FailureReason();
        EXPECT_GT(client.FailureReason().size(), std::string_view("TLS handshake failed: ").size());
        EXPECT_FALSE(server.HandshakeDone());
        EXPECT_EQ(server.received, "");
    }
}

// Bytes with every value, in an order that makes a lost, doubled or swapped
// piece show.
std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::mt19937 random(seed);
    for (auto& byte : bytes) byte = static_cast<char>(random() & 0xff);
    return bytes;
}

TEST(TlsFilterData, BothWaysInOrderWhateverTheReadSize) {
    const std::string fromServer = Pattern(100 * 1024, 1);
    const std::string fromClient = Pattern(100 * 1024, 2);
    for (int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
        for (std::size_t readSize : {kWhole, std::size_t{1}, std::size_t{1500}}) {
            SCOPED_TRACE(testing::Message() << "version " << std::hex << version << std::dec << ", reads of "
                                            << (readSize == kWhole ? 0 : readSize) << " (0: whole)");
            // With TLS 1.2 the greeting comes in the same flight as the
            // server's Finished, so often in the read that ends the handshake.
            const std::string greeting = ":irc.example.net NOTICE * :*** Looking up your hostname\r\n";
            TestServer server(Pki().selfSigned, version, greeting);
            TlsFilter client({"localhost", Sha256Hex(Pki().selfSigned.cert.get()), "", ""});
            client.ToNetwork("CAP LS 302\r\n");
            client.Start();
            client.ToNetwork("NICK quill\r\n");  // during the handshake
            std::string toClient;
            Pump(client, server, toClient, readSize);
            ASSERT_EQ(client.state(), State::kOpen);
            EXPECT_EQ(server.received, "CAP LS 302\r\nNICK quill\r\n");
            EXPECT_EQ(toClient, greeting);
            toClient.clear();

            server.received.clear();
            server.Send(":server 001 quill :Welcome\r\n");
            server.Send(fromServer);
            for (std::size_t at = 0; at < fromClient.size(); at += 7000) client.ToNetwork(fromClient.substr(at, 7000));
            client.ToNetwork("");  // nothing, and no empty record
            EXPECT_GT(client.BufferedBytes(), fromClient.size());  // the ciphertext waits for TakeOutgoing
            Pump(client, server, toClient, readSize);
            EXPECT_EQ(client.state(), State::kOpen);
            EXPECT_TRUE(toClient == ":server 001 quill :Welcome\r\n" + fromServer) << "received " << toClient.size();
            EXPECT_TRUE(server.received == fromClient) << "received " << server.received.size();
            EXPECT_EQ(client.BufferedBytes(), 0u);
        }
    }
}

TEST(TlsFilterClose, CloseNotifyEitherWay) {
    const std::string pin = Sha256Hex(Pki().selfSigned.cert.get());
    for (int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
        SCOPED_TRACE(version == TLS1_2_VERSION ? "TLS 1.2" : "TLS 1.3");
        {
            SCOPED_TRACE("the server closes first");
            TestServer server(Pki().selfSigned, version);
            TlsFilter client({"localhost", pin, "", ""});
            client.Start();
            std::string toClient;
            Pump(client, server, toClient);
            server.Send("ERROR :Closing link\r\n");
            server.Shutdown();
            std::string bytes = server.TakeOutgoing();
            // Whatever follows close_notify in the same read is not looked at.
            bytes += "\x17\x03\x03\x00\x05junk";
            client.FromNetwork(bytes, toClient);
            EXPECT_EQ(toClient, "ERROR :Closing link\r\n");
            EXPECT_EQ(client.state(), State::kClosed);
            EXPECT_EQ(client.FailureReason(), "");
            client.ToNetwork("too late\r\n");
            client.Shutdown();  // answers with close_notify of our own
            Pump(client, server, toClient);
            EXPECT_EQ(server.received, "");
            EXPECT_TRUE(server.peerClosed);
        }
        {
            SCOPED_TRACE("the client closes first");
            TestServer server(Pki().selfSigned, version);
            TlsFilter client({"localhost", pin, "", ""});
            client.Start();
            std::string toClient;
            Pump(client, server, toClient);
            client.ToNetwork("QUIT :bye\r\n");
            client.Shutdown();
            client.ToNetwork("after the close\r\n");
            Pump(client, server, toClient);
            EXPECT_EQ(server.received, "QUIT :bye\r\n");
            EXPECT_TRUE(server.peerClosed);
            EXPECT_EQ(client.state(), State::kOpen);  // the server's last words may still come
            server.Send("ERROR :Quit\r\n");
            server.Shutdown();
            Pump(client, server, toClient);
            EXPECT_EQ(toClient, "ERROR :Quit\r\n");
            EXPECT_EQ(client.state(), State::kClosed);
        }
    }
    {
        SCOPED_TRACE("shut down during the handshake");
        TestServer server(Pki().selfSigned);
        TlsFilter client({"localhost", pin, "", ""});
        client.ToNetwork("NICK early\r\n");
        client.Start();
        client.Shutdown();
        EXPECT_EQ(client.state(), State::kClosed);
        client.TakeOutgoing(server.received);  // the ClientHello, already queued
        std::string more;
        client.FromNetwork("\x16\x03\x03\x00\x01x", more);
        EXPECT_EQ(client.state(), State::kClosed);
        EXPECT_FALSE(client.HasOutgoing());
        EXPECT_EQ(more, "");
    }
}

std::string Repeat(std::string_view unit, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += unit;
    return out;
}

// What a broken or hostile peer might send, during the handshake or after.
TEST(TlsFilterHostile, GarbageFailsWithoutCrashOrGrowth) {
    const std::string zeros16k(16 * 1024, '\0');
    const std::string bigRecordHeader("\x16\x03\x03\x40\x00", 5);  // handshake record of 16 KB
    struct Case {
        const char* name;
        bool afterHandshake;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"random bytes", false, Pattern(256 * 1024, 3)},
        {"an HTTP answer", false, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"},
        {"a plain IRC server", false, Repeat(":irc.example.net NOTICE * :*** Looking up your hostname\r\n", 1000)},
        {"a record longer than TLS allows", false, std::string("\x16\x03\x03\xff\xff", 5) + Pattern(70000, 4)},
        {"a server hello claiming 16 MB, then more and more", false,
         std::string("\x16\x03\x03\x00\x04\x02\xff\xff\xff", 9) + Repeat(bigRecordHeader + zeros16k, 64)},
        {"a certificate message claiming 16 MB, out of turn", false,
         std::string("\x16\x03\x03\x00\x04\x0b\xff\xff\xff", 9) + Repeat(bigRecordHeader + zeros16k, 64)},
        {"random bytes once open", true, Pattern(256 * 1024, 5)},
        {"an application record with a forged body", true,
         std::string("\x17\x03\x03\x01\x00", 5) + Pattern(256, 6)},
        {"a plaintext handshake record once open", true, std::string("\x16\x03\x03\x00\x04\x00\x00\x00\x00", 9)},
    };
    const std::string pin = Sha256Hex(Pki().selfSigned.cert.get());
    for (const auto& c : cases) {
        for (std::size_t readSize : {std::size_t{4096}, c.bytes.size()}) {
            SCOPED_TRACE(testing::Message() << c.name << ", reads of " << readSize);
            TestServer server(Pki().selfSigned);
            TlsFilter client({"localhost", pin, "", ""});
            client.Start();
            std::string toClient;
            if (c.afterHandshake) {
                Pump(client, server, toClient);
                ASSERT_EQ(client.state(), State::kOpen);
            }
            std::string ignored;
            client.TakeOutgoing(ignored);
            std::size_t most = 0;
            for (std::size_t at = 0; at < c.bytes.size(); at += readSize) {
                client.FromNetwork(std::string_view(c.bytes).substr(at, readSize), toClient);
                most = std::max(most, client.BufferedBytes());
            }
            EXPECT_EQ(client.state(), State::kFailed);
            const std::string expected = c.afterHandshake ? "TLS connection failed: " : "TLS handshake failed: ";
            EXPECT_EQ(client.FailureReason().substr(0, expected.size()), expected) << client.FailureReason();
            EXPECT_GT(client.FailureReason().size(), expected.size());
            EXPECT_EQ(toClient, "");
            // At most one record held, whatever the peer sends.
            EXPECT_LE(most, std::size_t{64 * 1024});
            // A failed filter ignores whatever else arrives.
            const std::string reason = client.FailureReason();
            client.FromNetwork(c.bytes, toClient);
            EXPECT_EQ(client.FailureReason(), reason);
            EXPECT_EQ(toClient, "");
        }
    }
}

TEST(TlsFingerprint, Normalize) {
    const std::string hex = "3f8a0c1d2e4b5a69788796a5b4c3d2e1f00f1e2d3c4b5a69788796a5b4c3d2e1";
    const std::string upperColons = FormatFingerprint(hex);
    ASSERT_EQ(upperColons.size(), 95u);
    struct Case {
        const char* name;
        std::string text;
        std::string hex;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"lower case hex as is", hex, hex, ""},
        {"upper case with colons", upperColons, hex, ""},
        {"blanks between pairs and around", "  3F 8A 0C 1D 2E 4B 5A 69 78 87 96 A5 B4 C3 D2 "
                                                   "E1 F0 0F 1E 2D 3C 4B 5A 69 78 87 96 A5 B4 C3 D2 E1\t\n",
         hex, ""},
        {"the whole line openssl prints", "sha256 Fingerprint=" + upperColons, hex, ""},
        {"older openssl's spelling", "SHA256 Fingerprint=" + upperColons, hex, ""},
        {"another digest", "SHA1 Fingerprint=AB:CD", "", "\"SHA1 Fingerprint\" is not a SHA-256 fingerprint"},
        {"empty", "", "", "the fingerprint is empty"},
        {"only colons and blanks", ": : :", "", "the fingerprint is empty"},
        {"one digit short", hex.substr(1), "", "the fingerprint has 63 hex digits; a SHA-256 fingerprint has 64"},
        {"a SHA-1 length", hex.substr(0, 40), "", "the fingerprint has 40 hex digits; a SHA-256 fingerprint has 64"},
        {"one digit long", hex + "0", "", "the fingerprint has more than 64 hex digits; a SHA-256 fingerprint has 64"},
        {"a letter past f", "g" + hex.substr(1), "", "the fingerprint contains 'g', which is not a hex digit"},
        {"a hyphen", "3f-8a", "", "the fingerprint contains '-', which is not a hex digit"},
        {"a control byte", "3f\x01" "8a", "", "the fingerprint contains byte 0x01, which is not a hex digit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const NormalizedFingerprint got = NormalizeFingerprint(c.text);
        EXPECT_EQ(got.hex, c.hex);
        EXPECT_EQ(got.error, c.error);
        EXPECT_EQ(got.Valid(), c.error.empty());
    }
}

// The pin a user copies from the openssl tool is the pin the filter checks.
TEST(TlsFingerprint, MatchesTheOpensslToolsOutput) {
    const char* tool = "/usr/bin/openssl";
    if (!std::filesystem::exists(tool)) GTEST_SKIP() << "no " << tool;
    const auto dir = test::MakeScratchDir("tls");
    const auto pem = WritePem(dir, "server.pem", Pki().selfSigned.cert.get());
    const std::string command = std::string(tool) + " x509 -noout -fingerprint -sha256 -in " + pem.string();
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[512] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    ASSERT_EQ(pclose(pipe), 0);
    ASSERT_TRUE(read);

    TestServer server(Pki().selfSigned);
    TlsFilter client({"localhost", line, "", ""});
    client.Start();
    std::string toClient;
    Pump(client, server, toClient);
    EXPECT_EQ(client.state(), State::kOpen) << line << client.FailureReason();
}

// Against another TLS implementation's process over a real loopback socket:
// the filter driven the way a connection drives it, one read at a time.
class OpensslServerProcess {
public:
    OpensslServerProcess(const char* tool, const std::filesystem::path& dir) : output_(dir / "s_server.out") {
        const auto cert = WritePem(dir, "cert.pem", Pki().selfSigned.cert.get());
        const auto key = dir / "key.pem";
        BIO* file = BIO_new_file(key.c_str(), "w");
        PEM_write_bio_PrivateKey(file, Pki().selfSigned.key.get(), nullptr, nullptr, 0, nullptr, nullptr);
        BIO_free(file);
        port_ = FreeLoopbackPort();
        const std::string accept = "127.0.0.1:" + std::to_string(port_);
        int input[2];
        if (pipe(input) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(input[0], 0);
            const int out = open(output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 1);
            dup2(out, 2);
            close(input[1]);
            execl(tool, tool, "s_server", "-accept", accept.c_str(), "-naccept", "1", "-cert", cert.c_str(),
                  "-key", key.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(input[0]);
        stdin_ = input[1];
    }
    ~OpensslServerProcess() {
        if (stdin_ >= 0) close(stdin_);
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    OpensslServerProcess(const OpensslServerProcess&) = delete;
    OpensslServerProcess& operator=(const OpensslServerProcess&) = delete;

    // What the server typed out: its log and the client's plaintext.
    std::string Output() const {
        std::ifstream in(output_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    // Keys typed at the server: sent to the client, or a command ("Q").
    void Type(std::string_view text) const { ASSERT_EQ(write(stdin_, text.data(), text.size()), static_cast<ssize_t>(text.size())); }

    // Connects, retrying while the server is still starting.
    int Connect() const {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < giveUp) {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(port_);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
            close(fd);
            usleep(50 * 1000);
        }
        return -1;
    }

private:
    static int FreeLoopbackPort() {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        close(fd);
        return ntohs(address.sin_port);
    }

    std::filesystem::path output_;
    int port_ = 0;
    pid_t pid_ = -1;
    int stdin_ = -1;
};

// Writes what the filter has for the socket and feeds it what the socket
// reads, until `done` holds, the socket ends, or a generous bound passes
// (a hung peer must not hang the suite).
bool PumpSocket(int fd, TlsFilter& client, std::string& plaintext, const std::function<bool()>& done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::array<char, 4096> buffer;
    while (std::chrono::steady_clock::now() < giveUp) {
        std::string out;
        client.TakeOutgoing(out);
        for (std::size_t at = 0; at < out.size();) {
            const ssize_t sent = send(fd, out.data() + at, out.size() - at, MSG_NOSIGNAL);
            if (sent <= 0) return done();
            at += static_cast<std::size_t>(sent);
        }
        if (done()) return true;
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, 50) <= 0) continue;
        const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
        if (got <= 0) return done();
        client.FromNetwork(std::string_view(buffer.data(), static_cast<std::size_t>(got)), plaintext);
    }
    return done();
}

TEST(TlsFilterLoopback, TalksToOpensslServer) {
    const char* tool = "/usr/bin/openssl";
    if (!std::filesystem::exists(tool)) GTEST_SKIP() << "no " << tool;
    const auto dir = test::MakeScratchDir("tls");
    OpensslServerProcess server(tool, dir);
    const int fd = server.Connect();
    ASSERT_GE(fd, 0) << server.Output();

    TlsFilter client({"localhost", FormatFingerprint(Sha256Hex(Pki().selfSigned.cert.get())), "", ""});
    client.ToNetwork("NICK quill\n");
    client.Start();
    std::string plaintext;
    EXPECT_TRUE(PumpSocket(fd, client, plaintext, [&] {
        return client.state() != State::kHandshaking &&
               server.Output().find("NICK quill\n") != std::string::npos;
    })) << server.Output();
    EXPECT_EQ(client.state(), State::kOpen) << client.FailureReason();

    // A line typed at s_server that starts with one of its command letters
    // (P, Q, r, ...) is a command, so this one starts with a colon.
    server.Type(":irc.example.net NOTICE quill :from the server\n");
    EXPECT_TRUE(PumpSocket(fd, client, plaintext,
                           [&] { return plaintext == ":irc.example.net NOTICE quill :from the server\n"; }))
        << plaintext;
    client.ToNetwork("PONG :from the client\n");
    EXPECT_TRUE(PumpSocket(fd, client, plaintext, [&] {
        return server.Output().find("PONG :from the client\n") != std::string::npos;
    })) << server.Output();

    // s_server never sends a close_notify of its own (it hangs up), but it
    // reports ours: "DONE" is what it prints when the client closed cleanly.
    client.Shutdown();
    client.ToNetwork("after the close\n");
    EXPECT_TRUE(PumpSocket(fd, client, plaintext,
                           [&] { return server.Output().find("DONE\n") != std::string::npos; }))
        << server.Output();
    EXPECT_EQ(server.Output().find("after the close"), std::string::npos);
    close(fd);
}

}  // namespace
}  // namespace qm
