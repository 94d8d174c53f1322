#pragma once
// SIGTERM, SIGINT and SIGHUP end the console as File, Exit does, through the
// application's event loop: the program then writes user.dat, mail.dat and
// the log before it ends (a session that logs out, or an operator's kill,
// loses nothing). The handler only writes a byte to a pipe; the loop reads it.
#include <QObject>

namespace qm::console {

// Installs the handlers; call once, after the application exists.
void QuitOnSignals(QObject* owner);

}  // namespace qm::console
