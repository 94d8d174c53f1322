#include "console/properties_dialog.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "console/core_call.h"
#include "console/latin1.h"
#include "console/multi_line.h"
#include "console/password_mask.h"
#include "console/terminal_text.h"

namespace qm::console {

namespace {

struct LineField {
    const char* label;
    const char* name;
    int limit;
};

constexpr LineField kMessageFields[] = {
    {"Prefix", "Prefix", 3},          {"Join MSG", "Join", 30},       {"Part MSG", "Part", 30},
    {"Quit MSG", "Quit", 30},         {"Diss MSG", "Diss", 30},       {"Kill MSG", "Kill", 30},
    {"Channel", "Channel", 30},       {"Op MSG", "Op", 30},           {"Deop MSG", "Deop", 30},
    {"Kick MSG", "Kick", 30},         {"ServOP name", "ServOP", 25},  {"Is Banned MSG", "IsBanned", 50},
    {"ChanOP name", "ChanOP", 30},
};

// No typing limit.
constexpr int kUnlimited = 32767;

QWidget* AddTab(QTabWidget& tabs, const QString& title, QLayout* layout) {
    auto* page = new QWidget;
    page->setLayout(layout);
    tabs.addTab(page, title);
    return page;
}

}  // namespace

PropertiesDialog::PropertiesDialog(CoreHost& core, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      core_(core),
      tabs_(new QTabWidget) {
    setWindowTitle(QStringLiteral("Properties"));
    setModal(false);
    BuildGeneral();
    BuildMessages();
    BuildAdvanced();
    BuildMisc();
    BuildHelp();

    auto* okay = new QPushButton(QStringLiteral("Okay"));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    okay->setDefault(true);
    connect(okay, &QPushButton::clicked, this, &PropertiesDialog::Okay);
    connect(cancel, &QPushButton::clicked, this, &PropertiesDialog::Cancel);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okay);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QLineEdit* PropertiesDialog::AddLine(QFormLayout& form, const QString& label, const std::string& name, int limit) {
    auto* field = new QLineEdit;
    field->setMaxLength(limit);
    connect(field, &QLineEdit::textEdited, this, [this, name](const QString& text) { Set(name, ToBytes(text)); });
    lines_[name] = field;
    form.addRow(label, field);
    return field;
}

QPlainTextEdit* PropertiesDialog::AddText(QVBoxLayout& column, const QString& label, const std::string& name) {
    auto* field = new QPlainTextEdit;
    field->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Wide enough for the longest shipped help line (98 characters); the
    // second tab holds two of them, each tall enough for its shipped text.
    ShowAsTerminal(*field, 100, 10);
    connect(field, &QPlainTextEdit::textChanged, this, [this, name, field] {
        if (!filling_) Set(name, ToBytes(field->toPlainText()));
    });
    texts_[name] = field;
    column.addWidget(new QLabel(label));
    column.addWidget(field);
    return field;
}

void PropertiesDialog::BuildGeneral() {
    auto* form = new QFormLayout;
    AddLine(*form, QStringLiteral("Maximum number of users (0 to disable)"), "Max", 6);

    auto* saver = new QLineEdit;
    saver->setMaxLength(3);
    saver->setMaximumWidth(60);
    connect(saver, &QLineEdit::textEdited, this, [this](const QString& text) { Set("Saver", ToBytes(text)); });
    lines_["Saver"] = saver;
    auto* saverRow = new QHBoxLayout;
    saverRow->addWidget(saver);
    saverRow->addWidget(new QLabel(QStringLiteral("minutes.")));
    saverRow->addStretch();
    form->addRow(QStringLiteral("Save log every"), saverRow);

    // The check box only enables the password; a password typed without it
    // still counts, as the field starts enabled.
    remoteAdmin_ = new QCheckBox(QStringLiteral("Enable Remote Adminitration"));
    connect(remoteAdmin_, &QCheckBox::toggled, this, &PropertiesDialog::RemoteAdminToggled);
    form->addRow(remoteAdmin_);
    passLabel_ = new QLabel(QStringLiteral("Remote administration password:"));
    passLabel_->setEnabled(false);
    auto* pass = new QLineEdit;
    MaskWith(*pass, QLatin1Char('*'));
    connect(pass, &QLineEdit::textEdited, this, [this](const QString& text) { Set("AdminPass", ToBytes(text)); });
    lines_["AdminPass"] = pass;
    form->addRow(passLabel_, pass);
    auto* hint = new QLabel(QStringLiteral("To log in type /admin <password>"));
    hint->setEnabled(false);
    form->addRow(QString(), hint);

    AddLine(*form, QStringLiteral("Welcome Message"), "Welcome", 64)->setMinimumWidth(380);
    AddLine(*form, QStringLiteral("Busy Message:"), "Busy", kUnlimited);
    AddTab(*tabs_, QStringLiteral("General"), form);
}

void PropertiesDialog::BuildMessages() {
    auto* form = new QFormLayout;
    for (const auto& field : kMessageFields) AddLine(*form, QString::fromLatin1(field.label), field.name, field.limit);
    AddTab(*tabs_, QStringLiteral("Messages"), form);
}

void PropertiesDialog::BuildAdvanced() {
    auto* form = new QFormLayout;
    AddLine(*form, QStringLiteral("Listen on Port Number:"), "Port", 5)->setMaximumWidth(80);
    auto* note = new QLabel(
        QStringLiteral("Note: This will not change until the server is deactivated and then reactivated."));
    // On one line, not wrapped: a wrapped label's height depends on its
    // width, and the fixed-size dialog would change its size whenever this
    // tab is shown.
    form->addRow(note);
    AddTab(*tabs_, QStringLiteral("Advanced"), form);
}

void PropertiesDialog::BuildMisc() {
    auto* form = new QFormLayout;
    iconToTray_ = new QCheckBox(QStringLiteral("Icon to tray"));
    connect(iconToTray_, &QCheckBox::clicked, this, [this](bool on) {
        Set("Icon", on ? "1" : "0");
        emit iconToTrayChanged(on);
    });
    form->addRow(iconToTray_);
    AddLine(*form, QStringLiteral("Name of Main Channel"), "MainC", kUnlimited);
    AddTab(*tabs_, QStringLiteral("Misc"), form);
}

void PropertiesDialog::BuildHelp() {
    auto* first = new QVBoxLayout;
    AddText(*first, QStringLiteral("/help reply: (Note: This will NOT change the commands themselves.)"), "HelpReply");
    AddTab(*tabs_, QStringLiteral("Help Replies"), first);
    auto* second = new QVBoxLayout;
    AddText(*second, QStringLiteral("/help channel reply"), "HelpChan");
    AddText(*second, QStringLiteral("/help registration reply"), "HelpReg");
    AddTab(*tabs_, QStringLiteral("Help Replies 2"), second);
}

void PropertiesDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    AskCore(core_, this, [](OperatorApi& api) { return api.SettingValues(); },
            [this](const Settings& values) { Fill(values); });
}

void PropertiesDialog::Fill(const Settings& values) {
    filling_ = true;
    for (auto& [name, field] : lines_) field->setText(FromBytes(*FindTextSetting(values, name)));
    for (auto& [name, field] : texts_) field->setPlainText(FromMultiLine(*FindTextSetting(values, name)));
    iconToTray_->setChecked(values.Icon);
    filling_ = false;
}

void PropertiesDialog::Set(const std::string& name, std::string value) {
    core_.Post([name, value = std::move(value)](OperatorApi& api) mutable { api.SetSetting(name, std::move(value)); });
}

void PropertiesDialog::RemoteAdminToggled(bool on) {
    passLabel_->setEnabled(on);
    lines_["AdminPass"]->setEnabled(on);
    if (on) return;
    // Without remote administration there is no administrator password:
    // /admin fails and the console cannot be locked until one is typed.
    lines_["AdminPass"]->clear();
    Set("AdminPass", {});
}

void PropertiesDialog::Okay() {
    AskCore(core_, this, [](OperatorApi& api) { return api.ApplyProperties(); },
            [this](bool done) {
                // A step that failed has been reported; the dialog stays for a fix.
                if (done) hide();
            });
}

void PropertiesDialog::Cancel() {
    AskCore(
        core_, this,
        [](OperatorApi& api) {
            const bool done = api.RevertProperties();
            return std::pair{done, api.SettingValues()};
        },
        [this](const std::pair<bool, Settings>& result) {
            Fill(result.second);
            if (result.first) hide();
        });
}

void PropertiesDialog::reject() { Cancel(); }

}  // namespace qm::console
