// Dialing, hanging up and the modem commands, built from the engine's
// modem output and look-up waits. Every wait may run handlers that destroy
// the object, so the record is looked up again after each one.
#include "comm_object.h"
#include "modem_options.h"
#include "qelcomm_modem.h"

#include <cstring>

namespace qelcomm {
namespace {

using modem::Field_Answer;
using modem::Field_DialPulse;
using modem::Field_DialTone;
using modem::Field_HangUp;
using modem::Field_Init;

constexpr std::uint32_t kOkTimeOutMs = 8000;
constexpr std::uint32_t kDtrDropMs = 200;
// Look-up lists: strings ended by a zero byte, the list by an empty one.
constexpr char kDialAnswers[] = "CONNECT\0NO CARRIER\0NO DIALTONE\0BUSY\0";
constexpr char kOkAnswers[] = "OK\0ERROR\0";

std::string command(QcHandle object, modem::ModemField which)
{
    CommObjectData* d = resolve(object);
    return d ? modem::field(d->modemOptions, which) : std::string();
}

void sendCarriageReturn(QcHandle object)
{
    ::Output(object, "\r", 1);
}

bool carrier(QcHandle object) { return ::GetCarrier(object) != 0; }

// Sends a modem command and waits for its OK. A command left empty (a
// null-modem cable has none) is not sent, and nothing will answer it: it
// succeeds at once.
std::int32_t commandAndOk(QcHandle object, modem::ModemField which)
{
    const std::string text = command(object, which);
    if (text.empty())
        return isObject(object) ? 1 : 0;
    ::OutputModem(object, text.c_str());
    return ::WaitForOk(object);
}

// Drops DTR for a moment and restores it as it was set.
void pulseDtr(QcHandle object)
{
    const std::int32_t previous = ::GetDTR(object);
    ::SetDTR(object, 0);
    ::ComPause(object, kDtrDropMs);
    ::SetDTR(object, previous);
}

}  // namespace
}  // namespace qelcomm

using namespace qelcomm;

QELCOMM_API void SetDialMode(QcHandle object, std::int32_t mode)
{
    if (CommObjectData* d = resolve(object))
        d->dialMode = mode;
}

QELCOMM_API std::int32_t GetDialMode(QcHandle object)
{
    return fieldOf(object, &CommObjectData::dialMode);
}

QELCOMM_API void SetDialTimeOut(QcHandle object, std::uint32_t ms)
{
    if (CommObjectData* d = resolve(object))
        d->dialTimeOut = ms;
}

QELCOMM_API std::uint32_t GetDialTimeOut(QcHandle object)
{
    return fieldOf(object, &CommObjectData::dialTimeOut);
}

QELCOMM_API std::int32_t Dial(QcHandle object, const char* number)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return 0;
    if (!number)
        number = "";
    const bool pulse = d->dialMode == Dial_Pulse;
    const std::string prefix = command(object, pulse ? Field_DialPulse : Field_DialTone);
    // No dial command: no modem (a null-modem cable), nothing to dial, and
    // the line is connected as it is.
    if (prefix.empty())
        return Dial_Connected;
    ::ClearInputBuffer(object);
    ::ClearOutputBuffer(object);
    ::OutputModem(object, prefix.c_str());
    ::Output(object, number, std::int32_t(std::strlen(number)));
    sendCarriageReturn(object);
    if (!(d = resolve(object)))
        return 0;

    const std::uint32_t savedLookUp = d->lookUpTimeOut;
    d->lookUpTimeOut = d->dialTimeOut;
    d->dialCancel = 0;
    d->dialing = 1;

    const std::int32_t found = ::DiscardUntilLookUp(object, kDialAnswers);
    std::int32_t result = found >= 0 ? found : Dial_TimeOut;
    if (found < 0 && isObject(object))
        sendCarriageReturn(object);  // makes the modem give up the call

    if (!(d = resolve(object)))
        return result;
    if (d->dialCancel)
        result = Dial_Canceled;
    d->dialCancel = 0;
    d->dialing = 0;
    d->lookUpTimeOut = savedLookUp;
    return result;
}

QELCOMM_API std::int32_t WaitForOk(QcHandle object)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return 0;
    const std::uint32_t saved = d->lookUpTimeOut;
    d->lookUpTimeOut = kOkTimeOutMs;
    const std::int32_t found = ::DiscardUntilLookUp(object, kOkAnswers);
    if ((d = resolve(object)))
        d->lookUpTimeOut = saved;
    // Only an "OK" is success: a modem that never answers is not ready.
    return found == 0 ? 1 : 0;
}

QELCOMM_API std::int32_t HangUp(QcHandle object)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return 0;
    if (d->dialing) {
        sendCarriageReturn(object);
        if ((d = resolve(object)))
            d->dialCancel = -1;
        return 1;
    }
    if (carrier(object)) {
        pulseDtr(object);
        if (isObject(object) && carrier(object) && !command(object, Field_HangUp).empty())
            return commandAndOk(object, Field_HangUp);
    }
    return carrier(object) ? 0 : 1;
}

QELCOMM_API std::int32_t InitModem(QcHandle object)
{
    if (!isObject(object))
        return 0;
    HangUp(object);
    return commandAndOk(object, Field_Init);
}

QELCOMM_API std::int32_t InitModemForAnswer(QcHandle object)
{
    if (!isObject(object))
        return 0;
    HangUp(object);
    if (!commandAndOk(object, Field_Init))
        return 0;
    return commandAndOk(object, Field_Answer);
}

QELCOMM_API std::int32_t CheckModem(QcHandle object)
{
    if (!isObject(object))
        return 0;
    ::OutputModem(object, "AT^M");
    return WaitForOk(object);
}

QELCOMM_CPP_API std::int32_t Disconnect(QcHandle object)
{
    if (!isObject(object))
        return 0;
    if (!carrier(object))
        return 1;
    ::SetDTR(object, 0);
    ::ComPause(object, kDtrDropMs);
    ::SetDTR(object, -1);
    if (!carrier(object))
        return 1;
    ::OutputModem(object, command(object, Field_HangUp).c_str());
    return carrier(object) ? 0 : 1;
}

QELCOMM_CPP_API void qelbasDial(QcHandle object, const char* number, char* result)
{
    if (!object)
        return;
    const std::int32_t r = Dial(object, number);
    const char* text = r == Dial_Connected   ? ""
                       : r == Dial_NoDialTone ? "No Dial Tone"
                       : r == Dial_Busy       ? "Busy"
                       : r == Dial_TimeOut    ? "Time Out"
                                              : "No Carrier";
    if (result)
        std::strcpy(result, text);
}

QELCOMM_CPP_API void qelbasHangUp(QcHandle object)
{
    if (object)
        HangUp(object);
}
