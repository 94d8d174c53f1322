#include "commands/info.h"

#include <chrono>
#include <string>

namespace qm {

namespace {

// How long the user has been connected, "hh:nn:ss", the hours starting again
// after a day.
std::string ConnectedFor(const ChatState& state, const TTcpSrvClient& user) {
    return FormatDuration(std::chrono::duration_cast<std::chrono::seconds>(state.clock.Now() - user.ConnectTime));
}

// The marks of /names and /whois, each followed by a blank. The spy mark is
// for spies' eyes only.
std::string ListingMarks(const ChatState& state, const TTcpSrvClient& user, const TTcpSrvClient& requester) {
    const Settings& s = state.settings;
    std::string marks;
    if (user.IsOp) marks += "(Operator) ";
    if (user.ChannelLocked) marks += "(" + s.Channel + " locked) ";
    if (user.IsServOp) marks += "(" + s.ServOP + ") ";
    if (user.IsChanOp) marks += "(" + s.ChanOP + ") ";
    if (user.Invisible) marks += "(Invisible) ";
    if (user.IsSpy && requester.IsSpy) marks += "(Spy) ";
    return marks;
}

// The marks of /who: run together, with away and playing among them.
std::string WhoMarks(const ChatState& state, const TTcpSrvClient& user, const TTcpSrvClient& requester) {
    const Settings& s = state.settings;
    std::string marks;
    if (user.IsOp) marks += "(Operator)";
    if (user.ChannelLocked) marks += "(" + s.Channel + " locked)";
    if (user.Away) marks += "(Away)";
    if (user.IsServOp) marks += "(" + s.ServOP + ")";
    if (user.IsChanOp) marks += "(" + s.ChanOP + ")";
    if (user.Invisible) marks += "(Invisible)";
    if (user.IsSpy && requester.IsSpy) marks += "(Spy)";
    if (user.InGame) marks += "(Playing)";
    return marks;
}

}  // namespace

void CmdVersion(ChatState& state, TTcpSrvClient& client, std::string_view) {
    Reply(state, client, " Quillmoot v1.0 Beta - server " QM_VERSION " by the Quillmoot team, 2026\r\n");
    Reply(state, client,
          " Number of users: " + std::to_string(state.clients.Count()) +
              " Peak: " + std::to_string(state.PeakUsers) + "\r\n");
}

void CmdNames(ChatState& state, TTcpSrvClient& client, std::string_view) {
    state.clients.ForEachMemberDown(client.Channel(), [&](const TTcpSrvClient& user) {
        if (user.Undercover && !client.IsSpy) return;
        std::string text = state.settings.Prefix + " Nick: " + user.Nick() + "\r\n";
        text += state.settings.Prefix + " Modes: " + ListingMarks(state, user, client) + "\r\n";
        if (user.Away) text += state.settings.Prefix + " Away: " + user.AwayMessage + "\r\n";
        text += state.settings.Prefix + " Connected for: " + ConnectedFor(state, user) + "\r\n\r\n";
        client.SendStr(text);
    });
    client.SendStr("End of /names list.\r\n");
}

void CmdWhois(ChatState& state, TTcpSrvClient& client, std::string_view nick) {
    // Whatever the user's channel and modes: whoever asks by name learns it.
    bool found = false;
    state.clients.ForEachHolderDown(nick, [&](const TTcpSrvClient& user) {
        found = true;
        std::string text = state.settings.Prefix + " Nick: " + user.Nick() + "\r\n";
        text += state.settings.Prefix + " Chan: " + user.Channel() + "\r\n";
        text += state.settings.Prefix + " Modes: " + ListingMarks(state, user, client) + "\r\n";
        if (user.Away) text += state.settings.Prefix + " Away: " + user.AwayMessage + "\r\n";
        if (user.InGame) text += state.settings.Prefix + " Currently playing a game.\r\n";
        text += state.settings.Prefix + " Connected for: " + ConnectedFor(state, user) + "\r\n\r\n";
        client.SendStr(text);
    });
    if (!found) Reply(state, client, " User is not online.\r\n");
    client.SendStr("End of /whois list.\r\n");
}

void CmdWho(ChatState& state, TTcpSrvClient& client, std::string_view) {
    // The count is of connections: hidden users and those still at the
    // nickname prompt count too.
    Reply(state, client, " There are " + std::to_string(state.clients.Count()) + " users online:\r\n");
    state.clients.ForEachClientDown([&](const TTcpSrvClient& user) {
        if (user.Invisible && !EqualsIgnoreCase(user.Channel(), client.Channel())) return;
        if (user.Undercover && !client.IsSpy) return;
        Reply(state, client,
              " " + user.Channel() + ": " + user.Nick() + " " + WhoMarks(state, user, client) +
                  "   Connected for: " + ConnectedFor(state, user) + "\r\n");
    });
    client.SendStr("End of /who list.\r\n");
}

void CmdStat(ChatState& state, TTcpSrvClient& client, std::string_view) {
    std::string text = state.link.IsUp() ? "I*R*C: Link up.  Linking with: " + state.link.IrcChannel() + "\r\n"
                                          : std::string("I*R*C: Link down.\r\n");
    text += client.HasIrcVoice
                ? "I*R*C: You currently have a voice, which means you may speak.\r\n"
                : "I*R*C: You currently do not have a voice, which means you may not speak.  You can regain a "
                  "voice from an operator in IRC.\r\n";
    text += state.link.ChannelSpy()
                ? "I*R*C: Single directional mode is enabled.  You will only be able to see the conversation "
                  "on IRC, not participate in it.\r\n"
                : "I*R*C: Bi-directional mode is enabled.  If you have a voice, you will be able to participate "
                  "in the conversation on IRC.\r\n";
    client.SendStr(text);
}

void CmdHelp(ChatState& state, TTcpSrvClient& client, std::string_view) {
    client.SendStr(state.settings.HelpReply + "\r\n");
}

void CmdHelpChannels(ChatState& state, TTcpSrvClient& client, std::string_view) {
    client.SendStr(state.settings.HelpChan + "\r\n");
}

void CmdHelpRegistration(ChatState& state, TTcpSrvClient& client, std::string_view) {
    client.SendStr(state.settings.HelpReg + "\r\n");
}

}  // namespace qm
