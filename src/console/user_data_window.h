#pragma once
// The user data editor: the registered nicknames, and for the selected one a
// new password and the three role settings stored in its record. The list
// exists only while the editor is shown.
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "host/core_host.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace qm::console {

class UserDataWindow final : public QWidget {
    Q_OBJECT
public:
    explicit UserDataWindow(CoreHost& core, QWidget* parent = nullptr);

    QListWidget* List() const { return list_; }
    QLineEdit* Pass() const { return pass_; }
    QCheckBox* RoleBox(Role role) const { return roleBoxes_[static_cast<int>(role)]; }
    QPushButton* WriteButton() const { return write_; }

signals:
    // Write Record has finished: `written` is false when there was no such
    // record or the password could not be hashed.
    void recordWritten(bool written);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void SelectionChanged();
    void ShowRoles(const std::optional<RecordRoles>& roles);
    void WriteRecord();

    CoreHost& core_;
    QListWidget* list_;
    QLineEdit* pass_;
    QLabel* passLabel_;
    QCheckBox* roleBoxes_[3];
    QPushButton* write_;
};

}  // namespace qm::console
