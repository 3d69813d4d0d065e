// File association and the start-at-logon entry, kept in the registry.
// Start-up makes sure configuration files open with this program; every
// save of the configuration writes or removes the logon entry.
#pragma once

#include "registry/registry.h"

#include <string>

namespace lintrel {

// Makes files with the extension open with this program under the file
// type progId, unless the registry already says so.  Also installs the
// program's icon where the desktop finds it.  Failures are silent.
void EnsureFileAssociation(const std::string& progId, const std::string& extension);

// Writes (enable) or removes a logon start value: the program path in
// double quotes, under the current user's root (currentUser) or the
// machine's, in the Run key (persistent) or the RunOnce key.  True when the
// value was set, or when removing found nothing left to remove.
bool SetStartEntry(bool enable, const std::string& valueName, const std::string& programPath,
                   bool currentUser, bool persistent);

// A string value (at most 256 bytes), or def when the key cannot be opened,
// the value is missing or it is not a string.
std::string ReadRegistryString(lt::registry::HKEY root, const std::string& keyPath,
                               const std::string& valueName, const std::string& def);

// The program file: its folder and its base name.
std::string ProgramPath();

// The short form of ProgramPath (the path itself here), or ProgramPath
// when the conversion fails.
std::string ShortProgramPath();

// Start-up: when the logon entry started this run, removes it, as the
// run-once entry is meant to be used once.
void takeRunOnceStart();

}  // namespace lintrel
