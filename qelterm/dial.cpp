#include "dial.h"

#include "port_name.h"
#include "qel_comm.h"
#include "qel_comm_modem.h"
#include "qelcomm_modem.h"

#include <QFile>
#include <QTimer>

#include <csignal>
#include <iostream>

namespace qelterm {
namespace {

using lt::automation::Variant;
namespace M = qelcomm::control::MemberId;

volatile std::sig_atomic_t g_interrupted = 0;
void onInterrupt(int) { g_interrupted = 1; }

// Ctrl-C while the modem is waited for: a dial in progress hangs up and so
// ends as canceled; the initialisation's wait for OK is ended. The modem
// waits run the thread's events, so a timer looks at the flag meanwhile.
class Interrupt {
public:
    explicit Interrupt(qelcomm::control::CQelComm& c) : m_c(c)
    {
        g_interrupted = 0;
        std::signal(SIGINT, onInterrupt);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { look(); });
        m_timer.start(50);
    }
    ~Interrupt() { std::signal(SIGINT, SIG_DFL); }
    bool happened() const { return g_interrupted != 0; }
    void setDialing(bool on) { m_dialing = on; }

private:
    void look()
    {
        if (!g_interrupted || m_acted)
            return;
        m_acted = true;
        if (m_dialing) {
            Variant ignored;
            m_c.Dispatch().get(M::HangUp, ignored);
        } else {
            ::SetShutDown(m_c.Window(), 1);
        }
    }

    qelcomm::control::CQelComm& m_c;
    QTimer m_timer;
    bool m_dialing = false;
    bool m_acted = false;
};

int canceled()
{
    std::cout << qelcomm::control::DialResultText(Dial_Canceled) << std::endl;
    return Dial_Canceled;
}

int dialOn(qelcomm::control::CQelComm& c, const Options& o)
{
    if (c.SetSettings(o.settings).failed() || c.Settings() != o.settings) {
        std::cerr << "qelterm: bad settings " << o.settings << "\n";
        return kDialUsage;
    }
    const auto& t = c.Dispatch();
    t.put(M::DialStatusDialog, Variant(std::int32_t(0)));   // no window to show it in
    t.put(M::ModemIndex, Variant(std::int32_t(o.modem)));
    if (Variant index; t.get(M::ModemIndex, index).failed() || index.toInt32() != o.modem) {
        std::cerr << "qelterm: no modem entry " << o.modem << "\n";
        return kDialUsage;
    }
    t.put(M::DialMode, Variant(std::int32_t(o.pulse ? Dial_Pulse : Dial_Tone)));
    if (o.timeoutMs >= 0)
        t.put(M::DialTimeOut, Variant(std::int32_t(o.timeoutMs)));
    // The modem's answers are for the dialer alone.
    c.SetAutoProcess(0);
    c.SetPortOpen(true);
    if (!c.PortOpen()) {
        std::cerr << "qelterm: cannot open " << o.port << "\n";
        return kDialPortFailed;
    }
    Interrupt interrupt(c);
    Variant ready;
    const bool initialised = !t.get(M::InitModem, ready).failed() && ready.toBool();
    if (interrupt.happened()) {
        ::SetShutDown(c.Window(), 0);
        return canceled();
    }
    if (!initialised) {
        std::cout << "Modem did not answer" << std::endl;
        return kDialInitFailed;
    }
    interrupt.setDialing(true);
    const auto e = t.put(M::Dial, Variant(o.number));
    interrupt.setDialing(false);
    if (e.failed()) {
        std::cerr << "qelterm: " << e.description << "\n";
        return kDialUnexpected;
    }
    Variant text;
    t.get(M::Dial, text);
    if (text.toString().empty()) {
        std::cout << "Connected" << std::endl;
        return Dial_Connected;
    }
    std::cout << text.toString() << std::endl;
    for (std::int32_t result = Dial_NoCarrier; result <= Dial_Canceled; ++result)
        if (qelcomm::control::DialResultText(result) == text.toString())
            return result;
    return kDialUnexpected;
}

}  // namespace

int runDial(const Options& o)
{
    const PortChoice choice = choosePort(o.port);
    if (!choice.number) {
        std::cerr << "qelterm: " << unusablePortText(o.port) << "\n";
        return kDialUsage;
    }
    int code;
    {
        qelcomm::control::CQelComm c;
        c.SetCommPort(std::int16_t(choice.number));
        code = dialOn(c, o);
    }
    if (!choice.tempMap.empty())
        QFile::remove(QString::fromStdString(choice.tempMap));
    return code;
}

}  // namespace qelterm
