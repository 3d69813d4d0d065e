// qelterm: a terminal window on a serial port over the qelcomm6 library,
// a windowless renderer of captured terminal output, dialing and file
// transfers without a window.
#include "dial.h"
#include "options.h"
#include "render.h"
#include "transfer.h"
#include "window.h"

#include <QApplication>
#include <QCoreApplication>

#include <iostream>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    const qelterm::ParseResult parsed = qelterm::parseOptions(args);
    if (!parsed.options) {
        std::cerr << "qelterm: " << parsed.error << " (see qelterm --help)\n";
        return parsed.exitCode;
    }
    const qelterm::Options& o = *parsed.options;
    switch (o.mode) {
    case qelterm::Options::Mode::Help:
        std::cout << qelterm::kUsage;
        return 0;
    case qelterm::Options::Mode::Render: {
        QCoreApplication app(argc, argv);
        return qelterm::runRender(o);
    }
    case qelterm::Options::Mode::Dial: {
        QCoreApplication app(argc, argv);
        return qelterm::runDial(o);
    }
    case qelterm::Options::Mode::Send:
    case qelterm::Options::Mode::Receive: {
        QCoreApplication app(argc, argv);
        return qelterm::runTransfer(o);
    }
    case qelterm::Options::Mode::Window:
        break;
    }
    QApplication app(argc, argv);
    return qelterm::runWindow(o);
}
