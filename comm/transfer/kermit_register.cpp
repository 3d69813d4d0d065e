// Kermit joins the engine's protocols when the library loads.
#include "kermit.h"
#include "transfer_engine.h"
#include "xymodem.h"

namespace {

std::unique_ptr<xfer::ByteMachine> makeKermit(xfer::ProtocolHost& host, int, bool sending)
{
    return std::make_unique<xfer::Kermit>(host, sending);
}

const bool g_registered = [] {
    xfer::registerProtocol(xfer::Protocol_Kermit, &makeKermit);
    return true;
}();

}  // namespace
