#pragma once
// What the command interpreter works on: the connections, the settings, the
// stores and the log. Everything here is touched only on the loop thread.
#include <chrono>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

#include "chat/client_list.h"
#include "chat/client_record.h"
#include "chat/online_users.h"
#include "commands/attempt_throttle.h"
#include "commands/password_worker.h"
#include "commands/turn_queue.h"
#include "irc/irc_link.h"
#include "storage/ascii.h"
#include "storage/clock.h"
#include "storage/mail_store.h"
#include "storage/server_log.h"
#include "storage/settings.h"
#include "storage/user_database.h"

namespace qm {

struct ChatState {
    Settings& settings;
    ClientList& clients;
    UserDatabase& users;
    MailStore& mail;
    ServerLog& log;
    OnlineUsers& online;
    IrcLink& link;
    const Clock& clock;
    PasswordWorker& passwords;
    // How long a wrong password holds back the client's next line.
    std::chrono::milliseconds badPasswordDelay;
    // How long a password prompt waits for its answer.
    std::chrono::milliseconds passwordPromptTimeout;
    // Wrong passwords of a nickname, per address and nickname.
    AttemptThrottle loginAttempts;
    // Wrong /admin passwords, per address.
    AttemptThrottle adminAttempts;
    // Where /admin passwords wait for their turn.
    TurnQueue& adminChecks;
    // Where the data files are (bans.txt is written by /ban).
    std::filesystem::path dataDir;
    // Shows an error to the operator ("Cannot create file ...").
    std::function<void(const std::string&)> reportError;
    // Tells the operator the ban list after a change.
    std::function<void(const std::vector<std::string>& bans)> bansChanged;
    // Runs the function once user.dat and mail.dat hold every change made so far.
    std::function<void(std::function<void()>)> whenSaved;
    // The most connections there have been at once (banned ones never count).
    int PeakUsers = 0;
};

// The `Prefix` setting followed by `text` (which begins with a blank).
inline void Reply(const ChatState& state, TTcpSrvClient& client, std::string_view text) {
    std::string line;
    line.reserve(state.settings.Prefix.size() + text.size());
    line.append(state.settings.Prefix).append(text);
    client.SendStr(line);
}

// Holds the client's later lines back and sends the reply once the change
// just made is on disk, so that a crash never loses what a user was told;
// nothing is sent to a client that has left meanwhile.
inline void ReplyWhenSaved(ChatState& state, TTcpSrvClient& client, std::string text) {
    client.Pause();
    state.whenSaved([&state, weak = std::weak_ptr<TTcpSrvClient>(client.Self()), text = std::move(text)] {
        const auto c = weak.lock();
        if (!c || !c->Connected()) return;
        Reply(state, *c, text);
        c->Resume();
    });
}

// The password workers have too many jobs waiting; nothing was done.
inline void ReplyServerBusy(const ChatState& state, TTcpSrvClient& client) {
    Reply(state, client, " The server is busy.  Please try again in a moment.\r\n");
}

}  // namespace qm
