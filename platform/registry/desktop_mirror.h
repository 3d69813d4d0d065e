// How the registry stand-in shows up in a freedesktop session.
//
// File types: a ".ext" key under the classes root naming a file type
// identifier (ProgID) whose "shell\open\command" is set becomes a
// shared-mime-info package, a desktop entry and the type's default
// application:
//   $XDG_DATA_HOME/mime/packages/<progid>.xml   application/x-<progid>, "*.ext"
//   $XDG_DATA_HOME/applications/<first part>.desktop   Exec from the command
//   $XDG_CONFIG_HOME/mimeapps.list   [Default Applications]
// ("Lintrel.Configuration": application/x-lintrel-configuration, lintrel.desktop).
// "DefaultIcon" = "<program>,<n>" names the themed icon "<program base name>";
// an image file names itself.  update-mime-database and
// update-desktop-database run when present and something changed.
//
// Logon start: a value of the current user's Run or RunOnce key becomes
// $XDG_CONFIG_HOME/autostart/<lower-case name>.desktop and goes with it.
// A RunOnce entry starts the program with LT_RUNONCE_VALUE=<name> in its
// environment, so that the program can remove the value when it starts, as
// Windows removes a run-once value when it runs it.
#pragma once

#include <string>
#include <vector>

namespace lt::registry {

constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kRunOnceKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr const char* kRunOnceVariable = "LT_RUNONCE_VALUE";

// "Lintrel.Configuration" -> "application/x-lintrel-configuration".
std::string mimeTypeForProgId(const std::string& progId);
// "Lintrel.Configuration" -> "lintrel.desktop".
std::string desktopFileForProgId(const std::string& progId);

// $XDG_DATA_HOME (~/.local/share) and $XDG_CONFIG_HOME (~/.config).
std::string dataHome();
std::string configHome();
// Where a logon start value is mirrored.
std::string autostartFile(const std::string& valueName);

// Call once at start-up.  When this process was started from a run-once
// value, removes the value (and so its autostart entry) and clears the
// variable, so that programs started later do not inherit it.  True when
// it was such a start.
bool takeRunOnceStart();

// A Windows command line split into its arguments: blanks separate,
// double quotes group, \" is a literal quote.
std::vector<std::string> splitCommandLine(const std::string& commandLine);
// Arguments as the Exec key of a desktop entry, quoted and escaped; an
// argument "%f" stays the field code.
std::string desktopExec(const std::vector<std::string>& args);

}  // namespace lt::registry
