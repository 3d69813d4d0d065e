// Remote ports against real RFC 2217 servers (ser2net, and a server built
// on pyserial's PortManager), each serving a pseudo-terminal: the settings
// reach the tty the server holds, every byte value passes both ways.
#include "serial/serial.h"

#include "pty_pair.h"
#include "rfc2217_peers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

using namespace serial;
using testsupport::Rfc2217Peer;

namespace {

class RemotePortPeers : public ::testing::TestWithParam<Rfc2217Peer::Kind> {};

std::string bytes(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = char(i & 0xFF);
    return s;
}

TEST_P(RemotePortPeers, SettingsReachTheServersTtyAndEveryByteValuePasses)
{
    testsupport::PtyPair pty;
    Rfc2217Peer server(GetParam(), pty.slavePath());
    if (!server.missing().empty())
        GTEST_SKIP() << server.missing();
    ASSERT_TRUE(server.ok()) << server.name() << " did not start";
    const Handle h = CreateFile(server.url());
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();

    DCB d;
    ASSERT_TRUE(GetCommState(h, &d));
    d.BaudRate = 57600;
    d.StopBits = TWOSTOPBITS;
    EXPECT_TRUE(SetCommState(h, &d));
    testsupport::PtyPair::Line line;
    for (int i = 0; i < 150; ++i) {
        line = pty.line();
        if (line.baud == 57600 && line.stopBits == 2)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(line.baud, 57600u);
    EXPECT_EQ(line.stopBits, 2);

    COMMTIMEOUTS t;
    t.ReadTotalTimeoutConstant = 3000;
    t.WriteTotalTimeoutConstant = 3000;
    ASSERT_TRUE(SetCommTimeouts(h, &t));
    const std::string out = bytes(4096);
    std::uint32_t done = 0;
    ASSERT_TRUE(WriteFile(h, out.data(), std::uint32_t(out.size()), &done));
    EXPECT_EQ(pty.receive(out.size(), 5000), out);

    const std::string in = bytes(1024);
    pty.send(in);
    std::string got(in.size(), '\0');
    std::size_t have = 0;
    while (have < in.size()) {
        if (!ReadFile(h, got.data() + have, std::uint32_t(in.size() - have), &done) || done == 0)
            break;
        have += done;
    }
    got.resize(have);
    EXPECT_EQ(got, in);
    EXPECT_TRUE(CloseHandle(h));
}

INSTANTIATE_TEST_SUITE_P(Servers, RemotePortPeers,
                         ::testing::Values(Rfc2217Peer::Kind::Ser2net, Rfc2217Peer::Kind::Pyserial),
                         [](const auto& info) {
                             return std::string(info.param == Rfc2217Peer::Kind::Ser2net ? "Ser2net" : "Pyserial");
                         });

}  // namespace
