#pragma once
// The core holds texts of several lines as its files do, each line followed
// by CR LF; an editor shows them with plain line breaks and no empty line
// after the last one. (The core turns what is typed back into its form.)
#include <QString>
#include <string>

#include "console/latin1.h"

namespace qm::console {

inline QString FromMultiLine(const std::string& text) {
    QString shown = FromBytes(text);
    shown.remove(QLatin1Char('\r'));
    if (shown.endsWith(QLatin1Char('\n'))) shown.chop(1);
    return shown;
}

}  // namespace qm::console
