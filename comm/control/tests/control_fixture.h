// Shared set-up for the control tests: a container sink that records every
// event with the CommEvent value seen inside it, pumping helpers, and the
// two kinds of line (a pseudo-terminal pair, the loopback double).
#pragma once

#include "pty_pair.h"
#include "pump.h"
#include "qel_comm.h"
#include "serial/loopback.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace controltest {

using namespace qelcomm::control;

struct Seen {
    std::int32_t dispid;
    std::int32_t commEvent;
    bool operator==(const Seen&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Seen& s);

class RecordingSink : public lt::automation::EventSink {
public:
    explicit RecordingSink(CQelComm*& control) : m_control(control) {}
    void onEvent(std::int32_t dispid, lt::automation::Args&) override;
    std::vector<Seen> seen;
    std::function<void(std::int32_t dispid)> during;   // runs inside the event

private:
    CQelComm*& m_control;
};

using testsupport::pumpUntil;
using testsupport::pumpFor;
// One polling tick of the control's comm object, at once.
void tick(const CQelComm& c);

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The control on a pseudo-terminal mapped as COM7, port open, received
    // bytes left for Input (no automatic receive).
    void openOnPty();
    // The control on a loopback pair: its end COM21, the far end returned.
    serial::Handle openOnLoopback();

    std::unique_ptr<CQelComm> m_owned;
    CQelComm* m_control = nullptr;
    RecordingSink m_sink{m_control};
    std::uint32_t m_cookie = 0;
    std::unique_ptr<testsupport::PtyPair> m_pty;
    std::unique_ptr<testsupport::PortsMap> m_ports;
    serial::Handle m_far = serial::INVALID_HANDLE_VALUE;
};

}  // namespace controltest
