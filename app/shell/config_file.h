// The configuration file (.qcf): the global section "Lintrel" and one
// section "Session<i>" per session, read and written key by key through
// the private-profile functions.  No widgets: the main window and the
// windowless mode share it.
#pragma once

#include "session_workspace.h"

#include <string>

namespace lintrel {

// "default.qcf" in the program folder.
std::string defaultConfigFile();

// Replaces every open session and the global options by the file's
// contents; an empty name means the default file.  Activates nothing: the
// sessions saved as active are flagged in w.AutoActivateFlags.  A missing
// file reads as all defaults (one new session).
void getprofilesettings(SessionWorkspace& w, const std::string& file);

// Writes the global options and every open session; an empty name means
// the default file.  Sections beyond the sessions written are left alone.
void writeprofilesettings(SessionWorkspace& w, const std::string& file);

// A number as the file stores it: plain decimal, fractions kept
// (150 -> "150", 150.7 -> "150.7").
std::string plainNumber(double value);

}  // namespace lintrel
