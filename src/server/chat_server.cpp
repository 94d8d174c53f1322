#include "server/chat_server.h"

#include <arpa/inet.h>
#include <cxxabi.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <boost/asio/post.hpp>

#include <algorithm>
#include <cstdlib>
#include <typeinfo>

#include "commands/game.h"
#include "commands/interpreter.h"
#include "commands/operator_actions.h"
#include "storage/control_chars.h"
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
// The preference that caps the connections logging in from one address.
constexpr std::string_view kMaxLoginsKey = "MaxLoginsPerAddress";

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

bool ParseBool(std::string_view text) {
    return text == "1" || text == "true" || text == "Y" || text == "yes" || text == "on";
}

// The limit on all clients' unsent output together, from MaxTotalOutputMiB;
// a value that is no positive whole number keeps the default.
std::size_t MaxTotalOutput(const PreferenceStore& preferences) {
    const auto text = preferences.Get("MaxTotalOutputMiB");
    if (!text) return OutputScheduler::kDefaultMaxTotalOutput;
    try {
        const int mib = ParseWholeNumber(*text);
        if (mib > 0) return static_cast<std::size_t>(mib) << 20;
    } catch (const SettingError&) {
    }
    return OutputScheduler::kDefaultMaxTotalOutput;
}

}  // namespace

ChatServer::ChatServer(boost::asio::io_context& io, OperatorObserver& observer, IrcLink& link, ChatServerOptions options)
    : io_(io),
      observer_(observer),
      options_(std::move(options)),
      clock_(options_.clock ? *options_.clock : systemClock_),
      preferences_(options_.preferencesFile),
      log_(clock_),
      link_(link),
      passwords_(io),
      adminChecks_(io, options_.adminCheckInterval),
      server_(io, *this, options_.acceptRetry),
      logins_(io, options_.loginTimeout),
      ways_(server_, log_, preferences_, options_.dataDir, [this](const std::string& e) { ReportError(e); }),
      state_{settings_, server_.Clients(), users_, mail_, log_, online_, link_, clock_, passwords_,
             options_.badPasswordDelay, options_.passwordPromptTimeout,
             AttemptThrottle(options_.failedPasswordFirstHold, options_.failedPasswordMaxHold),
             AttemptThrottle(options_.failedPasswordFirstHold, options_.failedPasswordMaxHold), adminChecks_,
             options_.dataDir, [this](const std::string& e) { ReportError(e); },
             [this](const std::vector<std::string>& bans) { observer_.BansChanged(bans); },
             [this](std::function<void()> reply) { WhenSaved(std::move(reply)); }},
      saveTimer_(io),
      floodTimer_(io),
      writeBehindTimer_(io),
      retryTimer_(io),
      retryDelay_(options_.saveRetryDelay) {
    settings_.MainC = preferences_.GetText("Main", settings_.MainC);
    settings_.FloodProt = preferences_.GetBool("FloodProt", settings_.FloodProt);
    settings_.Icon = preferences_.GetBool("Icon", settings_.Icon);
    ReadLoginLimit();
    server_.SetMaxTotalOutput(MaxTotalOutput(preferences_));
    log_.onLine = [this](const std::string& line) { observer_.LogLineAdded(line); };
    // A busy log is written as it grows, not held until the next save;
    // while a save is failing, the retry writes it.
    log_.onUnsavedFull = [this] {
        if (!retryArmed_) SaveLog(nullptr);
    };
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
    // A save cut off by a crash leaves its temporary file; the file it was
    // to replace is whole, so the half-written copy goes.
    for (const auto& name : RemoveLeftoverTempFiles(dir)) log_.Add("Removed an unfinished save: " + name);
    try {
        qm::LoadAnnouncement(dir, settings_);
        LoadHelpTexts(dir, settings_);
        LoadMessages(dir, settings_);
        LoadServerSettings(dir, settings_);
        log_.Add("Loaded preferences.");
        if (const std::size_t blank = LoadBans(dir, settings_); blank > 0)
            log_.Add("Skipped " + std::to_string(blank) + (blank == 1 ? " blank line" : " blank lines") + " of " +
                     DataFile(files::kBans).string() + "; a blank line bans nobody.");
        server_.MaxClients = ServerSettingNumber(dir, settings_, ServerNumber::kMax);
        const int port = ServerSettingNumber(dir, settings_, ServerNumber::kPort);
        server_.Addrs = options_.listenAddresses;
        server_.Listen(std::to_string(port));
        observer_.ListeningChanged(true);
        log_.Add("Server started on: " + FirstLocalIPv4() + "  Waiting for connections...");
        // Port 0 takes any free port: the operator learns which from the log.
        if (port == 0) log_.Add("Listening on port: " + std::to_string(server_.LocalPort()));
        OpenWaysIn();
        saveInterval_ = std::chrono::minutes(ServerSettingNumber(dir, settings_, ServerNumber::kSaver));
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
        server_.Addrs = options_.listenAddresses;
        server_.Listen(std::to_string(ParseWholeNumber(settings_.Port)));
    } catch (const std::exception& e) {
        ReportError(e.what());
        return;
    }
    log_.Add("Server activated.  Listening on port: " + settings_.Port);
    OpenWaysIn();
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

void ChatServer::ReloadListeners() {
    if (server_.Listening()) ways_.Apply();
}

void ChatServer::OpenWaysIn() {
    ways_.LogListening(server_.TelnetWayIn());
    ways_.Apply();
}

void ChatServer::SaveLog() { SaveLog(nullptr); }

bool ChatServer::Close() {
    writeBehindTimer_.cancel();
    writeBehindArmed_ = false;
    const std::size_t failedBefore = writer_.Failures();
    SaveDatabases();
    SaveLog(nullptr);
    // The process may end right after this: the files must be on disk first.
    return writer_.WaitUntilIdle(options_.closeWriteLimit) && writer_.Failures() == failedBefore;
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
    if (!FileStep([&] {
            saveInterval_ = std::chrono::minutes(SaveIntervalMinutes(settings_.Saver, DataFile(files::kServer)));
        }))
        return false;
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

void ChatServer::AddBan(std::string entry) {
    if (IsBlankBanEntry(entry)) {
        ReportError("A blank ban entry would ban everybody; it was not added.");
        return;
    }
    AppendBan(state_, std::move(entry));
}

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

void ChatServer::ReadLoginLimit() {
    constexpr int kDefaultMostLogins = 20;
    const std::string text = preferences_.GetText(kMaxLoginsKey, std::to_string(kDefaultMostLogins));
    int most = -1;
    try {
        most = ParseWholeNumber(text);
    } catch (const SettingError&) {
        // Reported below, as a negative number is.
    }
    if (most < 0) {
        ReportError(std::string(kMaxLoginsKey) + "=" + text + " in " + preferences_.path().string() +
                    " is not a whole number of 0 or more; " + std::to_string(kDefaultMostLogins) + " is used.");
        most = kDefaultMostLogins;
    }
    logins_.SetMostPerAddress(most);
}

bool ChatServer::IsBanned(std::string_view address) const {
    return std::any_of(settings_.Bans.begin(), settings_.Bans.end(),
                       [&](const std::string& entry) { return BanEntryMatches(entry, address); });
}

namespace {
// The address as a connection's log lines name it: the ways in other than
// plain telnet, which the log has always meant, add their label.
std::string ConnectingName(const TTcpSrvClient& client) {
    if (client.Way() == kTelnetLabel) return client.PeerAddr;
    return client.PeerAddr + " (" + std::string(client.Way()) + ")";
}
}  // namespace

bool ChatServer::OnClientConnect(TTcpSrvClient& client) {
    const TimePoint now = clock_.Now();
    // Also for a refused connection, so that its disconnect logs a true duration.
    client.ConnectTime = now;
    if (IsBanned(client.PeerAddr)) {
        // A way with a handshake closes without a word: it has nobody to
        // speak to yet.
        client.SendStr(settings_.IsBanned + "\r\n");
        client.CloseDelayed();
        log_.Add("Client connecting: " + ConnectingName(client) + " is banned right now.");
        return true;
    }
    log_.Add("Client connecting: " + ConnectingName(client));
    client.LineMode = true;
    client.SetLineEcho(true);
    client.ResetForConnect(now);
    client.SendStr("Announcements:\r\n" + settings_.Announcement);
    if (static_cast<int>(server_.Clients().Count()) > state_.PeakUsers) ++state_.PeakUsers;
    return logins_.Admit(client);
}

void ChatServer::OnDataAvailable(TTcpSrvClient& client, std::string line, bool terminated) {
    // Every command and every chat line starts from here, so nothing a user
    // types can carry a control character to anyone else.
    RemoveControlChars(line);
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
    SaveLog(nullptr);
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
    saveTimer_.async_wait([this](boost::system::error_code ec) {
        if (!ec) SaveTimerTick();
    });
}

void ChatServer::SaveTimerTick() {
    SaveLog([this] { SaveDatabases(); });
    StartSaveTimer();
}

void ChatServer::StartFloodTimer() {
    floodTimer_.expires_after(kFloodTick);
    floodTimer_.async_wait([this](boost::system::error_code ec) {
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
    writeBehindTimer_.async_wait([this](boost::system::error_code ec) {
        if (ec) return;
        writeBehindArmed_ = false;
        SaveDatabases();
    });
}

void ChatServer::SaveDatabases() {
    // Never write over files whose contents were not loaded.
    if (!databasesLoaded_) return;
    // Failing either file fails the round; the replies wait for a round
    // that wrote both.
    auto failed = std::make_shared<bool>(false);
    auto replies = std::make_shared<std::vector<std::function<void()>>>(std::exchange(waitingReplies_, {}));
    writer_.Replace(
        DataFile(files::kUsers), [lines = users_.Lines()] { return JoinLines(lines); },
        OnLoop([this, failed](const std::string& error) {
            if (error.empty()) return;
            *failed = true;
            SaveFailed(error);
        }));
    writer_.Replace(
        DataFile(files::kMail), [lines = mail_.Lines()] { return WriteRtfParagraphs(lines); },
        OnLoop([this, failed, replies](const std::string& error) {
            if (!error.empty() && !*failed) SaveFailed(error);
            if (!error.empty() || *failed) {
                waitingReplies_.insert(waitingReplies_.begin(), replies->begin(), replies->end());
                return;
            }
            if (!retryArmed_) retryDelay_ = options_.saveRetryDelay;
            for (auto& reply : *replies) reply();
        }));
}

void ChatServer::SaveLog(std::function<void()> next) {
    auto bytes = std::make_shared<std::string>(log_.TakeUnsaved());
    writer_.Append(options_.dataDir / log_.FileNameNow(), *bytes,
                   OnLoop([this, bytes, next = std::move(next)](const std::string& error) {
                       if (!error.empty()) {
                           log_.ReturnUnsaved(std::move(*bytes));
                           SaveFailed(error);
                           return;
                       }
                       if (next) next();
                   }));
}

void ChatServer::WhenSaved(std::function<void()> reply) {
    waitingReplies_.push_back(std::move(reply));
    ScheduleDatabaseSave();
}

void ChatServer::SaveFailed(const std::string& error) {
    ReportError(error);
    if (retryArmed_) return;
    retryArmed_ = true;
    retryTimer_.expires_after(retryDelay_);
    retryDelay_ = std::min(retryDelay_ * 2, options_.saveRetryLimit);
    retryTimer_.async_wait([this](boost::system::error_code ec) {
        if (!ec) RetryTick();
    });
}

void ChatServer::RetryTick() {
    retryArmed_ = false;
    SaveLog([this] { SaveDatabases(); });
}

FileWriter::Done ChatServer::OnLoop(std::function<void(const std::string& error)> then) {
    return [&io = io_, alive = std::weak_ptr<int>(alive_), then = std::move(then)](const std::string& error) {
        boost::asio::post(io, [alive, then, error] {
            if (alive.lock()) then(error);
        });
    };
}

void ChatServer::ReportError(const std::string& message) { observer_.OperatorError(message); }

}  // namespace qm
