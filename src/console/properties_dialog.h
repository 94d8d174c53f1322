#pragma once
// The Properties dialog: every setting, each field live (a keystroke changes
// the setting at once), Okay to write the files and apply Busy, Max and the
// log-save interval, Cancel to read the files back. It is closed with its
// two buttons only, and never blocks the main window.
#include <QDialog>
#include <map>
#include <string>

#include "host/core_host.h"

class QCheckBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTabWidget;
class QVBoxLayout;

namespace qm::console {

class PropertiesDialog final : public QDialog {
    Q_OBJECT
public:
    PropertiesDialog(CoreHost& core, QWidget* parent = nullptr);

    // Escape means Cancel: the files are read back before the dialog goes.
    void reject() override;

    QTabWidget* Tabs() const { return tabs_; }
    // The field of a setting by its name (for the tests and screenshots).
    QLineEdit* Line(const std::string& name) const { return lines_.at(name); }
    QPlainTextEdit* Text(const std::string& name) const { return texts_.at(name); }
    QCheckBox* RemoteAdmin() const { return remoteAdmin_; }
    QCheckBox* IconToTray() const { return iconToTray_; }

signals:
    // The "Icon to tray" preference changed (the main window minimises by it).
    void iconToTrayChanged(bool on);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildGeneral();
    void BuildMessages();
    void BuildAdvanced();
    void BuildMisc();
    void BuildHelp();
    QLineEdit* AddLine(QFormLayout& form, const QString& label, const std::string& name, int limit);
    QPlainTextEdit* AddText(QVBoxLayout& column, const QString& label, const std::string& name);
    void Fill(const Settings& values);
    void Set(const std::string& name, std::string value);
    void Okay();
    void Cancel();
    void RemoteAdminToggled(bool on);

    CoreHost& core_;
    QTabWidget* tabs_;
    std::map<std::string, QLineEdit*> lines_;
    std::map<std::string, QPlainTextEdit*> texts_;
    QCheckBox* remoteAdmin_ = nullptr;
    QLabel* passLabel_ = nullptr;
    QCheckBox* iconToTray_ = nullptr;
    // The fields are being filled from the core: that is no typing.
    bool filling_ = false;
};

}  // namespace qm::console
