#include "dial.h"

#include "port_name.h"
#include "qel_comm.h"
#include "qel_comm_modem.h"
#include "qelcomm_modem.h"

#include <QFile>

#include <iostream>

namespace qelterm {
namespace {

using lt::automation::Variant;
namespace M = qelcomm::control::MemberId;

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
    Variant ready;
    if (t.get(M::InitModem, ready).failed() || !ready.toBool()) {
        std::cout << "Modem did not answer" << std::endl;
        return kDialInitFailed;
    }
    if (const auto e = t.put(M::Dial, Variant(o.number)); e.failed()) {
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
        std::cerr << "qelterm: " << o.port << " is neither a COM name nor a device path\n";
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
