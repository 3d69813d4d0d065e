#include "engine_fixture.h"

#include <chrono>
#include <thread>

namespace enginetest {

std::vector<int> g_events;
std::function<void(QcHandle, int)> g_onEvent;

void recordEvent(QcHandle object, int, int code)
{
    g_events.push_back(code);
    if (g_onEvent)
        g_onEvent(object, code);
}

void EngineTest::SetUp()
{
    g_events.clear();
    g_onEvent = nullptr;
}

void EngineTest::TearDown()
{
    g_onEvent = nullptr;
    for (QcHandle o : m_objects)
        DestroyCommObject(o);
    if (m_far != serial::INVALID_HANDLE_VALUE)
        serial::CloseHandle(m_far);
    serial::loopback::removeAll();
}

QcHandle EngineTest::newObject()
{
    QcHandle o = CreateCommObject(0);
    EXPECT_NE(o, 0u);
    SetEventHandler(o, recordEvent);
    m_objects.push_back(o);
    return o;
}

void EngineTest::openOnPty(QcHandle object, int com)
{
    if (!m_pty) {
        m_pty = std::make_unique<testsupport::PtyPair>();
        m_ports = std::make_unique<testsupport::PortsMap>();
        m_ports->map(com, m_pty->slavePath());
    }
    SetCommPort(object, com);
    ASSERT_EQ(SetPortOpen(object, 1), 1);
}

serial::Handle EngineTest::openOnLoopback(QcHandle object, int com)
{
    const std::string farName = "FAR" + std::to_string(com);
    serial::loopback::createPair(loopName(com), farName);
    m_far = serial::CreateFile(farName);
    EXPECT_NE(m_far, serial::INVALID_HANDLE_VALUE);
    SetCommPort(object, com);
    EXPECT_EQ(SetPortOpen(object, 1), 1);
    return m_far;
}

}  // namespace enginetest
