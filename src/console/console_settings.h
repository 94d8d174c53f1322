#pragma once
// The settings the main window itself acts on: the administrator password
// that unlocks the console, and whether minimising goes to the tray. The
// window is given them at start and again whenever they change.
#include <string>

namespace qm::console {

struct ConsoleSettings {
    std::string AdminPass;
    bool Icon = false;
};

}  // namespace qm::console
