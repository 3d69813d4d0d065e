// The configuration file (.qcf): the global section "Lintrel" and one
// section "Session<i>" per session, read and written key by key through
// the private-profile functions.  No widgets: the main window and the
// windowless mode share it.
#pragma once

#include "session_workspace.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace lintrel {

// Most sessions a file may ask for.  The window's COM list holds 99 ports;
// a larger count is a damaged or hostile file, and loading it would take
// the machine's memory.
constexpr int kMaxSessions = 256;
// Largest file taken as a configuration: 256 sessions fill well under 1 MiB.
constexpr std::int64_t kMaxConfigBytes = 4 << 20;

// "default.qcf" in the program folder.
std::string defaultConfigFile();

// Why the file cannot be taken as a configuration (it is no regular file,
// is too large, is not text, or asks for more than kMaxSessions sessions),
// as a phrase to follow the file's name; empty when it can be loaded.  A
// file that does not exist or cannot be opened is no problem here: it
// reads as all defaults.
std::string configFileProblem(const std::string& file);

// Replaces every open session and the global options by the file's
// contents; an empty name means the default file.  Activates nothing: the
// sessions saved as active are flagged in w.AutoActivateFlags.  A missing
// file reads as all defaults (one new session).  A file that
// configFileProblem refuses changes nothing (a workspace without sessions
// gets one new session) and its problem is returned; empty when loaded.
std::string getprofilesettings(SessionWorkspace& w, const std::string& file);

// Writes the global options and every open session; an empty name means
// the default file.  Sections beyond the sessions written are left alone.
// A file that could not be loaded is not written to: its problem is
// returned, empty when written.
std::string writeprofilesettings(SessionWorkspace& w, const std::string& file);

// One section as writeprofilesettings writes it into a file: its keys and
// values in order.  Two sessions with the same form are set up the same
// way.  Saving keeps some keys only where the file already has them, so
// the form depends on the file; empty means none.
using SectionForm = std::vector<std::pair<std::string, std::string>>;

// The global section of the workspace, NumSessions first.
SectionForm globalForm(SessionWorkspace& w, const std::string& file = {});

// The section of session number (1-based) s, with AutoActivate as given
// rather than taken from whether the session is active now.
SectionForm sessionForm(Session& s, std::size_t number, bool autoActivate, const std::string& file = {});

// A number as the file stores it: plain decimal, fractions kept
// (150 -> "150", 150.7 -> "150.7").
std::string plainNumber(double value);

}  // namespace lintrel
