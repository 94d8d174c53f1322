#include "net/tls_server_context.h"

#include <fmt/format.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <array>
#include <memory>

namespace qm {

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

// OpenSSL's reason for the last failure, and an empty queue after it.
std::string OpenSslReason() {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (code == 0) return "unknown error";
    if (ERR_SYSTEM_ERROR(code)) return std::generic_category().message(ERR_GET_REASON(code));
    const char* reason = ERR_reason_error_string(code);
    return reason ? reason : fmt::format("error {:#x}", code);
}

std::string Sha256Fingerprint(X509* certificate) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest.data(), &length) != 1) return {};
    std::string text;
    for (unsigned int i = 0; i < length; ++i) text += fmt::format("{}{:02X}", i == 0 ? "" : ":", digest[i]);
    return text;
}

}  // namespace

TlsServerContext::TlsServerContext(const std::filesystem::path& certificate, const std::filesystem::path& key) {
    ERR_clear_error();
    ctx_ = SSL_CTX_new(TLS_server_method());
    if (!ctx_) throw TlsSetupError("TLS setup failed: " + OpenSslReason());
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    // A renegotiation the client starts costs the server a handshake for
    // every few bytes the client sends; no terminal client needs one.
    SSL_CTX_set_options(ctx_, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
    // Output lives in the connection's own buffers until the socket takes
    // it, so OpenSSL may hand back a buffer of the first try's place.
    SSL_CTX_set_mode(ctx_, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_RELEASE_BUFFERS);
    if (SSL_CTX_use_certificate_chain_file(ctx_, certificate.c_str()) != 1) {
        const std::string reason = OpenSslReason();
        SSL_CTX_free(ctx_);
        throw TlsSetupError(fmt::format("Cannot use the TLS certificate {}: {}", certificate.string(), reason));
    }
    if (SSL_CTX_use_PrivateKey_file(ctx_, key.c_str(), SSL_FILETYPE_PEM) != 1 || SSL_CTX_check_private_key(ctx_) != 1) {
        const std::string reason = OpenSslReason();
        SSL_CTX_free(ctx_);
        throw TlsSetupError(fmt::format("Cannot use the TLS key {}: {}", key.string(), reason));
    }
    fingerprint_ = Sha256Fingerprint(SSL_CTX_get0_certificate(ctx_));
}

TlsServerContext::~TlsServerContext() { SSL_CTX_free(ctx_); }

std::string MakeSelfSignedPem(const std::string& commonName) {
    ERR_clear_error();
    const auto fail = [](const char* step) { return TlsSetupError(fmt::format("Cannot make a TLS certificate ({}): {}", step, OpenSslReason())); };
    Key key(EVP_EC_gen("P-256"));
    if (!key) throw fail("key");
    Certificate cert(X509_new());
    if (!cert) throw fail("certificate");
    X509_set_version(cert.get(), 2);  // v3, for the extensions
    // A random serial: browsers and clients refuse two certificates of one
    // issuer and serial, and every new data directory makes its own.
    std::array<unsigned char, 16> serial{};
    if (RAND_bytes(serial.data(), static_cast<int>(serial.size())) != 1) throw fail("serial");
    serial[0] &= 0x7f;  // positive
    BIGNUM* number = BN_bin2bn(serial.data(), static_cast<int>(serial.size()), nullptr);
    const bool serialSet = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert.get()));
    BN_free(number);
    if (!serialSet) throw fail("serial");
    constexpr long kTenYears = 10L * 365 * 24 * 3600;
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), kTenYears);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key.get());
    X509V3_CTX ext;
    X509V3_set_ctx_nodb(&ext);
    X509V3_set_ctx(&ext, cert.get(), cert.get(), nullptr, nullptr, 0);
    const std::string altNames = "DNS:" + commonName + ",DNS:localhost,IP:127.0.0.1,IP:::1";
    for (const auto& [nid, value] : {std::pair{NID_basic_constraints, std::string("critical,CA:FALSE")},
                                     std::pair{NID_subject_alt_name, altNames}}) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ext, nid, value.c_str());
        if (!extension) throw fail("extension");
        X509_add_ext(cert.get(), extension, -1);
        X509_EXTENSION_free(extension);
    }
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) throw fail("signature");
    Bio out(BIO_new(BIO_s_mem()));
    if (!out || PEM_write_bio_PrivateKey(out.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        PEM_write_bio_X509(out.get(), cert.get()) != 1)
        throw fail("PEM");
    char* data = nullptr;
    const long size = BIO_get_mem_data(out.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace qm
