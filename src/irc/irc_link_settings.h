#pragma once
// The IRC link's stored values: the identity and target of the link, as the
// link window keeps them in the preference store, and the two values that
// are set in the store only (the pinned TLS certificate and the pacing).
#include <chrono>
#include <string>

namespace qm {

class PreferenceStore;

struct IrcLinkSettings {
    std::string Nick = "Night-Wisp";
    std::string AltNick = "Shadow-";
    std::string UserID = "quillmoot";
    std::string UserInfo = "Quillmoot IRC";
    std::string Server;
    // A leading "+" asks for TLS ("+6697"), as IRC clients write it.
    std::string Port = "6667";
    std::string Channel;
    // Stored under "BiDir", but set means single-directional: channel spy mode.
    bool ChannelSpy = false;
    // SHA-256 of the server's certificate (hex; colons and letter case
    // ignored): pins a self-signed certificate instead of the CA check.
    std::string TlsFingerprint;
    // At most five lines at once, then one line per this interval.
    std::chrono::milliseconds SendInterval{2000};
};

// The stored values, each falling back to its default when it is missing
// or cannot be read.
IrcLinkSettings ReadIrcLinkSettings(const PreferenceStore& store);

// "+6697" is port 6697 over TLS; anything else is a plain port.
struct IrcPort {
    std::string number;
    bool tls = false;
};
IrcPort ParseIrcPort(const std::string& port);

}  // namespace qm
