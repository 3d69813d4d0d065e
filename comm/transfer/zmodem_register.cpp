// ZModem joins the engine's protocols when the library loads.
#include "transfer_engine.h"
#include "xymodem.h"
#include "zmodem.h"

namespace {

std::unique_ptr<xfer::ByteMachine> makeZModem(xfer::ProtocolHost& host, int, bool sending)
{
    return std::make_unique<xfer::ZModem>(host, sending);
}

const bool g_registered = [] {
    xfer::registerProtocol(xfer::Protocol_ZModem, &makeZModem);
    return true;
}();

}  // namespace
