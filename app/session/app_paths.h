// Where the converter keeps its own files (default configuration, error
// log): $LINTREL_HOME when set; else the program's folder when it is
// writable; else $XDG_CONFIG_HOME/lintrel (~/.config/lintrel).
#pragma once

#include <string>

namespace lintrel {

std::string programFolder();

// folder + "/" + name, with a single separator.
std::string programFile(const std::string& name);

}  // namespace lintrel
