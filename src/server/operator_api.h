#pragma once
// The boundary between the core and an operator front end (the desktop
// console or the daemon). Actions run on the core's thread: a front end on
// another thread posts them onto the core's io_context. Events are raised on
// the core's thread; a front end that has its own thread re-posts them.
#include <string>
#include <string_view>
#include <vector>

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
    // AdminPass, HelpReply, HelpChan, HelpReg). Returns false for an unknown name.
    virtual bool SetSetting(std::string_view name, std::string value) = 0;
    // The admin window's online-user list as it is built when the window is
    // shown: the nickname of every connected client, the newest first, and
    // "Choosing nickname..." for those still at the prompt.
    virtual std::vector<std::string> OnlineUsers() const = 0;
    // The port the server listens on (0 while it does not).
    virtual unsigned short ListeningPort() const = 0;
};

}  // namespace qm
