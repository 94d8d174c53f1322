#include "console/irc_link_window.h"

#include <QAction>
#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/core_call.h"
#include "console/core_events.h"
#include "console/latin1.h"

namespace qm::console {

namespace {

// The log keeps this many lines; older ones scroll away.
constexpr int kMaxLogLines = 5000;

}  // namespace

IrcLinkWindow::IrcLinkWindow(CoreHost& core, CoreEvents& events, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::MSWindowsFixedSizeDialogHint),
      core_(core),
      spy_(new QCheckBox(QStringLiteral("IRC Channel Spy"))),
      start_(new QPushButton(QStringLiteral("Start"))),
      stop_(new QPushButton(QStringLiteral("Stop"))),
      join_(new QPushButton(QStringLiteral("Join"))),
      log_(new QPlainTextEdit),
      toChannel_(new QLineEdit),
      raw_(new QLineEdit) {
    setWindowTitle(QStringLiteral("IRC Link"));

    auto* identity = new QFormLayout;
    identity->addRow(QStringLiteral("Nick"), AddEdit("Nick"));
    // The alternative nick stands right under the nick, without a label.
    identity->addRow(QString(), AddEdit("AltNick"));
    identity->addRow(QStringLiteral("User ID"), AddEdit("UserID"));
    identity->addRow(QStringLiteral("User info"), AddEdit("UserInfo"));
    identity->addRow(QStringLiteral("IRC Server"), AddEdit("Server"));
    identity->addRow(QStringLiteral("IRC Port"), AddEdit("Port"));
    auto* channelRow = new QHBoxLayout;
    channelRow->addWidget(AddEdit("Channel"));
    channelRow->addWidget(join_);
    auto* left = new QVBoxLayout;
    left->addLayout(identity);
    left->addWidget(new QLabel(QStringLiteral("Link with channel:")));
    left->addLayout(channelRow);
    spy_->setToolTip(QStringLiteral("IRC users won't see messages from this server"));
    left->addWidget(spy_);
    auto* startStop = new QHBoxLayout;
    startStop->addWidget(start_);
    startStop->addWidget(stop_);
    left->addLayout(startStop);
    left->addStretch();

    log_->setReadOnly(true);
    log_->setMaximumBlockCount(kMaxLogLines);
    log_->setLineWrapMode(QPlainTextEdit::NoWrap);
    log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log_->setFixedSize(460, 300);
    log_->appendPlainText(QStringLiteral("*** Raw IRC Window"));
    log_->appendPlainText(QStringLiteral("*** Ready to connect"));
    auto* inputs = new QFormLayout;
    inputs->addRow(QStringLiteral("Send to channel"), toChannel_);
    inputs->addRow(QStringLiteral("Send RAW to IRC"), raw_);
    auto* right = new QVBoxLayout;
    right->addWidget(log_);
    right->addLayout(inputs);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addLayout(right);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Enter anywhere in the window sends the two input lines.
    auto* send = new QAction(this);
    send->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    send->setShortcutContext(Qt::WindowShortcut);
    connect(send, &QAction::triggered, this, &IrcLinkWindow::Enter);
    addAction(send);

    connect(spy_, &QCheckBox::clicked, this,
            [this](bool on) { core_.SetLinkValue("BiDir", on ? "true" : "false"); });
    // The link logs what Start and Stop did, and ignores them when there is
    // nothing to do (Start while connecting or up, Stop while down).
    connect(start_, &QPushButton::clicked, this, [this] { core_.StartLink(); });
    connect(stop_, &QPushButton::clicked, this, [this] { core_.StopLink(); });
    connect(join_, &QPushButton::clicked, this, [this] { core_.JoinLink(); });
    connect(&events, &CoreEvents::linkLogLine, log_, &QPlainTextEdit::appendPlainText);
}

QLineEdit* IrcLinkWindow::AddEdit(const std::string& key) {
    auto* edit = new QLineEdit;
    edit->setMinimumWidth(170);
    connect(edit, &QLineEdit::textEdited, this,
            [this, key](const QString& text) { core_.SetLinkValue(key, ToBytes(text)); });
    edits_[key] = edit;
    return edit;
}

void IrcLinkWindow::LoadValues() {
    AskLinkValues(core_, this, [this](const IrcLinkSettings& values) { ShowValues(values); });
}

void IrcLinkWindow::ShowValues(const IrcLinkSettings& values) {
    const std::pair<const char*, const std::string&> texts[] = {
        {"Nick", values.Nick},     {"AltNick", values.AltNick}, {"UserID", values.UserID},
        {"UserInfo", values.UserInfo}, {"Server", values.Server}, {"Port", values.Port},
        {"Channel", values.Channel},
    };
    for (const auto& [key, text] : texts) edits_.at(key)->setText(FromBytes(text));
    spy_->setChecked(values.ChannelSpy);
}

void IrcLinkWindow::Enter() {
    const std::string raw = ToBytes(raw_->text());
    const std::string toChannel = ToBytes(toChannel_->text());
    raw_->clear();
    toChannel_->clear();
    if (!raw.empty() || !toChannel.empty()) core_.EnterLink(raw, toChannel);
}

}  // namespace qm::console
