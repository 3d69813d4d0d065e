// A new session's settings, lists, components and window operations that
// need no port and no peer.
#include "session_fixture.h"

#include "number_text.h"
#include "qel_comm.h"
#include "winsock/socket_control.h"

#include <gtest/gtest.h>

using namespace lintrel;
using namespace sessiontest;

namespace {

class SessionSettings : public ::testing::Test {
protected:
    void SetUp() override { resetGlobals(); }
    RecordingHost host;
};

TEST_F(SessionSettings, NewSessionShowsTheDefaults)
{
    Session s(&host);
    EXPECT_EQ(s.Caption, "New - ZU232 Vu ZOD/UV");
    EXPECT_EQ(s.Combo2.items.size(), 100u);
    EXPECT_EQ(s.Combo2.text(), "NONE");
    EXPECT_EQ(s.Combo2.items[99], "COM99");
    EXPECT_EQ(s.Combo1[0].text(), "9600");
    EXPECT_EQ(s.Combo1[0].items.back(), "115200");
    EXPECT_EQ(s.Combo1[1].text(), "None");
    EXPECT_EQ(s.Combo1[2].text(), "8");
    EXPECT_EQ(s.Combo1[3].text(), "1");
    EXPECT_EQ(s.Combo1[4].text(), "None");
    EXPECT_EQ(s.Combo1[4].items[3], "Opto-RS");
    EXPECT_EQ(s.Combo1[5].text(), "8192");
    EXPECT_EQ(s.PortNumber.text, "1000");
    EXPECT_EQ(s.txtTimeoutValue.text, "150");
    EXPECT_TRUE(s.IPAddress.text.empty());
    EXPECT_TRUE(s.TCPOption[0].value);
    EXPECT_FALSE(s.TCPOption[1].value);
    EXPECT_FALSE(s.chkVPort.checked || s.BufferSerData.checked || s.WaitForCr.checked);
    EXPECT_EQ(s.StatusBar1[0].text, "COM Status:");
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status:");
    EXPECT_EQ(s.Command1.text, "Activate");
    EXPECT_EQ(s.AllowMultiConnect, 1);
    EXPECT_EQ(s.ConnectOnVirtualOpen, 1);
    EXPECT_EQ(s.BreakMarker, std::string(10, char(0xFF)));

    // The host's own address is offered and selected for the server role.
    EXPECT_FALSE(s.HostAddress.empty());
    EXPECT_EQ(s.LocalIP.text(), s.HostAddress);
    EXPECT_TRUE(s.TCPOption[1].enabled);
}

TEST_F(SessionSettings, ComponentsStartWithTheirCreationValues)
{
    Session s(&host);
    auto& c = s.Comm1();
    EXPECT_EQ(c.RThreshold(), 1);
    EXPECT_EQ(c.SThreshold(), 0);
    EXPECT_EQ(c.InputLen(), 0);
    EXPECT_EQ(c.AutoProcess(), 2);
    EXPECT_EQ(c.Settings(), "9600,n,8,1");
    EXPECT_EQ(c.Handshaking(), 2);
    EXPECT_EQ(c.InBufferSize(), 524288);
    EXPECT_EQ(c.OutBufferSize(), 524288);
    EXPECT_FALSE(c.PortOpen());
    EXPECT_EQ(s.socketCount(), 1);
    EXPECT_EQ(s.Timer1.interval(), 5000);
    EXPECT_FALSE(s.Timer1.enabled());
    EXPECT_EQ(s.Timer2.interval(), 50);
    EXPECT_TRUE(s.Timer2.enabled());
}

TEST_F(SessionSettings, RoleSwitchShowsTheFieldsOfTheRole)
{
    Session s(&host);
    EXPECT_EQ(s.lblHost.text, "Remote Host IP Address");
    EXPECT_EQ(s.lblPort.text, "Remote Port");
    s.TCPOption_Click(1);
    EXPECT_TRUE(s.TCPOption[1].value);
    EXPECT_FALSE(s.TCPOption[0].value);
    EXPECT_FALSE(s.IPAddress.visible);
    EXPECT_TRUE(s.LocalIP.visible);
    EXPECT_EQ(s.lblHost.text, "Local IP Address");
    EXPECT_EQ(s.lblPort.text, "Local Port");
    s.TCPOption_Click(0);
    EXPECT_TRUE(s.IPAddress.visible);
    EXPECT_FALSE(s.LocalIP.visible);
}

TEST_F(SessionSettings, PortNumberAboveTheRangeWarnsOncePerChange)
{
    Session s(&host);
    for (const char* text : {"65535", "65536", "6553x", "99999"}) {
        s.PortNumber.text = text;
        s.PortNumber_Change();
    }
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[0].text, "Port numbers must range between 0 and 65565");
    EXPECT_EQ(host.boxes[0].title, "Error");
    EXPECT_EQ(s.PortNumber.text, "99999");
}

TEST_F(SessionSettings, IoOptionsPassThroughTheTransferRecordUnlessCancelled)
{
    Session s(&host);
    s.TCPOption_Click(1);
    host.serverDialog = [] {
        IoOptionTransfer.fields[0] = 0;
        IoOptionTransfer.fields[1] = 2;
        IoOptionTransfer.fields[2] = 1;
    };
    s.Command2_Click();
    EXPECT_EQ(s.AllowMultiConnect, 0);
    EXPECT_EQ(s.ServerSerialOptions, 2);
    EXPECT_EQ(s.ServerTCPOptions, 1);

    host.serverDialog = [] {
        IoOptionTransfer.fields[0] = -1;   // cancelled
        IoOptionTransfer.fields[1] = 0;
    };
    s.Command2_Click();
    EXPECT_EQ(s.AllowMultiConnect, 0);
    EXPECT_EQ(s.ServerSerialOptions, 2);

    s.TCPOption_Click(0);
    host.clientDialog = [] {
        EXPECT_EQ(IoOptionTransfer.fields[3], 0);
        EXPECT_EQ(IoOptionTransfer.fields[4], 1);
        IoOptionTransfer.fields[3] = 2;
        IoOptionTransfer.fields[4] = 0;
    };
    s.Command2_Click();
    EXPECT_EQ(s.ClientOptions, 2);
    EXPECT_EQ(s.ConnectOnVirtualOpen, 0);
    host.clientDialog = [] { IoOptionTransfer.fields[3] = -1; IoOptionTransfer.fields[4] = 1; };
    s.Command2_Click();
    EXPECT_EQ(s.ClientOptions, 2);
    EXPECT_EQ(s.ConnectOnVirtualOpen, 0);

    s.Getstatus();
    EXPECT_EQ(IoOptionTransfer.fields, (std::array<std::int16_t, 5>{0, 2, 1, 2, 0}));
    IoOptionTransfer.fields = {1, 1, 2, 0, 1};
    s.UpdateStatus();
    EXPECT_EQ(s.AllowMultiConnect, 1);
    EXPECT_EQ(s.ServerSerialOptions, 1);
    EXPECT_EQ(s.ServerTCPOptions, 2);
    EXPECT_EQ(s.ClientOptions, 0);
    EXPECT_EQ(s.ConnectOnVirtualOpen, 1);
}

TEST_F(SessionSettings, ClientListIsShownOnlyInTheServerRole)
{
    Session s(&host);
    s.Frame2_DblClick();
    EXPECT_TRUE(host.boxes.empty());
    s.TCPOption_Click(1);
    s.Frame2_DblClick();
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "");
    EXPECT_EQ(host.boxes[0].title, "Connected Clients:");
}

TEST(NumberText, TakesTheLongestNumericPrefix)
{
    EXPECT_EQ(numericValue("abc"), 0);
    EXPECT_EQ(numericValue(""), 0);
    EXPECT_EQ(numericValue("1000"), 1000);
    EXPECT_EQ(numericValue("12abc"), 12);
    EXPECT_EQ(numericValue("  -1"), -1);
    EXPECT_EQ(numericValue("1.5e2x"), 150);
    EXPECT_EQ(numericValue("1e"), 1);
    EXPECT_EQ(numericValue(".5"), 0.5);
    EXPECT_EQ(numericValue("-"), 0);
    EXPECT_EQ(numericValue("1e999"), 0);   // no infinity reaches a caller
    EXPECT_EQ(roundedValue(2.5), 2);
    EXPECT_EQ(roundedValue(3.5), 4);
    EXPECT_EQ(roundedValue(-0.4), 0);
    EXPECT_EQ(roundedValue(1e12), 2147483647);
}

}  // namespace
