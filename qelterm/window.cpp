#include "window.h"

#include "port_name.h"
#include "qelcomm_terminal.h"
#include "terminal_view.h"

#include <QApplication>
#include <QFile>

#include <iostream>

namespace qelterm {

int runWindow(const Options& o)
{
    const std::string port = o.port.empty() ? "COM1" : o.port;
    const PortChoice choice = choosePort(port);
    if (!choice.number) {
        std::cerr << "qelterm: " << port << " is neither a COM name nor a device path\n";
        return 2;
    }
    const QcHandle object = CreateCommObject(0);
    SetEmulation(object, o.emulation);
    SetScrollRows(object, 1000);
    SetAutoSize(object, 1);
    SetCommPort(object, choice.number);
    int code = 0;
    if (SetSettings(object, o.settings.c_str()) != 0) {
        std::cerr << "qelterm: bad settings " << o.settings << "\n";
        code = 2;
    } else if (!SetPortOpen(object, 1)) {
        std::cerr << "qelterm: cannot open " << port << "\n";
        code = 1;
    } else {
        // Received bytes go to the screen, typed keys to the port.
        SetAutoProcess(object, 3);
        qelcomm::terminal::TerminalView view(object);
        view.setWindowTitle(QString("qelterm - %1 (%2)").arg(QString::fromStdString(port), QString::fromStdString(o.settings)));
        view.resize(view.terminalSize());
        view.show();
        code = QApplication::exec();
        SetPortOpen(object, 0);
    }
    DestroyCommObject(object);
    if (!choice.tempMap.empty())
        QFile::remove(QString::fromStdString(choice.tempMap));
    return code;
}

}  // namespace qelterm
