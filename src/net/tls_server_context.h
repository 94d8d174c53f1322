#pragma once
// What a TLS listener presents: its certificate (with any chain) and key,
// loaded once and shared by every session accepted while it is current. A
// renewed certificate makes a new context; sessions already open keep the
// one they started with.
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

struct ssl_ctx_st;

namespace qm {

// A certificate or key that cannot be read or does not fit; what() says
// which file and why, for the operator.
class TlsSetupError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TlsServerContext {
public:
    // TLS 1.2 or newer with the PEM certificate chain of `certificate` and
    // the PEM private key of `key` (the same file may hold both). Throws
    // TlsSetupError.
    TlsServerContext(const std::filesystem::path& certificate, const std::filesystem::path& key);
    ~TlsServerContext();
    TlsServerContext(const TlsServerContext&) = delete;
    TlsServerContext& operator=(const TlsServerContext&) = delete;

    ssl_ctx_st* get() const { return ctx_; }
    // The SHA-256 of the certificate as `openssl x509 -fingerprint -sha256`
    // prints it ("AB:CD:..."), for people to compare with what their client shows.
    const std::string& Fingerprint() const { return fingerprint_; }

private:
    ssl_ctx_st* ctx_ = nullptr;
    std::string fingerprint_;
};

// A new key (ECDSA P-256, which every TLS client takes) and a certificate
// for it signed by itself, naming `commonName` and valid for ten years: the
// key, then the certificate, in PEM. Throws TlsSetupError.
std::string MakeSelfSignedPem(const std::string& commonName);

}  // namespace qm
