// A port whose device goes away (a USB adapter unplugged): the engine
// closes the port and reports Error_DeviceRemoved; the watch then opens it
// again every second, as tio does, until the device is back or the user
// gives up on it (another port, Disconnect).
#pragma once

#include "qel_comm.h"

#include <QTimer>

#include <functional>

namespace qelterm {

class DeviceWatch : public lt::automation::EventSink {
public:
    explicit DeviceWatch(qelcomm::control::CQelComm& c, int retryMs = 1000);
    ~DeviceWatch() override;
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

    // Whether the device is gone and waited for.
    bool waiting() const { return m_timer.isActive(); }
    // Off: a device that goes away leaves the port closed.
    void setReopen(bool on);
    bool reopen() const { return m_reopen; }
    // Stops waiting (the user chose another port or disconnected).
    void stop() { m_timer.stop(); }

    // The device went (true) or came back and the port is open (false).
    std::function<void(bool gone)> onChange;

private:
    void onEvent(std::int32_t dispid, lt::automation::Args&) override;
    void retry();

    qelcomm::control::CQelComm& m_c;
    std::uint32_t m_cookie = 0;
    QTimer m_timer;
    bool m_reopen = true;
};

}  // namespace qelterm
