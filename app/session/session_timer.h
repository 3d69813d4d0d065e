// A session timer with the two properties the session uses, Interval and
// Enabled, over a Qt timer on the session's thread.
#pragma once

#include <QTimer>
#include <functional>

namespace lintrel {

class SessionTimer {
public:
    SessionTimer(int intervalMs, bool enabled, std::function<void()> onTimer)
    {
        m_timer.setInterval(intervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, [fn = std::move(onTimer)] { fn(); });
        setEnabled(enabled);
    }
    int interval() const { return m_timer.interval(); }
    // A running timer restarts with the new period; a stopped one stays stopped.
    void setInterval(int ms)
    {
        if (ms != m_timer.interval())
            m_timer.setInterval(ms);
    }
    bool enabled() const { return m_timer.isActive(); }
    // Enabling a running timer leaves its phase alone.
    void setEnabled(bool on)
    {
        if (on && !m_timer.isActive())
            m_timer.start();
        else if (!on)
            m_timer.stop();
    }

private:
    QTimer m_timer;
};

}  // namespace lintrel
