// Shared pieces of the session tests: a host that records message boxes
// and answers the option dialogs, event pumping, a TCP peer on 127.0.0.1.
#pragma once

#include "global_options.h"
#include "pump.h"
#include "session.h"
#include "session_host.h"

#include "pty_pair.h"
#include "serial/loopback.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sessiontest {

struct Box {
    std::string text, title;
};

class RecordingHost : public lintrel::SessionHost {
public:
    std::vector<Box> boxes;
    // What the option dialogs do to IoOptionTransfer (nothing by default).
    std::function<void()> serverDialog, clientDialog;

    void messageBox(const std::string& text, const std::string& title) override
    {
        boxes.push_back({text, title});
    }
    void showServerOptions() override { if (serverDialog) serverDialog(); }
    void showClientOptions() override { if (clientDialog) clientDialog(); }
};

using testsupport::pumpFor;
using testsupport::pumpUntil;

// A TCP server on 127.0.0.1 that keeps every accepted connection.
class TcpPeerServer {
public:
    TcpPeerServer();
    int port() const { return m_server.serverPort(); }
    // Waits for the n-th connection (1-based) and returns it.
    QTcpSocket* waitForClient(int n = 1, int ms = 5000);
    std::vector<QTcpSocket*> clients;

private:
    QTcpServer m_server;
};

// Reads from sock until count bytes arrived or ms passed.
std::string receive(QTcpSocket* sock, std::size_t count, int ms = 5000);
// A client connection to 127.0.0.1:port, connected (or null).
std::unique_ptr<QTcpSocket> connectTo(int port, int ms = 5000);

// Every byte value once, in order.
std::string allByteValues();

// Process-wide options back to their defaults for each test.
void resetGlobals();

// The ground of most session tests: a pseudo-terminal mapped as COM3, the
// port folder and home in temporary folders, the globals reset; loopback
// ports a test made are removed after it.
class DeviceOnCom3 : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetGlobals();
        ::setenv("LINTREL_PORT_DIR", ports.path().c_str(), 1);
        ::setenv("LINTREL_HOME", home.path().c_str(), 1);
        map.map(3, pty.slavePath());
    }
    void TearDown() override { serial::loopback::removeAll(); }

    testsupport::TempDir ports, home;
    testsupport::PtyPair pty;
    testsupport::PortsMap map;
    RecordingHost host;
};

}  // namespace sessiontest
