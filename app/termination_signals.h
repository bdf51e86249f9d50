#pragma once

// SIGTERM and SIGHUP (a `kill`, a closed terminal or session) close the window as its close
// box does: the board is reset and the port and its lock file are released; during a flash the
// close waits for the transfer's end.

class QWidget;

namespace swb808 {

// Installs the handlers; call once, on the window's thread, before the event loop runs.
void CloseOnTerminationSignals(QWidget& window);

}  // namespace swb808
