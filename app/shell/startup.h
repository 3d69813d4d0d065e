// Start-up steps the main window and the windowless mode share.
#pragma once

#include "session_workspace.h"

#include <string>

namespace lintrel {

// Whether another instance of the program runs.  The first call takes this
// process's instance lock, which it keeps until exit.
bool anotherInstanceRunning();

// The file named on the command line as the profile functions get it: a
// relative name is taken from the folder the program was started in, since
// start-up moves into the program folder.
std::string commandLineFile(const std::string& name);

// Makes the program folder the current folder.
void enterProgramFolder();

// When no other instance runs, deletes every virtual port an earlier run
// left in the driver, through the first session's virtual port control.
void resetVirtualPortsIfAlone(SessionWorkspace& w);

}  // namespace lintrel
