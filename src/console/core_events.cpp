#include "console/core_events.h"

#include "console/latin1.h"

namespace qm::console {

CoreEvents::CoreEvents(QObject* parent) : QObject(parent) {}

// The text is converted here, on the core's thread, so the GUI thread only emits.

void CoreEvents::LogLineAdded(const std::string& line) {
    OnGuiThread([this, text = FromBytes(line)] { emit logLine(text); });
}

void CoreEvents::OnlineUsersChanged(const OnlineUserChange& change) {
    OnGuiThread([this, kind = change.kind, nick = FromBytes(change.nick), newNick = FromBytes(change.newNick)] {
        emit onlineUsersChanged(kind, nick, newNick);
    });
}

void CoreEvents::ListeningChanged(bool listening) {
    OnGuiThread([this, listening] { emit listeningChanged(listening); });
}

void CoreEvents::OperatorError(const std::string& message) {
    OnGuiThread([this, text = FromBytes(message)] { emit operatorError(text); });
}

void CoreEvents::LinkLogLineAdded(const std::string& line) {
    OnGuiThread([this, text = FromBytes(line)] { emit linkLogLine(text); });
}

void CoreEvents::LinkStateChanged(LinkState state) {
    OnGuiThread([this, state] { emit linkStateChanged(state); });
}

void CoreEvents::BansChanged(const std::vector<std::string>& bans) {
    OnGuiThread([this, bans] { emit bansChanged(bans); });
}

}  // namespace qm::console
