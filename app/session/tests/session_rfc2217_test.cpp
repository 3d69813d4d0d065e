// Sessions with "Telnet COM port control (RFC 2217)": as a server, clients
// negotiate, set the real port and are told of its lines; as a client, the
// port's settings (and a virtual port program's) reach the remote port.
// Real ttys are pseudo-terminals, modem lines come from the loopback double,
// the remote port is the test access server.
#include "session_fixture.h"

#include "access_server.h"
#include "kelvad_ctrl.h"
#include "pty_pair.h"
#include "qel_comm.h"
#include "rfc2217/client.h"
#include "serial/loopback.h"
#include "serial/serial.h"
#include "temp_dir.h"
#include "winsock/socket_control.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

using namespace lintrel;
using namespace sessiontest;
using rfc2217::Control;
using rfc2217::Parity;
using rfc2217::StopSize;
using testsupport::AccessServer;

namespace {

// An RFC 2217 client on a socket pumped by the test thread; it keeps what
// the server answered and told.
class TelnetClient : private rfc2217::ClientHost {
public:
    explicit TelnetClient(int port) : m_codec(*this, "test client")
    {
        sock = connectTo(port);
        if (!sock)
            return;
        QObject::connect(sock.get(), &QTcpSocket::readyRead, [this] {
            const QByteArray b = sock->readAll();
            m_codec.feed(reinterpret_cast<const std::uint8_t*>(b.constData()), std::size_t(b.size()));
            flush();
        });
        m_codec.start();
        flush();
    }

    bool negotiated(int ms = 5000) { return sock && pumpUntil([&] { return comPortOn; }, ms); }

    // Runs a command of the codec and sends what it made.
    template <typename F>
    void act(F f)
    {
        f(m_codec);
        flush();
    }
    void sendData(const std::string& d)
    {
        act([&](rfc2217::Client& c) { c.sendData(reinterpret_cast<const std::uint8_t*>(d.data()), d.size()); });
    }
    // Raw bytes, as a peer that does not follow the rules sends them.
    void sendRaw(const std::string& bytes)
    {
        sock->write(bytes.data(), qint64(bytes.size()));
        sock->flush();
    }

    std::unique_ptr<QTcpSocket> sock;
    bool comPortOn = false;
    std::string data;
    std::optional<std::uint32_t> baud;
    std::optional<std::uint8_t> dataSizeAnswer;
    std::optional<Parity> parityAnswer;
    std::optional<StopSize> stopAnswer;
    std::vector<Control> controls;
    std::vector<std::uint8_t> modem, lines, purges;
    int lineMask = -1;

private:
    void flush()
    {
        if (!m_out.empty() && sock)
            sock->write(m_out.data(), qint64(m_out.size()));
        m_out.clear();
    }
    void toWire(const std::uint8_t* b, std::size_t n) override { m_out.append(reinterpret_cast<const char*>(b), n); }
    void toProgram(const std::uint8_t* b, std::size_t n) override { data.append(reinterpret_cast<const char*>(b), n); }
    void comPort(bool on) override { comPortOn = on; }
    void baudRate(std::uint32_t v) override { baud = v; }
    void dataSize(std::uint8_t v) override { dataSizeAnswer = v; }
    void parity(Parity v) override { parityAnswer = v; }
    void stopSize(StopSize v) override { stopAnswer = v; }
    void control(Control v) override { controls.push_back(v); }
    void modemState(std::uint8_t v) override { modem.push_back(v); }
    void lineState(std::uint8_t v) override { lines.push_back(v); }
    void purged(std::uint8_t v) override { purges.push_back(v); }
    void lineStateMask(std::uint8_t v) override { lineMask = v; }

    rfc2217::Client m_codec;
    std::string m_out;
};

// Waits, pumping the session, until the access server's port satisfies pred.
bool serverHas(AccessServer& server, const std::function<bool(const AccessServer::Port&)>& pred, int ms = 5000)
{
    return pumpUntil([&] { return pred(server.state()); }, ms);
}

class Rfc2217Session : public DeviceOnCom3 {
protected:
    int activateServer(Session& s, const char* com = "COM3")
    {
        s.Rfc2217.checked = true;
        s.Combo2.select(com);
        s.TCPOption_Click(1);
        s.LocalIP.items.push_back("127.0.0.1");
        s.LocalIP.select("127.0.0.1");
        s.PortNumber.text = "0";
        s.Command1_Click();
        EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: Listening...");
        return s.Winsock1(0).localPort;
    }

    // What the device at the far end of COM3 received within ms.
    std::string deviceReceive(std::size_t count, int ms = 5000)
    {
        std::string got;
        pumpUntil([&] {
            got += pty.receive(count - got.size(), 10);
            return got.size() >= count;
        }, ms);
        return got;
    }
};

// The client's settings change the tty and are answered with what the tty
// took; a setting the tty refuses is answered with the one in force, and
// does not spoil the next one.
TEST_F(Rfc2217Session, ClientSettingsReachTheTtyAndAreAnsweredWithTheValueInForce)
{
    Session s(&host);
    TelnetClient c(activateServer(s));
    ASSERT_TRUE(c.negotiated());
    c.act([](rfc2217::Client& k) {
        k.setBaudRate(57600);
        k.setStopSize(StopSize::Two);
        k.setControl(Control::FlowHardware);
    });
    ASSERT_TRUE(pumpUntil([&] { return c.stopAnswer && !c.controls.empty(); }));
    EXPECT_EQ(c.baud, 57600u);
    EXPECT_EQ(c.stopAnswer, StopSize::Two);
    EXPECT_EQ(c.controls.back(), Control::FlowHardware);
    testsupport::PtyPair::Line line = pty.line();
    EXPECT_EQ(line.baud, 57600u);
    EXPECT_EQ(line.stopBits, 2);
    EXPECT_TRUE(line.rtsCts);

    // 1.5 stop bits exist only with 5 data bits: refused, two stay.
    c.stopAnswer.reset();
    c.act([](rfc2217::Client& k) { k.setStopSize(StopSize::OnePointFive); });
    ASSERT_TRUE(pumpUntil([&] { return c.stopAnswer.has_value(); }));
    EXPECT_EQ(c.stopAnswer, StopSize::Two);
    c.baud.reset();
    c.act([](rfc2217::Client& k) { k.setBaudRate(19200); });
    ASSERT_TRUE(pumpUntil([&] { return c.baud.has_value(); }));
    EXPECT_EQ(c.baud, 19200u);
    line = pty.line();
    EXPECT_EQ(line.baud, 19200u);
    EXPECT_EQ(line.stopBits, 2);
    EXPECT_EQ(s.Comm1().Settings(), "19200,n,8,2");
}

// Every byte value both ways; ten 255s are data here, not a break.
TEST_F(Rfc2217Session, AllByteValuesPassAndTheBreakMarkerIsData)
{
    Session s(&host);
    TelnetClient c(activateServer(s));
    ASSERT_TRUE(c.negotiated());
    c.sendData(allByteValues() + std::string(10, char(0xFF)));
    EXPECT_EQ(deviceReceive(266), allByteValues() + std::string(10, char(0xFF)));
    pty.send(allByteValues());
    EXPECT_TRUE(pumpUntil([&] { return c.data.size() >= 256; }));
    EXPECT_EQ(c.data, allByteValues());
}

// On a port with modem lines (the loopback double): DTR, RTS and break
// from the client reach the line; the device's lines are notified.
TEST_F(Rfc2217Session, SignalsReachTheLineAndModemChangesAreNotified)
{
    serial::loopback::createPair("COM21", "FAR21");
    const serial::Handle far = serial::CreateFile("FAR21");
    ASSERT_NE(far, serial::INVALID_HANDLE_VALUE);
    Session s(&host);
    TelnetClient c(activateServer(s, "COM21"));
    ASSERT_TRUE(c.negotiated());
    ASSERT_TRUE(pumpUntil([&] { return !c.modem.empty(); }));   // the state at agreement

    c.act([](rfc2217::Client& k) {
        k.setControl(Control::DtrOff);
        k.setControl(Control::RtsOff);
        k.setControl(Control::BreakOn);
    });
    ASSERT_TRUE(pumpUntil([&] { return c.controls.size() >= 3; }));
    EXPECT_EQ(c.controls, (std::vector<Control>{Control::DtrOff, Control::RtsOff, Control::BreakOn}));
    serial::loopback::LineState line = serial::loopback::state("COM21");
    EXPECT_FALSE(line.dtr);
    EXPECT_FALSE(line.rts);
    EXPECT_TRUE(line.breakOn);
    c.act([](rfc2217::Client& k) {
        k.setControl(Control::BreakOff);
        k.setBaudRate(38400);   // an apply raises DTR; the client's DTR off stays
    });
    ASSERT_TRUE(pumpUntil([&] { return c.baud.has_value(); }));
    line = serial::loopback::state("COM21");
    EXPECT_FALSE(line.breakOn);
    EXPECT_FALSE(line.dtr);
    EXPECT_EQ(line.dcb.BaudRate, 38400u);

    // The device raises DTR and RTS: our DSR, CD and CTS, told at once.
    c.modem.clear();
    serial::EscapeCommFunction(far, serial::SETDTR);
    serial::EscapeCommFunction(far, serial::SETRTS);
    ASSERT_TRUE(pumpUntil([&] {
        return !c.modem.empty() && (c.modem.back() & 0xF0) == (rfc2217::modem::Cts | rfc2217::modem::Dsr | rfc2217::modem::Cd);
    }));

    // Line errors only when the client asked for them. (The engine reports
    // errors from the calls that read the port, such as a purge.)
    serial::loopback::injectErrors("COM21", serial::CE_FRAME);
    s.Comm1().SetOutBufferCount(0);
    pumpFor(100);
    EXPECT_TRUE(c.lines.empty());
    c.act([](rfc2217::Client& k) { k.setLineStateMask(rfc2217::line::FramingError); });
    ASSERT_TRUE(pumpUntil([&] { return c.lineMask == rfc2217::line::FramingError; }));
    serial::loopback::injectErrors("COM21", serial::CE_FRAME);
    s.Comm1().SetOutBufferCount(0);
    ASSERT_TRUE(pumpUntil([&] { return !c.lines.empty(); }));
    EXPECT_EQ(c.lines.back() & rfc2217::line::FramingError, rfc2217::line::FramingError);
    serial::CloseHandle(far);
}

// PURGE-DATA empties what waits for the device and is answered.
TEST_F(Rfc2217Session, PurgeIsAnswered)
{
    Session s(&host);
    TelnetClient c(activateServer(s));
    ASSERT_TRUE(c.negotiated());
    c.act([](rfc2217::Client& k) { k.purge(rfc2217::Purge::Both); });
    ASSERT_TRUE(pumpUntil([&] { return !c.purges.empty(); }));
    EXPECT_EQ(c.purges.back(), std::uint8_t(rfc2217::Purge::Both));
}

// Bad input: truncated and malformed negotiation, unknown options and
// commands, values out of range, a flood of commands. The session answers
// or refuses, keeps running, and only data reaches the port.
TEST_F(Rfc2217Session, BadInputReachesThePortOnlyAsData)
{
    Session s(&host);
    TelnetClient c(activateServer(s));
    ASSERT_TRUE(c.negotiated());
    std::string junk;
    junk += "\xff\xfd\x18";                 // DO TERMINAL-TYPE: refused
    junk += "\xff\xfa\x2c\x01\x00\x00";      // SET-BAUDRATE cut short ...
    junk += "\xff\xf1";                      // ... by a command: dropped
    junk += "\xff\xfa\x2c\x63\x01\xff\xf0";  // unknown subcommand
    junk += "\xff\xfa\x2c\x02\x09\xff\xf0";  // 9 data bits: answered as a query
    junk += "\xff\xfa\x2c\x05\x63\xff\xf0";  // SET-CONTROL 99
    junk += "\xff\xfa\x2c\x01\xff\xff\xff\xff\xff\xff\xff\xff\xff\xf0";   // 4294967295 baud
    junk += "\xff\xfa";                      // SB without an option ...
    junk += "\xff\xf0";                      // ... ended at once
    junk += "\xff\x07";                      // a verb that means nothing
    c.sendRaw(junk);
    for (int i = 0; i < 2000; ++i)
        c.act([](rfc2217::Client& k) { k.setParity(Parity::Query); });
    c.sendData("data");
    EXPECT_EQ(deviceReceive(4), "data");
    pumpFor(100);
    EXPECT_EQ(pty.receive(100, 100), "") << "nothing but the data";
    ASSERT_TRUE(pumpUntil([&] { return c.dataSizeAnswer.has_value(); }));
    EXPECT_EQ(c.dataSizeAnswer, 8);
    EXPECT_TRUE(s.isActive());
    EXPECT_EQ(pty.line().baud, 9600u);   // the refused rate left the line as it was
    EXPECT_EQ(s.Comm1().Settings(), "9600,n,8,1");
    // And the session still serves a well-behaved client.
    TelnetClient d(s.Winsock1(0).localPort);
    ASSERT_TRUE(d.negotiated());
    d.act([](rfc2217::Client& k) { k.setBaudRate(0); });
    ASSERT_TRUE(pumpUntil([&] { return d.baud.has_value(); }));
    EXPECT_EQ(d.baud, 9600u);
}

// A client whose data the routing ignores may ask but not set.
TEST_F(Rfc2217Session, AClientWhoseDataIsIgnoredCannotSetThePort)
{
    Session s(&host);
    s.ServerTCPOptions = 1;
    TelnetClient c(activateServer(s));
    ASSERT_TRUE(c.negotiated());
    c.act([](rfc2217::Client& k) { k.setBaudRate(115200); });
    ASSERT_TRUE(pumpUntil([&] { return c.baud.has_value(); }));
    EXPECT_EQ(c.baud, 9600u);
    EXPECT_EQ(pty.line().baud, 9600u);
}

// Client role on a real port: the session's settings reach the remote
// port at connect, and data passes with 255 doubled.
TEST_F(Rfc2217Session, AsAClientThePortsSettingsReachTheRemotePort)
{
    AccessServer server;
    Session s(&host);
    s.Rfc2217.checked = true;
    s.Combo2.select("COM3");
    s.Combo1[0].select("115200");
    s.Combo1[1].select("Even");
    s.Combo1[2].select("7");
    s.Combo1[3].select("2");
    s.IPAddress.text = "127.0.0.1";
    s.PortNumber.text = std::to_string(server.port());
    s.Command1_Click();
    ASSERT_TRUE(pumpUntil([&] { return s.StatusBar1[1].text == "TCP/IP Status: Connected"; }));
    ASSERT_TRUE(serverHas(server, [](const AccessServer::Port& p) { return p.stop == StopSize::Two; }));
    const AccessServer::Port p = server.state();
    EXPECT_EQ(p.baud, 115200u);
    EXPECT_EQ(p.parity, Parity::Even);
    EXPECT_EQ(p.stop, StopSize::Two);

    server.send(allByteValues());
    EXPECT_EQ(deviceReceive(256), allByteValues());
    pty.send(allByteValues());
    EXPECT_TRUE(serverHas(server, [](const AccessServer::Port& p) { return p.data.size() >= 256; }));
    EXPECT_EQ(server.state().data, allByteValues());
}

// A real-port session whose COM name maps to a remote port works as on a
// local one (raw TCP here); the connection dropping is a device removed.
TEST_F(Rfc2217Session, ARealPortSessionOnARemotePort)
{
    AccessServer server;
    map.map(12, server.url());
    Session s(&host);
    s.Combo2.select("COM12");
    s.Combo1[0].select("57600");
    s.TCPOption_Click(1);
    s.LocalIP.items.push_back("127.0.0.1");
    s.LocalIP.select("127.0.0.1");
    s.PortNumber.text = "0";
    s.Command1_Click();
    ASSERT_EQ(s.StatusBar1[0].text, "COM Status: Open");
    EXPECT_EQ(server.state().baud, 57600u);
    auto client = connectTo(s.Winsock1(0).localPort);
    ASSERT_TRUE(client);
    ASSERT_TRUE(pumpUntil([&] { return s.ClientCount == 1; }));
    pumpFor(20);
    client->write(QByteArray::fromStdString(allByteValues()));
    EXPECT_TRUE(serverHas(server, [](const AccessServer::Port& p) { return p.data.size() >= 256; }));
    EXPECT_EQ(server.state().data, allByteValues());
    server.send(allByteValues());
    EXPECT_EQ(receive(client.get(), 256), allByteValues());

    server.dropClient();
    EXPECT_TRUE(pumpUntil([&] { return s.StatusBar1[0].text == "COM Status: Error - Device removed"; }));
    EXPECT_TRUE(s.ReopenTimer.enabled());
    s.Command1_Click();
}

// A program that opens a pseudo-terminal port, sets 57600 with two stop
// bits and RTS/CTS, reports, waits for a word on stdin, then sets 19200.
const char* const kProgram = R"(
import serial, sys, time
p = serial.Serial(sys.argv[1], 57600, stopbits=2, rtscts=True, timeout=1)
print('open', flush=True)
sys.stdin.readline()
p.baudrate = 19200
print('changed', flush=True)
sys.stdin.readline()
p.close()
)";

// Client role on a virtual port: what the program there sets goes to the
// remote port at once.
TEST_F(Rfc2217Session, AsAClientTheVirtualPortProgramsSettingsReachTheRemotePort)
{
    AccessServer server;
    Session s(&host);
    s.Rfc2217.checked = true;
    s.chkVPort.checked = true;
    s.Combo2.select("COM5");
    s.IPAddress.text = "127.0.0.1";
    s.PortNumber.text = std::to_string(server.port());
    s.Command1_Click();
    ASSERT_EQ(s.StatusBar1[0].text, "Virtual Port COM5 created");

    QProcess program;
    program.start("/usr/bin/python3", {"-c", kProgram, QString::fromStdString(ports.path() + "/COM5")});
    ASSERT_TRUE(program.waitForStarted(5000));
    ASSERT_TRUE(pumpUntil([&] { return program.canReadLine(); }, 10000)) << program.readAllStandardError().toStdString();
    EXPECT_TRUE(serverHas(server, [](const AccessServer::Port& p) {
        return p.baud == 57600 && p.stop == StopSize::Two && p.flow == Control::FlowHardware;
    }));
    program.readLine();
    program.write("go\n");
    ASSERT_TRUE(pumpUntil([&] { return program.canReadLine(); }, 10000));
    EXPECT_TRUE(serverHas(server, [](const AccessServer::Port& p) { return p.baud == 19200; }));

    // The remote lines go to the virtual port (the session keeps running).
    server.setModemState(rfc2217::modem::Cts | rfc2217::modem::Dsr);
    pumpFor(100);
    program.write("end\n");
    EXPECT_TRUE(pumpUntil([&] { return program.state() == QProcess::NotRunning; }, 10000));
    s.Command1_Click();
    EXPECT_EQ(s.StatusBar1[0].text, "Virtual port closed");
}

// Server role on a virtual port: what the program set is what clients are
// told; their own settings cannot override it.
TEST_F(Rfc2217Session, AVirtualPortServerReportsTheProgramsSettings)
{
    Session s(&host);
    s.chkVPort.checked = true;
    const int port = activateServer(s, "COM5");
    ASSERT_EQ(s.StatusBar1[0].text, "Virtual Port COM5 created");
    QProcess program;
    program.start("/usr/bin/python3", {"-c", kProgram, QString::fromStdString(ports.path() + "/COM5")});
    ASSERT_TRUE(program.waitForStarted(5000));
    ASSERT_TRUE(pumpUntil([&] { return program.canReadLine(); }, 10000)) << program.readAllStandardError().toStdString();

    TelnetClient c(port);
    ASSERT_TRUE(c.negotiated());
    ASSERT_TRUE(pumpUntil([&] {
        c.baud.reset();
        c.act([](rfc2217::Client& k) { k.setBaudRate(1200); });
        pumpUntil([&] { return c.baud.has_value(); }, 1000);
        return c.baud == 57600u;
    }, 5000));
    c.act([](rfc2217::Client& k) {
        k.setStopSize(StopSize::Query);
        k.setControl(Control::FlowQuery);
    });
    ASSERT_TRUE(pumpUntil([&] { return c.stopAnswer && !c.controls.empty(); }));
    EXPECT_EQ(c.stopAnswer, StopSize::Two);
    EXPECT_EQ(c.controls.back(), Control::FlowHardware);
    program.readLine();
    program.write("go\nend\n");
    EXPECT_TRUE(pumpUntil([&] { return program.state() == QProcess::NotRunning; }, 10000));
    s.Command1_Click();
    EXPECT_EQ(s.StatusBar1[0].text, "Virtual port closed");
}

}  // namespace
