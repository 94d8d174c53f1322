#pragma once
// The admin controls: the users connected now, their roles, Kill with a
// reason and Ban of their address. The list holds nickname texts only; each
// action finds the users again by the selected nickname.
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "host/core_host.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace qm::console {

class CoreEvents;

class AdminWindow final : public QWidget {
    Q_OBJECT
public:
    AdminWindow(CoreHost& core, CoreEvents& events, QWidget* parent = nullptr);

    QListWidget* List() const { return list_; }
    QLineEdit* Reason() const { return reason_; }
    QCheckBox* RoleBox(Role role) const { return roleBoxes_[static_cast<int>(role)]; }
    QPushButton* BanButton() const { return ban_; }
    QPushButton* KillButton() const { return kill_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ShowList(const std::vector<std::string>& nicks);
    void OnlineChanged(OnlineUserChange::Kind kind, const QString& nick, const QString& newNick);
    void SelectionChanged();
    void ShowRoles(const std::optional<RoleFlags>& roles);
    // The selected nickname as the core knows it; empty when none is selected.
    std::optional<std::string> Selected() const;

    CoreHost& core_;
    QListWidget* list_;
    QLineEdit* reason_;
    QCheckBox* roleBoxes_[3];
    QPushButton* ban_;
    QPushButton* kill_;
};

}  // namespace qm::console
