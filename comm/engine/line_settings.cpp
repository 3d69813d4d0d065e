// The settings string ("9600,n,8,1"), the line configuration handed to the
// driver, and the line signals DTR, RTS, break, CTS, DSR and CD.
#include "comm_object.h"
#include "settings_grammar.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qelcomm {

bool ApplyLineSettings(CommObjectData* d)
{
    if (!d->portOpen)
        return false;
    serial::DCB dcb;
    serial::GetCommState(d->port, &dcb);

    const bool software = (d->handshaking & Handshaking_XonXoff) != 0;
    const bool hardware = (d->handshaking & Handshaking_Hardware) != 0;
    const bool xonXoff = software && d->transferState == 0;
    const std::uint16_t limit = std::uint16_t(std::clamp(d->inBufferSize / 4, 0, 8192));

    dcb = serial::DCB{};
    dcb.BaudRate = d->baud;
    dcb.fBinary = true;
    dcb.fParity = d->parityReplace != 0;
    dcb.fOutxCtsFlow = hardware;
    dcb.fOutxDsrFlow = false;
    dcb.fDtrControl = serial::DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = false;
    dcb.fTXContinueOnXoff = false;
    dcb.fOutX = xonXoff;
    dcb.fInX = xonXoff;
    dcb.fErrorChar = d->parityReplace != -1;
    dcb.fNull = d->nullDiscard != 0;
    dcb.fRtsControl = hardware ? serial::RTS_CONTROL_HANDSHAKE : serial::RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = false;
    dcb.XonLim = limit;
    dcb.XoffLim = limit;
    dcb.ByteSize = std::uint8_t(d->dataBits);
    dcb.Parity = std::uint8_t(d->parity);
    dcb.StopBits = std::uint8_t(d->stopBits);
    dcb.XonChar = 17;
    dcb.XoffChar = 19;
    dcb.ErrorChar = char(d->parityReplace & 0xFF);
    dcb.EofChar = 26;
    dcb.EvtChar = '*';
    return serial::SetCommState(d->port, &dcb);
}

}  // namespace qelcomm

using namespace qelcomm;

namespace {

void applyIfOpen(CommObjectData* d)
{
    if (d->portOpen)
        ApplyLineSettings(d);
}

std::int32_t modemLine(QcHandle object, std::uint32_t bit)
{
    CommObjectData* d = resolve(object);
    if (!d || !d->portOpen)
        return 0;
    std::uint32_t status = 0;
    if (!serial::GetCommModemStatus(d->port, &status))
        return 0;
    return (status & bit) ? -1 : 0;
}

}  // namespace

QELCOMM_API std::int32_t SetSettings(QcHandle object, const char* text)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return 0;
    LineFraming framing{d->baud, d->parity, d->dataBits, d->stopBits};
    if (!parseSettings(text ? text : "", framing))
        return kSettingsRejected;
    d->baud = framing.baud;
    d->parity = framing.parity;
    d->dataBits = framing.dataBits;
    d->stopBits = framing.stopBits;
    applyIfOpen(d);
    return 0;
}

QELCOMM_API std::int32_t GetSettings(QcHandle object, char* buffer)
{
    CommObjectData* d = resolve(object);
    if (!d || !buffer)
        return 0;
    const std::string text = formatSettings({d->baud, d->parity, d->dataBits, d->stopBits});
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return std::int32_t(text.size());
}

QELCOMM_API void SetHandshaking(QcHandle object, std::int32_t value)
{
    if (CommObjectData* d = resolve(object)) {
        d->handshaking = value;
        applyIfOpen(d);
    }
}

QELCOMM_API std::int32_t GetHandshaking(QcHandle object)
{
    return fieldOf(object, &CommObjectData::handshaking);
}

QELCOMM_API void SetParityReplace(QcHandle object, std::int32_t code)
{
    if (CommObjectData* d = resolve(object)) {
        d->parityReplace = code < 0 ? -1 : code;
        applyIfOpen(d);
    }
}

QELCOMM_API std::int32_t GetParityReplace(QcHandle object)
{
    return fieldOf(object, &CommObjectData::parityReplace);
}

QELCOMM_API void SetDiscardNulls(QcHandle object, std::int32_t flag)
{
    if (CommObjectData* d = resolve(object)) {
        d->nullDiscard = flag;
        applyIfOpen(d);
    }
}

QELCOMM_API std::int32_t GetDiscardNulls(QcHandle object)
{
    return fieldOf(object, &CommObjectData::nullDiscard);
}

QELCOMM_API void SetNullDiscard(QcHandle object, std::int32_t flag)
{
    if (CommObjectData* d = resolve(object))
        d->nullDiscard = flag;
}

QELCOMM_API std::int32_t GetNullDiscard(QcHandle object)
{
    return GetDiscardNulls(object);
}

QELCOMM_API void SetDTR(QcHandle object, std::int32_t flag)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return;
    d->dtrEnable = flag;
    applyIfOpen(d);
    if (d->portKind == PortKind_Serial)
        serial::EscapeCommFunction(d->port, flag ? serial::SETDTR : serial::CLRDTR);
}

QELCOMM_API std::int32_t GetDTR(QcHandle object)
{
    return fieldOf(object, &CommObjectData::dtrEnable);
}

QELCOMM_API void SetRTS(QcHandle object, std::int32_t flag)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return;
    d->rtsEnable = flag;
    if (!d->portOpen)
        return;
    ApplyLineSettings(d);
    serial::EscapeCommFunction(d->port, flag ? serial::SETRTS : serial::CLRRTS);
}

QELCOMM_API std::int32_t GetRTS(QcHandle object)
{
    return fieldOf(object, &CommObjectData::rtsEnable);
}

QELCOMM_API void SetBreak(QcHandle object, std::int32_t flag)
{
    CommObjectData* d = resolve(object);
    if (!d || !d->portOpen)
        return;
    if (flag)
        serial::SetCommBreak(d->port);
    else
        serial::ClearCommBreak(d->port);
}

QELCOMM_API std::int32_t GetBreak(QcHandle object)
{
    CommObjectData* d = resolve(object);
    if (!d || !d->portOpen)
        return 0;
    std::uint32_t mask = 0;
    if (!serial::GetCommMask(d->port, &mask))
        return 0;
    return (mask & serial::EV_BREAK) ? -1 : 0;
}

QELCOMM_API std::int32_t GetCTS(QcHandle object) { return modemLine(object, serial::MS_CTS_ON); }
QELCOMM_API std::int32_t GetDSR(QcHandle object) { return modemLine(object, serial::MS_DSR_ON); }
QELCOMM_API std::int32_t GetCarrier(QcHandle object) { return modemLine(object, serial::MS_RLSD_ON); }

// The time-outs below are kept and reported only; setting one re-applies
// the line settings, which also raises DTR and RTS again.
#define QELCOMM_TIMEOUT_PAIR(Name, field)                                     \
    QELCOMM_API void Set##Name(QcHandle object, std::uint32_t ms)             \
    {                                                                         \
        if (CommObjectData* d = resolve(object)) {                            \
            d->field = ms;                                                    \
            applyIfOpen(d);                                                   \
        }                                                                     \
    }                                                                         \
    QELCOMM_API std::uint32_t Get##Name(QcHandle object)                      \
    {                                                                         \
        return fieldOf(object, &CommObjectData::field);                       \
    }

QELCOMM_TIMEOUT_PAIR(CTSTimeOut, ctsTimeOut)
QELCOMM_TIMEOUT_PAIR(DSRTimeOut, dsrTimeOut)
QELCOMM_TIMEOUT_PAIR(CarrierTimeOut, cdTimeOut)
QELCOMM_TIMEOUT_PAIR(InputTimeOut, inTimeOut)
#undef QELCOMM_TIMEOUT_PAIR

QELCOMM_API void SetDriverInputTimeOut(QcHandle object, std::uint32_t ms)
{
    if (CommObjectData* d = resolve(object))
        d->driverInTimeOut = ms;
}

QELCOMM_CPP_API void SetInputDriverTimeOut(QcHandle object, std::uint32_t ms)
{
    if (CommObjectData* d = resolve(object)) {
        d->driverInTimeOut = ms;
        applyIfOpen(d);
    }
}

QELCOMM_API std::uint32_t GetDriverInputTimeOut(QcHandle object)
{
    return fieldOf(object, &CommObjectData::driverInTimeOut);
}
