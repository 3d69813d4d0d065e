// Command line of qelterm.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qelterm {

struct Options {
    enum class Mode { Window, Render, Help } mode = Mode::Window;
    std::string port;                  // COM name or device path
    std::string settings = "9600,n,8,1";
    int emulation = 4;                 // VT100
    int columns = 80, rows = 25;
    int endOfLine = 0;                 // next line
    bool attributes = false;
    std::string file;                  // render input, "-" for standard input
};

// The parsed options, or an error text for a bad command line.
struct ParseResult {
    std::optional<Options> options;
    std::string error;
};
ParseResult parseOptions(const std::vector<std::string>& args);

extern const char* const kUsage;

}  // namespace qelterm
