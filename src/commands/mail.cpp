#include "commands/mail.h"

#include <optional>

#include "commands/line_parsing.h"

namespace qm {

namespace {

bool Registered(const ChatState& state, TTcpSrvClient& client) {
    if (state.users.FindUserRecord(client.Nick()) >= 0) return true;
    Reply(state, client, " You are not registered.\r\n");
    return false;
}

// The message number of /read and /del; text that is no whole number names
// no message.
std::optional<int> MessageNumber(std::string_view text) {
    try {
        return ParseWholeNumber(text);
    } catch (const SettingError&) {
        return std::nullopt;
    }
}

int FindOwnMessage(const ChatState& state, const TTcpSrvClient& client, std::string_view number) {
    const auto n = MessageNumber(number);
    return n ? state.mail.FindMessage(client.Nick(), *n) : -1;
}

}  // namespace

void ReplyMessageCount(const ChatState& state, TTcpSrvClient& client) {
    Reply(state, client, " You have " + std::to_string(state.mail.CountFor(client.Nick())) + " messages.\r\n");
}

void CmdSend(ChatState& state, TTcpSrvClient& client, std::string_view line) {
    if (!Registered(state, client)) return;
    // "/send nick = message": the "=" is looked for from the 9th character
    // (1-based); the nickname ends two characters before it.
    const std::size_t equals = FindSplittingEquals(line, 8);
    if (equals == std::string_view::npos) return;
    const std::string typed(line.substr(6, equals - 7));
    const std::string_view message = line.substr(equals + 2 <= line.size() ? equals + 2 : line.size());
    // A record of the pseudo-name (older versions let a game client register
    // it) would hand the mail to whichever game client has not named itself.
    const int record = IsChoosingNickname(typed) ? -1 : state.users.FindUserRecord(typed);
    if (record < 0) {
        Reply(state, client, " Recipient: " + typed + " is not registered.\r\n");
        return;
    }
    // Mail is kept under the registered spelling, where its owner looks for it.
    const std::string recipient = state.users.RecordLine(record, UserDatabase::kNick);
    if (state.mail.CountFor(recipient) >= MailStore::kMaxMessages) {
        Reply(state, client, " " + typed + "'s mailbox is full.\r\n");
        return;
    }
    state.mail.Append(recipient, client.Nick(), message);
    // The sender's next lines wait for the disk too, so that a sender who
    // pipelines mail is held to the pace of the writes.
    client.Pause();
    state.whenSaved([&state, sender = std::weak_ptr<TTcpSrvClient>(client.Self()), recipient] {
        state.clients.ForEachRecipientDown(recipient, [&](TTcpSrvClient& other) {
            Reply(state, other, " You have a new message.  Type /read to list your messages.\r\n");
        });
        const auto c = sender.lock();
        if (c && c->Connected()) c->Resume();
    });
}

void CmdRead(ChatState& state, TTcpSrvClient& client, std::string_view number) {
    if (!Registered(state, client)) return;
    if (number.empty()) {
        ReplyMessageCount(state, client);
        return;
    }
    const int index = FindOwnMessage(state, client, number);
    Reply(state, client, index < 0 ? std::string(" No such message!\r\n") : " " + state.mail.MessageLine(index) + "\r\n");
}

void CmdDel(ChatState& state, TTcpSrvClient& client, std::string_view number) {
    if (!Registered(state, client)) return;
    const int index = FindOwnMessage(state, client, number);
    if (index < 0) {
        Reply(state, client, " No such message.\r\n");
        return;
    }
    state.mail.Remove(index);
    Reply(state, client, " Message deleted.\r\n");
}

}  // namespace qm
