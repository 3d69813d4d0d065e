#include "options.h"

#include <cstdlib>

namespace qelterm {
namespace {

int emulationByName(const std::string& s)
{
    if (s == "tty") return 1;
    if (s == "ansi") return 2;
    if (s == "vt52") return 3;
    if (s == "vt100") return 4;
    return -1;
}

int endOfLineByName(const std::string& s)
{
    if (s == "nextline") return 0;
    if (s == "donothing") return 1;
    if (s == "wrapline") return 2;
    if (s == "wrapscreen") return 3;
    return -1;
}

int charsetByName(const std::string& s)
{
    if (s == "utf-8" || s == "utf8") return 1;
    if (s == "pc" || s == "cp437") return 0;
    return -1;
}

int renditionByName(const std::string& s)
{
    if (s == "full") return 1;
    if (s == "pc") return 0;
    return -1;
}

bool parseSize(const std::string& s, int* columns, int* rows)
{
    const auto x = s.find('x');
    if (x == std::string::npos || x == 0 || x + 1 >= s.size())
        return false;
    const std::string c = s.substr(0, x), r = s.substr(x + 1);
    if (c.find_first_not_of("0123456789") != std::string::npos || r.find_first_not_of("0123456789") != std::string::npos
        || c.size() > 5 || r.size() > 5)
        return false;
    *columns = std::atoi(c.c_str());
    *rows = std::atoi(r.c_str());
    return *columns >= 1 && *rows >= 1 && long(*columns) * long(*rows) < 65535;
}

}  // namespace

const char* const kUsage =
    "Usage: qelterm [--port PORT] [--settings S] [--emulation tty|ansi|vt52|vt100]\n"
    "               [--charset utf-8|pc] [--colors full|pc] [--size COLSxROWS]\n"
    "               [--timestamps] [--hex]\n"
    "       qelterm render [--emulation E] [--size COLSxROWS] [--charset C] [--colors C]\n"
    "                      [--eol nextline|donothing|wrapline|wrapscreen] [--attributes] FILE|-\n"
    "       qelterm [--port PORT] [--settings S] [--emulation E] FILE.sco\n"
    "       qelterm dial --port PORT [--settings S] [--modem N] [--pulse] [--timeout MS] NUMBER\n"
    "       qelterm send --port PORT [--settings S] --protocol P FILE...\n"
    "       qelterm receive --port PORT [--settings S] --protocol P [--dir DIR] [NAME]\n"
    "       qelterm --help\n"
    "\n"
    "Without a command, opens a terminal window on PORT: a COM name (COM3, found\n"
    "through the ports map), a device path such as /dev/ttyUSB0, or a remote port\n"
    "offered with RFC 2217 as rfc2217://HOST:TCPPORT. Defaults: COM1,\n"
    "\"9600,n,8,1\", VT100. Keys typed in the window are sent to the port; the\n"
    "window's own shortcuts take Ctrl+Shift (Ctrl+Shift+C and V copy and paste).\n"
    "The screen's columns and rows follow the window's size unless --size fixes\n"
    "them. When the port's device goes away, the window opens it again when it\n"
    "returns. --timestamps puts the time before each received line, --hex shows\n"
    "received bytes as a hex dump (both also in the View menu).\n"
    "\n"
    "--charset utf-8 (the default) reads received bytes as UTF-8 (wide\n"
    "characters take two cells); pc reads each byte as a character of the PC\n"
    "code page 437. --colors full (the default) takes 256 colours, true colour,\n"
    "underline, italic and strike-through, with default colours from the\n"
    "desktop theme; pc keeps the 16 PC colours, where underline and bold\n"
    "brighten the text.\n"
    "\n"
    "render feeds the bytes of FILE (or standard input for -) through the\n"
    "terminal without a port and prints the screen, one row a line; with\n"
    "--attributes, an empty line and the attribute of every cell as hex bytes\n"
    "follow. The last line is \"cursor ROW COL\" (0-based). Default 80x25, VT100,\n"
    "next-line mode, UTF-8 (the screen is printed in UTF-8; with --charset pc,\n"
    "as the bytes it holds).\n"
    "\n"
    "A FILE.sco project sets the port, settings, transfer protocol and phone\n"
    "number; the toolbar and the context menu save it again.\n"
    "\n"
    "dial, without a window, opens PORT (default settings \"9600,n,8,1\"), loads\n"
    "entry N of the modem list (default 0, Hayes Compatible), initialises the\n"
    "modem, dials NUMBER (tone, or pulse with --pulse; time-out MS, default\n"
    "60000) and prints \"Connected\" or the dial's result text; Ctrl-C cancels\n"
    "it. A modem entry without commands (the null modem cable) connects at once.\n"
    "Exit codes: 0 connected, 1 no carrier, 2 no dial tone, 3 busy, 4 time-out,\n"
    "5 canceled, 6 the modem did not answer the initialisation, 7 usage error,\n"
    "8 the port cannot be opened, 9 unexpected error.\n"
    "\n"
    "send and receive, without a window, move files over PORT with protocol P:\n"
    "xmodem, xmodem-crc, xmodem-1k, ymodem, ymodem-g, zmodem or kermit. send\n"
    "queues the FILEs in order (with XModem each waits for the receiver to\n"
    "start again); receive stores into DIR\n"
    "(default the current folder) under NAME, or under the names the sender\n"
    "gives (XModem without NAME: UNTITLED.000, ...). Progress goes to standard\n"
    "error: a bar when it is a terminal, else a line per file. Each file ends\n"
    "with \"NAME: N bytes, done\", or with \"aborted:\" or \"failed:\" and the\n"
    "reason; a new file that failed before any of its data arrived is\n"
    "removed. Exit codes: 0 the transfer went through, 1 it failed (the\n"
    "reason follows on standard error), 2 usage error.\n";

namespace {

// The options every windowless command takes: --help, --port, --settings.
enum class Common { NotCommon, Taken, Help, Error };
Common commonOption(const std::vector<std::string>& args, std::size_t& i, Options& o, std::string& error)
{
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--help" || a == "-h") {
        o.mode = Options::Mode::Help;
        return Common::Help;
    }
    if (a == "--port") {
        if (hasValue && !(o.port = args[++i]).empty())
            return Common::Taken;
        error = "--port needs a port name or device path";
        return Common::Error;
    }
    if (a == "--settings") {
        if (hasValue) {
            o.settings = args[++i];
            return Common::Taken;
        }
        error = "--settings needs a settings text such as 9600,n,8,1";
        return Common::Error;
    }
    return Common::NotCommon;
}

ParseResult parseDial(const std::vector<std::string>& args)
{
    Options o;
    o.mode = Options::Mode::Dial;
    auto fail = [](const std::string& text) { return ParseResult{{}, text, kDialUsage}; };
    auto digits = [](const std::string& s) {
        return !s.empty() && s.size() <= 9 && s.find_first_not_of("0123456789") == std::string::npos;
    };
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string error;
        const Common c = commonOption(args, i, o, error);
        if (c == Common::Help)
            return {o, {}};
        if (c == Common::Error)
            return fail(error);
        if (c == Common::Taken)
            continue;
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--modem") {
            if (!hasValue || !digits(args[i + 1]))
                return fail("--modem needs an entry number");
            o.modem = std::atoi(args[++i].c_str());
        } else if (a == "--timeout") {
            if (!hasValue || !digits(args[i + 1]))
                return fail("--timeout needs milliseconds");
            o.timeoutMs = std::atoi(args[++i].c_str());
        } else if (a == "--pulse") {
            o.pulse = true;
        } else if (o.number.empty() && !a.empty() && a[0] != '-') {
            o.number = a;
        } else {
            return fail("unknown option: " + a);
        }
    }
    if (o.port.empty())
        return fail("dial needs --port");
    if (o.number.empty())
        return fail("dial needs a NUMBER");
    return {o, {}};
}

ParseResult parseTransfer(const std::vector<std::string>& args)
{
    Options o;
    const bool sending = args[0] == "send";
    o.mode = sending ? Options::Mode::Send : Options::Mode::Receive;
    auto fail = [](const std::string& text) { return ParseResult{{}, text, kTransferUsage}; };
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string error;
        const Common c = commonOption(args, i, o, error);
        if (c == Common::Help)
            return {o, {}};
        if (c == Common::Error)
            return fail(error);
        if (c == Common::Taken)
            continue;
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--protocol") {
            if (!hasValue || (o.protocol = protocolByName(args[++i])) < 0)
                return fail("--protocol needs xmodem, xmodem-crc, xmodem-1k, ymodem, ymodem-g, zmodem or kermit");
        } else if (a == "--dir" && !sending) {
            if (!hasValue || (o.dir = args[++i]).empty())
                return fail("--dir needs a folder");
        } else if (a == "--") {
            o.files.insert(o.files.end(), args.begin() + std::ptrdiff_t(i) + 1, args.end());
            break;
        } else if (!a.empty() && a[0] != '-') {
            o.files.push_back(a);
        } else {
            return fail("unknown option: " + a);
        }
    }
    const std::string command = sending ? "send" : "receive";
    if (o.port.empty())
        return fail(command + " needs --port");
    if (o.protocol < 0)
        return fail(command + " needs --protocol");
    if (sending && o.files.empty())
        return fail("send needs at least one FILE");
    if (!sending && o.files.size() > 1)
        return fail("receive takes at most one NAME");
    for (const std::string& f : o.files)
        if (f.empty())
            return fail("a file name is empty");
    return {o, {}};
}

}  // namespace

int protocolByName(const std::string& name)
{
    static const char* const names[] = {"xmodem", "xmodem-crc", "xmodem-1k", "ymodem", "ymodem-g", "zmodem", "kermit"};
    for (int i = 0; i < 7; ++i)
        if (name == names[i])
            return i;
    return -1;
}

ParseResult parseOptions(const std::vector<std::string>& args)
{
    if (!args.empty() && args[0] == "dial")
        return parseDial(args);
    if (!args.empty() && (args[0] == "send" || args[0] == "receive"))
        return parseTransfer(args);
    Options o;
    std::size_t i = 0;
    if (!args.empty() && args[0] == "render") {
        o.mode = Options::Mode::Render;
        ++i;
    }
    auto value = [&](const std::string& name, std::string* out) {
        if (i + 1 >= args.size())
            return false;
        *out = args[++i];
        (void)name;
        return true;
    };
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        if (a == "--help" || a == "-h") {
            o.mode = Options::Mode::Help;
            return {o, {}};
        } else if (a == "--emulation") {
            if (!value(a, &v) || (o.emulation = emulationByName(v)) < 0)
                return {{}, "bad --emulation value (tty, ansi, vt52 or vt100)"};
        } else if (a == "--port" && o.mode == Options::Mode::Window) {
            if (!value(a, &o.port) || o.port.empty())
                return {{}, "--port needs a port name or device path"};
        } else if (a == "--settings" && o.mode == Options::Mode::Window) {
            if (!value(a, &o.settings))
                return {{}, "--settings needs a settings text such as 9600,n,8,1"};
        } else if (a == "--size") {
            if (!value(a, &v) || !parseSize(v, &o.columns, &o.rows))
                return {{}, "bad --size value (COLSxROWS, fewer than 65535 cells)"};
            o.fixedSize = true;
        } else if (a == "--charset") {
            if (!value(a, &v) || (o.charset = charsetByName(v)) < 0)
                return {{}, "bad --charset value (utf-8 or pc)"};
        } else if (a == "--colors") {
            if (!value(a, &v) || (o.rendition = renditionByName(v)) < 0)
                return {{}, "bad --colors value (full or pc)"};
        } else if (a == "--timestamps" && o.mode == Options::Mode::Window) {
            o.timestamps = true;
        } else if (a == "--hex" && o.mode == Options::Mode::Window) {
            o.hex = true;
        } else if (a == "--eol" && o.mode == Options::Mode::Render) {
            if (!value(a, &v) || (o.endOfLine = endOfLineByName(v)) < 0)
                return {{}, "bad --eol value (nextline, donothing, wrapline or wrapscreen)"};
        } else if (a == "--attributes" && o.mode == Options::Mode::Render) {
            o.attributes = true;
        } else if (o.mode == Options::Mode::Render && o.file.empty() && (a == "-" || a.rfind("-", 0) != 0)) {
            o.file = a;
        } else if (o.mode == Options::Mode::Window && o.project.empty() && !a.empty() && a[0] != '-') {
            o.project = a;
        } else {
            return {{}, "unknown option: " + a};
        }
    }
    if (o.mode == Options::Mode::Render && o.file.empty())
        return {{}, "render needs a FILE or -"};
    return {o, {}};
}

}  // namespace qelterm
