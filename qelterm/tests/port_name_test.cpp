// Reaching a device path through the COM namespace.
#include "port_name.h"
#include "pty_pair.h"
#include "serial/namespace.h"

#include <QFile>

#include <gtest/gtest.h>

TEST(PortName, ComNamesAndDevicePaths)
{
    EXPECT_EQ(qelterm::choosePort("COM4").number, 4);
    EXPECT_EQ(qelterm::choosePort("relative/path").number, 0);

    testsupport::PtyPair pty;
    testsupport::PortsMap ports;
    ports.map(3, "/dev/null");
    // A path already mapped keeps its number.
    ports.map(12, pty.slavePath());
    EXPECT_EQ(qelterm::choosePort(pty.slavePath()).number, 12);
}

TEST(PortName, UnmappedPathGetsAPrivateMapEntry)
{
    testsupport::PtyPair pty;
    testsupport::PortsMap ports;
    ports.map(3, "/dev/null");
    const qelterm::PortChoice c = qelterm::choosePort(pty.slavePath());
    ASSERT_GT(c.number, 0);
    ASSERT_FALSE(c.tempMap.empty());
    EXPECT_EQ(serial::resolvePortName("COM" + std::to_string(c.number)), pty.slavePath());
    EXPECT_EQ(serial::resolvePortName("COM3"), "/dev/null");  // the user's entries stay
    QFile::remove(QString::fromStdString(c.tempMap));
}
