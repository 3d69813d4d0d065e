// Lintrel entry point: the main window, or the windowless mode for
// machines without a display.
#include "config_check.h"
#include "config_file.h"
#include "frm_main.h"
#include "headless.h"
#include "port_list.h"
#include "quit_signals.h"
#include "startup.h"
#include "status_report.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>

namespace {

const char* const kUsage =
    "usage: lintrel [FILE]\n"
    "       lintrel --headless [--no-timestamps] [FILE]\n"
    "       lintrel --headless --trace DIR [--trace-size MB] [--no-timestamps] [FILE]\n"
    "       lintrel --check FILE\n"
    "       lintrel status [--json]\n"
    "       lintrel --list-ports\n"
    "       lintrel --help | --version\n"
    "\n"
    "Joins serial ports (real or virtual) and TCP/IP: one session per bridge.\n"
    "\n"
    "  FILE             configuration file (.qcf) to load; the whole argument text\n"
    "                   is the name. Without one, default.qcf in the program folder\n"
    "                   ($LINTREL_HOME when set). Sessions saved as active start at\n"
    "                   once.\n"
    "  --headless       run the sessions of FILE without any window: every status\n"
    "                   change is printed as one line on standard output, after\n"
    "                   the local time (ISO 8601, to the millisecond); SIGINT or\n"
    "                   SIGTERM stops the program cleanly without rewriting FILE.\n"
    "                   A FILE that cannot be read ends it at once with status 2.\n"
    "                   SIGHUP reads FILE again: unchanged sessions keep running\n"
    "                   with their clients, changed ones restart. Under systemd\n"
    "                   (Type=notify) it reports readiness, status and the\n"
    "                   watchdog, and writes to the journal with priorities.\n"
    "                   Clients connecting and leaving (address:port) are status\n"
    "                   lines too.\n"
    "  --no-timestamps  status lines without the time.\n"
    "  --trace DIR      with --headless: every chunk that crosses a session, with\n"
    "                   its time to the microsecond, direction, client, length,\n"
    "                   hex and text, goes to DIR/session<N>-COM<n>.trace.\n"
    "  --trace-size MB  a trace file is moved to .1 (older ones to .2 and .3) when\n"
    "                   it reaches this size; 16 unless given.\n"
    "  --check          read FILE as the program would and print every problem\n"
    "                   (unknown keys, values read as something else, missing\n"
    "                   ports, two sessions on one port); status 0 when there is\n"
    "                   none, 1 otherwise. Writes nothing.\n"
    "  status           ask every running Lintrel of this user (and the services\n"
    "                   in /run/lintrel, as root) for its sessions: state, port,\n"
    "                   clients and bytes each way; --json for programs. Status 1\n"
    "                   when none runs. (lintrel -- status loads a file named so.)\n"
    "  --list-ports     list the serial devices (udev, else /dev/ttyS*, ttyUSB*,\n"
    "                   ttyACM*) with their by-id names, drivers, USB details,\n"
    "                   users and COM names, then the mapped and virtual COM names.\n"
    "  --version        print the version.\n"
    "  --help           show this text.\n"
    "\n"
    "With windows, closing the main window saves every session to default.qcf.\n"
    "Virtual ports appear as <port folder>/COMn, the port folder being\n"
    "$LINTREL_PORT_DIR, else $XDG_RUNTIME_DIR/lintrel, else /tmp/lintrel-<uid>.\n";

bool hasDisplay()
{
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "status") == 0) {
        bool json = false;
        for (int k = 2; k < argc; ++k) {
            if (std::strcmp(argv[k], "--json") == 0) {
                json = true;
            } else {
                std::fprintf(stderr, "lintrel: status takes only --json (see lintrel --help)\n");
                return 2;
            }
        }
        return lintrel::runStatus(json, std::cout, std::cerr);
    }
    // Options come first; the rest of the arguments, joined by spaces, name
    // the file, so a name with spaces needs no quotes.
    bool headless = false;
    bool check = false;
    lintrel::HeadlessOptions options;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(a, "--version") == 0) {
            std::printf("lintrel %s\n", LINTREL_VERSION);
            return 0;
        }
        if (std::strcmp(a, "--list-ports") == 0) {
            std::fputs(lintrel::portTableText(lintrel::listPorts()).c_str(), stdout);
            return 0;
        }
        if (std::strcmp(a, "--trace") == 0 || std::strcmp(a, "--trace-size") == 0) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "lintrel: %s needs a value (see lintrel --help)\n", a);
                return 2;
            }
            const char* value = argv[++i];
            if (a[7] == '\0') {
                options.traceFolder = value;
            } else {
                char* end = nullptr;
                const double mb = std::strtod(value, &end);
                if (!end || *end || !(mb > 0) || mb > 1 << 20) {
                    std::fprintf(stderr, "lintrel: --trace-size takes megabytes, such as 16\n");
                    return 2;
                }
                options.traceBound = std::uint64_t(mb * 1024 * 1024);
            }
            continue;
        }
        if (std::strcmp(a, "--headless") == 0) {
            headless = true;
        } else if (std::strcmp(a, "--check") == 0) {
            check = true;
        } else if (std::strcmp(a, "--no-timestamps") == 0) {
            options.timestamps = false;
        } else if (std::strcmp(a, "--") == 0) {
            ++i;
            break;
        } else {
            std::fprintf(stderr, "lintrel: unknown option %s (see lintrel --help)\n", a);
            return 2;
        }
    }
    if (i < argc && std::strcmp(argv[i], "-h") == 0 && argc == 2) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::string file;
    for (; i < argc; ++i) {
        if (!file.empty())
            file += ' ';
        file += argv[i];
    }
    if (check) {
        if (file.empty()) {
            std::fputs("lintrel: --check needs a FILE (see lintrel --help)\n", stderr);
            return 2;
        }
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName("Lintrel");
        return lintrel::checkConfigFile(file, std::cout) == 0 ? 0 : 1;
    }
    if (!options.traceFolder.empty() && !headless) {
        std::fputs("lintrel: --trace goes with --headless; with windows, use a session's traffic monitor\n",
                   stderr);
        return 2;
    }
    if (headless) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName("Lintrel");
        return lintrel::runHeadless(file, options);
    }
    if (!hasDisplay()) {
        std::fputs("lintrel: no display; use 'lintrel --headless [FILE]' to run without windows\n",
                   stderr);
        return 2;
    }
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("Lintrel");
    QApplication::setQuitOnLastWindowClosed(false);
    lintrel::frmMain w;
    // A stop request (logout, kill) ends the program as closing it does,
    // configuration saved.
    lintrel::QuitSignals quitSignals;
    QObject::connect(&quitSignals, &lintrel::QuitSignals::quitRequested, &w, [&w] { w.close(); });
    w.Form_Load(file);
    w.showLoaded();
    // `lintrel status` asks here too; without it the window works the same.
    lintrel::ControlChannel control(w, "window",
                                    file.empty() ? lintrel::defaultConfigFile() : lintrel::commandLineFile(file));
    if (const std::string why = control.start(); !why.empty())
        std::fprintf(stderr, "lintrel: no status socket (%s)\n", why.c_str());
    return app.exec();
}
