// The busy slot of the control's blocking members. A member that waits
// while pumping messages takes the slot for its run; a second blocking
// member called meanwhile (from an event handler) is refused with the
// name of the one that holds it. The slot is released on every way out
// unless the control was destroyed meanwhile.
#pragma once

#include "qel_comm.h"

#include <cstdio>
#include <memory>

namespace qelcomm::control {

inline constexpr const char* kBusyText = "Cannot access the %s property until the %s property has returned.";

class CQelComm::Guard {
public:
    Guard(CQelComm& c, const char* member) : m_control(c), m_alive(c.m_alive)
    {
        if (!c.m_busyProperty.empty()) {
            char text[256];
            std::snprintf(text, sizeof text, kBusyText, member, c.m_busyProperty.c_str());
            m_error = c.fail(kErrorBlocked, text);
            return;
        }
        c.m_busyProperty = member;
        m_taken = true;
    }
    ~Guard()
    {
        if (m_taken && *m_alive)
            m_control.m_busyProperty.clear();
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

    bool refused() const { return !m_taken; }
    const ErrorInfo& error() const { return m_error; }
    bool alive() const { return *m_alive; }

private:
    CQelComm& m_control;
    std::shared_ptr<bool> m_alive;
    bool m_taken = false;
    ErrorInfo m_error;
};

}  // namespace qelcomm::control
