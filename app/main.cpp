// Lintrel entry point: the main window, or the windowless mode for
// machines without a display.
#include "frm_main.h"
#include "headless.h"
#include "quit_signals.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* const kUsage =
    "usage: lintrel [FILE]\n"
    "       lintrel --headless [FILE]\n"
    "       lintrel --help\n"
    "\n"
    "Joins serial ports (real or virtual) and TCP/IP: one session per bridge.\n"
    "\n"
    "  FILE        configuration file (.qcf) to load; the whole argument text is\n"
    "              the name. Without one, default.qcf in the program folder\n"
    "              ($LINTREL_HOME when set). Sessions saved as active start at once.\n"
    "  --headless  run the sessions of FILE without any window: every status\n"
    "              change is printed as one line on standard output; SIGINT or\n"
    "              SIGTERM stops the program cleanly without rewriting FILE.\n"
    "  --help      show this text.\n"
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
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const bool headless = argc > 1 && std::strcmp(argv[1], "--headless") == 0;
    // The whole argument text names the file, so a name with spaces needs
    // no quotes.
    std::string file;
    for (int i = headless ? 2 : 1; i < argc; ++i) {
        if (!file.empty())
            file += ' ';
        file += argv[i];
    }
    if (headless) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName("Lintrel");
        return lintrel::runHeadless(file);
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
    return app.exec();
}
