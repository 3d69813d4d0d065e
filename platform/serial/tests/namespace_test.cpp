// Name resolution order: port folder link, then the ports map, then ttyS.
#include "serial/namespace.h"
#include "pty_pair.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>

TEST(Namespace, ResolvesLinkThenMapThenTtyS)
{
    testsupport::TempDir dir;
    ::setenv("LINTREL_PORT_DIR", dir.path().c_str(), 1);
    const std::string map = dir.file("ports.ini");
    std::ofstream(map) << "; ports\r\n[Other]\r\nCOM4=/wrong\r\n[Ports]\r\n  com4 = /dev/ttyUSB9  \r\nCOM5=/dev/ttyACM0\n";
    ::setenv("LINTREL_PORTS", map.c_str(), 1);

    EXPECT_EQ(serial::resolvePortName("COM4"), "/dev/ttyUSB9");
    EXPECT_EQ(serial::resolvePortName("\\\\.\\com5"), "/dev/ttyACM0");
    EXPECT_EQ(serial::resolvePortName("COM12"), "/dev/ttyS11");
    ASSERT_EQ(::symlink("/dev/null", dir.file("COM4").c_str()), 0);
    EXPECT_EQ(serial::resolvePortName("Com4"), dir.file("COM4"));
    EXPECT_EQ(serial::resolvePortName("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(serial::resolvePortName("COMX"), "COMX");
}

TEST(Namespace, PortNumbersAndDefaults)
{
    EXPECT_EQ(serial::comPortNumber("COM3"), 3);
    EXPECT_EQ(serial::comPortNumber("\\\\.\\COM17"), 17);
    EXPECT_EQ(serial::comPortNumber("COM0"), 0);
    EXPECT_EQ(serial::comPortNumber("COM3x"), 0);
    EXPECT_EQ(serial::comPortNumber("LPT1"), 0);
    ::unsetenv("LINTREL_PORT_DIR");
    ::setenv("XDG_RUNTIME_DIR", "/run/user/7", 1);
    EXPECT_EQ(serial::portFolder(), "/run/user/7/lintrel");
    ::unsetenv("LINTREL_PORTS");
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(serial::portsMapPath(), "/cfg/lintrel/ports.ini");
}

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(Namespace, LocatesEachPortAndSaysByWhichRule)
{
    testsupport::TempDir dir;
    ::setenv("LINTREL_PORT_DIR", dir.path().c_str(), 1);
    testsupport::PtyPair pty;
    const std::string map = dir.file("ports.ini");
    std::ofstream(map) << "[Ports]\nCOM3=" << pty.slavePath() << "\nCOM4=/dev/serial/by-id/gone\n";
    ::setenv("LINTREL_PORTS", map.c_str(), 1);
    ASSERT_EQ(::symlink(pty.slavePath().c_str(), dir.file("COM5").c_str()), 0);

    const serial::PortTarget virt = serial::locatePort(5);
    EXPECT_EQ(virt.source, serial::PortTarget::Virtual);
    EXPECT_EQ(virt.device, pty.slavePath());
    const serial::PortTarget mapped = serial::locatePort(3);
    EXPECT_EQ(mapped.source, serial::PortTarget::Mapped);
    EXPECT_EQ(mapped.path, pty.slavePath());
    EXPECT_EQ(serial::locatePort(4).source, serial::PortTarget::Mapped);
    EXPECT_EQ(serial::locatePort(4).device, "");   // mapped, but nothing there now
    const serial::PortTarget classic = serial::locatePort(90);
    EXPECT_EQ(classic.source, serial::PortTarget::Classic);
    EXPECT_EQ(classic.path, "/dev/ttyS89");
}

TEST(Namespace, WritingTheMapKeepsEverythingElse)
{
    testsupport::TempDir dir;
    const std::string map = dir.file("sub/dir/ports.ini");
    ::setenv("LINTREL_PORTS", map.c_str(), 1);

    // A missing file (and folder) is made.
    ASSERT_TRUE(serial::setMappedPort(3, "/dev/serial/by-id/usb-A"));
    EXPECT_EQ(slurp(map), "[Ports]\nCOM3=/dev/serial/by-id/usb-A\n");

    std::ofstream(map, std::ios::trunc) << "; my ports\r\n[Ports]\r\nCOM1=/dev/ttyS0\r\n com3 = /old\r\n"
                                           "COM3=/older\r\n\r\n[Other]\r\nCOM3=/keep\r\n";
    ASSERT_TRUE(serial::setMappedPort(3, "/dev/serial/by-id/usb-B"));
    EXPECT_EQ(slurp(map), "; my ports\r\n[Ports]\r\nCOM1=/dev/ttyS0\r\nCOM3=/dev/serial/by-id/usb-B\r\n"
                          "\r\n[Other]\r\nCOM3=/keep\r\n");
    ASSERT_TRUE(serial::setMappedPort(7, "/dev/ttyACM0"));
    EXPECT_EQ(slurp(map), "; my ports\r\n[Ports]\r\nCOM1=/dev/ttyS0\r\nCOM3=/dev/serial/by-id/usb-B\r\n"
                          "COM7=/dev/ttyACM0\r\n\r\n[Other]\r\nCOM3=/keep\r\n");
    EXPECT_EQ(serial::resolvePortName("COM7"), "/dev/ttyACM0");
    const auto all = serial::mappedPorts();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1], std::make_pair(3, std::string("/dev/serial/by-id/usb-B")));

    ASSERT_TRUE(serial::setMappedPort(3, ""));
    EXPECT_EQ(slurp(map), "; my ports\r\n[Ports]\r\nCOM1=/dev/ttyS0\r\nCOM7=/dev/ttyACM0\r\n"
                          "\r\n[Other]\r\nCOM3=/keep\r\n");

    // A file without the section gets one at its end.
    std::ofstream(map, std::ios::trunc) << "[Other]\nx=1\n";
    ASSERT_TRUE(serial::setMappedPort(2, "/dev/ttyUSB1"));
    EXPECT_EQ(slurp(map), "[Other]\nx=1\n[Ports]\nCOM2=/dev/ttyUSB1\n");

    // A map that cannot be written says why and leaves nothing behind.
    ::setenv("LINTREL_PORTS", "/proc/lintrel-no/ports.ini", 1);
    std::string why;
    EXPECT_FALSE(serial::setMappedPort(2, "/dev/ttyUSB1", &why));
    EXPECT_FALSE(why.empty());
    ::unsetenv("LINTREL_PORTS");
}
