// ZModem joins the engine's protocols when the library loads.
#include "transfer_engine.h"
#include "xymodem.h"
#include "zmodem.h"

namespace {

std::unique_ptr<xfer::ByteMachine> makeZModem(xfer::ProtocolHost& host, int, bool sending)
{
    // The garbage limit grows with the line's speed.
    const std::uint32_t baud = host.lineBaud();
    return std::make_unique<xfer::ZModem>(host, sending, baud ? int(baud) : xfer::zm::kDefaultBaud);
}

const bool g_registered = [] {
    xfer::registerProtocol(xfer::Protocol_ZModem, &makeZModem);
    return true;
}();

}  // namespace
