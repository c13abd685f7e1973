#pragma once

#include "shell/Desktop.h"

namespace fanjian {

// The program between the start of its QApplication and its end: shows the main window on
// `desktop` and handles events until the window is closed, also when that happens in the middle
// of a run. Gives the program's exit status.
int RunProgram(Desktop desktop);

} // namespace fanjian
