// qelterm's window mode: the terminal view on an open port.
#pragma once

#include "options.h"

namespace qelterm {

// Opens the port, shows the window and runs until it closes; the exit code.
int runWindow(const Options& o);

}  // namespace qelterm
