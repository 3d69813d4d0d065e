// The access-server end of RFC 2217 for one client, without I/O: fed the
// client's bytes, it hands data for the port to its host, asks the host to
// apply each SET command and answers the client with the value in force,
// and turns the port's modem and line state into notifications filtered by
// the client's masks.
//
//   host.toWire()   bytes for the client (data, answers, notifications)
//   host.toPort()   data the client sent, for the serial device
//
// The host must not destroy the server from inside one of its callbacks.
#pragma once

#include "codes.h"
#include "telnet.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace rfc2217 {

class ServerHost {
public:
    virtual ~ServerHost() = default;

    virtual void toWire(const std::uint8_t* bytes, std::size_t n) = 0;
    virtual void toPort(const std::uint8_t* bytes, std::size_t n) = 0;

    // The client's SET commands. Each applies the request and returns the
    // value in force afterwards, which is what the client is answered. A
    // query (0, or a group's query) only asks. Values the RFC does not
    // define never reach the host: they arrive as the query.
    virtual std::uint32_t baudRate(std::uint32_t requested) = 0;
    virtual std::uint8_t dataSize(std::uint8_t requested) = 0;  // 0, or 5 to 8
    virtual Parity parity(Parity requested) = 0;
    virtual StopSize stopSize(StopSize requested) = 0;
    // Any of the twenty values; return a value of the same group (BreakOn
    // or BreakOff for BreakQuery, and so on).
    virtual Control control(Control requested) = 0;
    virtual void purge(Purge what) = 0;

    // The client asks us to stop (true) or resume sending it data.
    virtual void flowSuspended(bool) {}
    // The client told its signature.
    virtual void clientSignature(std::string_view) {}
    // COM-PORT-OPTION was agreed (true) or turned off again.
    virtual void comPort(bool) {}
};

class Server : private TelnetHost {
public:
    // signature: what a client asking for it is told (product and port).
    Server(ServerHost& host, std::string signature);

    // The opening negotiation: BINARY and SUPPRESS-GO-AHEAD both ways, and
    // DO COM-PORT-OPTION.
    void start();
    void feed(const std::uint8_t* bytes, std::size_t n);
    // Data from the serial device for the client.
    void sendData(const std::uint8_t* bytes, std::size_t n);

    bool comPortEnabled() const;

    // The device's modem lines (modem::Cd, Ring, Dsr, Cts; other bits are
    // ignored). A change the client's mask covers is notified at once,
    // with the delta bits computed here. Set the lines before the client
    // negotiates: the first notification, sent when COM-PORT-OPTION is
    // agreed, reports them.
    void setModemState(std::uint8_t lines);
    // The line state (line:: bits). Level bits are notified when they
    // change; error bits each time they are reported. Both through the mask.
    void setLineState(std::uint8_t state);
    // FLOWCONTROL-SUSPEND (true) or -RESUME to the client.
    void suspendFlow(bool suspend);

    std::uint8_t modemStateMask() const { return m_modemMask; }
    std::uint8_t lineStateMask() const { return m_lineMask; }

private:
    void toWire(const std::uint8_t* bytes, std::size_t n) override;
    void received(const std::uint8_t* bytes, std::size_t n) override;
    void subnegotiation(std::uint8_t option, const std::uint8_t* payload, std::size_t n) override;
    void option(std::uint8_t option, Side side, bool on) override;

    void command(const std::uint8_t* p, std::size_t n);
    void reply(Command c, const std::uint8_t* value, std::size_t n);
    void reply(Command c, std::uint8_t value);
    void notifyModemState(std::uint8_t value);

    ServerHost& m_host;
    Telnet m_telnet;
    std::string m_signature;
    bool m_comPort = false;
    std::uint8_t m_modemLines = 0;
    std::uint8_t m_lineLevels = 0;
    std::uint8_t m_modemMask = kDefaultModemStateMask;
    std::uint8_t m_lineMask = kDefaultLineStateMask;
};

}  // namespace rfc2217
