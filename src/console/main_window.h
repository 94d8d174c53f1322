#pragma once
// The operator's main window: the server log, the File and Configure menus,
// the lock with the administrator password, and the tray icon with the quick
// menu. Every action goes to the core through the host; what the core says
// comes back through CoreEvents.
#include <QMainWindow>
#include <QMessageBox>

#include "host/core_host.h"

class QAction;
class QMenu;
class QStackedWidget;
class QSystemTrayIcon;

namespace qm::console {

class CoreEvents;
class LockScreen;
class LogView;

class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    // The lines the log view keeps; older ones scroll away.
    static constexpr int kLogLines = 5000;

    // The Configure menu's items, for the windows they open.
    struct ConfigureActions {
        QAction* properties;
        QAction* announcements;
        QAction* bans;
        QAction* administration;
        QAction* ircLink;
        QAction* userData;
    };

    MainWindow(CoreHost& host, CoreEvents& events, QWidget* parent = nullptr);

    const ConfigureActions& configureActions() const { return configure_; }
    bool IsLocked() const;

signals:
    // The window was closed while unlocked: the program ends.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildMenus();
    void BuildTray();
    void Post(void (OperatorApi::*action)());
    void Lock();
    void TryUnlock(const QString& password);
    void SetLocked(bool locked);
    void MinimiseToTray();
    void RestoreFromTray();
    void ShowMessage(QMessageBox::Icon icon, const QString& title, const QString& text);

    CoreHost& host_;
    LogView* log_;
    LockScreen* lockScreen_;
    QStackedWidget* pages_;
    QMenu* fileMenu_ = nullptr;
    QMenu* configureMenu_ = nullptr;
    QMenu* quickMenu_ = nullptr;
    QAction* activate_ = nullptr;
    QAction* deactivate_ = nullptr;
    QAction* lock_ = nullptr;
    ConfigureActions configure_{};
    QSystemTrayIcon* tray_ = nullptr;
    bool noTrayNoted_ = false;
};

}  // namespace qm::console
