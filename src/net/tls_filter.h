#pragma once
// One side of a TLS session as a pure byte filter: ciphertext from the socket
// goes in, plaintext comes out, and the other way round. It owns no socket
// and knows nothing of Asio, so a connection keeps its ordinary non-blocking
// read and write loop (one shared read buffer, one write in flight) and
// merely passes the bytes through here. The client side serves outgoing
// links, the server side accepted connections.
//
// The usual round: Start(), then after every read FromNetwork(), and after
// every call TakeOutgoing() and write whatever it gave (the handshake, alerts
// and close_notify come out there too). Check state() after each call: it
// leaves kHandshaking once, normally for kOpen or kFailed, and kFailed and
// kClosed are final.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// OpenSSL's own structure tags, so that users of this header need no OpenSSL
// headers (these are the names <openssl/types.h> gives them).
struct ssl_st;
struct ssl_ctx_st;
struct bio_st;

namespace qm {

struct TlsClientConfig {
    // The server's name as the user gave it: sent as SNI and checked against
    // the certificate. An IP address is checked against the certificate's IP
    // entries and is not sent as SNI.
    std::string host;
    // A pinned certificate: the SHA-256 of the server's DER certificate in hex,
    // as NormalizeFingerprint accepts it. With a pin the certificate is
    // accepted if and only if it is that one (self-signed is fine, the name is
    // not checked). Empty: the chain and the name are verified instead.
    std::string fingerprint;
    // Trust anchors in place of the system's CA store (tests, private CAs).
    // Both empty: the system's store.
    std::string caFile;
    std::string caDir;
};

// The canonical form of a fingerprint the user typed or pasted: 64 lower-case
// hex digits. Colons, blanks and letter case are ignored, and so is the
// "sha256 Fingerprint=" that `openssl x509 -fingerprint` prints before it.
struct NormalizedFingerprint {
    std::string hex;    // set when valid
    std::string error;  // set when not: why, for a person
    bool Valid() const { return error.empty(); }
};
NormalizedFingerprint NormalizeFingerprint(std::string_view text);

// "AB:CD:..." as `openssl x509 -fingerprint` prints it, from lower-case hex.
std::string FormatFingerprint(std::string_view hex);

class TlsServerContext;

class TlsFilter {
public:
    enum class State {
        kHandshaking,  // until the handshake and the certificate check are done
        kOpen,         // application bytes flow both ways
        kFailed,       // for good; FailureReason() says why
        kClosed,       // ended cleanly: the peer sent close_notify, or
                       // Shutdown() came during the handshake
    };

    // The client side: verifies the server as `config` says.
    explicit TlsFilter(TlsClientConfig config);
    // The server side: presents the context's certificate; the client's
    // first bytes start the handshake.
    explicit TlsFilter(std::shared_ptr<const TlsServerContext> server);
    ~TlsFilter();
    TlsFilter(const TlsFilter&) = delete;
    TlsFilter& operator=(const TlsFilter&) = delete;

    // Sets up the session and queues the ClientHello. A bad configuration
    // (invalid pin, unreadable CA file) fails the filter here. Once only.
    void Start();

    // Bytes read from the socket. Decrypted application bytes are appended to
    // `plaintext` in order; the call may also complete the handshake or fail
    // or close the filter, and may queue bytes for TakeOutgoing. Ignored once
    // the filter has failed or closed; calls Start() if it was not called.
    void FromNetwork(std::string_view ciphertext, std::string& plaintext);

    // Application bytes for the peer. Before the handshake completes they are
    // kept and sent once it has (and the certificate was accepted); after a
    // failure, a close or Shutdown() they are dropped.
    void ToNetwork(std::string_view plaintext);

    // Appends the ciphertext waiting to be written to the socket to `out` and
    // forgets it. After a failure this may still hold the alert that tells
    // the peer why; it is worth writing before closing the socket.
    void TakeOutgoing(std::string& out);
    bool HasOutgoing() const;

    // Queues close_notify (after any application bytes queued before it).
    // Nothing is sent after it, but bytes from the peer are still decrypted
    // until its own close_notify (kClosed). After the peer's close_notify it
    // queues the answering one. During the handshake there is nothing to
    // close gracefully: the filter just becomes kClosed.
    void Shutdown();

    State state() const { return state_; }
    // Why the filter failed, for a person; empty unless kFailed.
    const std::string& FailureReason() const { return failure_; }
    // Everything held inside: unread ciphertext, plaintext waiting for the
    // handshake and ciphertext waiting for TakeOutgoing. An owner that takes
    // the outgoing bytes after every call keeps it near zero; it shows that
    // hostile input cannot make it grow.
    std::size_t BufferedBytes() const;

private:
    struct SslFree {
        void operator()(ssl_st* ssl) const;
    };
    struct SslCtxFree {
        void operator()(ssl_ctx_st* ctx) const;
    };

    bool SetUp();
    bool SetUpClient();
    bool SetUpServer();
    bool AttachMemoryBios();
    void ContinueHandshake(std::string& plaintext);
    void ReadApplicationData(std::string& plaintext);
    bool AcceptCertificate();
    void Write(std::string_view plaintext);
    void Fail(std::string reason);
    void FailFromOpenSsl(std::string_view context, int sslError);

    TlsClientConfig config_;
    std::shared_ptr<const TlsServerContext> server_;  // set on the server side
    std::string pin_;  // normalised fingerprint, empty when not pinned
    std::unique_ptr<ssl_ctx_st, SslCtxFree> ctx_;
    std::unique_ptr<ssl_st, SslFree> ssl_;  // owns both memory BIOs
    bio_st* network_in_ = nullptr;          // ciphertext from the socket
    bio_st* network_out_ = nullptr;         // ciphertext for the socket
    std::string pending_;                   // plaintext queued during the handshake
    State state_ = State::kHandshaking;
    bool started_ = false;
    bool opened_ = false;  // the handshake completed and the certificate was accepted
    bool shutdown_sent_ = false;
    std::string failure_;
};

}  // namespace qm
