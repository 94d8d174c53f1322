#pragma once
// The console's seven windows, created at start and living until the end:
// the main window and the six it opens from its Configure menu and the
// quick menu. Opening one only shows it (and brings it to the front); none
// blocks another, and the server keeps working while they are open.
#include "console/admin_window.h"
#include "console/announcements_window.h"
#include "console/bans_window.h"
#include "console/irc_link_window.h"
#include "console/main_window.h"
#include "console/properties_dialog.h"
#include "console/user_data_window.h"

namespace qm::console {

class ConsoleWindows {
public:
    ConsoleWindows(CoreHost& core, CoreEvents& events);

    // Once the core runs: the values the windows take from it at start.
    void CoreStarted();

    MainWindow main;
    PropertiesDialog properties;
    AnnouncementsWindow announcements;
    BansWindow bans;
    AdminWindow admin;
    IrcLinkWindow ircLink;
    UserDataWindow userData;
};

}  // namespace qm::console
