// What the configuration file loads into and saves from: the open sessions
// in the order their windows were opened, the main window's state and the
// auto-activation flags.  The main window implements it with session
// windows, the windowless mode with bare sessions.
#pragma once

#include "session.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lintrel {

// Main window states as the configuration file stores them.
enum WindowStateValue : int { kStateNormal = 0, kStateMinimized = 1, kStateMaximized = 2 };

class SessionWorkspace {
public:
    virtual ~SessionWorkspace() = default;

    virtual std::size_t sessionCount() const = 0;
    // Session i, 0-based, in opening order.
    virtual Session& session(std::size_t i) = 0;
    // A new session with the caption of a new one, shown where there is a
    // window to show it in.
    virtual Session& NewSession() = 0;
    // Closes every session, the most recently opened first.
    virtual void closeAllSessions() = 0;

    virtual int windowState() const = 0;
    virtual void setWindowState(int state) = 0;

    // Entry i = 1: session i (1-based) is activated at start-up.
    std::vector<std::int16_t> AutoActivateFlags = std::vector<std::int16_t>(2, 0);

    // Activates every flagged session in session order and clears its flag.
    void activateFlaggedSessions()
    {
        for (std::size_t i = 1; i < AutoActivateFlags.size() && i <= sessionCount(); ++i)
            if (AutoActivateFlags[i] == 1) {
                AutoActivateFlags[i] = 0;
                session(i - 1).Command1_Click();
            }
    }
};

}  // namespace lintrel
