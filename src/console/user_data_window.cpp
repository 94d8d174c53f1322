#include "console/user_data_window.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "console/core_call.h"
#include "console/latin1.h"
#include "console/password_mask.h"

namespace qm::console {

namespace {

constexpr const char* kRoleCaptions[] = {"ServOP", "ChanOP", "Spy"};

}  // namespace

UserDataWindow::UserDataWindow(CoreHost& core, QWidget* parent)
    : QWidget(parent, Qt::Tool),
      core_(core),
      list_(new QListWidget),
      pass_(new QLineEdit),
      passLabel_(new QLabel(QStringLiteral("New Password:"))),
      write_(new QPushButton(QStringLiteral("Write Record"))) {
    setWindowTitle(QStringLiteral("Edit User Data"));
    MaskWith(*pass_, QLatin1Char('*'));

    auto* layout = new QGridLayout(this);
    layout->addWidget(list_, 0, 0, 7, 1);
    layout->addWidget(passLabel_, 0, 1);
    layout->addWidget(pass_, 1, 1);
    for (int i = 0; i < 3; ++i) {
        roleBoxes_[i] = new QCheckBox(QString::fromLatin1(kRoleCaptions[i]));
        layout->addWidget(roleBoxes_[i], 2 + i, 1);
    }
    layout->addWidget(write_, 5, 1);
    SelectionChanged();

    connect(list_, &QListWidget::itemSelectionChanged, this, &UserDataWindow::SelectionChanged);
    connect(write_, &QPushButton::clicked, this, &UserDataWindow::WriteRecord);
}

void UserDataWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    AskCore(core_, this, [](OperatorApi& api) { return api.RegisteredNicks(); },
            [this](const std::vector<std::string>& nicks) {
                list_->clear();
                for (const auto& nick : nicks) list_->addItem(FromBytes(nick));
            });
}

void UserDataWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    list_->clear();
}

void UserDataWindow::SelectionChanged() {
    const QListWidgetItem* item = list_->currentItem();
    const bool selected = item != nullptr && item->isSelected();
    for (QWidget* control : {static_cast<QWidget*>(pass_), static_cast<QWidget*>(passLabel_),
                             static_cast<QWidget*>(write_)})
        control->setEnabled(selected);
    for (QCheckBox* box : roleBoxes_) box->setEnabled(selected);
    if (!selected) return;
    // The password box keeps its text: it applies to whichever record is written.
    AskCore(core_, this, [nick = ToBytes(item->text())](OperatorApi& api) { return api.RecordRolesOf(nick); },
            [this](const std::optional<RecordRoles>& roles) { ShowRoles(roles); });
}

void UserDataWindow::ShowRoles(const std::optional<RecordRoles>& roles) {
    if (!roles) return;
    const std::optional<bool> lines[] = {roles->servOp, roles->chanOp, roles->spy};
    // A line that is neither "Y" nor "N" leaves its box as it was.
    for (int i = 0; i < 3; ++i)
        if (lines[i]) roleBoxes_[i]->setChecked(*lines[i]);
}

void UserDataWindow::WriteRecord() {
    const QListWidgetItem* item = list_->currentItem();
    if (item == nullptr) return;
    const RoleFlags roles{roleBoxes_[0]->isChecked(), roleBoxes_[1]->isChecked(), roleBoxes_[2]->isChecked()};
    core_.Post([this, nick = ToBytes(item->text()), password = ToBytes(pass_->text()), roles](OperatorApi& api) mutable {
        // The answer comes once the record is written (after the hash, off the core's thread).
        api.WriteRecord(std::move(nick), std::move(password), roles, [this](bool written) {
            AnswerOnGui(this, [this](bool done) { emit recordWritten(done); }, written);
        });
    });
}

}  // namespace qm::console
