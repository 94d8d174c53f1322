#include "commands/routing.h"

#include <string>

#include "chat/wire_for_many.h"
#include "commands/line_parsing.h"


namespace qm {

namespace {

constexpr std::size_t kMaxMessage = 512;

std::string Framed(std::string_view nick, std::string_view text) {
    std::string line;
    line.reserve(nick.size() + text.size() + 5);
    line.append("<").append(nick).append("> ").append(text).append("\r\n");
    return line;
}

// "Private: " marks a private line for a recipient who has no query open
// with the sender.
void SendPrivate(TTcpSrvClient& recipient, bool marked, std::string_view framed) {
    if (marked) recipient.SendStr("Private: ");
    recipient.SendStr(framed);
}

}  // namespace

void SendToChannel(const ChatState& state, const TTcpSrvClient& sender, std::string_view text, bool tagged) {
    if (!tagged) {
        state.clients.SendToChannel(sender.Channel(), text);
        return;
    }
    WireForMany wire(text);
    state.clients.ForEachMemberDown(sender.Channel(), [&](TTcpSrvClient& member) {
        if (member.QueryMode) member.SendStr(member.Channel() + ": ");
        wire.SendTo(member);
    });
}

bool MayForwardToIrc(const ChatState& state, const TTcpSrvClient& sender) {
    return state.link.Forwards(sender.Channel(), sender.HasIrcVoice);
}

void RouteOrdinaryLine(ChatState& state, TTcpSrvClient& client, std::string_view line) {
    if (line.empty()) return;
    if (line.front() == ',') {
        // Speaks to the channel while a query is open; never goes to IRC.
        if (client.QueryMode) line.remove_prefix(1);
        SendToChannel(state, client, Framed(client.Nick(), line));
        return;
    }
    const std::string framed = Framed(client.Nick(), line);
    if (client.QueryMode) {
        state.clients.ForEachRecipientDown(client.QueryTarget, [&](TTcpSrvClient& partner) {
            SendPrivate(partner, !partner.QueryMode, framed);
        });
    } else {
        SendToChannel(state, client, framed);
    }
    if (MayForwardToIrc(state, client))
        state.link.SayToLinkedChannel("[" + client.Nick() + "] ", line);
}

void CmdMe(ChatState& state, TTcpSrvClient& client, std::string_view action) {
    const std::string head = "* " + client.Nick() + " ";
    SendToChannel(state, client, head + std::string(action) + "\r\n");
    if (MayForwardToIrc(state, client)) state.link.SayToLinkedChannel(head, action);
}

void CmdPrivateMessage(ChatState& state, TTcpSrvClient& client, std::string_view line) {
    // "/m nick = message": the "=" is looked for from the 7th character
    // (1-based), so the nickname has at least two characters.
    const std::size_t equals = FindSplittingEquals(line, 6);
    if (equals == std::string_view::npos) return;
    const std::string_view nick = line.substr(3, equals - 4);
    std::string_view message = line.substr(equals + 2 <= line.size() ? equals + 2 : line.size());
    if (message.size() > kMaxMessage) message = message.substr(0, kMaxMessage);

    const std::string framed = Framed(client.Nick(), message);
    bool delivered = false;
    state.clients.ForEachRecipientDown(nick, [&](TTcpSrvClient& recipient) {
        delivered = true;
        SendPrivate(recipient, recipient.QueryTarget != client.Nick(), framed);
        if (recipient.Away)
            Reply(state, client,
                  " " + recipient.Nick() + " is away: " + recipient.AwayMessage +
                      ". Message was still sent.\r\n");
    });
    if (!delivered) Reply(state, client, " User is not online.\r\n");
}

void CmdIrcMessage(ChatState& state, TTcpSrvClient& client, std::string_view line) {
    // "/im nick message": the nickname runs from the 5th character to the
    // first blank after it.
    const std::size_t blank = line.size() > 4 ? line.find(' ', 4) : std::string_view::npos;
    if (blank == std::string_view::npos) return;
    const std::string_view nick = line.substr(4, blank - 4);
    std::string_view message = line.substr(blank + 1);
    if (message.size() > kMaxMessage) message = message.substr(0, kMaxMessage);

    if (MayForwardToIrc(state, client)) {
        state.link.SayToIrcUser(nick, "[" + client.Nick() + "] ", message);
        return;
    }
    client.SendStr(
        "I*R*C: Message is undeliverable at this time.\r\n"
        "I*R*C: The link may be down, you may not have a voice, you're not in " +
        state.settings.Channel +
        " IRC, or single directional mode is enabled.\r\n"
        "I*R*C: Type /stat to check the current status.\r\n");
}

}  // namespace qm
