#pragma once
// The IRC link window: the link's identity and target, the channel spy
// switch, Start, Stop and Join, the link log, and two input lines (a line to
// the IRC channel and a raw protocol line), sent by Enter. Every value is
// stored as it is typed, in the preference store the daemon reads too.
#include <QWidget>
#include <map>
#include <string>

#include "host/core_host.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace qm::console {

class CoreEvents;

class IrcLinkWindow final : public QWidget {
    Q_OBJECT
public:
    IrcLinkWindow(CoreHost& core, CoreEvents& events, QWidget* parent = nullptr);

    // Takes the stored values (once the core runs).
    void LoadValues();

    // An edit by its stored key: Nick, AltNick, UserID, UserInfo, Server, Port, Channel.
    QLineEdit* Edit(const std::string& key) const { return edits_.at(key); }
    QCheckBox* ChannelSpy() const { return spy_; }
    QPushButton* StartButton() const { return start_; }
    QPushButton* StopButton() const { return stop_; }
    QPushButton* JoinButton() const { return join_; }
    QPlainTextEdit* Log() const { return log_; }
    QLineEdit* ToChannel() const { return toChannel_; }
    QLineEdit* Raw() const { return raw_; }

private:
    QLineEdit* AddEdit(const std::string& key);
    void ShowValues(const IrcLinkSettings& values);
    void Enter();

    CoreHost& core_;
    std::map<std::string, QLineEdit*> edits_;
    QCheckBox* spy_;
    QPushButton* start_;
    QPushButton* stop_;
    QPushButton* join_;
    QPlainTextEdit* log_;
    QLineEdit* toChannel_;
    QLineEdit* raw_;
};

}  // namespace qm::console
