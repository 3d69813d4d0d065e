// Command line of qelterm.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qelterm {

struct Options {
    enum class Mode { Window, Render, Dial, Send, Receive, Help } mode = Mode::Window;
    std::string port;                  // COM name or device path
    std::string settings = "9600,n,8,1";
    int emulation = 4;                 // VT100
    int columns = 80, rows = 25;
    bool fixedSize = false;            // window: --size given, the screen does not follow the window
    int charset = 1;                   // CharacterSet: UTF-8
    int rendition = 1;                 // Rendition: the extended colours
    int endOfLine = 0;                 // next line
    bool attributes = false;
    std::string file;                  // render input, "-" for standard input
    std::string project;               // window: a project file (.sco) to open
    bool timestamps = false;           // window: a time stamp before each received line
    bool hex = false;                  // window: received bytes as a hex dump
    // dial
    int modem = 0;                     // entry of the modem list
    bool pulse = false;
    int timeoutMs = -1;                // -1: the control's default
    std::string number;
    // send and receive
    int protocol = -1;                 // XferProtocol value
    std::vector<std::string> files;    // send: the files; receive: at most one name
    std::string dir;                   // receive: the folder for received files
};

// Exit codes of qelterm send and receive.
inline constexpr int kTransferFailed = 1;
inline constexpr int kTransferUsage = 2;

// The protocol of a --protocol name (xmodem, xmodem-crc, ...), -1 for none.
int protocolByName(const std::string& name);

// Exit codes of qelterm dial: the dial results 0 to 5, then these.
inline constexpr int kDialInitFailed = 6;
inline constexpr int kDialUsage = 7;
inline constexpr int kDialPortFailed = 8;
inline constexpr int kDialUnexpected = 9;

// The parsed options, or an error text for a bad command line.
struct ParseResult {
    std::optional<Options> options;
    std::string error;
    int exitCode = 2;                  // for an error: the code to exit with
};
ParseResult parseOptions(const std::vector<std::string>& args);

extern const char* const kUsage;

}  // namespace qelterm
