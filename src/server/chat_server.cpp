#include "server/chat_server.h"

#include <arpa/inet.h>
#include <cxxabi.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdlib>
#include <typeinfo>

#include "commands/game.h"
#include "commands/interpreter.h"
#include "commands/operator_actions.h"
#include "storage/text_file.h"

namespace qm {

namespace {

constexpr std::size_t kMaxLineLength = 512;
constexpr auto kFloodTick = std::chrono::milliseconds(4000);
// Flood protection: a line that follows the previous one within a second
// raises the counter by one, and the timer lowers it by one every four
// seconds; at kFloodLimit the user's lines are ignored. A counter that still
// stands at the limit at a tick jumps to 66, so a flooder stays muted for
// about three minutes.
constexpr auto kFloodInterval = std::chrono::seconds(1);
constexpr int32_t kFloodLimit = 24;
constexpr int32_t kFloodPenalty = 66;

std::string ErrorKind(const std::exception& error) {
    const char* mangled = typeid(error).name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string kind = status == 0 && demangled ? demangled : mangled;
    std::free(demangled);
    return kind;
}

// The address shown in "Server started on:": the first IPv4 address of an
// interface that is not loopback, else loopback's.
std::string FirstLocalIPv4() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return "127.0.0.1";
    std::string loopback, other;
    for (ifaddrs* it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN] = {};
        auto* address = reinterpret_cast<sockaddr_in*>(it->ifa_addr);
        inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
        std::string& slot = (ntohl(address->sin_addr.s_addr) >> 24) == 127 ? loopback : other;
        if (slot.empty()) slot = text;
    }
    freeifaddrs(list);
    if (!other.empty()) return other;
    return loopback.empty() ? "127.0.0.1" : loopback;
}

// Control bytes would let a user move other users' cursors or smuggle line
// ends into what is relayed.
void RemoveControlBytes(std::string& line) {
    std::erase_if(line, [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 32 || b == 127;
    });
}

bool ParseBool(std::string_view text) {
    return text == "1" || text == "true" || text == "Y" || text == "yes" || text == "on";
}

}  // namespace

ChatServer::ChatServer(asio::io_context& io, OperatorObserver& observer, IrcLink& link, ChatServerOptions options)
    : io_(io),
      observer_(observer),
      options_(std::move(options)),
      clock_(options_.clock ? *options_.clock : systemClock_),
      preferences_(options_.preferencesFile),
      log_(clock_),
      link_(link),
      passwords_(io),
      adminChecks_(io, options_.adminCheckInterval),
      server_(io, *this),
      state_{settings_, server_.Clients(), users_, mail_, log_, online_, link_, clock_, passwords_,
             options_.badPasswordDelay, options_.passwordPromptTimeout,
             AttemptThrottle(options_.failedPasswordFirstHold, options_.failedPasswordMaxHold),
             AttemptThrottle(options_.failedPasswordFirstHold, options_.failedPasswordMaxHold), adminChecks_,
             options_.dataDir, [this](const std::string& e) { ReportError(e); },
             [this](const std::vector<std::string>& bans) { observer_.BansChanged(bans); }},
      saveTimer_(io),
      floodTimer_(io),
      writeBehindTimer_(io) {
    settings_.MainC = preferences_.GetText("Main", settings_.MainC);
    settings_.FloodProt = preferences_.GetBool("FloodProt", settings_.FloodProt);
    settings_.Icon = preferences_.GetBool("Icon", settings_.Icon);
    log_.onLine = [this](const std::string& line) { observer_.LogLineAdded(line); };
    using Change = OnlineUserChange::Kind;
    online_.onAdded = [this](const std::string& nick) { observer_.OnlineUsersChanged({Change::kAdded, nick, {}}); };
    online_.onRenamed = [this](const std::string& oldNick, const std::string& newNick) {
        observer_.OnlineUsersChanged({Change::kRenamed, oldNick, newNick});
    };
    online_.onRemoved = [this](const std::string& nick) {
        observer_.OnlineUsersChanged({Change::kRemoved, nick, {}});
    };
    users_.onChange = [this] { ScheduleDatabaseSave(); };
    mail_.onChange = [this] { ScheduleDatabaseSave(); };
}

ChatServer::~ChatServer() = default;

bool ChatServer::StartUp() {
    const auto& dir = options_.dataDir;
    try {
        qm::LoadAnnouncement(dir, settings_);
        LoadHelpTexts(dir, settings_);
        LoadMessages(dir, settings_);
        LoadServerSettings(dir, settings_);
        log_.Add("Loaded preferences.");
        LoadBans(dir, settings_);
        ApplyMaxClients();
        server_.Addr = options_.listenAddress;
        server_.Listen(std::to_string(ParseWholeNumber(settings_.Port)));
        observer_.ListeningChanged(true);
        log_.Add("Server started on: " + FirstLocalIPv4() + "  Waiting for connections...");
        saveInterval_ = std::chrono::minutes(ParseWholeNumber(settings_.Saver));
        StartSaveTimer();
        users_.Load(DataFile(files::kUsers));
        mail_.Load(DataFile(files::kMail));
        databasesLoaded_ = true;
        log_.Add("Databases ready.");
    } catch (const std::exception& e) {
        ReportError(e.what());
        return false;
    }
    if (settings_.FloodProt) StartFloodTimer();
    return true;
}

// ---- operator actions ----

void ChatServer::Activate() {
    if (server_.Listening()) return;
    try {
        server_.Addr = options_.listenAddress;
        server_.Listen(std::to_string(ParseWholeNumber(settings_.Port)));
    } catch (const std::exception& e) {
        ReportError(e.what());
        return;
    }
    log_.Add("Server activated.  Listening on port: " + settings_.Port);
    observer_.ListeningChanged(true);
}

void ChatServer::Deactivate() {
    if (!server_.Listening()) return;
    server_.Close();
    log_.Add("Server deactivated.  No more incomming connections allowed.");
    observer_.ListeningChanged(false);
}

void ChatServer::ReloadSettings() {
    const auto& dir = options_.dataDir;
    try {
        qm::LoadAnnouncement(dir, settings_);
        LoadHelpTexts(dir, settings_);
        LoadMessages(dir, settings_);
        ReloadServerTexts(dir, settings_);
    } catch (const std::exception& e) {
        ReportError(e.what());
        return;
    }
    log_.Add("Reloaded preferences.");
}

void ChatServer::SaveLog() { TrySaveLog(); }

bool ChatServer::Close() {
    writeBehindTimer_.cancel();
    writeBehindArmed_ = false;
    const bool databases = SaveDatabases();
    const bool log = TrySaveLog();
    return databases && log;
}

bool ChatServer::SetSetting(std::string_view name, std::string value) {
    try {
        if (name == "FloodProt") {
            settings_.FloodProt = ParseBool(value);
            if (settings_.FloodProt)
                StartFloodTimer();
            else
                floodTimer_.cancel();
            preferences_.SetBool("FloodProt", settings_.FloodProt);
            return true;
        }
        if (name == "Icon") {
            settings_.Icon = ParseBool(value);
            preferences_.SetBool("Icon", settings_.Icon);
            return true;
        }
        std::string* field = FindTextSetting(settings_, name);
        if (field == nullptr) return false;
        // The texts of several lines are held as the files hold them,
        // whatever line ends the editor used.
        *field = IsMultiLineSetting(name) ? JoinLines(SplitLines(value)) : std::move(value);
        if (name == "MainC") preferences_.Set("Main", *field);
    } catch (const FileError& e) {
        // The value counts in memory; the preference file is stale.
        ReportError(e.what());
    }
    return true;
}

template <typename Step>
bool ChatServer::FileStep(Step step) {
    try {
        step();
        return true;
    } catch (const std::runtime_error& e) {  // FileError, SettingError
        ReportError(e.what());
        return false;
    }
}

bool ChatServer::ApplyProperties() {
    if (!FileStep([&] { SaveProperties(options_.dataDir, settings_); })) return false;
    server_.BannerToBusy = settings_.Busy;
    ApplyMaxClients();
    if (!FileStep([&] { saveInterval_ = std::chrono::minutes(ParseWholeNumber(settings_.Saver)); })) return false;
    StartSaveTimer();
    return true;
}

bool ChatServer::RevertProperties() {
    const auto& dir = options_.dataDir;
    return FileStep([&] {
        LoadMessages(dir, settings_);
        settings_.HelpReply.clear();
        LoadHelpReply(dir, settings_);
        LoadServerSettings(dir, settings_);
    });
}

bool ChatServer::SaveAnnouncement() {
    return FileStep([&] { qm::SaveAnnouncement(options_.dataDir, settings_); });
}

bool ChatServer::LoadAnnouncement() {
    return FileStep([&] { qm::LoadAnnouncement(options_.dataDir, settings_); });
}

void ChatServer::AddBan(std::string entry) { AppendBan(state_, std::move(entry)); }

void ChatServer::RemoveBan(std::size_t index) { RemoveBanAt(state_, index); }

std::optional<RoleFlags> ChatServer::RolesOf(std::string_view nick) const { return ConnectedRolesOf(state_, nick); }

void ChatServer::SetRole(std::string_view nick, Role role, bool on) { SetConnectedRole(state_, nick, role, on); }

void ChatServer::AdminKill(std::string_view nick, std::string_view reason) { KillByOperator(state_, nick, reason); }

void ChatServer::AdminBan(std::string_view nick) { BanByOperator(state_, nick); }

std::vector<std::string> ChatServer::RegisteredNicks() const { return qm::RegisteredNicks(state_); }

std::optional<RecordRoles> ChatServer::RecordRolesOf(std::string_view nick) const {
    return StoredRolesOf(state_, nick);
}

void ChatServer::WriteRecord(std::string nick, std::string password, RoleFlags roles,
                             std::function<void(bool written)> done) {
    WriteUserRecord(state_, std::move(nick), std::move(password), roles, std::move(done));
}

std::vector<std::string> ChatServer::OnlineUsers() const {
    std::vector<std::string> nicks;
    nicks.reserve(server_.Clients().Count());
    server_.Clients().ForEachClientDown([&](const TTcpSrvClient& client) { nicks.push_back(client.Nick()); });
    return nicks;
}

// ---- connections ----

bool ChatServer::IsBanned(std::string_view address) const {
    return std::any_of(settings_.Bans.begin(), settings_.Bans.end(),
                       [&](const std::string& entry) { return BanEntryMatches(entry, address); });
}

void ChatServer::OnClientConnect(TTcpSrvClient& client) {
    const TimePoint now = clock_.Now();
    // Also for a refused connection, so that its disconnect logs a true duration.
    client.ConnectTime = now;
    if (IsBanned(client.PeerAddr)) {
        client.SendStr(settings_.IsBanned + "\r\n");
        client.CloseDelayed();
        log_.Add("Client connecting: " + client.PeerAddr + " is banned right now.");
        return;
    }
    log_.Add("Client connecting: " + client.PeerAddr);
    client.LineMode = true;
    client.SetLineEcho(true);
    client.ResetForConnect(now);
    client.SendStr("Announcements:\r\n" + settings_.Announcement);
    if (static_cast<int>(server_.Clients().Count()) > state_.PeakUsers) ++state_.PeakUsers;
}

void ChatServer::OnDataAvailable(TTcpSrvClient& client, std::string line, bool terminated) {
    RemoveControlBytes(line);
    if (line.empty()) {
        if (terminated) Reply(state_, client, " No text to send.\r\n");
        return;
    }
    if (line.size() > kMaxLineLength) line.resize(kMaxLineLength);
    if (!FloodCheck(client)) return;
    if (EqualsIgnoreCase(client.Channel(), settings_.MainC) && line.front() != '/' && !client.AwaitingPassword())
        log_.Add("<" + client.Nick() + "> " + line);
    ProcessData(state_, client, line);
    client.SyncEchoOption();
}

bool ChatServer::FloodCheck(TTcpSrvClient& client) {
    if (!settings_.FloodProt) return true;
    const TimePoint now = clock_.Now();
    if (client.FloodCount < kFloodLimit) {
        client.FloodNoticeSent = false;
        if (now - client.LastLineTime < kFloodInterval) ++client.FloodCount;
        client.LastLineTime = now;
        if (client.FloodCount < kFloodLimit) return true;
    }
    if (!client.FloodNoticeSent) {
        client.FloodNoticeSent = true;
        Reply(state_, client, " You are sending lines too fast.  They are ignored for a while.\r\n");
        log_.Add(client.PeerAddr + ": " + client.Nick() + " is flooding.  Lines ignored for a while.");
    }
    return false;
}

void ChatServer::OnClientDisconnect(TTcpSrvClient& client) {
    if (client.InGame) AbortGame(state_, client);
    online_.RemoveAll(client.Nick());
    const auto duration =
        std::chrono::duration_cast<std::chrono::seconds>(clock_.Now() - client.ConnectTime);
    log_.Add("Client disconnecting: " + client.Nick() + "    Duration: " + FormatDuration(duration));
    if (client.DepartureAnnounced) return;
    link_.Announce("*** " + client.Nick() + " was disconnected.");
    const std::string notice = settings_.Prefix + " " + client.Nick() + " " + settings_.Diss + "\r\n";
    server_.Clients().SendDepartureNotice(client, notice, ClientList::Departure::kDisconnected);
}

void ChatServer::OnServerException(const std::exception& error) {
    log_.Add("WARNING!  Server exception occured: " + ErrorKind(error) + ": " + error.what());
    try {
        log_.Save(options_.dataDir);
    } catch (const FileError&) {
        // Saving after a server error fails silently; the next save tries again.
    }
}

void ChatServer::OnClientException(TTcpSrvClient&, const std::exception& error) {
    log_.Add("Client exception occured: " + ErrorKind(error) + ": " + error.what());
}

void ChatServer::OnClientOverflow(TTcpSrvClient& client) {
    log_.Add("Client dropped: " + client.PeerAddr + " (" + client.Nick() +
             ") stopped reading; more than 1 MiB of output was waiting.");
}

// ---- timers and saving ----

void ChatServer::ApplyMaxClients() {
    try {
        server_.MaxClients = settings_.Max.empty() ? 0 : ParseWholeNumber(settings_.Max);
    } catch (const SettingError& e) {
        server_.MaxClients = 0;
        ReportError(e.what());
    }
}

void ChatServer::StartSaveTimer() {
    saveTimer_.cancel();
    // An interval of 0 stops the periodic save.
    if (saveInterval_.count() <= 0) return;
    saveTimer_.expires_after(saveInterval_);
    saveTimer_.async_wait([this](std::error_code ec) {
        if (!ec) SaveTimerTick();
    });
}

void ChatServer::SaveTimerTick() {
    if (TrySaveLog()) SaveDatabases();
    StartSaveTimer();
}

void ChatServer::StartFloodTimer() {
    floodTimer_.expires_after(kFloodTick);
    floodTimer_.async_wait([this](std::error_code ec) {
        if (!ec && settings_.FloodProt) FloodTimerTick();
    });
}

void ChatServer::FloodTimerTick() {
    server_.Clients().ForEachClientDown([](TTcpSrvClient& client) {
        if (client.FloodCount == kFloodLimit) client.FloodCount = kFloodPenalty;
        if (client.FloodCount != 0) --client.FloodCount;
    });
    StartFloodTimer();
}

void ChatServer::ScheduleDatabaseSave() {
    if (writeBehindArmed_) return;
    writeBehindArmed_ = true;
    writeBehindTimer_.expires_after(options_.writeBehindDelay);
    writeBehindTimer_.async_wait([this](std::error_code ec) {
        if (ec) return;
        writeBehindArmed_ = false;
        SaveDatabases();
    });
}

bool ChatServer::SaveDatabases() {
    // Never write over files whose contents were not loaded.
    if (!databasesLoaded_) return true;
    try {
        users_.Save(DataFile(files::kUsers));
        mail_.Save(DataFile(files::kMail));
        return true;
    } catch (const FileError& e) {
        ReportError(e.what());
        return false;
    }
}

bool ChatServer::TrySaveLog() {
    try {
        log_.Save(options_.dataDir);
        return true;
    } catch (const FileError& e) {
        ReportError(e.what());
        return false;
    }
}

void ChatServer::ReportError(const std::string& message) { observer_.OperatorError(message); }

}  // namespace qm
