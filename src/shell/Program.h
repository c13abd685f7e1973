#pragma once

#include "shell/Desktop.h"

namespace fanjian {

// The program between the start of its QApplication and its end: shows the main window on
// `desktop` and handles events until the window is closed, also when that happens in the middle
// of a run. SIGTERM, SIGHUP and SIGINT end it as closing the window does, with the status 128 +
// the signal's number; SIGPIPE is ignored. Gives the program's exit status.
int RunProgram(Desktop desktop);

// The program as main() runs it: starts its QApplication on the window system the environment
// names, then RunProgram on the system's desktop. Where no window system can be reached (a
// forced QT_QPA_PLATFORM that cannot start, no display, a display that does not answer), it says
// why in one line of its own on standard error and ends with status 1, instead of the toolkit's
// abort.
int ProgramMain(int argc, char* argv[]);

} // namespace fanjian
