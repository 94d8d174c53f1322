#include "console/bans_window.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "console/core_call.h"
#include "console/core_events.h"
#include "console/latin1.h"

namespace qm::console {

BansWindow::BansWindow(CoreHost& core, CoreEvents& events, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint),
      core_(core),
      list_(new QListWidget),
      unban_(new QPushButton(QStringLiteral("Unban selected"))),
      entry_(new QLineEdit),
      add_(new QPushButton(QStringLiteral("Add"))) {
    setWindowTitle(QStringLiteral("Bans"));
    unban_->setEnabled(false);
    add_->setEnabled(false);
    list_->setMinimumHeight(200);

    connect(list_, &QListWidget::itemClicked, this, [this] { unban_->setEnabled(list_->currentRow() >= 0); });
    connect(unban_, &QPushButton::clicked, this, &BansWindow::Unban);
    connect(entry_, &QLineEdit::textChanged, this, [this](const QString& text) { add_->setEnabled(!text.isEmpty()); });
    connect(add_, &QPushButton::clicked, this, &BansWindow::Add);
    connect(&events, &CoreEvents::bansChanged, this, &BansWindow::ShowList);

    auto* addRow = new QHBoxLayout;
    addRow->addWidget(entry_);
    addRow->addWidget(add_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addWidget(unban_);
    layout->addLayout(addRow);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void BansWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    AskCore(core_, this, [](OperatorApi& api) { return api.SettingValues().Bans; },
            [this](const std::vector<std::string>& bans) { ShowList(bans); });
}

void BansWindow::ShowList(const std::vector<std::string>& bans) {
    const int row = list_->currentRow();
    list_->clear();
    for (const auto& entry : bans) list_->addItem(FromBytes(entry));
    // The selection stays on its row while there is one.
    if (row >= 0 && row < list_->count()) list_->setCurrentRow(row);
    if (list_->currentRow() < 0) unban_->setEnabled(false);
}

void BansWindow::Unban() {
    const int row = list_->currentRow();
    if (row < 0) return;
    // Nothing stays selected, so that a second press cannot remove the
    // entry that moved up.
    list_->setCurrentRow(-1);
    unban_->setEnabled(false);
    core_.Post([row](OperatorApi& api) { api.RemoveBan(static_cast<std::size_t>(row)); });
}

void BansWindow::Add() {
    core_.Post([entry = ToBytes(entry_->text())](OperatorApi& api) mutable { api.AddBan(std::move(entry)); });
    entry_->clear();
    add_->setEnabled(false);
}

}  // namespace qm::console
