// Serial devices from a fake /dev and /sys tree (names, by-id links,
// drivers, USB details, ports without hardware), and who holds a port,
// seen on a pseudo-terminal this process holds.
#include "devices/devices.h"

#include "pty_pair.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

using lt::devices::SerialDevice;

namespace {

void mkdirs(const std::string& path)
{
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
        ::mkdir(path.substr(0, at).c_str(), 0755);
    ::mkdir(path.c_str(), 0755);
}

void put(const std::string& path, const std::string& text)
{
    mkdirs(path.substr(0, path.rfind('/')));
    std::ofstream(path) << text << "\n";
}

void link(const std::string& target, const std::string& path)
{
    mkdirs(path.substr(0, path.rfind('/')));
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
}

TEST(Devices, ListsSerialNamesWithWhatSysfsTells)
{
    testsupport::TempDir root;
    const std::string dev = root.file("dev"), sys = root.file("sys");
    for (const char* name : {"ttyS0", "ttyS1", "ttyS10", "ttyS2", "ttyUSB0", "ttyACM0", "tty0", "ttyprintk", "ttySX"})
        put(dev + "/" + name, "");
    link("../../ttyUSB0", dev + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");

    // A USB adapter: the tty's device is the usb-serial port under the
    // interface, under the USB device that has the ids.
    const std::string usb = sys + "/devices/pci0000:00/usb1/1-1";
    put(usb + "/idVendor", "0403");
    put(usb + "/idProduct", "6001");
    put(usb + "/manufacturer", "FTDI");
    put(usb + "/product", "FT232R USB UART");
    put(usb + "/serial", "A1B2C3");
    mkdirs(sys + "/bus/usb-serial/drivers/ftdi_sio");
    link(sys + "/bus/usb-serial/drivers/ftdi_sio", usb + "/1-1:1.0/ttyUSB0/driver");
    link(usb + "/1-1:1.0/ttyUSB0", sys + "/class/tty/ttyUSB0/device");
    // Serial ports of the board: two with a UART, two without (type 0).
    mkdirs(sys + "/bus/platform/drivers/serial8250");
    link(sys + "/bus/platform/drivers/serial8250", sys + "/devices/platform/serial8250/driver");
    for (const char* name : {"ttyS0", "ttyS1", "ttyS2", "ttyS10"}) {
        const std::string tty = sys + "/class/tty/" + name;
        put(tty + "/type", std::string(name) == "ttyS1" || std::string(name) == "ttyS10" ? "0" : "4");
        link(sys + "/devices/platform/serial8250", tty + "/device");
    }

    // Newer kernels: the serial core's port and controller devices
    // ("serial-base") stand between the tty and the device of its driver.
    const std::string pnp = sys + "/devices/pnp0/00:01";
    mkdirs(sys + "/bus/serial-base/drivers/port");
    mkdirs(sys + "/bus/serial-base/drivers/ctrl");
    mkdirs(sys + "/bus/pnp/drivers/serial");
    link(sys + "/bus/pnp/drivers/serial", pnp + "/driver");
    link(sys + "/bus/serial-base/drivers/ctrl", pnp + "/00:01:0/driver");
    link(sys + "/bus/serial-base/drivers/port", pnp + "/00:01:0/00:01:0.0/driver");
    ::unlink((sys + "/class/tty/ttyS2/device").c_str());
    link(pnp + "/00:01:0/00:01:0.0", sys + "/class/tty/ttyS2/device");

    const std::vector<SerialDevice> list = lt::devices::listFromNames(dev, sys);
    std::vector<std::string> nodes;
    for (const SerialDevice& d : list)
        nodes.push_back(d.node.substr(dev.size() + 1));
    EXPECT_EQ(nodes, (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS2", "ttyUSB0"}));

    const SerialDevice& usbPort = list[3];
    EXPECT_EQ(usbPort.byId, dev + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
    EXPECT_EQ(usbPort.stableName(), usbPort.byId);
    EXPECT_EQ(usbPort.driver, "ftdi_sio");
    EXPECT_EQ(usbPort.vendorId, "0403");
    EXPECT_EQ(usbPort.productId, "6001");
    EXPECT_EQ(usbPort.vendor, "FTDI");
    EXPECT_EQ(usbPort.product, "FT232R USB UART");
    EXPECT_EQ(usbPort.serial, "A1B2C3");

    const SerialDevice& board = list[1];
    EXPECT_EQ(board.driver, "serial8250");
    EXPECT_EQ(list[2].driver, "serial");
    EXPECT_TRUE(board.byId.empty());
    EXPECT_EQ(board.stableName(), board.node);
    EXPECT_TRUE(board.vendorId.empty());
    // Nothing in sysfs about it: listed all the same, by its name.
    EXPECT_TRUE(list[0].driver.empty());
}

TEST(Devices, AnEmptyOrMissingTreeListsNothing)
{
    testsupport::TempDir root;
    EXPECT_TRUE(lt::devices::listFromNames(root.file("nodev"), root.file("nosys")).empty());
}

TEST(Devices, TellsWhoHoldsAPortOpen)
{
    testsupport::PtyPair pty;   // holds its slave open in this process
    const std::vector<std::string> users = lt::devices::openers(pty.slavePath());
    const std::string me = "(" + std::to_string(::getpid()) + ")";
    ASSERT_EQ(users.size(), 1u);
    EXPECT_NE(users[0].find(me), std::string::npos) << users[0];
    EXPECT_TRUE(lt::devices::openers("/nonexistent/tty").empty());
}

TEST(Devices, TheMachinesListSaysWhereItCameFrom)
{
    const lt::devices::Listing l = lt::devices::listSerialDevices();
    EXPECT_EQ(l.fromUdev, l.note.empty()) << l.note;
    if (!lt::devices::udevBuilt() || !lt::devices::udevRunning()) {
        EXPECT_NE(l.note.find("/dev/ttyS*"), std::string::npos);
    }
    for (const SerialDevice& d : l.devices)
        EXPECT_EQ(d.node.rfind("/dev/", 0), 0u) << d.node;
}

}  // namespace
