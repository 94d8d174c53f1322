#pragma once
// The boundary between the core and an operator front end (the desktop
// console or the daemon). Actions run on the core's thread: a front end on
// another thread posts them onto the core's io_context. Events are raised on
// the core's thread; a front end that has its own thread re-posts them.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chat/roles.h"
#include "storage/settings.h"

namespace qm {

// One change of the admin window's online-user list.
struct OnlineUserChange {
    enum class Kind { kAdded, kRenamed, kRemoved };
    Kind kind;
    // The nickname added or removed, or the old one of a rename.
    std::string nick;
    // The new nickname of a rename.
    std::string newNick;
};

// The IRC link's state: down, then connecting, logging on, and up
// (registered with the IRC server).
enum class LinkState { kDown, kConnecting, kLoggingOn, kUp };

class OperatorObserver {
public:
    virtual ~OperatorObserver() = default;
    // A line was added to the server log, as it stands there.
    virtual void LogLineAdded(const std::string& line) = 0;
    // The online-user list changed: a login (added), a nickname change
    // (renamed), a disconnect (every entry of that nickname removed).
    virtual void OnlineUsersChanged(const OnlineUserChange& change) = 0;
    // Listening started (true) or stopped (false).
    virtual void ListeningChanged(bool listening) = 0;
    // An error to show to the operator, such as "Cannot open file help.txt".
    virtual void OperatorError(const std::string& message) = 0;
    // A line was added to the IRC link's log.
    virtual void LinkLogLineAdded(const std::string& line) = 0;
    // The IRC link's state changed.
    virtual void LinkStateChanged(LinkState state) = 0;
    // The ban list changed (an operator's edit, /ban, the admin's Ban): all of it.
    virtual void BansChanged(const std::vector<std::string>& bans) = 0;
};

class OperatorApi {
public:
    virtual ~OperatorApi() = default;
    // File, Activate: listen again on the port setting.
    virtual void Activate() = 0;
    // File, Deactivate: stop listening; connected users stay.
    virtual void Deactivate() = 0;
    // File, Reload Settings: the text files, messages.dat, Welcome and Busy.
    virtual void ReloadSettings() = 0;
    // File, Save Log: the log to today's file.
    virtual void SaveLog() = 0;
    // Closing: writes user.dat, mail.dat and the log. Returns false when a
    // file could not be written (the error has been reported).
    virtual bool Close() = 0;
    // One live field of the Properties dialog, by its setting name (Prefix,
    // Join, ..., Port, Max, Welcome, Busy, Saver, MainC, FloodProt, Icon,
    // AdminPass, HelpReply, HelpChan, HelpReg), or the announcement
    // ("Announcement"). Returns false for an unknown name.
    virtual bool SetSetting(std::string_view name, std::string value) = 0;
    // Every setting as it stands now (what the Properties dialog shows, the
    // announcement, the ban list).
    virtual Settings SettingValues() const = 0;
    // Properties, Okay: writes messages.dat, help.txt and qmserv.dat, gives
    // the transport Busy and Max, and sets the log-save interval to Saver.
    // Stops at the first failing step (the error has been reported) and
    // returns false.
    virtual bool ApplyProperties() = 0;
    // Properties, Cancel: reads messages.dat, help.txt and qmserv.dat back.
    // Stops at the first file that cannot be read and returns false.
    virtual bool RevertProperties() = 0;

    // The announcements editor: Save writes announce.txt, Load reads it
    // back. False when the file could not be written or read (reported).
    virtual bool SaveAnnouncement() = 0;
    virtual bool LoadAnnouncement() = 0;

    // The bans editor: appends an entry as typed, or removes the entry at
    // `index`; either way bans.txt is written (a failure is reported, the
    // change in memory stands).
    virtual void AddBan(std::string entry) = 0;
    virtual void RemoveBan(std::size_t index) = 0;

    // The admin controls. The roles of the connected client called `nick`
    // (letter case significant; of several, the first to connect), if any.
    virtual std::optional<RoleFlags> RolesOf(std::string_view nick) const = 0;
    // Gives or takes `role` to every client called `nick` that lacks or has
    // it, with the promotion or removal text.
    virtual void SetRole(std::string_view nick, Role role, bool on) = 0;
    // Disconnects every client called `nick` (letter case ignored) with the
    // reason, and tells the last one's channel.
    virtual void AdminKill(std::string_view nick, std::string_view reason) = 0;
    // Appends the address of every client called `nick` to the ban list.
    virtual void AdminBan(std::string_view nick) = 0;

    // The user data editor: the registered nicknames in database order, the
    // role lines of a record, and Write Record (a non-empty password is
    // hashed off the core's thread; `done` runs on the core's thread once
    // the record has been written, with false when there was no such record
    // or the password could not be hashed).
    virtual std::vector<std::string> RegisteredNicks() const = 0;
    virtual std::optional<RecordRoles> RecordRolesOf(std::string_view nick) const = 0;
    virtual void WriteRecord(std::string nick, std::string password, RoleFlags roles,
                             std::function<void(bool written)> done) = 0;
    // The admin window's online-user list as it is built when the window is
    // shown: the nickname of every connected client, the newest first, and
    // "Choosing nickname..." for those still at the prompt.
    virtual std::vector<std::string> OnlineUsers() const = 0;
    // The port the server listens on (0 while it does not).
    virtual unsigned short ListeningPort() const = 0;
};

}  // namespace qm
