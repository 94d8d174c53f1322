#include "commands/login.h"

namespace qm {

namespace {

bool NicknameInUse(const ChatState& state, std::string_view nick) {
    bool inUse = false;
    state.server.ForEachClientDown([&](const TTcpSrvClient& other) {
        if (EqualsIgnoreCase(other.Nick, nick)) inUse = true;
    });
    return inUse;
}

bool PasswordMatches(const ChatState& state, int record, std::string_view nick,
                     std::string_view password) {
    return record >= 0 &&
           EncodePassword(nick, password) == state.users.RecordLine(record, UserDatabase::kPassword);
}

// The stored settings of a registered nickname: echo back on when its flag
// says so, roles raised (never lowered), the channel unlocked.
void ApplyStoredSettings(const ChatState& state, TTcpSrvClient& client, int record) {
    auto yes = [&](UserDatabase::Field field) { return state.users.RecordLine(record, field) == "Y"; };
    if (yes(UserDatabase::kEcho)) client.SetLineEcho(true);
    client.ChannelLocked = false;
    if (yes(UserDatabase::kServOp)) client.IsServOp = true;
    if (yes(UserDatabase::kChanOp)) client.IsChanOp = true;
    if (yes(UserDatabase::kSpy)) client.IsSpy = true;
}

void SendMessageCount(const ChatState& state, TTcpSrvClient& client) {
    Reply(state, client, " You have " + std::to_string(state.mail.CountFor(client.Nick)) + " messages.\r\n");
}

void LogNickname(const ChatState& state, const TTcpSrvClient& client) {
    state.log.Add(client.PeerAddr + " set nickname to: " + client.Nick);
}

// Sends `text` to everybody whose channel is `client`'s, `client` included.
void TellChannel(const ChatState& state, const TTcpSrvClient& client, const std::string& text) {
    std::string wire;
    TerminalInput::AppendEscaped(text, wire);
    state.server.ForEachClientDown([&](TTcpSrvClient& member) {
        if (EqualsIgnoreCase(member.Channel, client.Channel)) member.SendWire(wire);
    });
}

}  // namespace

void HandleNicknameLine(ChatState& state, TTcpSrvClient& client) {
    const std::string& line = client.ReceivedLine;
    if (line == kGameHandshake) {
        client.ChessMode = true;
        client.Channel = "Chess";
        client.AwaitingNick = false;
        client.SetLineEcho(false);
        client.SendStr("* Entered chess mode.\r\n");
        return;
    }
    if (line.find('=') != std::string::npos) {
        Reply(state, client,
              " You may NOT have a = sign in your nick.  You may have any other character.\r\n");
        return;
    }
    const std::string nick = line.substr(0, kMaxNickLength);
    if (NicknameInUse(state, nick)) {
        Reply(state, client, " That nickname is in use.  Try another.\r\nNickname: ");
        return;
    }
    if (state.users.FindUserRecord(nick) >= 0) {
        // The nickname is claimed while its password is awaited, and the
        // user already hears the main channel.
        client.SendStr("Password: ");
        client.Nick = nick;
        client.AwaitingLoginPassword = true;
        client.AwaitingNick = false;
        client.Channel = state.settings.MainC;
        client.SetLineEcho(false);
        return;
    }
    client.Nick = nick;
    client.AwaitingNick = false;
    CompleteLogin(state, client);
}

void CompleteLogin(ChatState& state, TTcpSrvClient& client) {
    state.online.Add(client.Nick);
    client.ChannelLocked = false;
    client.Channel = state.settings.MainC;
    LogNickname(state, client);
    client.SendStr(state.settings.Welcome + "\r\n");
    TellChannel(state, client,
                state.settings.Prefix + " " + client.Nick + " " + state.settings.Join + "\r\n");
}

void HandleLoginPassword(ChatState& state, TTcpSrvClient& client) {
    const int record = state.users.FindUserRecord(client.Nick);
    if (PasswordMatches(state, record, client.Nick, client.ReceivedLine)) {
        client.AwaitingLoginPassword = false;
        ApplyStoredSettings(state, client, record);
        SendMessageCount(state, client);
        CompleteLogin(state, client);
        return;
    }
    Reply(state, client, " Bad password, try another nick: ");
    client.Nick = kChoosingNickname;
    client.Channel = kChoosingNickname;
    client.AwaitingNick = true;
    client.SetLineEcho(true);
    client.AwaitingLoginPassword = false;
}

void HandleNickChangePassword(ChatState& state, TTcpSrvClient& client) {
    const int record = state.users.FindUserRecord(client.Nick);
    if (PasswordMatches(state, record, client.Nick, client.ReceivedLine)) {
        ApplyStoredSettings(state, client, record);
        SendMessageCount(state, client);
        LogNickname(state, client);
        client.SendStr(state.settings.Welcome + "\r\n");
        TellChannel(state, client,
                    state.settings.Prefix + " " + client.AuxNick + " is now known as " + client.Nick + "\r\n");
        state.online.RemoveAll(client.AuxNick);
        state.online.Add(client.Nick);
        client.AwaitingNickPassword = false;
        return;
    }
    Reply(state, client, " Bad password.  Returning to your old nick.\r\n");
    client.Nick = client.AuxNick;
    client.AuxNick.clear();
    client.SetLineEcho(true);
    client.AwaitingNickPassword = false;
}

}  // namespace qm
