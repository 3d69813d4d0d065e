// The session window's counters, client table and traffic monitor, and the
// serial ports dialog, under the offscreen platform with a pseudo-terminal
// as COM3 and TCP peers on 127.0.0.1.
#include "frm_clients.h"
#include "frm_document.h"
#include "frm_monitor.h"
#include "frm_ports.h"
#include "global_options.h"
#include "port_list.h"

#include "pty_pair.h"
#include "pump.h"
#include "serial/namespace.h"
#include "temp_dir.h"
#include "winsock/socket_control.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <unistd.h>

using namespace lintrel;
using testsupport::pumpFor;
using testsupport::pumpUntil;

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

template <typename W>
W* child(QWidget* parent, const char* name)
{
    W* w = parent ? parent->findChild<W*>(name) : nullptr;
    EXPECT_NE(w, nullptr) << name;
    return w;
}

class TrafficWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("LINTREL_HOME", home.path().c_str(), 1);
        ::setenv("LINTREL_PORT_DIR", ports.path().c_str(), 1);
        GlobalOptions = {};
        map.map(3, pty.slavePath());
    }

    // A server session on COM3, listening on 127.0.0.1.
    int serve(frmDocument& doc)
    {
        Session& s = doc.session();
        s.Combo2.select("COM3");
        s.TCPOption_Click(1);
        s.LocalIP.items.push_back("127.0.0.1");
        s.LocalIP.select("127.0.0.1");
        s.PortNumber.text = "0";
        s.Command1_Click();
        EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: Listening...");
        return s.Winsock1(0).localPort;
    }
    std::unique_ptr<QTcpSocket> join(frmDocument& doc, int port, int count)
    {
        auto c = std::make_unique<QTcpSocket>();
        c->connectToHost(QHostAddress::LocalHost, quint16(port));
        EXPECT_TRUE(pumpUntil([&] { return doc.session().ClientCount == count; }));
        pumpFor(20);
        return c;
    }
    std::string receive(QTcpSocket& c, std::size_t n)
    {
        std::string got;
        pumpUntil([&] {
            got += c.readAll().toStdString();
            return got.size() >= n;
        });
        return got;
    }

    // What the device receives, pumping the session meanwhile (its tick
    // writes TCP bytes to the port).
    std::string deviceReceive(std::size_t n)
    {
        std::string got;
        pumpUntil([&] {
            got += pty.receive(n - got.size(), 10);
            return got.size() >= n;
        });
        return got;
    }

    testsupport::TempDir home, ports;
    testsupport::PtyPair pty;
    testsupport::PortsMap map;
};

TEST_F(TrafficWindows, CountersAndTheClientTableFollowTheTraffic)
{
    frmDocument doc;
    doc.show();
    const int port = serve(doc);
    auto a = join(doc, port, 1), b = join(doc, port, 2);
    pty.send("hello");
    EXPECT_EQ(receive(*a, 5), "hello");
    EXPECT_EQ(receive(*b, 5), "hello");
    a->write("xyz");
    EXPECT_EQ(deviceReceive(3), "xyz");

    pumpUntil([&] { return child<QLabel>(&doc, "lblSerialCounts")->text() == "in 5, out 3"; }, 3000);
    EXPECT_EQ(child<QLabel>(&doc, "lblSerialCounts")->text(), "in 5, out 3");
    EXPECT_EQ(child<QLabel>(&doc, "lblTcpCounts")->text(), "in 3, out 10");
    EXPECT_EQ(child<QLabel>(&doc, "lblConnectionCounts")->text(), "2 now, 2 opened, 0 closed; errors 0");

    // The double-click on the TCP frame opens the table, not a message box.
    QGroupBox* frame2 = child<QGroupBox>(&doc, "Frame2");
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(5, 5), frame2->mapToGlobal(QPointF(5, 5)),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame2, &dbl);
    frmClients* clients = doc.findChild<frmClients*>("frmClients");
    ASSERT_NE(clients, nullptr);
    EXPECT_TRUE(clients->isVisible());
    QTableWidget* table = clients->table();
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->item(0, 0)->text().toStdString(), "127.0.0.1:" + std::to_string(a->localPort()));
    EXPECT_EQ(table->item(0, 2)->text(), "3");
    EXPECT_EQ(table->item(0, 3)->text(), "5");
    EXPECT_EQ(table->item(1, 2)->text(), "0");

    table->selectRow(0);
    child<QPushButton>(clients, "cmdDisconnect")->click();
    EXPECT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->item(0, 0)->text().toStdString(), "127.0.0.1:" + std::to_string(b->localPort()));
    EXPECT_EQ(doc.session().StatusBar1[1].text, "TCP/IP Status: (1) Connected");
    EXPECT_TRUE(pumpUntil([&] { return a->state() == QAbstractSocket::UnconnectedState; }));
    // Opening again raises the same window.
    EXPECT_EQ(doc.showClients(), clients);
}

TEST_F(TrafficWindows, TheMonitorShowsEveryChunkAndCostsNothingClosed)
{
    frmDocument doc;
    const int port = serve(doc);
    auto a = join(doc, port, 1);
    EXPECT_EQ(doc.session().trafficTap(), nullptr);

    frmMonitor* monitor = doc.showMonitor();
    EXPECT_EQ(doc.session().trafficTap(), &monitor->log());
    pty.send(std::string("AT\r\n\0\xff", 6));
    EXPECT_EQ(receive(*a, 6).size(), 6u);
    a->write("OK\r\n");
    EXPECT_EQ(deviceReceive(4), "OK\r\n");
    monitor->sync();
    TrafficModel& model = monitor->model();
    ASSERT_EQ(model.rowCount(), 2);
    const std::string who = "127.0.0.1:" + std::to_string(a->localPort());
    auto cell = [&](int row, int col) { return model.data(model.index(row, col), Qt::DisplayRole).toString().toStdString(); };
    EXPECT_EQ(cell(0, TrafficModel::Direction), "serial>tcp");
    EXPECT_EQ(cell(0, TrafficModel::Client), who);
    EXPECT_EQ(cell(0, TrafficModel::Length), "6");
    EXPECT_EQ(cell(0, TrafficModel::Hex), "41 54 0d 0a 00 ff");
    EXPECT_EQ(cell(0, TrafficModel::Text), "AT....");
    EXPECT_EQ(cell(1, TrafficModel::Direction), "tcp>serial");
    EXPECT_EQ(cell(1, TrafficModel::Text), "OK..");
    EXPECT_EQ(cell(0, TrafficModel::Time).size(), 15u);   // hh:mm:ss.uuuuuu

    // Search by text and by hex; the selected row shows every byte below.
    EXPECT_TRUE(monitor->findNext("OK"));
    EXPECT_NE(child<QPlainTextEdit>(monitor, "txtDetail")->toPlainText().indexOf("tcp>serial"), -1);
    EXPECT_TRUE(monitor->findNext("00 FF"));
    EXPECT_NE(child<QPlainTextEdit>(monitor, "txtDetail")->toPlainText().indexOf("41 54 0d 0a 00 ff"), -1);
    EXPECT_FALSE(monitor->findNext("nowhere"));

    // Save as text: the trace format.
    const std::string saved = home.file("traffic.txt");
    ASSERT_TRUE(monitor->saveAs(QString::fromStdString(saved)));
    const std::string text = readFile(saved);
    EXPECT_NE(text.find("  serial>tcp  " + who + "  6 bytes\n  0000  41 54 0d 0a 00 ff "), std::string::npos) << text;
    EXPECT_NE(text.find("  tcp>serial  " + who + "  4 bytes\n"), std::string::npos) << text;
    EXPECT_FALSE(monitor->saveAs(QString::fromStdString(home.file("no/such/folder/x.txt"))));

    // Pause keeps nothing, clear empties, the Keep choice is the bound.
    child<QCheckBox>(monitor, "chkPause")->setChecked(true);
    pty.send("skipped");
    EXPECT_EQ(receive(*a, 7), "skipped");
    monitor->sync();
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(monitor->log().skipped(), 1u);
    child<QCheckBox>(monitor, "chkPause")->setChecked(false);
    child<QPushButton>(monitor, "cmdClear")->click();
    EXPECT_EQ(model.rowCount(), 0);
    auto* keep = child<QComboBox>(monitor, "cboKeep");
    keep->setCurrentIndex(0);
    EXPECT_EQ(monitor->log().limit(), 256u << 10);
    for (int i = 0; i < 100; ++i)
        monitor->log().chunk(TrafficDirection::ToTcp, "x:1", std::string(8000, 'q').data(), 8000);
    monitor->sync();
    EXPECT_LE(monitor->log().heldBytes(), 256u << 10);
    EXPECT_EQ(model.rowCount(), int(monitor->log().records().size()));
    EXPECT_LT(model.rowCount(), 100);
    EXPECT_EQ(model.record(model.rowCount() - 1)->seq, monitor->log().endSeq() - 1);

    // Closed: the session has no tap any more.
    monitor->close();
    pumpFor(20);
    EXPECT_EQ(doc.session().trafficTap(), nullptr);
    pty.send("after");
    EXPECT_EQ(receive(*a, 5), "after");
}

TEST_F(TrafficWindows, ClosingTheSessionWindowWithItsMonitorOpen)
{
    auto* doc = new frmDocument;
    const int port = serve(*doc);
    auto a = join(*doc, port, 1);
    doc->showMonitor();
    doc->showClients();
    delete doc;   // the monitor goes first; nothing points at the session after
    pty.send("x");
    pumpFor(100);
}

// A fake device list: the pseudo-terminal, known by a by-id link.
PortList fakeList(const std::string& node, const std::string& byId)
{
    lt::devices::Listing l;
    lt::devices::SerialDevice d;
    d.node = node;
    d.byId = byId;
    d.driver = "ftdi_sio";
    d.vendorId = "0403";
    d.productId = "6001";
    d.vendor = "FTDI";
    d.product = "FT232R USB UART";
    d.serial = "A1B2C3";
    d.users = {"picocom (4242)"};
    l.devices.push_back(d);
    l.note = "udev does not run on this machine: ports are listed from /dev/ttyS*, /dev/ttyUSB* and /dev/ttyACM*";
    return withComNumbers(l);
}

TEST_F(TrafficWindows, PortsDialogAssignsByTheStableNameAndTheComListSaysSo)
{
    testsupport::PtyPair device;
    const std::string byId = ports.file("usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
    ASSERT_EQ(::symlink(device.slavePath().c_str(), byId.c_str()), 0);
    frmPorts dialog(nullptr, [&] { return fakeList(device.slavePath(), byId); });
    EXPECT_NE(dialog.note()->text().indexOf("No udev"), -1);
    QTableWidget* table = dialog.table();
    ASSERT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->item(0, 0)->text().toStdString(), device.slavePath());
    EXPECT_EQ(table->item(0, 1)->text(), "");
    EXPECT_EQ(table->item(0, 2)->text(), "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
    EXPECT_EQ(table->item(0, 4)->text(), "0403:6001");
    EXPECT_EQ(table->item(0, 7)->text(), "picocom (4242)");

    EXPECT_FALSE(dialog.assignSelected(4));   // nothing selected
    table->selectRow(0);
    ASSERT_TRUE(dialog.assignSelected(4));
    EXPECT_NE(readFile(serial::portsMapPath()).find("COM4=" + byId), std::string::npos);
    EXPECT_EQ(serial::resolvePortName("COM4"), byId);
    EXPECT_EQ(table->item(0, 1)->text(), "COM4");
    EXPECT_NE(readFile(serial::portsMapPath()).find("COM3=" + pty.slavePath()), std::string::npos);

    // The COM list: mapped ports by their device, virtual ports as such.
    ASSERT_EQ(::symlink(device.slavePath().c_str(), ports.file("COM5").c_str()), 0);
    frmDocument doc;
    doc.relabelPorts();
    auto* combo = child<QComboBox>(&doc, "Combo2");
    EXPECT_EQ(combo->itemText(0), "NONE");
    EXPECT_EQ(combo->itemText(3).toStdString(), "COM3 (" + pty.slavePath() + ")");
    EXPECT_EQ(combo->itemText(4).toStdString(), "COM4 (" + device.slavePath() + ")");
    EXPECT_EQ(combo->itemText(5), "COM5 (virtual)");
    EXPECT_EQ(combo->itemText(99).left(5), "COM99");
    // The session still sees plain COM names.
    combo->setCurrentIndex(4);
    EXPECT_EQ(doc.session().Combo2.text(), "COM4");

    table->selectRow(0);
    ASSERT_TRUE(dialog.unassignSelected());
    EXPECT_EQ(readFile(serial::portsMapPath()).find("COM4="), std::string::npos);
    EXPECT_EQ(table->item(0, 1)->text(), "");
}

TEST_F(TrafficWindows, ListPortsTextHasEveryColumn)
{
    testsupport::PtyPair device;
    const std::string text = portTableText(fakeList(device.slavePath(), ""));
    EXPECT_EQ(text.rfind("Serial devices (udev does not run on this machine", 0), 0u) << text;
    EXPECT_NE(text.find("DEVICE"), std::string::npos);
    EXPECT_NE(text.find(device.slavePath()), std::string::npos);
    EXPECT_NE(text.find("ftdi_sio"), std::string::npos);
    EXPECT_NE(text.find("0403:6001"), std::string::npos);
    EXPECT_NE(text.find("picocom (4242)"), std::string::npos);
    EXPECT_NE(text.find("FTDI FT232R USB UART"), std::string::npos);
    EXPECT_NE(text.find("COM3  " + pty.slavePath()), std::string::npos) << text;
}

}  // namespace
