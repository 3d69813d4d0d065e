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
