#include "net/tls_filter.h"

#include "net/tls_server_context.h"

#include <fmt/format.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <system_error>
#include <utility>

namespace qm {
namespace {

constexpr std::size_t kSha256HexDigits = 64;

// Ciphertext is handed to OpenSSL in slices of this size and each slice is
// processed before the next is taken, so a large read never piles up inside
// the memory BIO and bytes after a failure or close_notify are never parsed.
// A little over one full TLS record.
constexpr std::size_t kFeedSlice = 17 * 1024;

bool IsBlank(char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; }

std::string LowerNoBlanks(std::string_view text) {
    std::string out;
    for (char ch : text) {
        if (!IsBlank(ch)) out += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    return out;
}

std::string Printable(char ch) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte >= 0x20 && byte < 0x7f) return fmt::format("'{}'", ch);
    return fmt::format("byte 0x{:02x}", byte);
}

// The oldest error OpenSSL queued for the call that just failed, in words,
// and an empty queue for the next call (the queue is per thread and another
// user on this thread must not see our leftovers, nor we theirs).
std::string TakeOpenSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return {};
    // A failed system call (a missing CA file) carries errno as its reason.
    if (ERR_SYSTEM_ERROR(code)) return std::generic_category().message(ERR_GET_REASON(code));
    if (const char* reason = ERR_reason_error_string(code)) return reason;
    std::array<char, 256> text{};
    ERR_error_string_n(code, text.data(), text.size());
    return text.data();
}

// With a pinned certificate the chain means nothing (the pin is the trust),
// so chain errors are let through here and the pin is compared once the
// handshake is done.
int AcceptAnyChain(int /*preverified*/, X509_STORE_CTX* /*store*/) { return 1; }

}  // namespace

NormalizedFingerprint NormalizeFingerprint(std::string_view text) {
    // `openssl x509 -fingerprint -sha256` prints "sha256 Fingerprint=AB:CD:..."
    // (older versions "SHA256 Fingerprint="); people paste the whole line.
    if (const auto eq = text.find('='); eq != std::string_view::npos) {
        const std::string label = LowerNoBlanks(text.substr(0, eq));
        if (label != "sha256fingerprint" && label != "sha256") {
            return {{}, fmt::format("\"{}\" is not a SHA-256 fingerprint", text.substr(0, eq))};
        }
        text.remove_prefix(eq + 1);
    }
    std::string hex;
    for (char ch : text) {
        if (ch == ':' || IsBlank(ch)) continue;
        if (!std::isxdigit(static_cast<unsigned char>(ch))) {
            return {{}, fmt::format("the fingerprint contains {}, which is not a hex digit", Printable(ch))};
        }
        if (hex.size() > kSha256HexDigits) break;  // too long already; no need to look further
        hex += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    if (hex.empty()) return {{}, "the fingerprint is empty"};
    if (hex.size() != kSha256HexDigits) {
        return {{},
                hex.size() > kSha256HexDigits
                    ? fmt::format("the fingerprint has more than {} hex digits; a SHA-256 fingerprint has {}",
                                  kSha256HexDigits, kSha256HexDigits)
                    : fmt::format("the fingerprint has {} hex digits; a SHA-256 fingerprint has {}", hex.size(),
                                  kSha256HexDigits)};
    }
    return {std::move(hex), {}};
}

std::string FormatFingerprint(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i < hex.size(); ++i) {
        if (i > 0 && i % 2 == 0) out += ':';
        out += static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i])));
    }
    return out;
}

void TlsFilter::SslFree::operator()(ssl_st* ssl) const { SSL_free(ssl); }
void TlsFilter::SslCtxFree::operator()(ssl_ctx_st* ctx) const { SSL_CTX_free(ctx); }

TlsFilter::TlsFilter(TlsClientConfig config) : config_(std::move(config)) {}

TlsFilter::TlsFilter(std::shared_ptr<const TlsServerContext> server) : server_(std::move(server)) {}

TlsFilter::~TlsFilter() = default;

void TlsFilter::Start() {
    if (started_) return;
    started_ = true;
    if (state_ != State::kHandshaking) return;  // Shutdown() came first
    if (!SetUp()) return;
    std::string none;  // a client hears nothing before it has spoken, nor a server
    ContinueHandshake(none);
}

bool TlsFilter::SetUp() {
    ERR_clear_error();
    return server_ ? SetUpServer() : SetUpClient();
}

bool TlsFilter::SetUpServer() {
    ssl_.reset(SSL_new(server_->get()));
    if (!ssl_ || !AttachMemoryBios()) {
        Fail("TLS setup failed: " + TakeOpenSslError());
        return false;
    }
    SSL_set_accept_state(ssl_.get());
    return true;
}

bool TlsFilter::SetUpClient() {
    if (!config_.fingerprint.empty()) {
        auto pin = NormalizeFingerprint(config_.fingerprint);
        if (!pin.Valid()) {
            Fail("TLS pinned fingerprint is invalid: " + pin.error);
            return false;
        }
        pin_ = std::move(pin.hex);
    }

    // An IPv6 literal may come in URL brackets; a trailing dot on a name is
    // no part of the name as certificates and SNI spell it.
    std::string host = config_.host;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (!host.empty() && host.back() == '.') host.pop_back();
    if (host.empty() && pin_.empty()) {
        // Without a name any valid certificate for any server would pass.
        Fail("TLS setup failed: no server host name to verify the certificate against");
        return false;
    }

    // One context per connection: outgoing links are few, and the system CA
    // directory is read lazily, so this costs little and keeps the filter
    // free of shared state.
    ctx_.reset(SSL_CTX_new(TLS_client_method()));
    if (!ctx_) {
        Fail("TLS setup failed: " + TakeOpenSslError());
        return false;
    }
    SSL_CTX_set_min_proto_version(ctx_.get(), TLS1_2_VERSION);
    // A renegotiation the server starts would re-run the handshake outside
    // the pin check; nothing we talk to needs one.
    SSL_CTX_set_options(ctx_.get(), SSL_OP_NO_RENEGOTIATION);
    if (!pin_.empty()) {
        SSL_CTX_set_verify(ctx_.get(), SSL_VERIFY_PEER, AcceptAnyChain);
    } else {
        SSL_CTX_set_verify(ctx_.get(), SSL_VERIFY_PEER, nullptr);
        const bool custom = !config_.caFile.empty() || !config_.caDir.empty();
        const int loaded =
            custom ? SSL_CTX_load_verify_locations(ctx_.get(), config_.caFile.empty() ? nullptr : config_.caFile.c_str(),
                                                   config_.caDir.empty() ? nullptr : config_.caDir.c_str())
                   : SSL_CTX_set_default_verify_paths(ctx_.get());
        if (loaded != 1) {
            const std::string where = !config_.caFile.empty() ? config_.caFile : config_.caDir;
            Fail(custom ? fmt::format("TLS setup failed: cannot load CA certificates from {}: {}", where,
                                      TakeOpenSslError())
                        : "TLS setup failed: cannot load the system's CA certificates: " + TakeOpenSslError());
            return false;
        }
    }

    ssl_.reset(SSL_new(ctx_.get()));
    if (!ssl_ || !AttachMemoryBios()) {
        Fail("TLS setup failed: " + TakeOpenSslError());
        return false;
    }
    SSL_set_connect_state(ssl_.get());

    ASN1_OCTET_STRING* address = host.empty() ? nullptr : a2i_IPADDRESS(host.c_str());
    const bool isIpLiteral = address != nullptr;
    ASN1_OCTET_STRING_free(address);
    // SNI carries names only (RFC 6066); servers reject an address there.
    if (!host.empty() && !isIpLiteral && SSL_set_tlsext_host_name(ssl_.get(), host.c_str()) != 1) {
        Fail("TLS setup failed: the host name cannot be sent: " + TakeOpenSslError());
        return false;
    }
    if (pin_.empty()) {
        // The pin alone decides when there is one; otherwise the certificate
        // must name the server as the user spelled it.
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl_.get());
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        const int named = isIpLiteral ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str())
                                      : X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
        if (named != 1) {
            Fail("TLS setup failed: the host name cannot be verified: " + TakeOpenSslError());
            return false;
        }
    }
    return true;
}

bool TlsFilter::AttachMemoryBios() {
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    if (!in || !out) {
        BIO_free(in);
        BIO_free(out);
        return false;
    }
    // An empty input BIO means "wait for more", not end of stream: the
    // socket's end is the owner's business.
    BIO_set_mem_eof_return(in, -1);
    SSL_set_bio(ssl_.get(), in, out);  // the SSL object owns them from here
    network_in_ = in;
    network_out_ = out;
    return true;
}

void TlsFilter::FromNetwork(std::string_view ciphertext, std::string& plaintext) {
    if (!started_) Start();
    while (!ciphertext.empty() && (state_ == State::kHandshaking || state_ == State::kOpen)) {
        const std::size_t slice = std::min(ciphertext.size(), kFeedSlice);
        ERR_clear_error();
        if (BIO_write(network_in_, ciphertext.data(), static_cast<int>(slice)) != static_cast<int>(slice)) {
            Fail("TLS failed: out of memory");
            return;
        }
        ciphertext.remove_prefix(slice);
        if (state_ == State::kHandshaking) {
            ContinueHandshake(plaintext);
        } else {
            ReadApplicationData(plaintext);
        }
    }
}

void TlsFilter::ContinueHandshake(std::string& plaintext) {
    ERR_clear_error();
    const int result = SSL_do_handshake(ssl_.get());
    if (result != 1) {
        const int error = SSL_get_error(ssl_.get(), result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return;
        FailFromOpenSsl("TLS handshake failed", error);
        return;
    }
    if (!AcceptCertificate()) return;
    state_ = State::kOpen;
    opened_ = true;
    if (!pending_.empty()) {
        std::string queued = std::move(pending_);
        pending_.clear();
        Write(queued);
    }
    // The server's first records may have come in the same read as the end
    // of its handshake.
    ReadApplicationData(plaintext);
}

bool TlsFilter::AcceptCertificate() {
    if (pin_.empty()) return true;  // verified during the handshake
    X509* cert = SSL_get0_peer_certificate(ssl_.get());
    if (!cert) {
        Fail("TLS server presented no certificate to compare with the pinned fingerprint");
        return false;
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (X509_digest(cert, EVP_sha256(), digest.data(), &length) != 1) {
        Fail("TLS certificate fingerprint cannot be computed: " + TakeOpenSslError());
        return false;
    }
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) hex += fmt::format("{:02x}", digest[i]);
    if (hex != pin_) {
        Fail(fmt::format("TLS certificate does not match the pinned fingerprint (got {})", FormatFingerprint(hex)));
        return false;
    }
    return true;
}

void TlsFilter::ReadApplicationData(std::string& plaintext) {
    std::array<char, 16 * 1024> buffer;  // one full record
    for (;;) {
        ERR_clear_error();
        std::size_t got = 0;
        if (SSL_read_ex(ssl_.get(), buffer.data(), buffer.size(), &got) == 1) {
            plaintext.append(buffer.data(), got);
            continue;
        }
        const int error = SSL_get_error(ssl_.get(), 0);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return;
        if (error == SSL_ERROR_ZERO_RETURN) {
            state_ = State::kClosed;
            pending_.clear();
            return;
        }
        FailFromOpenSsl("TLS connection failed", error);
        return;
    }
}

void TlsFilter::ToNetwork(std::string_view plaintext) {
    if (plaintext.empty() || shutdown_sent_) return;
    if (state_ == State::kHandshaking) {
        pending_.append(plaintext);
    } else if (state_ == State::kOpen) {
        Write(plaintext);
    }
}

void TlsFilter::Write(std::string_view plaintext) {
    // The output BIO is memory and grows, so OpenSSL takes every byte at
    // once; the loop only keeps each call's length within an int.
    while (!plaintext.empty() && state_ == State::kOpen) {
        const std::size_t slice = std::min<std::size_t>(plaintext.size(), INT_MAX / 2);
        ERR_clear_error();
        std::size_t written = 0;
        if (SSL_write_ex(ssl_.get(), plaintext.data(), slice, &written) != 1) {
            FailFromOpenSsl("TLS connection failed", SSL_get_error(ssl_.get(), 0));
            return;
        }
        plaintext.remove_prefix(written);
    }
}

void TlsFilter::TakeOutgoing(std::string& out) {
    if (!network_out_) return;
    char* data = nullptr;
    const long size = BIO_get_mem_data(network_out_, &data);
    if (size <= 0) return;
    out.append(data, static_cast<std::size_t>(size));
    (void)BIO_reset(network_out_);
}

bool TlsFilter::HasOutgoing() const { return network_out_ && BIO_ctrl_pending(network_out_) > 0; }

void TlsFilter::Shutdown() {
    if (shutdown_sent_ || state_ == State::kFailed) return;
    if (!opened_) {
        state_ = State::kClosed;
        pending_.clear();
        return;
    }
    shutdown_sent_ = true;
    ERR_clear_error();
    // 0 means ours is queued and the peer's has not come yet, 1 that it has;
    // both are what we asked for. With a memory BIO it cannot block.
    if (SSL_shutdown(ssl_.get()) < 0) {
        FailFromOpenSsl("TLS shutdown failed", SSL_get_error(ssl_.get(), -1));
    }
}

std::size_t TlsFilter::BufferedBytes() const {
    std::size_t total = pending_.size();
    if (network_in_) total += BIO_ctrl_pending(network_in_);
    if (network_out_) total += BIO_ctrl_pending(network_out_);
    return total;
}

void TlsFilter::Fail(std::string reason) {
    state_ = State::kFailed;
    failure_ = std::move(reason);
    pending_.clear();
}

void TlsFilter::FailFromOpenSsl(std::string_view context, int sslError) {
    // A certificate the chain check rejected: say what was wrong with it
    // rather than OpenSSL's generic "certificate verify failed".
    if (pin_.empty() && ssl_) {
        const long verify = SSL_get_verify_result(ssl_.get());
        if (verify != X509_V_OK) {
            ERR_clear_error();
            Fail(fmt::format("TLS certificate verification failed: {}", X509_verify_cert_error_string(verify)));
            return;
        }
    }
    std::string detail = TakeOpenSslError();
    if (detail.empty()) {
        detail = sslError == SSL_ERROR_ZERO_RETURN ? "the server closed the session"
                 : sslError == SSL_ERROR_SYSCALL   ? "unexpected end of data"
                                                   : fmt::format("error {}", sslError);
    }
    Fail(fmt::format("{}: {}", context, detail));
}

}  // namespace qm
