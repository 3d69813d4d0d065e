// qelterm render: a captured byte stream through a portless comm object's
// terminal, printed as its screen.
#pragma once

#include "options.h"

#include <string>

namespace qelterm {

// The printed screen for the bytes, as the command writes it.
std::string renderScreen(const Options& o, const std::string& bytes);

// Reads the input and prints; returns the exit code.
int runRender(const Options& o);

}  // namespace qelterm
