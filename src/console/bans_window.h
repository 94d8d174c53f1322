#pragma once
// The bans editor: the ban list itself, in the order the connect handler
// checks it. /ban and the admin controls append to the same list, and their
// entries show up here at once.
#include <QWidget>
#include <string>
#include <vector>

#include "host/core_host.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace qm::console {

class CoreEvents;

class BansWindow final : public QWidget {
    Q_OBJECT
public:
    BansWindow(CoreHost& core, CoreEvents& events, QWidget* parent = nullptr);

    QListWidget* List() const { return list_; }
    QPushButton* UnbanButton() const { return unban_; }
    QLineEdit* Entry() const { return entry_; }
    QPushButton* AddButton() const { return add_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ShowList(const std::vector<std::string>& bans);
    void Unban();
    void Add();

    CoreHost& core_;
    QListWidget* list_;
    QPushButton* unban_;
    QLineEdit* entry_;
    QPushButton* add_;
};

}  // namespace qm::console
