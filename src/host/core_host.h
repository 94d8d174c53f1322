#pragma once
// The core host: the one way into the running core for a front end (the
// daemon, the console). It owns the core's io_context and the thread that
// runs it, builds the chat server and the IRC link on that thread, and
// carries every operator action onto it. Nothing here makes the caller wait
// for the core, except start-up's result for a caller that asks for it and a
// bounded wait for the files to be written at the end.
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "irc/irc_link_settings.h"
#include "server/chat_server.h"
#include "server/operator_api.h"

namespace qm {

class IrcBridge;
class IrcLinkKeeper;

struct CoreHostOptions {
    ChatServerOptions server;
    // Goes into the settings before start-up, and nowhere else.
    std::string adminPass;
    // Start the IRC link at start-up and keep it up.
    bool startIrc = false;
    // Lines for the server log before start-up (what the front end did first).
    std::vector<std::string> startupNotes;
};

class CoreHost {
public:
    // Events reach `observer` on the core's thread.
    CoreHost(OperatorObserver& observer, CoreHostOptions options);
    // Stops the core's thread (without writing the files: Stop does that).
    ~CoreHost();
    CoreHost(const CoreHost&) = delete;
    CoreHost& operator=(const CoreHost&) = delete;

    // Starts the core's thread and runs start-up there; `started` is told,
    // on that thread, whether every step succeeded.
    void Start(std::function<void(bool ok)> started);
    // Runs `action` on the core's thread.
    void Post(std::function<void(OperatorApi&)> action);
    // Runs `action` with the IRC link (the link window's operations: Start,
    // Stop, Join, Enter, the stored values, the link log) on the core's thread.
    void PostLink(std::function<void(IrcBridge&)> action);
    // The IRC link window's operations, each run on the core's thread.
    void StartLink();
    void StopLink();
    void JoinLink();
    void EnterLink(std::string raw, std::string toChannel);
    // The link's stored values, handed to `answer` on the core's thread.
    void LinkValues(std::function<void(const IrcLinkSettings&)> answer);
    // Reload Settings, and the IRC link's stored values again.
    void ReloadSettings();
    // The link window's autosave: stores one of the link's values (Nick,
    // AltNick, UserID, UserInfo, Server, Port, Channel, BiDir) in the
    // preference store, and the link uses it from now on (the identity,
    // server and port at its next Start).
    void SetLinkValue(std::string key, std::string value);
    // Writes user.dat, mail.dat and the log, then stops the core's thread.
    // Waits at most `limit` for the files; returns whether all were written
    // in time. A core that did not finish in time is left to the process's end.
    bool Stop(std::chrono::milliseconds limit);

private:
    void StartUp(const std::function<void(bool ok)>& started);
    // The link's values, as the preference store holds them now.
    void ReadLinkSettings();
    void ReportError(const std::string& message) { observer_.OperatorError(message); }

    OperatorObserver& observer_;
    CoreHostOptions options_;
    boost::asio::io_context io_{1};
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
    // Built and used on the core's thread; destroyed after it has stopped.
    std::unique_ptr<IrcBridge> bridge_;
    std::unique_ptr<ChatServer> server_;
    std::unique_ptr<IrcLinkKeeper> keeper_;
    std::thread thread_;
    bool abandoned_ = false;
};

}  // namespace qm
