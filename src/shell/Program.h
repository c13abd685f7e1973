#pragma once

#include "shell/Desktop.h"

namespace fanjian {

// The program between the start of its QApplication and its end: shows the main window on
// `desktop` and handles events until the window is closed, also when that happens in the middle
// of a run. SIGTERM, SIGHUP and SIGINT end it as closing the window does, with the status 128 +
// the signal's number; SIGPIPE is ignored. Gives the program's exit status.
int RunProgram(Desktop desktop);

} // namespace fanjian
