// File association and the start-at-logon entry.  Start-up and every save of
// the configuration call these; the registry they write belongs to the
// registration work, so for now they change nothing and report that.
#pragma once

#include <string>

namespace lintrel {

// Makes configuration files (extension) open with this program.
void EnsureFileAssociation(const std::string& progId, const std::string& extension);

// Writes (enable) or removes the logon start value; true when done.
bool SetStartEntry(bool enable, const std::string& valueName, const std::string& programPath,
                   bool currentUser, bool persistent);

// The program file: its folder and its base name.
std::string ProgramPath();

}  // namespace lintrel
