// qelterm send and qelterm receive: one file transfer without a window.
#pragma once

#include "options.h"

namespace qelterm {

// Runs the transfer the options describe; progress and errors go to
// standard error. Returns the exit code (0, kTransferFailed, kTransferUsage).
int runTransfer(const Options& o);

}  // namespace qelterm
