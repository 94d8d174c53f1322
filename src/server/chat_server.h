#pragma once
// The chat server: owns the listening server, the settings, the stores and
// the log; runs the start-up, handles connects, lines and disconnects, runs
// the timers, and carries out the operator's actions.
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "commands/chat_state.h"
#include "irc/irc_link.h"
#include "server/bridged_channel.h"
#include "server/listening_server.h"
#include "server/login_watch.h"
#include "server/way_listeners.h"
#include "chat/online_users.h"
#include "server/operator_api.h"
#include "storage/clock.h"
#include "storage/file_writer.h"
#include "storage/mail_store.h"
#include "storage/preferences.h"
#include "storage/server_log.h"
#include "storage/settings.h"
#include "storage/user_database.h"

namespace qm {

struct ChatServerOptions {
    std::filesystem::path dataDir = ".";
    std::filesystem::path preferencesFile = PreferenceStore::DefaultPath();
    // Where to listen: empty for every interface, IPv6 and IPv4 alike, as a
    // chat server for a community should; tests use loopback.
    std::vector<std::string> listenAddresses;
    // user.dat and mail.dat follow a change within this time; a burst of
    // changes is written once. A registration, a new password or a mail is
    // confirmed only once written, so this is also how long that waits.
    std::chrono::milliseconds writeBehindDelay{100};
    // A failed save is tried again after this long, then after twice as
    // long each time, up to saveRetryLimit.
    std::chrono::milliseconds saveRetryDelay{1000};
    std::chrono::milliseconds saveRetryLimit{60000};
    // Close waits at most this long for the files to be written.
    std::chrono::milliseconds closeWriteLimit{20000};
    // A wrong password holds the client's next line back this long, as
    // trusted servers do, so that passwords cannot be guessed quickly.
    std::chrono::milliseconds badPasswordDelay{2000};
    // A connection that has not logged in this long after connecting is
    // closed, so that idle sockets cannot hold every place.
    std::chrono::milliseconds loginTimeout{60000};
    // While accepting fails (out of file descriptors), the wait before the
    // next try: doubling from the first to the most.
    AcceptRetry acceptRetry;
    // A password prompt left unanswered this long gives up: a login is
    // closed, a nickname change goes back to the old nickname. Until then
    // the connection holds the nickname.
    std::chrono::milliseconds passwordPromptTimeout{60000};
    // Guessing must not scale: once one address has given the wrong
    // password of one nickname (or the wrong /admin password) a few times,
    // each further attempt is held back this long, twice as long after
    // every further failure, up to the maximum.
    std::chrono::milliseconds failedPasswordFirstHold{2000};
    std::chrono::milliseconds failedPasswordMaxHold{std::chrono::minutes(15)};
    // /admin passwords are checked one at a time, this far apart, whatever
    // the number of connections trying; the others wait their turn.
    std::chrono::milliseconds adminCheckInterval{1000};
    const Clock* clock = nullptr;  // the system clock when null
};

class ChatServer final : public TransportEvents, public OperatorApi {
public:
    // `link` is the IRC link the commands report to; it must outlive the server.
    ChatServer(boost::asio::io_context& io, OperatorObserver& observer, IrcLink& link, ChatServerOptions options);
    ~ChatServer() override;

    // Loads every file and starts listening. Returns false when a step
    // failed; the error has been reported and the later steps were skipped.
    bool StartUp();

    // OperatorApi
    void Activate() override;
    void Deactivate() override;
    void ReloadSettings() override;
    // After the preference store was read again: the ways in open, move or
    // close as it says now, and a renewed TLS certificate counts. Nothing
    // opens while the server is deactivated.
    void ReloadListeners();
    void SaveLog() override;
    bool Close() override;
    bool SetSetting(std::string_view name, std::string value) override;
    std::vector<std::string> OnlineUsers() const override;
    Settings SettingValues() const override { return settings_; }
    bool ApplyProperties() override;
    bool RevertProperties() override;
    bool SaveAnnouncement() override;
    bool LoadAnnouncement() override;
    void AddBan(std::string entry) override;
    void RemoveBan(std::size_t index) override;
    std::optional<RoleFlags> RolesOf(std::string_view nick) const override;
    void SetRole(std::string_view nick, Role role, bool on) override;
    void AdminKill(std::string_view nick, std::string_view reason) override;
    void AdminBan(std::string_view nick) override;
    std::vector<std::string> RegisteredNicks() const override;
    std::optional<RecordRoles> RecordRolesOf(std::string_view nick) const override;
    void WriteRecord(std::string nick, std::string password, RoleFlags roles,
                     std::function<void(bool written)> done) override;

    // The preference store (the console's preferences and the IRC link's
    // stored values); one per process, so that no write undoes another.
    PreferenceStore& Preferences() { return preferences_; }

    // Adds a line to the server log.
    void Log(std::string_view text) { log_.Add(text); }

    unsigned short ListeningPort() const override { return server_.LocalPort(); }
    // The state the commands work on; touch it only on the loop thread.
    ChatState& state() { return state_; }
    const Settings& settings() const { return settings_; }
    const ServerLog& log() const { return log_; }
    // The connected clients; touch them only on the loop thread.
    ClientList& Clients() { return server_.Clients(); }
    // What the IRC bridge sends into the chat.
    BridgeChatSide& BridgeSide() { return bridgedChannel_; }
    int PeakUsers() const { return state_.PeakUsers; }

private:
    // TransportEvents
    bool OnClientConnect(TTcpSrvClient& client) override;
    void OnDataAvailable(TTcpSrvClient& client, std::string line, bool terminated) override;
    void OnClientDisconnect(TTcpSrvClient& client) override;
    void OnServerException(const std::exception& error) override;
    void OnClientException(TTcpSrvClient& client, const std::exception& error) override;
    void OnClientOverflow(TTcpSrvClient& client) override;

    bool IsBanned(std::string_view address) const;
    // One log line for each socket the telnet way listens on, then the
    // other ways as the preference store asks, with their certificates
    // read again.
    void OpenWaysIn();
    void ReadLoginLimit();
    bool FloodCheck(TTcpSrvClient& client);
    void ApplyMaxClients();
    void StartSaveTimer();
    void SaveTimerTick();
    void StartFloodTimer();
    void FloodTimerTick();
    void ScheduleDatabaseSave();
    // Hands snapshots of user.dat and mail.dat to the writer; the replies
    // waiting for them are sent once both are on disk.
    void SaveDatabases();
    // Hands the unsaved log lines to the writer, then runs `next` on the
    // loop thread if they were written.
    void SaveLog(std::function<void()> next);
    void WhenSaved(std::function<void()> reply);
    // Reports a failed write and tries everything again later.
    void SaveFailed(const std::string& error);
    void RetryTick();
    // A writer's report, carried to the loop thread unless the server is gone by then.
    FileWriter::Done OnLoop(std::function<void(const std::string& error)> then);
    // Runs one file step of an operator action; false (reported) when it failed.
    template <typename Step>
    bool FileStep(Step step);
    void ReportError(const std::string& message);
    std::filesystem::path DataFile(const char* name) const { return options_.dataDir / name; }

    boost::asio::io_context& io_;
    OperatorObserver& observer_;
    ChatServerOptions options_;
    SystemClock systemClock_;
    const Clock& clock_;
    Settings settings_;
    PreferenceStore preferences_;
    UserDatabase users_;
    MailStore mail_;
    ServerLog log_;
    qm::OnlineUsers online_;
    IrcLink& link_;
    PasswordWorker passwords_;
    TurnQueue adminChecks_;
    TWSocketServer server_;
    LoginWatch logins_;
    WayListeners ways_;
    BridgedChannel bridgedChannel_{server_.Clients()};
    ChatState state_;
    boost::asio::steady_timer saveTimer_;
    boost::asio::steady_timer floodTimer_;
    boost::asio::steady_timer writeBehindTimer_;
    boost::asio::steady_timer retryTimer_;
    std::chrono::milliseconds saveInterval_{300000};
    std::chrono::milliseconds retryDelay_;
    bool writeBehindArmed_ = false;
    bool retryArmed_ = false;
    bool databasesLoaded_ = false;
    // Replies that wait for the next save of user.dat and mail.dat.
    std::vector<std::function<void()>> waitingReplies_;
    // Reports from the writer check it before they touch the server.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    // Last, so that it finishes its work before anything it reports to goes.
    FileWriter writer_;
};

}  // namespace qm
