#include "commands/accounts.h"

#include <memory>

#include <functional>

namespace qm {

namespace {

// Hashes `password` on a worker while the client's later lines wait, then
// runs `store` with the stored form on the loop thread; `store` lets the
// client's lines in again (Resume, or ReplyWhenSaved). When too many jobs
// wait already, the user is told so and nothing changes.
void WithHashedPassword(ChatState& state, TTcpSrvClient& client, std::string password,
                        std::function<void(TTcpSrvClient&, std::string)> store) {
    std::weak_ptr<TTcpSrvClient> weak = client.Self();
    auto stored = [&state, weak, store = std::move(store)](std::string hash) {
        const auto c = weak.lock();
        if (!c || !c->Connected()) return;
        if (!hash.empty()) return store(*c, std::move(hash));
        Reply(state, *c, " Your password could not be stored.  Please try again later.\r\n");
        c->Resume();
    };
    const bool queued = state.passwords.Hash(std::move(password), std::move(stored));
    if (queued)
        client.Pause();
    else
        ReplyServerBusy(state, client);
}

}  // namespace

void CmdPass(ChatState& state, TTcpSrvClient& client, std::string_view password) {
    if (state.users.FindUserRecord(client.Nick()) < 0) {
        Reply(state, client, " You haven't registered.  Type /reg <password> to register now.\r\n");
        return;
    }
    if (password.empty()) {
        Reply(state, client, " Useage: /pass <new password>\r\n");
        return;
    }
    WithHashedPassword(state, client, std::string(password), [&state](TTcpSrvClient& c, std::string stored) {
        // Records are never removed, so the one found before still stands.
        state.users.SetRecordLine(state.users.FindUserRecord(c.Nick()), UserDatabase::kPassword, std::move(stored));
        ReplyWhenSaved(state, c, " New password set.\r\n");
    });
}

void CmdReg(ChatState& state, TTcpSrvClient& client, std::string_view password) {
    // A game client that has not named itself yet.
    if (IsChoosingNickname(client.Nick())) {
        Reply(state, client, " You have no nickname to register.  Choose one with /n first.\r\n");
        return;
    }
    if (state.users.FindUserRecord(client.Nick()) >= 0) {
        Reply(state, client, " You may not reregister.\r\n");
        return;
    }
    // An empty password would protect nothing.
    if (password.empty()) {
        Reply(state, client, " Useage: /reg <password>\r\n");
        return;
    }
    WithHashedPassword(state, client, std::string(password), [&state](TTcpSrvClient& c, std::string stored) {
        // The operator may have registered the nickname meanwhile.
        if (state.users.FindUserRecord(c.Nick()) >= 0) {
            Reply(state, c, " You may not reregister.\r\n");
            c.Resume();
            return;
        }
        state.users.AppendRecord(c.Nick(), std::move(stored));
        ReplyWhenSaved(state, c, " You have been registered.\r\n");
    });
}

}  // namespace qm
