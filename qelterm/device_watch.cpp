#include "device_watch.h"

namespace qelterm {

namespace E = qelcomm::control::EventId;

DeviceWatch::DeviceWatch(qelcomm::control::CQelComm& c, int retryMs) : m_c(c)
{
    m_timer.setInterval(retryMs);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { retry(); });
    m_cookie = m_c.Events().connect(this);
}

DeviceWatch::~DeviceWatch() { m_c.Events().disconnect(m_cookie); }

void DeviceWatch::setReopen(bool on)
{
    m_reopen = on;
    if (!on)
        stop();
}

void DeviceWatch::onEvent(std::int32_t dispid, lt::automation::Args&)
{
    if (dispid != E::OnComm || m_c.CommEvent() != qelcomm::control::Error_DeviceRemoved)
        return;
    if (m_reopen)
        m_timer.start();
    if (onChange)
        onChange(true);
}

void DeviceWatch::retry()
{
    if (!m_c.PortOpen())
        m_c.SetPortOpen(true);
    if (!m_c.PortOpen())
        return;
    m_timer.stop();
    if (onChange)
        onChange(false);
}

}  // namespace qelterm
