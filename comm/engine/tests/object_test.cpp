// Comm object life and port life.
#include "engine_fixture.h"

#include <cstring>

using namespace enginetest;
using qelcomm::resolve;

namespace {

std::string settingsOf(QcHandle o)
{
    char buf[20] = {};
    GetSettings(o, buf);
    return buf;
}

class ObjectTest : public EngineTest {};

TEST_F(ObjectTest, NewObjectReportsItsDefaultsAndNumberedNames)
{
    QcHandle first = newObject();
    QcHandle second = newObject();
    EXPECT_EQ(GetCommPort(first), 1);
    EXPECT_EQ(settingsOf(first), "9600,n,8,1");
    EXPECT_EQ(GetInBufferSize(first), 2048);
    EXPECT_EQ(GetOutBufferSize(first), 2048);
    EXPECT_EQ(GetHandshaking(first), 0);
    EXPECT_EQ(GetPortOpen(first), 0);
    EXPECT_EQ(GetBusy(first), 0);
    EXPECT_EQ(GetInterval(first), 55u);
    EXPECT_EQ(GetLookUpTimeOut(first), 10000u);
    EXPECT_EQ(GetParityReplace(first), -1);
    EXPECT_EQ(GetDTR(first), -1);
    EXPECT_EQ(GetRTS(first), -1);
    // Each test runs in its own process, so these are the first two objects.
    EXPECT_EQ(resolve(first)->name, "QelComm1");
    EXPECT_EQ(resolve(second)->name, "QelComm2");
    EXPECT_EQ(win::getWindowStyle(first), win::WS_POPUP);

    // Numbers are not reused after a destroy.
    ASSERT_EQ(DestroyCommObject(second), 1);
    QcHandle third = newObject();
    EXPECT_EQ(resolve(third)->name, "QelComm3");
}

TEST_F(ObjectTest, ChildObjectsAndNamedObjects)
{
    QcHandle parent = newObject();
    QcHandle child = CreateCommObject(parent);
    ASSERT_NE(child, 0u);
    EXPECT_EQ(win::getWindowStyle(child), win::WS_CHILD | win::WS_HSCROLL | win::WS_VSCROLL);
    QcHandle named = CreateCommObjectName(0, "Modem");
    ASSERT_NE(named, 0u);
    // The text is the window's caption; the trace name stays numbered.
    EXPECT_EQ(win::getWindowCaption(named), "Modem");
    EXPECT_EQ(resolve(named)->name.rfind("QelComm", 0), 0u);
    EXPECT_EQ(win::getWindowStyle(named) & win::WS_CHILD, win::WS_CHILD);
    m_objects.push_back(named);
    m_objects.insert(m_objects.begin(), child);  // the child goes before its parent
}

TEST_F(ObjectTest, NameChangesOnlyForTextsShorterThan255)
{
    QcHandle o = newObject();
    win::setWindowText(o, "Line A");
    EXPECT_EQ(resolve(o)->name, "Line A");
    win::setWindowText(o, std::string(300, 'x'));
    EXPECT_EQ(resolve(o)->name, "Line A");
    char buf[16] = "unchanged";
    EXPECT_EQ(win::sendMessage(o, win::WM_GETTEXT, sizeof buf, win::LParam(buf)), 0);
    EXPECT_STREQ(buf, "");
}

TEST_F(ObjectTest, HandlesThatAreNotObjectsAreHarmless)
{
    // A window of another class, a destroyed object and a made-up number.
    win::WndClass other;
    other.name = "OtherClass";
    other.proc = win::defWindowProc;
    win::registerClass(other);
    win::Hwnd foreign = win::createWindow("OtherClass", "", 0, 0);
    QcHandle gone = CreateCommObject(0);
    DestroyCommObject(gone);
    for (QcHandle h : {QcHandle(0), QcHandle(foreign), gone, QcHandle(0xdeadbeef)}) {
        SCOPED_TRACE(h);
        char buf[20] = "untouched";
        EXPECT_EQ(SetSettings(h, "x"), 0);
        EXPECT_EQ(GetSettings(h, buf), 0);
        EXPECT_STREQ(buf, "untouched");
        EXPECT_EQ(SetPortOpen(h, 1), 0);
        EXPECT_EQ(GetCommPort(h), 0);
        EXPECT_EQ(GetInBufferSize(h), 0);
        EXPECT_EQ(DestroyCommObject(h), 0);
        EXPECT_EQ(GetInput(h, buf, 5), 0);
        EXPECT_EQ(Output(h, "ab", 2), 0);
        EXPECT_EQ(InputUntilLookUp(h, "OK\0", nullptr, 0), 0);
        EXPECT_EQ(SetCommID(h, 5), 0);
    }
    EXPECT_TRUE(win::isWindow(foreign));
    win::destroyWindow(foreign);
}

TEST_F(ObjectTest, PortNeedsANumberBeforeItOpens)
{
    serial::loopback::createPair("COM1", "FAR1");
    QcHandle o = newObject();
    EXPECT_EQ(SetPortOpen(o, 1), 0);  // port kind still none
    EXPECT_EQ(GetPortOpen(o), 0);
    SetCommPort(o, 1);
    EXPECT_EQ(SetPortOpen(o, 1), 1);
    EXPECT_EQ(SetPortOpen(o, 1), 1);  // already open: nothing changes
    EXPECT_EQ(GetPortOpen(o), -1);
    EXPECT_EQ(SetPortOpen(o, 0), 1);
    EXPECT_EQ(SetPortOpen(o, 0), 1);
    EXPECT_EQ(GetPortOpen(o), 0);
}

TEST_F(ObjectTest, AMissingPortFailsToOpenAndStaysClosed)
{
    testsupport::PortsMap ports;
    ports.map(30, "/nonexistent/tty");
    QcHandle o = newObject();
    SetCommPort(o, 30);
    EXPECT_EQ(SetPortOpen(o, 1), 0);
    EXPECT_EQ(GetPortOpen(o), 0);
    EXPECT_EQ(GetCommID(o), serial::INVALID_HANDLE_VALUE);
}

TEST_F(ObjectTest, LongDevicePathIsTriedWhenTheShortNameFails)
{
    serial::loopback::createPair("\\\\.\\COM12", "FAR12");
    QcHandle o = newObject();
    SetCommPort(o, 12);
    EXPECT_EQ(SetPortOpen(o, 1), 1);
    EXPECT_TRUE(serial::loopback::state("\\\\.\\COM12").open);
}

TEST_F(ObjectTest, PortNumberAndBufferSizesChangeOnlyWhileClosed)
{
    QcHandle o = newObject();
    openOnLoopback(o, 21);
    SetCommPort(o, 2);
    SetInBufferSize(o, 4096);
    SetOutBufferSize(o, 4096);
    EXPECT_EQ(GetCommPort(o), 21);
    EXPECT_EQ(GetInBufferSize(o), 2048);
    SetPortOpen(o, 0);
    SetInBufferSize(o, 524288);
    SetOutBufferSize(o, 524288);
    EXPECT_EQ(GetInBufferSize(o), 524288);
    ASSERT_EQ(SetPortOpen(o, 1), 1);
    const auto line = serial::loopback::state("COM21");
    EXPECT_EQ(line.inQueueSize, 524288u);
    EXPECT_EQ(line.outQueueSize, 524288u);
}

TEST_F(ObjectTest, WriteAllowanceFollowsBaudAndOutputTimeOut)
{
    EXPECT_EQ(qelcomm::WriteAllowancePerByte(2400, 0), 8u);
    EXPECT_EQ(qelcomm::WriteAllowancePerByte(9600, 0), 5u);
    EXPECT_EQ(qelcomm::WriteAllowancePerByte(115200, 0), 1u);
    EXPECT_EQ(qelcomm::WriteAllowancePerByte(0, 0), 10004u);
    EXPECT_EQ(qelcomm::WriteAllowancePerByte(2400, 500), 4u);

    // And they are what the driver gets at open.
    QcHandle o = newObject();
    SetSettings(o, "2400");
    openOnLoopback(o, 21);
    const auto t = serial::loopback::state("COM21").timeouts;
    EXPECT_EQ(t.ReadIntervalTimeout, 10u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 8u);
}

TEST_F(ObjectTest, AttachingAForeignHandle)
{
    serial::loopback::createPair("COM40", "FAR40");
    serial::Handle foreign = serial::CreateFile("COM40");
    ASSERT_NE(foreign, serial::INVALID_HANDLE_VALUE);
    QcHandle o = newObject();
    EXPECT_EQ(SetCommID(o, foreign), 1);
    EXPECT_EQ(GetPortOpen(o), -1);
    EXPECT_EQ(GetCommID(o), foreign);
    // No set-up happened on the handle.
    EXPECT_EQ(serial::loopback::state("COM40").inQueueSize, 0u);
    EXPECT_EQ(SetCommID(o, serial::INVALID_HANDLE_VALUE), 0);
    EXPECT_EQ(GetPortOpen(o), 0);
    EXPECT_FALSE(serial::loopback::state("COM40").open);  // the held handle was closed
}

// A destroy requested from inside a wait on the object is refused.
QcHandle g_waiting = 0;
int g_destroyResult = -1;
void destroyFromIdle() { g_destroyResult = DestroyCommObject(g_waiting); }

TEST_F(ObjectTest, DestroyIsRefusedWhileAWaitRuns)
{
    QcHandle o = newObject();
    g_waiting = o;
    SetIdleLoop(o, destroyFromIdle);
    ComPause(o, 60);
    EXPECT_EQ(g_destroyResult, 0);
    EXPECT_TRUE(qelcomm::isObject(o));
    SetIdleLoop(o, nullptr);
    EXPECT_EQ(GetBusy(o), 0);
}

}  // namespace
