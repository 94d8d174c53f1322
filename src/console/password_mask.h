#pragma once
// A password field that shows each typed character as a chosen mask
// character ("*" in the settings, "!" on the lock screen) rather than the
// style's own bullet.
#include <QChar>

class QLineEdit;

namespace qm::console {

void MaskWith(QLineEdit& field, QChar mask);

}  // namespace qm::console
