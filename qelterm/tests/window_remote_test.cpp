// qelterm's window on a remote port (RFC 2217) served by the test's access
// server: the title names it, bytes go both ways, DTR reaches the server,
// and a server that drops the connection is connected to again.
#include "access_server.h"
#include "port_dialog.h"
#include "pump.h"
#include "qelcomm_terminal.h"
#include "temp_dir.h"
#include "window.h"

#include <QAction>
#include <QFile>

#include <gtest/gtest.h>

namespace {

using testsupport::pumpUntil;

std::string screenText(const qelcomm::control::CQelComm& c)
{
    std::string text(65536, '\0');
    text.resize(std::size_t(::GetContents(c.Window(), text.data(), std::int32_t(text.size()))));
    return text;
}

TEST(RemoteWindow, BytesBothWaysDtrAndAServerThatDropsTheLine)
{
    testsupport::TempDir dir;
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(dir.file("config")));
    testsupport::AccessServer server;
    qelcomm::control::CQelComm control;
    qelterm::Options o;
    o.fixedSize = true;
    qelterm::setUpTerminal(control, o);
    std::vector<std::string> maps;
    ASSERT_EQ(qelterm::openChosenPort(control, server.url(), "115200,n,8,1", maps), "");
    {
        qelterm::TermWindow window(control, server.url());
        EXPECT_EQ(window.windowTitle().toStdString(), server.url() + " 115200,n,8,1 [Connected] - qelterm");
        EXPECT_TRUE(server.waitFor([](const auto& p) { return p.baud == 115200; }));

        server.send("remote \xE2\x9C\x93\r\n");
        EXPECT_TRUE(pumpUntil([&] { return screenText(control).find("remote \xE2\x9C\x93") != std::string::npos; }));
        control.Output("typed");
        EXPECT_TRUE(server.waitFor([](const auto& p) { return p.data == "typed"; })) << server.state().data;
        const bool dtr = control.DTRHolding();
        window.findChild<QAction*>("actionDtr")->trigger();
        EXPECT_TRUE(server.waitFor([&](const auto& p) { return p.dtr != dtr; }));

        server.dropClient();
        EXPECT_TRUE(pumpUntil([&] { return window.state() != "Connected"; }, 5000)) << window.state();
        EXPECT_TRUE(pumpUntil([&] { return control.PortOpen(); }, 5000)) << window.state();
        EXPECT_EQ(server.state().connections, 2);
        EXPECT_NE(screenText(control).find("is back"), std::string::npos) << screenText(control);
        server.send("again");
        EXPECT_TRUE(pumpUntil([&] { return screenText(control).find("again") != std::string::npos; }));
    }
    control.SetPortOpen(false);
    for (const std::string& m : maps)
        QFile::remove(QString::fromStdString(m));
    qunsetenv("XDG_CONFIG_HOME");
}

}  // namespace
