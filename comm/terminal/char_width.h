// How many cells a Unicode character takes on the screen: 2 for East Asian
// wide and full-width characters (emoji included), 0 for combining marks
// and other characters that join the one before, 1 for the rest.
#pragma once

namespace qelcomm::terminal {

int charWidth(char32_t c);

}  // namespace qelcomm::terminal
