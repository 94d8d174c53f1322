#include "commands/login.h"

#include <memory>

#include "commands/mail.h"
#include "commands/routing.h"

namespace qm {

namespace {

// Wrong passwords are counted per address and nickname: a guesser is slowed
// down without holding back the owner, who comes from another address.
std::string AttemptKey(const TTcpSrvClient& client, std::string_view nick) {
    return client.PeerAddr + ' ' + FoldAscii(nick);
}

// Checks `password` as the password of the registered nickname in
// client.Nick(). The check runs on a worker while the client's later lines
// wait; `finish` then runs on the loop thread. A wrong password holds the
// client's next line back for a while, so that guessing is slow, and counts
// towards the longer hold of AskAfterHold.
void CheckPassword(ChatState& state, TTcpSrvClient& client, std::string_view password,
                   void (*finish)(ChatState&, TTcpSrvClient&, int record, bool matches)) {
    const int record = state.users.FindUserRecord(client.Nick());
    const std::string stored = state.users.RecordLine(record, UserDatabase::kPassword);
    std::weak_ptr<TTcpSrvClient> weak = client.Self();
    const bool queued = state.passwords.Check(stored, client.Nick(), std::string(password),
                                              [&state, weak, record, stored, finish](PasswordCheck check) {
        const auto c = weak.lock();
        if (!c || !c->Connected()) return;
        // A legacy value that opened the record gives way to the current form.
        if (!check.upgraded.empty() && state.users.RecordLine(record, UserDatabase::kPassword) == stored)
            state.users.SetRecordLine(record, UserDatabase::kPassword, std::move(check.upgraded));
        const bool matches = record >= 0 && check.matches;
        if (matches) {
            state.loginAttempts.Succeeded(AttemptKey(*c, c->Nick()));
        } else {
            state.loginAttempts.Failed(AttemptKey(*c, c->Nick()), state.clock.Now());
            state.log.Add(c->PeerAddr + ": " + c->Nick() + " failed to log in.  Bad password.");
        }
        finish(state, *c, record, matches);
        c->SyncEchoOption();
        if (matches)
            c->Resume();
        else
            c->PauseFor(state.badPasswordDelay);
    });
    // Too busy: the prompt stands, and the user may answer it again.
    if (!queued) {
        ReplyServerBusy(state, client);
        return;
    }
    // Answered: however long the check takes, the prompt no longer runs out.
    client.StopPromptTimer();
    client.Pause();
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

// A wrong password, or none in time, for the nickname /n asked for: back to the old one.
void RefuseNickChange(const ChatState& state, TTcpSrvClient& client) {
    Reply(state, client, " Bad password.  Returning to your old nick.\r\n");
    client.SetNick(client.AuxNick);
    client.AuxNick.clear();
    client.SetLineEcho(true);
    client.AwaitingNickPassword = false;
}

void LogNickname(const ChatState& state, const TTcpSrvClient& client) {
    state.log.Add(client.PeerAddr + " set nickname to: " + client.Nick());
}

}  // namespace

bool NicknameInUse(const ChatState& state, std::string_view nick) {
    return state.clients.FindByNick(nick) != nullptr;
}

void HandleNicknameLine(ChatState& state, TTcpSrvClient& client, std::string_view line) {
    if (line == kGameHandshake) {
        client.ChessMode = true;
        client.SetChannel("Chess");
        client.AwaitingNick = false;
        client.SetLineEcho(false);
        client.SendStr("* Entered chess mode.\r\n");
        return;
    }
    if (line.find('=') != std::string_view::npos) {
        Reply(state, client,
              " You may NOT have a = sign in your nick.  You may have any other character.\r\n");
        return;
    }
    const std::string nick(line.substr(0, kMaxNickLength));
    if (NicknameInUse(state, nick)) {
        Reply(state, client, " That nickname is in use.  Try another.\r\nNickname: ");
        return;
    }
    if (const int record = state.users.FindUserRecord(nick); record >= 0) {
        AskLoginPassword(state, client, record);
        return;
    }
    client.SetNick(nick);
    client.AwaitingNick = false;
    CompleteLogin(state, client);
}

namespace {

// Asks for the password of the record at once, unless this address has
// given that nickname's password wrongly too often: then the client's input
// is held back for a while first, with the nickname still free for its
// owner, who may have taken it by the time the hold ends.
void AskAfterHold(ChatState& state, TTcpSrvClient& client, int record, std::string_view inUseReply,
                  void (*ask)(ChatState&, TTcpSrvClient&, int record)) {
    const std::string nick = state.users.RecordLine(record, UserDatabase::kNick);
    const auto hold = state.loginAttempts.HoldFor(AttemptKey(client, nick), state.clock.Now());
    if (hold.count() == 0) {
        ask(state, client, record);
        return;
    }
    client.PauseThen(hold, [&state, &client, record, nick, inUseReply = std::string(inUseReply), ask] {
        if (NicknameInUse(state, nick))
            Reply(state, client, inUseReply);
        else
            ask(state, client, record);
        client.SyncEchoOption();
        client.Resume();
    });
}

void PromptLoginPassword(ChatState& state, TTcpSrvClient& client, int record) {
    // The user already hears the main channel.
    client.SendStr("Password: ");
    client.SetNick(state.users.RecordLine(record, UserDatabase::kNick));
    client.AwaitingLoginPassword = true;
    client.AwaitingNick = false;
    client.SetChannel(state.settings.MainC);
    client.SetLineEcho(false);
    client.StartPromptTimer(state.passwordPromptTimeout, [](TTcpSrvClient& c) {
        if (!c.AwaitingLoginPassword) return;
        c.SendStr("Login timed out.\r\n");
        c.CloseDelayed();
    });
}

void PromptNickChangePassword(ChatState& state, TTcpSrvClient& client, int record) {
    // The password step settles the change.
    client.SendStr("Password: ");
    client.AuxNick = client.Nick();
    client.SetNick(state.users.RecordLine(record, UserDatabase::kNick));
    client.AwaitingNickPassword = true;
    client.SetLineEcho(false);
    client.StartPromptTimer(state.passwordPromptTimeout, [&state](TTcpSrvClient& c) {
        if (!c.AwaitingNickPassword) return;
        RefuseNickChange(state, c);
        c.SyncEchoOption();
    });
}

}  // namespace

void AskLoginPassword(ChatState& state, TTcpSrvClient& client, int record) {
    AskAfterHold(state, client, record, " That nickname is in use.  Try another.\r\nNickname: ", PromptLoginPassword);
}

void AskNickChangePassword(ChatState& state, TTcpSrvClient& client, int record) {
    AskAfterHold(state, client, record, " That nickname is in use.  Try another.\r\n", PromptNickChangePassword);
}

void CompleteLogin(ChatState& state, TTcpSrvClient& client) {
    state.online.Add(client.Nick());
    client.ChannelLocked = false;
    client.SetChannel(state.settings.MainC);
    LogNickname(state, client);
    client.SendStr(state.settings.Welcome + "\r\n");
    SendToChannel(state, client, state.settings.Prefix + " " + client.Nick() + " " + state.settings.Join + "\r\n",
                  false);
}

void HandleLoginPassword(ChatState& state, TTcpSrvClient& client, std::string_view password) {
    CheckPassword(state, client, password, [](ChatState& state, TTcpSrvClient& client, int record, bool matches) {
        if (matches) {
            client.AwaitingLoginPassword = false;
            ApplyStoredSettings(state, client, record);
            ReplyMessageCount(state, client);
            CompleteLogin(state, client);
            return;
        }
        Reply(state, client, " Bad password, try another nick: ");
        client.SetNick(kChoosingNickname);
        client.SetChannel(kChoosingNickname);
        client.AwaitingNick = true;
        client.SetLineEcho(true);
        client.AwaitingLoginPassword = false;
    });
}

void HandleNickChangePassword(ChatState& state, TTcpSrvClient& client, std::string_view password) {
    CheckPassword(state, client, password, [](ChatState& state, TTcpSrvClient& client, int record, bool matches) {
        if (matches) {
            ApplyStoredSettings(state, client, record);
            ReplyMessageCount(state, client);
            LogNickname(state, client);
            client.SendStr(state.settings.Welcome + "\r\n");
            SendToChannel(state, client,
                          state.settings.Prefix + " " + client.AuxNick + " is now known as " + client.Nick() + "\r\n",
                          false);
            state.online.Rename(client.AuxNick, client.Nick());
            client.AwaitingNickPassword = false;
            return;
        }
        RefuseNickChange(state, client);
    });
}

}  // namespace qm
