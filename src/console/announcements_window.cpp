#include "console/announcements_window.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/core_call.h"
#include "console/latin1.h"
#include "console/multi_line.h"
#include "console/terminal_text.h"

namespace qm::console {

AnnouncementsWindow::AnnouncementsWindow(CoreHost& core, QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Tool),
      core_(core),
      mainWindow_(mainWindow),
      text_(new QPlainTextEdit(QStringLiteral("Server is online!"))),
      save_(new QPushButton(QStringLiteral("Save"))),
      load_(new QPushButton(QStringLiteral("Load"))),
      exit_(new QPushButton(QStringLiteral("Exit"))) {
    setWindowTitle(QStringLiteral("Announcements"));
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    // A terminal's 80 columns and a little more: the shipped text has 82.
    ShowAsTerminal(*text_, 84, 8);
    connect(text_, &QPlainTextEdit::textChanged, this, [this] {
        if (filling_) return;
        core_.Post([text = ToBytes(text_->toPlainText())](OperatorApi& api) mutable {
            api.SetSetting("Announcement", std::move(text));
        });
    });
    connect(save_, &QPushButton::clicked, this, [this] {
        core_.Post([](OperatorApi& api) { api.SaveAnnouncement(); });
    });
    connect(load_, &QPushButton::clicked, this, [this] {
        AskCore(core_, this,
                [](OperatorApi& api) {
                    // A file that cannot be read leaves the field as it was.
                    return api.LoadAnnouncement() ? std::optional(api.SettingValues().Announcement) : std::nullopt;
                },
                [this](const std::optional<std::string>& loaded) {
                    if (loaded) Show(*loaded);
                });
    });
    // Hiding saves nothing; the text counts as it stands.
    connect(exit_, &QPushButton::clicked, this, &QWidget::hide);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(save_);
    buttons->addWidget(load_);
    buttons->addStretch();
    buttons->addWidget(exit_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("This is sent to the user when they have sucessfully connected.")));
    layout->addWidget(text_);
    layout->addLayout(buttons);
}

void AnnouncementsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    move(mainWindow_->geometry().center() - rect().center());
    AskCore(core_, this, [](OperatorApi& api) { return api.SettingValues().Announcement; },
            [this](const std::string& announcement) { Show(announcement); });
}

void AnnouncementsWindow::Show(const std::string& announcement) {
    filling_ = true;
    text_->setPlainText(FromMultiLine(announcement));
    filling_ = false;
}

}  // namespace qm::console
