#pragma once
// The ways in beside plain telnet, each on a port of its own named in the
// preference store, opened, moved or closed as the store says at start-up,
// at Activate and at every Reload Settings: telnet over TLS (`TlsPort`,
// with `TlsCertificate` and `TlsKey`, or a self-signed certificate made in
// the data directory on first use). A port that is absent or 0 keeps its
// way closed.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "access/telnet_ways.h"
#include "server/listening_server.h"
#include "storage/preferences.h"
#include "storage/server_log.h"

namespace qm {

// The file of the certificate made when none is configured: key and
// certificate in PEM, readable by the owner only.
inline constexpr const char* kSelfSignedCertificateFile = "tls-selfsigned.pem";

class WayListeners {
public:
    WayListeners(TWSocketServer& server, ServerLog& log, const PreferenceStore& preferences,
                 std::filesystem::path dataDir, std::function<void(const std::string&)> reportError);

    // Opens, moves or closes each way's listener as the store says now,
    // and reads the TLS certificate again (a renewed certificate counts
    // without a restart; one that fails to load leaves the one in use).
    void Apply();
    // One log line for each socket `way` listens on.
    void LogListening(const WayIn& way);

private:
    // The port the store gives `key`: 0 for absent, empty or 0, and for a
    // value that is no port, which is reported.
    unsigned short PortOf(const char* key) const;
    // A new context from the configured files, or from the self-signed
    // certificate (made first if need be); null when that failed (reported).
    std::shared_ptr<const TlsServerContext> LoadCertificate();
    void Open(WayIn& way, unsigned short port);
    void Close(WayIn& way);

    TWSocketServer& server_;
    ServerLog& log_;
    const PreferenceStore& preferences_;
    std::filesystem::path dataDir_;
    std::function<void(const std::string&)> reportError_;
    TlsTelnetWay tls_;
    unsigned short tlsPort_ = 0;  // as asked when it was opened
};

}  // namespace qm
