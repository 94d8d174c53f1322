#include "irc/irc_link_settings.h"

#include <charconv>

#include "storage/preferences.h"

namespace qm {

IrcLinkSettings ReadIrcLinkSettings(const PreferenceStore& store) {
    IrcLinkSettings s;
    s.Nick = store.GetText("Nick", s.Nick);
    s.AltNick = store.GetText("AltNick", s.AltNick);
    s.UserID = store.GetText("UserID", s.UserID);
    s.UserInfo = store.GetText("UserInfo", s.UserInfo);
    s.Server = store.GetText("Server", s.Server);
    s.Port = store.GetText("Port", s.Port);
    s.Channel = store.GetText("Channel", s.Channel);
    s.ChannelSpy = store.GetBool("BiDir", s.ChannelSpy);
    s.TlsFingerprint = store.GetText("TlsFingerprint", s.TlsFingerprint);
    if (const auto interval = store.Get("IrcSendInterval")) {
        long long ms = 0;
        const auto* end = interval->data() + interval->size();
        const auto [ptr, ec] = std::from_chars(interval->data(), end, ms);
        if (ec == std::errc() && ptr == end && ms >= 0) s.SendInterval = std::chrono::milliseconds(ms);
    }
    return s;
}

IrcPort ParseIrcPort(const std::string& port) {
    if (!port.empty() && port.front() == '+') return {port.substr(1), true};
    return {port, false};
}

}  // namespace qm
