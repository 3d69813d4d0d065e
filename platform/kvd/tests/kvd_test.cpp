#include "kvd/kvd.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace kvd;

namespace {

class KvdTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("LINTREL_PORT_DIR", m_dir.path().c_str(), 1); }
    void TearDown() override
    {
        if (m_port != kInvalidHandle)
            CloseHandle(m_port);
        controlRequest(IOCTL_KVD_RESET_BUS, nullptr, 0);
    }

    static bool controlRequest(uint32_t code, const void* in, uint32_t size)
    {
        Handle c = CreateFile(u"\\\\.\\KVDControl", false);
        if (c == kInvalidHandle)
            return false;
        uint32_t ret = 0;
        const bool ok = DeviceIoControl(c, code, in, size, nullptr, 0, &ret, nullptr);
        CloseHandle(c);
        return ok;
    }

    static bool createPort(const std::string& name)
    {
        std::vector<uint8_t> in(kCreatePortInputSize, 0);
        const uint32_t len = kCreatePortInputSize;
        std::memcpy(in.data(), &len, 4);
        for (size_t i = 0; i < name.size(); ++i)
            in[4 + 2 * i] = uint8_t(name[i]);
        return controlRequest(IOCTL_KVD_CREATE_PORT, in.data(), len);
    }

    static bool deletePort(const std::string& name)
    {
        std::vector<uint8_t> in(kDeletePortInputSize, 0);
        const uint32_t len = kDeletePortInputSize;
        std::memcpy(in.data(), &len, 4);
        const std::string dev = "NULL_" + name;
        for (size_t i = 0; i < dev.size(); ++i)
            in[4 + 2 * i] = uint8_t(dev[i]);
        return controlRequest(IOCTL_KVD_DELETE_PORT, in.data(), len);
    }

    Handle openEnd(const std::string& name)
    {
        std::u16string path = u"\\\\.\\NULL_";
        for (char c : name)
            path += char16_t(c);
        m_port = CreateFile(path, true);
        return m_port;
    }

    // Waits for port events until `want` has been seen or the time is up.
    uint32_t waitFor(uint32_t want, int ms = 3000)
    {
        uint32_t seen = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while ((seen & want) != want && std::chrono::steady_clock::now() < end) {
            Event ev;
            Overlapped ov;
            ov.hEvent = &ev;
            uint32_t mask = 0;
            if (!WaitCommEvent(m_port, &mask, &ov)) {
                if (GetLastError() != kErrorIoPending)
                    break;
                if (!ev.wait(int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     end - std::chrono::steady_clock::now()).count()))) {
                    CloseHandle(m_port);  // cancels the pending wait
                    EXPECT_TRUE(ev.wait(1000));
                    m_port = kInvalidHandle;
                    break;
                }
            }
            seen |= mask;
        }
        return seen;
    }

    std::string link(const std::string& name) const { return m_dir.file(name); }

    // Runs a python program with pyserial in the background; argv[1] = link.
    FILE* python(const std::string& code, const std::string& name)
    {
        const std::string script = m_dir.file("far.py");
        std::ofstream(script) << "import serial, sys, time\n" << code;
        const std::string cmd = "timeout 10 /usr/bin/python3 " + script + " " + link(name);
        return popen(cmd.c_str(), "r");
    }

    std::string readAll(uint32_t count, int ms = 4000)
    {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            char buf[512];
            uint32_t n = 0;
            ReadFile(m_port, buf, sizeof buf, &n, nullptr);
            if (n == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            got.append(buf, n);
        }
        return got;
    }

    testsupport::TempDir m_dir;
    Handle m_port = kInvalidHandle;
};

TEST_F(KvdTest, CreateMakesLinkAndOneEndOnly)
{
    ASSERT_TRUE(createPort("COM7"));
    struct stat st;
    ASSERT_EQ(lstat(link("COM7").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_FALSE(createPort("COM7"));
    EXPECT_FALSE(createPort("../x"));
    ASSERT_NE(openEnd("COM7"), kInvalidHandle);
    EXPECT_EQ(CreateFile(u"\\\\.\\NULL_COM7", true), kInvalidHandle);
    EXPECT_EQ(CreateFile(u"\\\\.\\NULL_COM8", true), kInvalidHandle);
    // The control device is opened by one holder at a time.
    Handle c = CreateFile(u"\\\\.\\KVDControl", false);
    ASSERT_NE(c, kInvalidHandle);
    EXPECT_EQ(CreateFile(u"\\\\.\\KVDControl", false), kInvalidHandle);
    CloseHandle(c);

    uint32_t state = 7, ret = 0;
    ASSERT_TRUE(DeviceIoControl(m_port, IOCTL_KVD_GET_STATE, nullptr, 0, &state, 4, &ret, nullptr));
    EXPECT_EQ(state, 0u);
    EXPECT_TRUE(deletePort("COM7"));
    EXPECT_NE(lstat(link("COM7").c_str(), &st), 0);
}

TEST_F(KvdTest, AllByteValuesBothWaysWithOpenClose)
{
    ASSERT_TRUE(createPort("COM3"));
    ASSERT_NE(openEnd("COM3"), kInvalidHandle);
    ASSERT_TRUE(SetCommMask(m_port, kControlWaitMask));
    FILE* far = python(
        "s = serial.Serial(sys.argv[1], 9600, timeout=3)\n"
        "s.write(bytes(range(256)))\n"
        "s.flush()\n"
        "got = s.read(256)\n"
        "print('ok' if got == bytes(range(256)) else 'bad %d' % len(got), flush=True)\n"
        "s.close()\n",
        "COM3");
    ASSERT_NE(far, nullptr);
    EXPECT_TRUE(waitFor(EV_KVD_OPENCLOSE) & EV_KVD_OPENCLOSE);
    std::string got = readAll(256);
    ASSERT_EQ(got.size(), 256u);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(uint8_t(got[i]), i);
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += char(i);
    uint32_t written = 0;
    EXPECT_TRUE(WriteFile(m_port, all.data(), 256, &written, nullptr));
    EXPECT_EQ(written, 256u);
    char line[64] = {};
    ASSERT_NE(fgets(line, sizeof line, far), nullptr);
    EXPECT_STREQ(line, "ok\n");
    pclose(far);
    EXPECT_TRUE(waitFor(EV_KVD_OPENCLOSE) & EV_KVD_OPENCLOSE);
    uint32_t state = 1, ret = 0;
    DeviceIoControl(m_port, IOCTL_KVD_GET_STATE, nullptr, 0, &state, 4, &ret, nullptr);
    EXPECT_EQ(state, 0u);
}

TEST_F(KvdTest, LineSettingsFromProgram)
{
    ASSERT_TRUE(createPort("COM4"));
    ASSERT_NE(openEnd("COM4"), kInvalidHandle);
    ASSERT_TRUE(SetCommMask(m_port, kControlWaitMask));
    FILE* far = python(
        "s = serial.Serial(sys.argv[1], 57600, stopbits=2, rtscts=True)\n"
        "s.write(b'abc')\n"
        "s.flush()\n"
        "time.sleep(1.5)\n"
        "s.close()\n",
        "COM4");
    ASSERT_NE(far, nullptr);
    const uint32_t seen = waitFor(EV_KVD_BAUD | EV_KVD_LINECTRL | EV_KVD_HANDFLOW | EV_RXCHAR);
    EXPECT_TRUE(seen & EV_KVD_BAUD);
    EXPECT_TRUE(seen & EV_KVD_LINECTRL);
    EXPECT_TRUE(seen & EV_KVD_HANDFLOW);
    uint32_t baud = 0, ret = 0;
    ASSERT_TRUE(DeviceIoControl(m_port, IOCTL_KVD_GET_BAUD_RATE, nullptr, 0, &baud, 4, &ret, nullptr));
    EXPECT_EQ(baud, 57600u);
    uint8_t line[3] = {};
    ASSERT_TRUE(DeviceIoControl(m_port, IOCTL_KVD_GET_LINE_CONTROL, nullptr, 0, line, 3, &ret, nullptr));
    EXPECT_EQ(ret, 3u);
    EXPECT_EQ(line[0], 2);  // two stop bits
    SerialHandflow hf;
    ASSERT_TRUE(DeviceIoControl(m_port, IOCTL_KVD_GET_HANDFLOW, nullptr, 0, &hf, 16, &ret, nullptr));
    EXPECT_TRUE(hf.ControlHandShake & SERIAL_CTS_HANDSHAKE);
    EXPECT_TRUE(hf.FlowReplace & SERIAL_RTS_HANDSHAKE);
    readAll(3, 1500);
    ComStat st;
    uint32_t errors = 0;
    ASSERT_TRUE(ClearCommError(m_port, &errors, &st));
    pclose(far);
}

TEST_F(KvdTest, InputCountAndPurge)
{
    ASSERT_TRUE(createPort("COM5"));
    ASSERT_NE(openEnd("COM5"), kInvalidHandle);
    ASSERT_TRUE(SetCommMask(m_port, kControlWaitMask));
    FILE* far = python("s = serial.Serial(sys.argv[1])\ns.write(b'x' * 100)\ns.flush()\ntime.sleep(1)\n", "COM5");
    ASSERT_NE(far, nullptr);
    ComStat st;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    do {
        waitFor(EV_RXCHAR, 500);
        ClearCommError(m_port, nullptr, &st);
    } while (st.cbInQue < 100 && std::chrono::steady_clock::now() < end);
    EXPECT_EQ(st.cbInQue, 100u);
    ASSERT_TRUE(PurgeComm(m_port, PURGE_RXCLEAR));
    ClearCommError(m_port, nullptr, &st);
    EXPECT_EQ(st.cbInQue, 0u);
    pclose(far);
}

TEST_F(KvdTest, CloseCancelsPendingWait)
{
    ASSERT_TRUE(createPort("COM6"));
    ASSERT_NE(openEnd("COM6"), kInvalidHandle);
    ASSERT_TRUE(SetCommMask(m_port, kControlWaitMask));
    Event ev;
    Overlapped ov;
    ov.hEvent = &ev;
    uint32_t mask = 0;
    ASSERT_FALSE(WaitCommEvent(m_port, &mask, &ov));
    ASSERT_EQ(GetLastError(), kErrorIoPending);
    EXPECT_FALSE(ev.wait(100));
    CloseHandle(m_port);
    ASSERT_TRUE(ev.wait(1000));
    uint32_t bytes;
    EXPECT_FALSE(GetOverlappedResult(m_port, &ov, &bytes, true));
    m_port = kInvalidHandle;
}

TEST_F(KvdTest, ControlLockHasOneHolderAcrossProcesses)
{
    NamedLock lock("KVDControlMutex");
    ASSERT_TRUE(lock.valid());
    ASSERT_TRUE(lock.wait(500));
    pid_t child = fork();
    if (child == 0) {
        NamedLock mine("KVDControlMutex");
        // Held by the parent: the child times out, then gets it once released.
        const bool early = mine.wait(300);
        const bool later = mine.wait(3000);
        if (later)
            mine.signal();
        _exit(!early && later ? 0 : 1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    lock.signal();
    lock.signal();  // auto-reset: a second signal does not let two in
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(lock.wait(500));
    EXPECT_FALSE(lock.wait(100));
    lock.signal();
}

TEST_F(KvdTest, ResetRemovesStaleLinksOfDeadOwners)
{
    // A port made by a process that has ended leaves its link behind.
    pid_t child = fork();
    if (child == 0) {
        _exit(createPort("COM9") ? 0 : 1);  // no exit handlers: the link stays
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    struct stat st;
    ASSERT_EQ(lstat(link("COM9").c_str(), &st), 0);
    ASSERT_TRUE(createPort("COM1"));
    // A dead owner's name can be taken again.
    EXPECT_TRUE(createPort("COM9"));
    EXPECT_TRUE(deletePort("COM9"));
    symlink("/dev/null", link("COM2").c_str());
    std::ofstream(m_dir.file(".COM2.owner")) << child << "\n";
    ASSERT_TRUE(controlRequest(IOCTL_KVD_RESET_BUS, nullptr, 0));
    EXPECT_NE(lstat(link("COM2").c_str(), &st), 0);
    EXPECT_NE(lstat(link("COM1").c_str(), &st), 0);
}

}  // namespace

namespace {

// A program opening and closing the port repeatedly: every open and close
// reaches the control as its own event, so flipping a flag per event tracks
// the driver's state.
TEST_F(KvdTest, RepeatedOpenCloseStaysInStep)
{
    ASSERT_TRUE(createPort("COM10"));
    ASSERT_NE(openEnd("COM10"), kInvalidHandle);
    ASSERT_TRUE(SetCommMask(m_port, kControlWaitMask));
    // Written while nobody holds the port: nothing is taken.
    uint32_t written = 5;
    EXPECT_TRUE(WriteFile(m_port, "stale", 5, &written, nullptr));
    EXPECT_EQ(written, 0u);
    FILE* far = python(
        "for i in range(5):\n"
        "    s = serial.Serial(sys.argv[1])\n"
        "    s.close()\n"
        "s = serial.Serial(sys.argv[1], timeout=0.5)\n"
        "print(len(s.read(10)), flush=True)\n"
        "s.close()\n",
        "COM10");
    ASSERT_NE(far, nullptr);
    char line[16] = {};
    ASSERT_NE(fgets(line, sizeof line, far), nullptr);
    EXPECT_STREQ(line, "0\n");  // the stale write never reached the program
    pclose(far);
    bool opened = false;
    int events = 0;
    for (;;) {
        Event ev;
        Overlapped ov;
        ov.hEvent = &ev;
        uint32_t mask = 0;
        if (!WaitCommEvent(m_port, &mask, &ov)) {
            ASSERT_EQ(GetLastError(), kErrorIoPending);
            if (!ev.wait(700)) {
                // Quiet: all events delivered. A new mask ends the wait.
                SetCommMask(m_port, kControlWaitMask);
                ASSERT_TRUE(ev.wait(1000));
                EXPECT_EQ(mask, 0u);
                break;
            }
        }
        if (mask & EV_KVD_OPENCLOSE) {
            opened = !opened;
            ++events;
        }
    }
    EXPECT_GE(events, 2);
    EXPECT_FALSE(opened);
    uint32_t state = 1, ret = 0;
    DeviceIoControl(m_port, IOCTL_KVD_GET_STATE, nullptr, 0, &state, 4, &ret, nullptr);
    EXPECT_EQ(state, 0u);
}

}  // namespace

namespace {

// A port deleted (or reset away) under an open end: every request on that
// end fails instead of pretending to carry data, and no wait can start.
TEST_F(KvdTest, EndOfDeletedPortFailsEveryRequest)
{
    ASSERT_TRUE(createPort("COM11"));
    ASSERT_NE(openEnd("COM11"), kInvalidHandle);
    ASSERT_TRUE(SetCommMask(m_port, kControlWaitMask));
    Event ev;
    Overlapped ov;
    ov.hEvent = &ev;
    uint32_t mask = 0;
    ASSERT_FALSE(WaitCommEvent(m_port, &mask, &ov));
    ASSERT_TRUE(controlRequest(IOCTL_KVD_RESET_BUS, nullptr, 0));
    ASSERT_TRUE(ev.wait(1000));  // the pending wait ends with failure
    uint32_t n = 0;
    EXPECT_FALSE(GetOverlappedResult(m_port, &ov, &n, true));

    uint32_t written = 7;
    EXPECT_FALSE(WriteFile(m_port, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(GetLastError(), kErrorDeviceRemoved);
    char buf[4];
    EXPECT_FALSE(ReadFile(m_port, buf, sizeof buf, &n, nullptr));
    ComStat st;
    EXPECT_FALSE(ClearCommError(m_port, nullptr, &st));
    uint32_t state = 0, ret = 0;
    EXPECT_FALSE(DeviceIoControl(m_port, IOCTL_KVD_GET_STATE, nullptr, 0, &state, 4, &ret, nullptr));
    Overlapped ov2;
    ov2.hEvent = &ev;
    EXPECT_FALSE(WaitCommEvent(m_port, &mask, &ov2));
    EXPECT_EQ(GetLastError(), kErrorDeviceRemoved);
    EXPECT_TRUE(CloseHandle(m_port));
    m_port = kInvalidHandle;
}

}  // namespace

namespace {

// Waits out events until `ms` pass without one; calls seen(mask) for each.
template <typename F>
void eventsUntilQuiet(Handle port, int quietMs, int totalMs, F seen)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(totalMs);
    while (std::chrono::steady_clock::now() < end) {
        Event ev;
        Overlapped ov;
        ov.hEvent = &ev;
        uint32_t mask = 0;
        if (!WaitCommEvent(port, &mask, &ov)) {
            ASSERT_EQ(GetLastError(), kErrorIoPending);
            if (!ev.wait(quietMs)) {
                SetCommMask(port, kControlWaitMask);  // ends the pending wait
                ASSERT_TRUE(ev.wait(1000));
                return;
            }
        }
        seen(mask);
    }
}

// A program that clears its local flags (here all of c_lflag, as raw-mode
// programs do) no longer makes the pseudo-terminal report its settings
// changes; each one must reach the control all the same.
TEST_F(KvdTest, SettingsChangesAfterTheProgramClearsItsLocalFlags)
{
    ASSERT_TRUE(createPort("COM12"));
    ASSERT_NE(openEnd("COM12"), kInvalidHandle);
    ASSERT_TRUE(SetCommMask(m_port, kControlWaitMask));
    FILE* far = python(
        "import termios\n"
        "s = serial.Serial(sys.argv[1], 1200)\n"
        "time.sleep(0.4)\n"
        "s.baudrate = 2400\n"
        "time.sleep(0.4)\n"
        "a = termios.tcgetattr(s.fd)\n"
        "a[3] = 0\n"
        "termios.tcsetattr(s.fd, termios.TCSANOW, a)\n"
        "time.sleep(0.4)\n"
        "s.baudrate = 4800\n"
        "time.sleep(0.4)\n"
        "s.baudrate = 57600\n"
        "time.sleep(0.4)\n"
        "s.stopbits = 2\n"
        "time.sleep(0.4)\n"
        "s.rtscts = True\n"
        "time.sleep(0.4)\n"
        "a = termios.tcgetattr(s.fd)\n"
        "a[6][termios.VMIN] = 1\n"
        "a[6][termios.VTIME] = 5\n"
        "termios.tcsetattr(s.fd, termios.TCSANOW, a)\n"
        "time.sleep(0.6)\n"
        "s.close()\n",
        "COM12");
    ASSERT_NE(far, nullptr);
    // What each event reported, read when it came: another program opening
    // the same port later cannot change it.
    std::vector<uint32_t> bauds;
    bool twoStopBits = false, ctsHandshake = false, interval500 = false;
    eventsUntilQuiet(m_port, 1000, 8000, [&](uint32_t mask) {
        uint32_t ret = 0;
        if (mask & EV_KVD_BAUD) {
            uint32_t baud = 0;
            DeviceIoControl(m_port, IOCTL_KVD_GET_BAUD_RATE, nullptr, 0, &baud, 4, &ret, nullptr);
            bauds.push_back(baud);
        }
        if (mask & EV_KVD_LINECTRL) {
            SerialLineControl line;
            DeviceIoControl(m_port, IOCTL_KVD_GET_LINE_CONTROL, nullptr, 0, &line, 3, &ret, nullptr);
            twoStopBits |= line.StopBits == 2;
        }
        if (mask & EV_KVD_HANDFLOW) {
            SerialHandflow hf;
            DeviceIoControl(m_port, IOCTL_KVD_GET_HANDFLOW, nullptr, 0, &hf, 16, &ret, nullptr);
            ctsHandshake |= (hf.ControlHandShake & SERIAL_CTS_HANDSHAKE) != 0;
        }
        if (mask & EV_KVD_TIMEOUTS) {
            SerialTimeouts t;
            DeviceIoControl(m_port, IOCTL_KVD_GET_TIMEOUTS, nullptr, 0, &t, 20, &ret, nullptr);
            interval500 |= t.ReadIntervalTimeout == 500;
        }
    });
    pclose(far);
    // Each change, in order (another program could add one in between).
    const std::vector<uint32_t> wanted{1200, 2400, 4800, 57600};
    size_t found = 0;
    for (uint32_t b : bauds)
        if (found < wanted.size() && b == wanted[found])
            ++found;
    EXPECT_EQ(found, wanted.size()) << ::testing::PrintToString(bauds);
    EXPECT_TRUE(twoStopBits);
    EXPECT_TRUE(ctsHandshake);
    EXPECT_TRUE(interval500);
}

}  // namespace
