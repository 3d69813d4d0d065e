// qelterm dial: one modem dial without a window.
#pragma once

#include "options.h"

namespace qelterm {

// Prints the outcome on standard output; returns the exit code (see kUsage).
int runDial(const Options& o);

}  // namespace qelterm
