#pragma once
// The core's events, brought onto the GUI thread. The core raises them on its
// own thread; each is queued to this object's thread and emitted there as a
// Qt signal carrying its data, so the windows never touch the core and a busy
// window never holds the core up.
#include <QObject>
#include <QString>

#include "server/operator_api.h"

namespace qm::console {

class CoreEvents final : public QObject, public OperatorObserver {
    Q_OBJECT
public:
    explicit CoreEvents(QObject* parent = nullptr);

    // OperatorObserver, called on the core's thread.
    void LogLineAdded(const std::string& line) override;
    void OnlineUsersChanged(const OnlineUserChange& change) override;
    void ListeningChanged(bool listening) override;
    void OperatorError(const std::string& message) override;
    void LinkLogLineAdded(const std::string& line) override;
    void LinkStateChanged(LinkState state) override;
    void BansChanged(const std::vector<std::string>& bans) override;

signals:
    void logLine(const QString& line);
    // `newNick` is empty except for a rename.
    void onlineUsersChanged(qm::OnlineUserChange::Kind kind, const QString& nick, const QString& newNick);
    void listeningChanged(bool listening);
    void operatorError(const QString& message);
    void linkLogLine(const QString& line);
    void linkStateChanged(qm::LinkState state);
    void bansChanged(const std::vector<std::string>& bans);

private:
    // Runs `emitter` on this object's thread, after what was queued before it.
    template <typename Emitter>
    void OnGuiThread(Emitter emitter) {
        QMetaObject::invokeMethod(this, std::move(emitter), Qt::QueuedConnection);
    }
};

}  // namespace qm::console
