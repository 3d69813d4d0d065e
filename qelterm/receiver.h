// The window's receive path: what the port receives goes through the
// receive format (time stamps, hex dump) onto the screen, and ZModem's
// start ("rz\r**") downloads into the transfer folder, as the engine's
// automatic receive would do.
#pragma once

#include "qel_comm.h"
#include "receive_format.h"

#include <QTime>

#include <functional>

namespace qelterm {

class Receiver : public lt::automation::EventSink {
public:
    // Takes the control's receive over: keys still go to the port.
    explicit Receiver(qelcomm::control::CQelComm& c);
    ~Receiver() override;
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    ReceiveFormat& format() { return m_format; }
    // Shows local text (a notice, a line end) on the screen.
    void show(const std::string& text);

    // The time a read is stamped with.
    std::function<QTime()> clock = [] { return QTime::currentTime(); };

private:
    void onEvent(std::int32_t dispid, lt::automation::Args&) override;
    void drain();
    void watchForDownload(const char* bytes, int n);

    qelcomm::control::CQelComm& m_c;
    std::uint32_t m_cookie = 0;
    ReceiveFormat m_format;
    int m_downloadMatch = 0;   // bytes of the ZModem start seen in a row
};

}  // namespace qelterm
