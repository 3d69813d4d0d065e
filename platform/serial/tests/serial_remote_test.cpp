// Remote ports ("rfc2217://host:port") against an access server whose port
// is a record: the calls a local port answers, carried over RFC 2217, with
// the time-outs and queue counts of a local port, from the owner's thread
// and from a thread without an event loop.
#include "serial/serial.h"
#include "serial/namespace.h"

#include "access_server.h"
#include "pty_pair.h"
#include "pump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

using namespace serial;
using testsupport::AccessServer;
using Clock = std::chrono::steady_clock;
using rfc2217::Control;

namespace {

std::string allBytes(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = char((i * 7 + i / 256) & 0xFF);
    return s;
}

std::string readFor(Handle h, std::size_t count, int ms)
{
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = 0;
    t.ReadTotalTimeoutConstant = std::uint32_t(ms);
    SetCommTimeouts(h, &t);
    std::string got(count, '\0');
    std::uint32_t done = 0;
    ReadFile(h, got.data(), std::uint32_t(count), &done);
    got.resize(done);
    return got;
}

long msSince(Clock::time_point start)
{
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

struct RemotePort : ::testing::Test {
    AccessServer server;
    Handle h = INVALID_HANDLE_VALUE;
    void SetUp() override
    {
        h = CreateFile(server.url());
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    }
    void TearDown() override { CloseHandle(h); }
};

}  // namespace

// The port opens knowing the server's settings; a new configuration sends
// only what changed, and is what the server's port holds afterwards.
TEST_F(RemotePort, LineSettingsReachTheServerAndOnlyChangesAreSent)
{
    DCB d;
    ASSERT_TRUE(GetCommState(h, &d));
    EXPECT_EQ(d.BaudRate, 9600u);
    d.BaudRate = 57600;
    d.ByteSize = 7;
    d.Parity = EVENPARITY;
    d.StopBits = TWOSTOPBITS;
    d.fOutxCtsFlow = true;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    ASSERT_TRUE(SetCommState(h, &d));
    AccessServer::Port p = server.state();
    EXPECT_EQ(p.baud, 57600u);
    EXPECT_EQ(p.dataSize, 7);
    EXPECT_EQ(p.parity, rfc2217::Parity::Even);
    EXPECT_EQ(p.stop, rfc2217::StopSize::Two);
    EXPECT_TRUE(server.waitFor([](const AccessServer::Port& s) { return s.flow == Control::FlowHardware; }));

    // DTR off alone: no line setting and no flow control goes again.
    const std::size_t before = server.state().controls.size();
    d.fDtrControl = DTR_CONTROL_DISABLE;
    ASSERT_TRUE(SetCommState(h, &d));
    ASSERT_TRUE(server.waitFor([](const AccessServer::Port& s) { return !s.dtr; }));
    p = server.state();
    ASSERT_EQ(p.controls.size(), before + 1);
    EXPECT_EQ(p.controls.back(), Control::DtrOff);
    DCB back;
    ASSERT_TRUE(GetCommState(h, &back));
    EXPECT_EQ(back.BaudRate, 57600u);
    EXPECT_EQ(back.fDtrControl, DTR_CONTROL_DISABLE);
}

// A rate the server's port refuses fails the call and leaves the old
// settings in force there, as a local driver does.
TEST(RemotePortRefused, ARefusedRateFailsAndTheOldSettingsStay)
{
    AccessServer::Options o;
    o.refuseBaud = 12345;
    AccessServer server(o);
    const Handle h = CreateFile(server.url());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DCB d;
    d.BaudRate = 19200;
    ASSERT_TRUE(SetCommState(h, &d));
    d.BaudRate = 12345;
    d.ByteSize = 7;
    EXPECT_FALSE(SetCommState(h, &d));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(server.waitFor([](const AccessServer::Port& s) { return s.dataSize == 8; }));
    EXPECT_EQ(server.state().baud, 19200u);
    DCB back;
    GetCommState(h, &back);
    EXPECT_EQ(back.BaudRate, 19200u);
    EXPECT_EQ(back.ByteSize, 8);
    CloseHandle(h);
}

// Every byte value both ways (255 is doubled on the wire and must arrive
// once), with the input count exact and the output drained to 0.
TEST_F(RemotePort, AllByteValuesPassBothWays)
{
    const std::string data = allBytes(70000);
    COMMTIMEOUTS t;
    t.WriteTotalTimeoutConstant = 5000;
    SetCommTimeouts(h, &t);
    ASSERT_TRUE(SetupComm(h, 4096, 128 * 1024));
    std::uint32_t done = 0;
    ASSERT_TRUE(WriteFile(h, data.data(), std::uint32_t(data.size()), &done));
    EXPECT_EQ(done, data.size());
    ASSERT_TRUE(server.waitFor([&](const AccessServer::Port& s) { return s.data.size() >= data.size(); }, 10000));
    EXPECT_TRUE(server.state().data == data);
    std::uint32_t errors = 0;
    COMSTAT stat;
    const auto until = Clock::now() + std::chrono::seconds(5);
    do
        ASSERT_TRUE(ClearCommError(h, &errors, &stat));
    while (stat.cbOutQue != 0 && Clock::now() < until);
    EXPECT_EQ(stat.cbOutQue, 0u);

    server.send(std::string("\xff\x00\xff\xff", 4));
    ASSERT_TRUE(testsupport::pumpUntil([&] {
        ClearCommError(h, &errors, &stat);
        return stat.cbInQue == 4;
    }));
    EXPECT_EQ(readFor(h, 10, 100), std::string("\xff\x00\xff\xff", 4));

    const std::string back = allBytes(20000);
    server.send(back);
    std::string got;
    while (got.size() < back.size()) {
        const std::string part = readFor(h, back.size() - got.size(), 2000);
        if (part.empty())
            break;
        got += part;
    }
    EXPECT_TRUE(got == back);
}

// Read time-outs behave as on a local port: a total time-out waits that
// long for bytes that do not come, "return at once" does not wait at all.
TEST_F(RemotePort, ReadTimeOutsAreThoseOfALocalPort)
{
    auto start = Clock::now();
    EXPECT_EQ(readFor(h, 5, 300), "");
    EXPECT_GE(msSince(start), 290);
    EXPECT_LT(msSince(start), 2000);

    COMMTIMEOUTS now;
    now.ReadIntervalTimeout = 0xFFFFFFFF;
    SetCommTimeouts(h, &now);
    char b[4];
    std::uint32_t done = 9;
    start = Clock::now();
    ASSERT_TRUE(ReadFile(h, b, 4, &done));
    EXPECT_EQ(done, 0u);
    EXPECT_LT(msSince(start), 100);
}

// Modem lines come from the server's notifications and are told to the
// owner; line errors become the error bits of the next status read.
TEST_F(RemotePort, ModemStateAndLineErrorsFromNotifications)
{
    std::atomic<std::uint32_t> news{0};
    ASSERT_TRUE(SetCommNotify(h, [&](std::uint32_t what) { news |= what; }));
    server.setModemState(rfc2217::modem::Cts | rfc2217::modem::Cd);
    std::uint32_t status = 0;
    ASSERT_TRUE(testsupport::pumpUntil([&] { return (news & NOTIFY_STATUS) != 0; }));
    ASSERT_TRUE(GetCommModemStatus(h, &status));
    EXPECT_EQ(status, MS_CTS_ON | MS_RLSD_ON);

    server.setLineState(rfc2217::line::FramingError | rfc2217::line::BreakDetect);
    std::uint32_t errors = 0;
    COMSTAT stat;
    ASSERT_TRUE(testsupport::pumpUntil([&] {
        ClearCommError(h, &errors, &stat);
        return errors != 0;
    }));
    EXPECT_EQ(errors, CE_FRAME | CE_BREAK);
    ClearCommError(h, &errors, &stat);
    EXPECT_EQ(errors, 0u) << "reading the status clears them";
    SetCommNotify(h, {});
}

// DTR, RTS and break go as SET-CONTROL; purges as PURGE-DATA, and the
// local queues are emptied too.
TEST_F(RemotePort, SignalsBreakAndPurgeReachTheServer)
{
    ASSERT_TRUE(EscapeCommFunction(h, CLRDTR));
    ASSERT_TRUE(EscapeCommFunction(h, CLRRTS));
    ASSERT_TRUE(SetCommBreak(h));
    ASSERT_TRUE(ClearCommBreak(h));
    ASSERT_TRUE(server.waitFor([](const AccessServer::Port& s) { return s.breaks == 1 && !s.breakOn; }));
    EXPECT_FALSE(server.state().dtr);
    EXPECT_FALSE(server.state().rts);

    server.send("stale");
    std::uint32_t errors = 0;
    COMSTAT stat;
    ASSERT_TRUE(testsupport::pumpUntil([&] {
        ClearCommError(h, &errors, &stat);
        return stat.cbInQue == 5;
    }));
    ASSERT_TRUE(PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR));
    ClearCommError(h, &errors, &stat);
    EXPECT_EQ(stat.cbInQue, 0u);
    ASSERT_TRUE(server.waitFor([](const AccessServer::Port& s) { return !s.purges.empty(); }));
    EXPECT_EQ(server.state().purges.back(), rfc2217::Purge::Both);
}

// The connection drops: what arrived before can still be read, then every
// call fails with ERROR_DEVICE_REMOVED and the owner is told.
TEST_F(RemotePort, ADroppedConnectionIsADeviceRemoved)
{
    std::atomic<std::uint32_t> news{0};
    ASSERT_TRUE(SetCommNotify(h, [&](std::uint32_t what) { news |= what; }));
    server.send("last");
    ASSERT_TRUE(testsupport::pumpUntil([&] { return (news & NOTIFY_INPUT) != 0; }));
    server.dropClient();
    ASSERT_TRUE(testsupport::pumpUntil([&] { return (news & NOTIFY_GONE) != 0; }));
    EXPECT_EQ(readFor(h, 10, 100), "last");
    std::uint32_t errors = 0;
    COMSTAT stat;
    EXPECT_FALSE(ClearCommError(h, &errors, &stat));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_REMOVED);
    std::uint32_t done = 0;
    EXPECT_FALSE(WriteFile(h, "x", 1, &done));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_REMOVED);
    SetCommNotify(h, {});
}

// A thread without an event loop (a transfer thread) reads and writes with
// its time-outs; no notification is offered there.
TEST_F(RemotePort, WorksFromAThreadWithoutAnEventLoop)
{
    std::string got;
    bool notifyRefused = false;
    std::thread worker([&] {
        notifyRefused = !SetCommNotify(h, [](std::uint32_t) {}) && GetLastError() == ERROR_NOT_SUPPORTED;
        COMMTIMEOUTS t;
        t.ReadTotalTimeoutConstant = 3000;
        t.WriteTotalTimeoutConstant = 3000;
        SetCommTimeouts(h, &t);
        std::uint32_t done = 0;
        WriteFile(h, "ping", 4, &done);
        char buf[4];
        ReadFile(h, buf, 4, &done);
        got.assign(buf, done);
    });
    ASSERT_TRUE(server.waitFor([](const AccessServer::Port& s) { return s.data == "ping"; }));
    server.send("pong");
    worker.join();
    EXPECT_TRUE(notifyRefused);
    EXPECT_EQ(got, "pong");
}

// A raw TCP server never agrees to the option: the port opens after a
// bounded wait, settings do not wait for answers that never come, and
// data flows.
TEST(RemotePortPlain, AServerWithoutTheOptionStillCarriesData)
{
    AccessServer::Options o;
    o.telnet = false;
    AccessServer server(o);
    auto start = Clock::now();
    const Handle h = CreateFile(server.url());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_LT(msSince(start), 5000);
    DCB d;
    d.BaudRate = 115200;
    start = Clock::now();
    EXPECT_TRUE(SetCommState(h, &d));
    EXPECT_LT(msSince(start), 500);
    server.send("plain");
    EXPECT_EQ(readFor(h, 5, 3000), "plain");
    CloseHandle(h);
}

// A server that agrees but leaves the line settings unanswered: the
// setting counts as taken after a bounded wait.
TEST(RemotePortSilent, UnansweredSettingsDoNotFailAfterABoundedWait)
{
    AccessServer::Options o;
    o.answers = false;
    AccessServer server(o);
    const Handle h = CreateFile(server.url());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DCB d;
    d.BaudRate = 38400;
    const auto start = Clock::now();
    EXPECT_TRUE(SetCommState(h, &d));
    EXPECT_LT(msSince(start), 3000);
    EXPECT_EQ(server.state().baud, 38400u);
    CloseHandle(h);
}

// Names that are no remote port, or a port nobody serves, fail at once;
// a remote port in the ports map opens by its COM name.
TEST(RemotePortNames, BadNamesFailAndTheMapReachesRemotePorts)
{
    for (const char* bad : {"rfc2217://", "rfc2217://host", "rfc2217://:80", "rfc2217://h:0", "rfc2217://h:70000",
                            "rfc2217://h:8x", "rfc2217://[::1]80"}) {
        EXPECT_EQ(CreateFile(bad), INVALID_HANDLE_VALUE) << bad;
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << bad;
    }
    int unused = 0;
    {
        AccessServer gone;
        unused = gone.port();
    }
    const auto start = Clock::now();
    EXPECT_EQ(CreateFile("rfc2217://127.0.0.1:" + std::to_string(unused)), INVALID_HANDLE_VALUE);
    EXPECT_LT(msSince(start), 1000);

    AccessServer server;
    testsupport::PortsMap map;
    map.map(12, "RFC2217://127.0.0.1:" + std::to_string(server.port()) + "/");
    EXPECT_TRUE(isRemotePortName(resolvePortName("COM12")));
    const Handle h = CreateFile("COM12");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(server.waitFor([](const AccessServer::Port& s) { return s.comPort; }));
    CloseHandle(h);
}
