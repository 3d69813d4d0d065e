// lintrel --check FILE: reads a configuration file as the program would and
// says what in it will not work as written.  Writes nothing.
//
// Keys are checked against what saving writes: a key the program does not
// write is unknown, and a value that does not come back as written (out
// of its range, cut, not a number) is read as something else.  A new key
// therefore needs no change here; it only has to be saved with the others
// in config_file.cpp.  On top of that: sections, repeated keys, lines that
// mean nothing, serial ports that do not exist, TCP settings that cannot
// work, and two sessions on one COM port or one TCP port.
#pragma once

#include <ostream>
#include <string>

namespace lintrel {

// Prints each problem as one line, "FILE:LINE: text" (or "FILE: text"),
// then a closing line.  Returns the number of problems.  Needs a Qt
// application object.
int checkConfigFile(const std::string& file, std::ostream& out);

}  // namespace lintrel
