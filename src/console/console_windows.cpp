#include "console/console_windows.h"

#include <QAction>

namespace qm::console {

namespace {

void OpenWith(QAction* action, QWidget& window) {
    QObject::connect(action, &QAction::triggered, &window, [&window] {
        window.show();
        window.raise();
        window.activateWindow();
    });
}

}  // namespace

ConsoleWindows::ConsoleWindows(CoreHost& core, CoreEvents& events)
    : main(core, events),
      properties(core, &main),
      announcements(core, &main),
      bans(core, events, &main),
      admin(core, events, &main),
      ircLink(core, events, &main),
      userData(core, &main) {
    const auto& open = main.configureActions();
    OpenWith(open.properties, properties);
    OpenWith(open.announcements, announcements);
    OpenWith(open.bans, bans);
    OpenWith(open.administration, admin);
    OpenWith(open.ircLink, ircLink);
    OpenWith(open.userData, userData);
}

void ConsoleWindows::CoreStarted() { ircLink.LoadValues(); }

}  // namespace qm::console
