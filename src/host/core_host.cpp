#include "host/core_host.h"

#include <boost/asio/post.hpp>
#include <future>

#include "irc/irc_bridge.h"
#include "irc/irc_link_keeper.h"
#include "irc/irc_link_settings.h"
#include "storage/preferences.h"
#include "storage/text_file.h"

namespace qm {

CoreHost::CoreHost(OperatorObserver& observer, CoreHostOptions options)
    : observer_(observer), options_(std::move(options)), work_(boost::asio::make_work_guard(io_)) {}

CoreHost::~CoreHost() {
    if (!thread_.joinable()) return;
    if (abandoned_) {
        // Its last handler never came back: the objects it uses must stay.
        thread_.detach();
        (void)keeper_.release();
        (void)server_.release();
        (void)bridge_.release();
        return;
    }
    io_.stop();
    thread_.join();
}

void CoreHost::Start(std::function<void(bool ok)> started) {
    thread_ = std::thread([this] { io_.run(); });
    boost::asio::post(io_, [this, started = std::move(started)] { StartUp(started); });
}

void CoreHost::StartUp(const std::function<void(bool ok)>& started) {
    // The link's values are the IRC link window's, kept in the preference
    // store; its log is the front end's to show, never the server log.
    bridge_ = std::make_unique<IrcBridge>(io_);
    bridge_->onLinkLog = [this](const std::string& line) { observer_.LinkLogLineAdded(line); };
    bridge_->onLinkState = [this](TState state) {
        static constexpr LinkState kStates[] = {LinkState::kDown, LinkState::kConnecting, LinkState::kLoggingOn,
                                                LinkState::kUp};
        observer_.LinkStateChanged(kStates[state]);
    };
    server_ = std::make_unique<ChatServer>(io_, observer_, *bridge_, options_.server);
    bridge_->AttachChat(server_->BridgeSide());
    ReadLinkSettings();
    keeper_ = std::make_unique<IrcLinkKeeper>(io_, *bridge_);
    server_->SetSetting("AdminPass", std::exchange(options_.adminPass, {}));
    for (const auto& line : server_->log().Lines()) observer_.LogLineAdded(line);
    for (const auto& note : options_.startupNotes) server_->Log(note);
    const bool ok = server_->StartUp();
    // Without startIrc the link stays down until an operator starts it.
    if (ok && options_.startIrc) keeper_->Begin();
    started(ok);
}

void CoreHost::ReadLinkSettings() { bridge_->Configure(ReadIrcLinkSettings(server_->Preferences())); }

void CoreHost::SetLinkValue(std::string key, std::string value) {
    boost::asio::post(io_, [this, key = std::move(key), value = std::move(value)] {
        if (!server_) return;
        try {
            server_->Preferences().Set(key, value);
        } catch (const FileError& e) {
            // The value counts in memory; the operator learns that the file is stale.
            ReportError(e.what());
        }
        server_->ReloadListeners();
        ReadLinkSettings();
    });
}

void CoreHost::Post(std::function<void(OperatorApi&)> action) {
    boost::asio::post(io_, [this, action = std::move(action)] {
        if (server_) action(*server_);
    });
}

void CoreHost::PostLink(std::function<void(IrcBridge&)> action) {
    boost::asio::post(io_, [this, action = std::move(action)] {
        if (bridge_) action(*bridge_);
    });
}

void CoreHost::StartLink() {
    PostLink([](IrcBridge& link) { link.Start(); });
}

void CoreHost::StopLink() {
    PostLink([](IrcBridge& link) { link.Stop(); });
}

void CoreHost::JoinLink() {
    PostLink([](IrcBridge& link) { link.Join(); });
}

void CoreHost::EnterLink(std::string raw, std::string toChannel) {
    PostLink([raw = std::move(raw), toChannel = std::move(toChannel)](IrcBridge& link) { link.Enter(raw, toChannel); });
}

void CoreHost::LinkValues(std::function<void(const IrcLinkSettings&)> answer) {
    PostLink([answer = std::move(answer)](IrcBridge& link) { answer(link.Settings()); });
}

void CoreHost::ReloadSettings() {
    boost::asio::post(io_, [this] {
        if (!server_) return;
        server_->ReloadSettings();
        try {
            server_->Preferences().Reload();
        } catch (const FileError& e) {
            ReportError(e.what());
        }
        server_->ReloadListeners();
        ReadLinkSettings();
        keeper_->SettingsChanged();
    });
}

bool CoreHost::Stop(std::chrono::milliseconds limit) {
    if (!thread_.joinable()) return true;
    auto written = std::make_shared<std::promise<bool>>();
    auto result = written->get_future();
    boost::asio::post(io_, [this, written] {
        const bool ok = !server_ || server_->Close();
        // After the writer's reports, which Close has let onto the loop.
        boost::asio::post(io_, [written, ok] { written->set_value(ok); });
    });
    if (result.wait_for(limit) != std::future_status::ready) {
        abandoned_ = true;
        return false;
    }
    io_.stop();
    thread_.join();
    // The core's objects go while nothing runs them.
    keeper_.reset();
    server_.reset();
    bridge_.reset();
    return result.get();
}

}  // namespace qm
