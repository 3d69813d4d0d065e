#include "control_fixture.h"

#include <chrono>
#include <ostream>
#include <thread>

namespace controltest {

std::ostream& operator<<(std::ostream& os, const Seen& s)
{
    return os << EventName(s.dispid) << "(" << s.commEvent << ")";
}

void RecordingSink::onEvent(std::int32_t dispid, lt::automation::Args&)
{
    seen.push_back({dispid, m_control ? m_control->CommEvent() : -1});
    if (during)
        during(dispid);
}

void tick(const CQelComm& c)
{
    win::sendMessage(c.Window(), win::WM_TIMER, 1, 0);
}

void ControlTest::SetUp()
{
    m_owned = std::make_unique<CQelComm>();
    m_control = m_owned.get();
    m_cookie = m_control->Events().connect(&m_sink);
}

void ControlTest::TearDown()
{
    m_owned.reset();
    m_control = nullptr;
    if (m_far != serial::INVALID_HANDLE_VALUE)
        serial::CloseHandle(m_far);
    serial::loopback::removeAll();
}

void ControlTest::openOnPty()
{
    m_pty = std::make_unique<testsupport::PtyPair>();
    m_ports = std::make_unique<testsupport::PortsMap>();
    m_ports->map(7, m_pty->slavePath());
    m_control->SetAutoProcess(0);
    m_control->SetCommPort(7);
    m_control->SetPortOpen(true);
    ASSERT_TRUE(m_control->PortOpen());
}

serial::Handle ControlTest::openOnLoopback()
{
    serial::loopback::createPair("COM21", "FAR21");
    m_far = serial::CreateFile("FAR21");
    EXPECT_NE(m_far, serial::INVALID_HANDLE_VALUE);
    m_control->SetAutoProcess(0);
    m_control->SetCommPort(21);
    m_control->SetPortOpen(true);
    EXPECT_TRUE(m_control->PortOpen());
    return m_far;
}

}  // namespace controltest
