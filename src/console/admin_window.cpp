#include "console/admin_window.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "console/core_call.h"
#include "console/core_events.h"
#include "console/latin1.h"

namespace qm::console {

namespace {

constexpr int kMaxReason = 256;
constexpr Role kRoles[] = {Role::kServOp, Role::kChanOp, Role::kSpy};
constexpr const char* kRoleCaptions[] = {"ServOP", "ChanOP", "Spy"};

bool RoleOf(const RoleFlags& flags, Role role) {
    switch (role) {
        case Role::kServOp: return flags.servOp;
        case Role::kChanOp: return flags.chanOp;
        case Role::kSpy: break;
    }
    return flags.spy;
}

}  // namespace

AdminWindow::AdminWindow(CoreHost& core, CoreEvents& events, QWidget* parent)
    : QWidget(parent, Qt::Tool),
      core_(core),
      list_(new QListWidget),
      reason_(new QLineEdit),
      ban_(new QPushButton(QStringLiteral("Ban"))),
      kill_(new QPushButton(QStringLiteral("Kill"))) {
    setWindowTitle(QStringLiteral("Admin Controls"));
    reason_->setMaxLength(kMaxReason);
    ban_->setEnabled(false);

    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Nickname")), 0, 0);
    layout->addWidget(list_, 1, 0, 6, 1);
    for (const Role role : kRoles) {
        const int i = static_cast<int>(role);
        auto* box = new QCheckBox(QString::fromLatin1(kRoleCaptions[i]));
        box->setEnabled(false);
        // Only the operator's click changes a role: a box set to show the
        // selected user's role sends nothing.
        connect(box, &QCheckBox::clicked, this, [this, role](bool on) {
            if (const auto nick = Selected())
                core_.Post([nick = *nick, role, on](OperatorApi& api) { api.SetRole(nick, role, on); });
        });
        roleBoxes_[i] = box;
        layout->addWidget(box, 1 + i, 1);
    }
    layout->addWidget(ban_, 4, 1);
    layout->addWidget(new QLabel(QStringLiteral("Reason")), 7, 0);
    layout->addWidget(reason_, 8, 0);
    layout->addWidget(kill_, 8, 1);

    connect(list_, &QListWidget::itemSelectionChanged, this, &AdminWindow::SelectionChanged);
    connect(ban_, &QPushButton::clicked, this, [this] {
        if (const auto nick = Selected()) core_.Post([nick = *nick](OperatorApi& api) { api.AdminBan(nick); });
    });
    connect(kill_, &QPushButton::clicked, this, [this] {
        const auto nick = Selected();
        if (!nick) return;
        core_.Post([nick = *nick, reason = ToBytes(reason_->text())](OperatorApi& api) {
            api.AdminKill(nick, reason);
        });
        reason_->clear();
    });
    connect(&events, &CoreEvents::onlineUsersChanged, this, &AdminWindow::OnlineChanged);
}

void AdminWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    AskCore(core_, this, [](OperatorApi& api) { return api.OnlineUsers(); },
            [this](const std::vector<std::string>& nicks) { ShowList(nicks); });
}

void AdminWindow::ShowList(const std::vector<std::string>& nicks) {
    list_->clear();
    for (const auto& nick : nicks) list_->addItem(FromBytes(nick));
}

void AdminWindow::OnlineChanged(OnlineUserChange::Kind kind, const QString& nick, const QString& newNick) {
    using Kind = OnlineUserChange::Kind;
    if (kind == Kind::kAdded) {
        list_->addItem(nick);
        return;
    }
    // Letter case significant, every entry of that nickname.
    for (int row = list_->count() - 1; row >= 0; --row) {
        QListWidgetItem* item = list_->item(row);
        if (item->text() != nick) continue;
        if (kind == Kind::kRenamed)
            item->setText(newNick);
        else
            delete list_->takeItem(row);
    }
}

std::optional<std::string> AdminWindow::Selected() const {
    const QListWidgetItem* item = list_->currentItem();
    if (item == nullptr || !item->isSelected()) return std::nullopt;
    return ToBytes(item->text());
}

void AdminWindow::SelectionChanged() {
    const auto nick = Selected();
    ban_->setEnabled(nick.has_value());
    for (QCheckBox* box : roleBoxes_) box->setEnabled(nick.has_value());
    if (!nick) return;
    AskCore(core_, this, [nick = *nick](OperatorApi& api) { return api.RolesOf(nick); },
            [this](const std::optional<RoleFlags>& roles) { ShowRoles(roles); });
}

void AdminWindow::ShowRoles(const std::optional<RoleFlags>& roles) {
    // A user who has left meanwhile leaves the boxes as they were.
    if (!roles) return;
    for (const Role role : kRoles) roleBoxes_[static_cast<int>(role)]->setChecked(RoleOf(*roles, role));
}

}  // namespace qm::console
