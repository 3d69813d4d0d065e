// Shared set-up for the engine tests: objects, event recording, pumping,
// and the two kinds of line (a pseudo-terminal pair, the loopback double).
#pragma once

#include "comm_object.h"
#include "pty_pair.h"
#include "pump.h"
#include "serial/loopback.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace enginetest {

// Every event code delivered through the callback, in order.
extern std::vector<int> g_events;
// Called for each event after it was recorded (may be empty).
extern std::function<void(QcHandle, int)> g_onEvent;
void recordEvent(QcHandle object, int controlId, int code);

// Pumps messages until pred() holds or ms pass; returns pred().
using testsupport::pumpFor;
using testsupport::pumpUntil;

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A comm object with the event callback installed.
    QcHandle newObject();

    // A pseudo-terminal mapped as COM<n>; the object is opened on it.
    void openOnPty(QcHandle object, int com = 7);

    // A loopback pair: the object's end as COM<n>, the far end returned.
    serial::Handle openOnLoopback(QcHandle object, int com = 21);
    std::string loopName(int com) const { return "COM" + std::to_string(com); }

    std::unique_ptr<testsupport::PtyPair> m_pty;
    std::unique_ptr<testsupport::PortsMap> m_ports;
    std::vector<QcHandle> m_objects;
    serial::Handle m_far = serial::INVALID_HANDLE_VALUE;
};

}  // namespace enginetest
