#include "console/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QStackedWidget>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>

#include "console/core_call.h"
#include "console/core_events.h"
#include "console/latin1.h"
#include "console/lock_screen.h"
#include "console/log_view.h"

namespace qm::console {

MainWindow::MainWindow(CoreHost& host, CoreEvents& events, QWidget* parent)
    : QMainWindow(parent),
      host_(host),
      log_(new LogView(kLogLines)),
      lockScreen_(new LockScreen),
      pages_(new QStackedWidget(this)) {
    setWindowTitle(tr("Quillmoot v1.0"));
    setWindowIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
    log_->setObjectName("log");
    pages_->addWidget(log_);
    pages_->addWidget(lockScreen_);
    setCentralWidget(pages_);
    BuildMenus();
    BuildTray();

    connect(lockScreen_, &LockScreen::unlockRequested, this, &MainWindow::TryUnlock);
    connect(&events, &CoreEvents::logLine, log_, &LogView::AppendLine);
    connect(&events, &CoreEvents::listeningChanged, this, [this](bool listening) {
        activate_->setEnabled(!listening);
        deactivate_->setEnabled(listening);
    });
    // Shown without waiting for the operator, so that the core's events keep coming.
    connect(&events, &CoreEvents::operatorError, this, [this](const QString& message) {
        ShowMessage(QMessageBox::Critical, QApplication::applicationName(), message);
    });
}

void MainWindow::BuildMenus() {
    fileMenu_ = menuBar()->addMenu(tr("&File"));
    activate_ = fileMenu_->addAction(tr("&Activate"), this, [this] { Post(&OperatorApi::Activate); });
    // The core listens from start-up on; it says so when that changes.
    activate_->setEnabled(false);
    deactivate_ = fileMenu_->addAction(tr("&Deactivate"), this, [this] { Post(&OperatorApi::Deactivate); });
    fileMenu_->addAction(tr("Reload Settings"), this, [this] { host_.ReloadSettings(); });
    lock_ = fileMenu_->addAction(tr("Lock"), this, &MainWindow::Lock);
    fileMenu_->addAction(tr("&Save Log"), this, [this] { Post(&OperatorApi::SaveLog); });
    fileMenu_->addAction(tr("E&xit"), this, &QWidget::close);

    configureMenu_ = menuBar()->addMenu(tr("&Configure"));
    configure_ = {
        configureMenu_->addAction(tr("&Properties")),     configureMenu_->addAction(tr("&Announcements")),
        configureMenu_->addAction(tr("&Bans")),           configureMenu_->addAction(tr("A&dministration")),
        configureMenu_->addAction(tr("&IRC Link")),       configureMenu_->addAction(tr("&User Data")),
    };

    // The tray icon's menu: the same actions, so it works while the menus are hidden.
    quickMenu_ = new QMenu(this);
    quickMenu_->addActions({configure_.properties, activate_, deactivate_, configure_.userData, configure_.bans,
                            configure_.administration, configure_.ircLink, lock_});
}

void MainWindow::BuildTray() {
    tray_ = new QSystemTrayIcon(windowIcon(), this);
    tray_->setToolTip(windowTitle());
    tray_->setContextMenu(quickMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick) RestoreFromTray();
    });
}

void MainWindow::Post(void (OperatorApi::*action)()) {
    host_.Post([action](OperatorApi& api) { (api.*action)(); });
}

bool MainWindow::IsLocked() const { return pages_->currentWidget() == lockScreen_; }

// The administrator password is the core's live setting, asked for at each
// use: the Properties dialog may have changed it, even while locked.
void MainWindow::Lock() {
    AskCore(host_, this, [](OperatorApi& api) { return api.SettingValues().AdminPass.empty(); },
            [this](bool noPassword) {
                if (!noPassword) {
                    SetLocked(true);
                    return;
                }
                ShowMessage(QMessageBox::Warning, tr("Set a password"),
                            tr("Please set an admin password first (even if you don't enable remote administration)"));
            });
}

void MainWindow::TryUnlock(const QString& password) {
    lockScreen_->Clear();
    // Exactly, letter case included; a wrong password earns no message.
    AskCore(host_, this, [password = ToBytes(password)](OperatorApi& api) {
                return password == api.SettingValues().AdminPass;
            },
            [this](bool right) {
                if (right) SetLocked(false);
            });
}

void MainWindow::SetLocked(bool locked) {
    // Hidden menus also take their keyboard accelerators with them.
    fileMenu_->menuAction()->setVisible(!locked);
    configureMenu_->menuAction()->setVisible(!locked);
    menuBar()->setVisible(!locked);
    // The page not shown is hidden, which also stops or starts the star field.
    pages_->setCurrentWidget(locked ? static_cast<QWidget*>(lockScreen_) : log_);
    if (locked) lockScreen_->setFocus();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (IsLocked()) {
        // Closing writes the databases even when the window may not close.
        host_.Post([](OperatorApi& api) { api.Close(); });
        event->ignore();
        return;
    }
    event->accept();
    emit closed();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
    // "Icon to tray" is the core's live preference.
    AskCore(host_, this, [](OperatorApi& api) { return api.SettingValues().Icon; }, [this](bool toTray) {
        if (toTray && isMinimized()) MinimiseToTray();
    });
}

void MainWindow::MinimiseToTray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        if (!noTrayNoted_) log_->AppendLine(tr("No system tray here; the window minimises normally."));
        noTrayNoted_ = true;
        return;
    }
    tray_->show();
    // Hidden once the window system has finished minimising it.
    QTimer::singleShot(0, this, &QWidget::hide);
}

void MainWindow::RestoreFromTray() {
    tray_->hide();
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::ShowMessage(QMessageBox::Icon icon, const QString& title, const QString& text) {
    auto* box = new QMessageBox(icon, title, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

}  // namespace qm::console
