#include "event_window.h"
#include "pump.h"
#include "kelvad_ctrl.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

using lt::automation::Args;
using lt::automation::Variant;
using namespace kelvad;

namespace {

using testsupport::pumpUntil;
using testsupport::pumpFor;

struct Event {
    std::int32_t id;
    std::vector<Variant> args;
    std::int32_t arg(std::size_t i) const { return args.at(i).toInt32().value_or(-999); }
};

// Records every event; an optional hook runs inside the event.
class Recorder : public lt::automation::EventSink {
public:
    explicit Recorder(CKelvadCtrl& c) : m_ctrl(c) { m_cookie = c.connectionPoint().connect(this); }
    ~Recorder() override { m_ctrl.connectionPoint().disconnect(m_cookie); }
    void onEvent(std::int32_t id, Args& args) override
    {
        Event e{id, {}};
        for (Variant* v : args)
            e.args.push_back(*v);
        events.push_back(e);
        if (hook)
            hook(e);
    }
    const Event* last(std::int32_t id) const
    {
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->id == id)
                return &*it;
        return nullptr;
    }
    std::vector<Event> events;
    std::function<void(const Event&)> hook;

private:
    CKelvadCtrl& m_ctrl;
    std::uint32_t m_cookie = 0;
};

class KelvadTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("LINTREL_PORT_DIR", m_dir.path().c_str(), 1); }
    void TearDown() override { CKelvadCtrl().ResetBus(); }

    bool linkExists(const std::string& name) const
    {
        struct stat st;
        return lstat(m_dir.file(name).c_str(), &st) == 0;
    }

    // The far end: python with pyserial, argv[1] the port's link.
    FILE* python(const std::string& code, const std::string& name)
    {
        const std::string script = m_dir.file("far.py");
        std::ofstream(script) << "import serial, sys, time\n" << code;
        return popen(("timeout 15 /usr/bin/python3 " + script + " " + m_dir.file(name)).c_str(), "r");
    }

    testsupport::TempDir m_dir;
};

TEST_F(KelvadTest, DetachedMembersFailAndNamesAreChecked)
{
    CKelvadCtrl ctrl;
    EXPECT_FALSE(ctrl.DeleteOnExit());
    EXPECT_FALSE(ctrl.CreatePort(""));
    EXPECT_FALSE(ctrl.CreatePort(std::string(129, 'A')));
    // A device name that would not fit the delete request.
    EXPECT_FALSE(ctrl.CreatePort(std::string(124, 'A')));
    EXPECT_FALSE(ctrl.CreatePort(std::string("CO\0M", 4)));
    EXPECT_FALSE(ctrl.IsCreated() || ctrl.Delete() || ctrl.IsOpened());
    std::uint8_t buf[8] = {1, 2, 3};
    EXPECT_EQ(ctrl.Write(buf, 3) + ctrl.Read(buf, 8) + ctrl.GetInCount(), 0);
    EXPECT_FALSE(ctrl.SetDSR(true) || ctrl.SetCTS(true) || ctrl.SetRING(true) || ctrl.SetDCD(true) ||
                 ctrl.SetTimeouts(1, 2, 3, 4, 5));
    EXPECT_TRUE(ctrl.PurgeQueue());
    EXPECT_TRUE(ctrl.ResetBus());  // reaches the driver without a port
}

TEST_F(KelvadTest, AttachedPortServesItsMembersUntilDeleted)
{
    CKelvadCtrl ctrl;
    const std::string longest(123, 'P');
    ASSERT_TRUE(ctrl.CreatePort(longest));
    EXPECT_TRUE(linkExists(longest));
    EXPECT_TRUE(ctrl.Delete());
    EXPECT_FALSE(linkExists(longest));

    ASSERT_TRUE(ctrl.CreatePort("COM3"));
    EXPECT_TRUE(ctrl.IsCreated());
    EXPECT_EQ(ctrl.PortName(), "COM3");
    EXPECT_TRUE(linkExists("COM3"));
    EXPECT_FALSE(ctrl.IsOpened());
    // One port per control.
    EXPECT_FALSE(ctrl.CreatePort("COM4"));
    EXPECT_FALSE(ctrl.Open("COM4"));
    EXPECT_FALSE(linkExists("COM4"));
    EXPECT_EQ(ctrl.PortName(), "COM3");

    std::uint8_t buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(ctrl.Write(buf, 0) + ctrl.Write(buf, -1), 0);
    EXPECT_EQ(ctrl.Read(buf, 4) + ctrl.Read(buf, -1), 0);  // nothing queued
    EXPECT_TRUE(ctrl.SetDSR(false) && ctrl.SetCTS(true) && ctrl.SetRING(true) && ctrl.SetDCD(false) &&
                ctrl.SetTimeouts(-1, 0, 0, 0, 0) && ctrl.PurgeQueue());

    // The same members through the dispatch table.
    const auto& d = ctrl.dispatch();
    EXPECT_EQ(d.idOfName("setring"), DISPID_SETRING);
    Variant result, bytes("abc"), count(std::int32_t(10));
    Args args{&bytes, &count};
    ASSERT_FALSE(d.invoke(DISPID_WRITE, args, result).failed());
    EXPECT_EQ(result, Variant(std::int32_t(0)));  // no program holds the port: nothing is taken
    ASSERT_FALSE(d.put(DISPID_DELETEONEXIT, Variant(std::int16_t(7))).failed());
    EXPECT_TRUE(ctrl.DeleteOnExit());
    EXPECT_TRUE(ctrl.IsModified());
    Args none;
    ASSERT_FALSE(d.invoke(DISPID_DELETE, none, result).failed());
    EXPECT_EQ(result.toAutomationBool(), -1);
    EXPECT_FALSE(ctrl.IsCreated());
    EXPECT_FALSE(linkExists("COM3"));
    EXPECT_FALSE(ctrl.Delete());
}

TEST_F(KelvadTest, LiveNameIsRefusedAndHeldPortIsNotTaken)
{
    CKelvadCtrl first, second;
    ASSERT_TRUE(first.CreatePort("COM5"));
    EXPECT_FALSE(second.CreatePort("COM5"));
    EXPECT_FALSE(second.IsCreated());
    // Its end is held by the first control: Open fails and leaves it alone.
    EXPECT_FALSE(second.Open("COM5"));
    EXPECT_FALSE(second.IsCreated());
    EXPECT_TRUE(linkExists("COM5"));
    EXPECT_TRUE(first.SetRING(false));
    // A name the driver never made cannot be opened; the control stays free.
    EXPECT_FALSE(second.Open("COM6"));
    EXPECT_FALSE(second.IsCreated());
    EXPECT_TRUE(second.CreatePort("COM6"));
}

TEST_F(KelvadTest, ProgramOnTheLinkExchangesAllBytesAndReportsSettings)
{
    CKelvadCtrl ctrl;
    Recorder rec(ctrl);
    ASSERT_TRUE(ctrl.CreatePort("COM7"));
    FILE* far = python(
        "s = serial.Serial(sys.argv[1], 57600, stopbits=2, rtscts=True, timeout=5)\n"
        "s.write(bytes(range(256)))\n"
        "s.flush()\n"
        "got = s.read(256)\n"
        "print('ok' if got == bytes(range(256)) else 'bad %d' % len(got), flush=True)\n"
        "s.close()\n",
        "COM7");
    ASSERT_NE(far, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return ctrl.GetInCount() >= 256 && rec.last(DISPID_OnRxChar) &&
                                       rec.last(DISPID_OnRxChar)->arg(0) == 256; }));
    EXPECT_TRUE(ctrl.IsOpened());
    std::uint8_t in[300] = {};
    ASSERT_EQ(ctrl.Read(in, 300), 256);  // only what is queued
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(in[i], i);
    std::uint8_t out[256];
    for (int i = 0; i < 256; ++i)
        out[i] = std::uint8_t(i);
    EXPECT_EQ(ctrl.Write(out, 256), 256);
    // Through the dispatch table a count past the buffer writes the buffer only.
    Variant result, bytes("abc"), count(std::int32_t(10));
    Args args{&bytes, &count};
    ASSERT_FALSE(ctrl.dispatch().invoke(DISPID_WRITE, args, result).failed());
    EXPECT_EQ(result, Variant(std::int32_t(3)));
    char line[32] = {};
    ASSERT_NE(fgets(line, sizeof line, far), nullptr);
    EXPECT_STREQ(line, "ok\n");
    pclose(far);
    ASSERT_TRUE(pumpUntil([&] { return !ctrl.IsOpened(); }));
    pumpFor(200);

    std::vector<int> openClose;
    std::int32_t lastCount = 0;
    for (const Event& e : rec.events) {
        if (e.id == DISPID_OnOpenClose)
            openClose.push_back(e.args.at(0).toAutomationBool());
        if (e.id == DISPID_OnRxChar) {
            EXPECT_GE(e.arg(0), lastCount);  // the whole waiting count, growing
            lastCount = e.arg(0);
        }
    }
    EXPECT_EQ(openClose, (std::vector<int>{-1, 0}));
    ASSERT_NE(rec.last(DISPID_OnBaudRate), nullptr);
    EXPECT_EQ(rec.last(DISPID_OnBaudRate)->arg(0), 57600);
    ASSERT_NE(rec.last(DISPID_OnLineControl), nullptr);
    EXPECT_EQ(rec.last(DISPID_OnLineControl)->arg(0), 2);  // two stop bits
    EXPECT_EQ(rec.last(DISPID_OnLineControl)->arg(1), 0);
    EXPECT_EQ(rec.last(DISPID_OnLineControl)->arg(2), 8);
    ASSERT_NE(rec.last(DISPID_OnHandflow), nullptr);
    EXPECT_TRUE(rec.last(DISPID_OnHandflow)->arg(0) & kvd::SERIAL_CTS_HANDSHAKE);
    EXPECT_TRUE(rec.last(DISPID_OnHandflow)->arg(1) & kvd::SERIAL_RTS_HANDSHAKE);
    EXPECT_EQ(rec.last(DISPID_OnHandflow)->args.size(), 4u);

    // Reported together by the driver, fired lowest bit first.
    auto firstOf = [&](std::int32_t id) {
        for (std::size_t i = 0; i < rec.events.size(); ++i)
            if (rec.events[i].id == id)
                return i;
        return rec.events.size();
    };
    EXPECT_LT(firstOf(DISPID_OnBaudRate), firstOf(DISPID_OnHandflow));
    EXPECT_LT(firstOf(DISPID_OnHandflow), firstOf(DISPID_OnLineControl));
}

// Delete called from inside an event: the window that delivers it goes, and
// nothing more arrives from the old port.
TEST_F(KelvadTest, NoEventAfterDeleteEvenFromInsideAnEvent)
{
    CKelvadCtrl ctrl;
    Recorder rec(ctrl);
    bool deleted = false;
    std::size_t eventsAtDelete = 0;
    rec.hook = [&](const Event& e) {
        if (e.id == DISPID_OnRxChar && !deleted) {
            deleted = ctrl.Delete();
            eventsAtDelete = rec.events.size();
        }
    };
    ASSERT_TRUE(ctrl.CreatePort("COM8"));
    FILE* far = python(
        "s = serial.Serial(sys.argv[1], 19200)\n"
        "try:\n"
        "    for i in range(20):\n"
        "        s.write(b'x'); s.flush(); time.sleep(0.05)\n"
        "except Exception:\n"
        "    pass\n",
        "COM8");
    ASSERT_NE(far, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return deleted; }));
    EXPECT_FALSE(linkExists("COM8"));
    EXPECT_FALSE(ctrl.IsOpened());
    pumpFor(1200);
    EXPECT_EQ(rec.events.size(), eventsAtDelete);
    pclose(far);
}

// A program that writes more than the 8192-byte queue holds and closes the
// port while the control has read nothing: the close is an event at once,
// and every byte is still there to read afterwards.
TEST_F(KelvadTest, CloseIsReportedWhileTheQueueIsFullAndNoByteIsLost)
{
    CKelvadCtrl ctrl;
    Recorder rec(ctrl);
    ASSERT_TRUE(ctrl.CreatePort("COM15"));
    std::uint8_t buf[3] = {1, 2, 3};
    EXPECT_EQ(ctrl.Write(buf, 3), 0) << "no program holds the port: nothing is taken";
    FILE* far = python(
        "s = serial.Serial(sys.argv[1])\n"
        "s.write(bytes(i % 253 for i in range(12000)))\n"
        "s.flush()\n"
        "time.sleep(0.3)\n"
        "s.close()\n",
        "COM15");
    ASSERT_NE(far, nullptr);
    pclose(far);
    ASSERT_TRUE(pumpUntil([&] { return !ctrl.IsOpened() && rec.last(DISPID_OnOpenClose); }, 3000));
    EXPECT_EQ(ctrl.GetInCount(), 8192);
    EXPECT_EQ(ctrl.Write(buf, 3), 0);
    std::vector<std::uint8_t> got;
    ASSERT_TRUE(pumpUntil([&] {
        std::uint8_t in[4096];
        const std::int32_t n = ctrl.Read(in, sizeof in);
        got.insert(got.end(), in, in + std::max(n, 0));
        return got.size() >= 12000;
    }, 3000));
    ASSERT_EQ(got.size(), 12000u);
    for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], i % 253) << i;
}

TEST_F(KelvadTest, ResetBusLeavesControlCreatedOnAVanishedPort)
{
    CKelvadCtrl ctrl, other;
    ASSERT_TRUE(ctrl.CreatePort("COM9"));
    ASSERT_TRUE(other.ResetBus());
    EXPECT_FALSE(linkExists("COM9"));
    EXPECT_TRUE(ctrl.IsCreated());
    std::uint8_t buf[3] = {1, 2, 3};
    EXPECT_EQ(ctrl.Write(buf, 3), 0);
    EXPECT_EQ(ctrl.Read(buf, 3), 0);
    EXPECT_EQ(ctrl.GetInCount(), 0);
    EXPECT_FALSE(ctrl.SetDSR(true));
}

TEST_F(KelvadTest, PortOutlivesControlWithoutDeleteOnExit)
{
    {
        CKelvadCtrl first;
        ASSERT_TRUE(first.CreatePort("COM10"));
    }
    ASSERT_TRUE(linkExists("COM10"));
    {
        CKelvadCtrl second;
        Recorder rec(second);
        ASSERT_TRUE(second.Open("COM10"));
        FILE* far = python("s = serial.Serial(sys.argv[1])\ns.write(b'hello')\ns.flush()\ntime.sleep(1)\n",
                           "COM10");
        ASSERT_NE(far, nullptr);
        ASSERT_TRUE(pumpUntil([&] { return second.GetInCount() == 5; }));
        std::uint8_t in[8] = {};
        EXPECT_EQ(second.Read(in, 8), 5);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(in), 5), "hello");
        pclose(far);
        second.SetDeleteOnExit(true);
    }
    EXPECT_FALSE(linkExists("COM10"));
}

TEST_F(KelvadTest, BusyControlLockMakesDriverMembersFail)
{
    CKelvadCtrl ctrl;  // built first: construction frees the lock
    kvd::NamedLock lock("KVDControlMutex");
    ASSERT_TRUE(lock.wait(500));
    EXPECT_FALSE(ctrl.CreatePort("COM11"));
    EXPECT_FALSE(ctrl.ResetBus());
    EXPECT_FALSE(linkExists("COM11"));
    lock.signal();
    EXPECT_TRUE(ctrl.CreatePort("COM11"));
}

TEST_F(KelvadTest, TwoProcessesNeverHoldTheControlDeviceTogether)
{
    const std::string log = m_dir.file("holds.log"), go = m_dir.file("go");
    auto start = [&](const char* prefix) {
        return popen(("timeout 60 " + std::string(KELVAD_PEER) + " " + log + " " + go + " " + prefix).c_str(),
                     "r");
    };
    FILE* a = start("A");
    FILE* b = start("B");
    ASSERT_TRUE(a && b);
    char line[32];
    ASSERT_NE(fgets(line, sizeof line, a), nullptr);
    ASSERT_NE(fgets(line, sizeof line, b), nullptr);
    std::ofstream(go) << "go\n";
    int created[2] = {-1, -1};
    ASSERT_NE(fgets(line, sizeof line, a), nullptr);
    std::sscanf(line, "done %d", &created[0]);
    ASSERT_NE(fgets(line, sizeof line, b), nullptr);
    std::sscanf(line, "done %d", &created[1]);
    pclose(a);
    pclose(b);
    EXPECT_GT(created[0], 0);
    EXPECT_GT(created[1], 0);

    std::ifstream in(log);
    std::string entry, holder;
    int holds = 0;
    while (std::getline(in, entry)) {
        if (entry[0] == '+') {
            EXPECT_EQ(holder, "") << "taken while held by " << holder;
            holder = entry.substr(1);
            ++holds;
        } else {
            EXPECT_EQ(holder, entry.substr(1));
            holder.clear();
        }
    }
    EXPECT_GT(holds, 20);
}

// The event window on its own: each code becomes its event with the values
// widened, records are private copies, unknown codes vanish.
TEST_F(KelvadTest, EventWindowFiresEachNotificationFromItsOwnCopy)
{
    CKelvadCtrl ctrl;
    Recorder rec(ctrl);
    CEventWindow window(&ctrl);
    ASSERT_NE(window.hwnd(), 0u);
    auto post = [&](std::uint32_t code, std::intptr_t value) {
        win::postMessage(window.hwnd(), WM_PORT_NOTIFY, code, value);
    };
    kvd::SerialTimeouts t{1, 2, 3, 4, 0xFFFFFFFF};
    post(kNotifyTimeouts, window.storeRecord(&t, sizeof t));
    t.ReadIntervalTimeout = 99;  // must not reach the posted copy
    kvd::SerialChars c{0x1A, 0, 0, 0x7E, 0x11, 0xFF};
    post(kNotifyChars, window.storeRecord(&c, sizeof c));
    for (auto [code, value] : {std::pair{99, 5}, {kNotifyCts, 0x10}, {kNotifyDsr, 0}, {kNotifyRing, 0}})
        post(code, value);
    ASSERT_TRUE(pumpUntil([&] { return rec.events.size() >= 5; }));
    pumpFor(50);
    const auto& e = rec.events;
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e[0].id, DISPID_OnTimeouts);
    EXPECT_EQ(e[0].args.size(), 5u);
    EXPECT_EQ(e[0].arg(0), 1);
    EXPECT_EQ(e[0].arg(4), -1);
    EXPECT_EQ(e[1].id, DISPID_OnSpecialChars);
    EXPECT_EQ(e[1].args.size(), 6u);
    EXPECT_EQ(e[1].arg(5), 255);
    EXPECT_EQ(e[2].id, DISPID_OnRTS);  // CTS of the control's end
    EXPECT_EQ(e[2].args.at(0).toAutomationBool(), -1);
    EXPECT_EQ(e[3].id, DISPID_OnDTR);
    EXPECT_EQ(e[3].args.at(0).toAutomationBool(), 0);
    EXPECT_EQ(e[4].id, DISPID_OnRING);
    EXPECT_TRUE(e[4].args.empty());
}

}  // namespace
