#pragma once
// An outgoing byte-stream connection (plain TCP or TLS) as a protocol client
// such as the IRC link sees it: open it, send bytes, hear what arrives, close
// it. The events are raised on the io_context's thread and never from inside
// one of the calls below, so a caller may destroy or reopen the connection
// from any event.
#include <memory>
#include <string>
#include <string_view>

namespace qm {

struct OutgoingTarget {
    std::string host;  // a host name (resolved asynchronously) or an address
    std::string port;  // a port number as text
    bool tls = false;
    // With TLS: the SHA-256 of the server's DER certificate in hex (colons
    // and letter case ignored). Empty: the certificate is verified against
    // the system's CA store and the host name instead.
    std::string fingerprint;
};

class OutgoingObserver {
public:
    virtual ~OutgoingObserver() = default;
    // The connection is established (and, with TLS, the handshake and the
    // verification have succeeded); bytes may be sent.
    virtual void OnOutgoingConnected() = 0;
    // Bytes from the peer, in order, as they arrive (not split into lines).
    virtual void OnOutgoingData(std::string_view bytes) = 0;
    // The attempt failed before OnOutgoingConnected (resolution, refused,
    // unreachable, TLS verification); `reason` says why, for a person.
    // Nothing follows.
    virtual void OnOutgoingFailed(const std::string& reason) = 0;
    // An established connection has closed (by the peer, an error, Close or
    // Abort); `reason` says why. Nothing follows.
    virtual void OnOutgoingClosed(const std::string& reason) = 0;
};

class OutgoingConnection {
public:
    virtual ~OutgoingConnection() = default;
    // Starts resolving and connecting; the observer must outlive the
    // connection. Called once per object.
    virtual void Open(const OutgoingTarget& target, OutgoingObserver& observer) = 0;
    // Queues bytes for the peer (ignored unless connected). The queue is
    // bounded: a peer that stops reading is dropped (OnOutgoingClosed).
    virtual void Send(std::string_view bytes) = 0;
    // Closes once the queued bytes are written.
    virtual void Close() = 0;
    // Drops the connection (or the attempt) at once, unsent bytes and all.
    virtual void Abort() = 0;
};

}  // namespace qm
