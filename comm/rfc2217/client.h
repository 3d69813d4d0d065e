// The client end of RFC 2217, without I/O: it encodes the commands for a
// remote serial port and turns the server's bytes into data for the
// program and typed answers and notifications.
//
//   host.toWire()     bytes for the server (data, negotiation, commands)
//   host.toProgram()  data the remote port received
//
// Commands given before the server agreed to COM-PORT-OPTION are held and
// sent once it does, the latest of each kind only (a second baud rate
// replaces the first; DTR and RTS are kinds of their own), in the order
// first given. If the server refuses the option they are dropped.
//
// The host must not destroy the client from inside one of its callbacks.
#pragma once

#include "codes.h"
#include "telnet.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rfc2217 {

class ClientHost {
public:
    virtual ~ClientHost() = default;

    virtual void toWire(const std::uint8_t* bytes, std::size_t n) = 0;
    virtual void toProgram(const std::uint8_t* bytes, std::size_t n) = 0;

    // The server agreed to COM-PORT-OPTION (true), refused it or turned it
    // off again.
    virtual void comPort(bool) {}

    // The server's answers and notifications, values as sent (a server may
    // answer with a value this codec has no name for).
    virtual void signature(std::string_view) {}
    virtual void baudRate(std::uint32_t) {}
    virtual void dataSize(std::uint8_t) {}
    virtual void parity(Parity) {}
    virtual void stopSize(StopSize) {}
    virtual void control(Control) {}
    virtual void lineState(std::uint8_t) {}
    virtual void modemState(std::uint8_t) {}
    virtual void lineStateMask(std::uint8_t) {}
    virtual void modemStateMask(std::uint8_t) {}
    virtual void purged(std::uint8_t) {}  // a Purge, or 0: nothing purged
    // The server asks us to stop (true) or resume sending it data.
    virtual void flowSuspended(bool) {}
};

class Client : private TelnetHost {
public:
    // signature: what a server asking for it is told.
    Client(ClientHost& host, std::string signature);

    // The opening negotiation: BINARY and SUPPRESS-GO-AHEAD both ways, and
    // WILL COM-PORT-OPTION.
    void start();
    void feed(const std::uint8_t* bytes, std::size_t n);
    // Data from the program for the remote port.
    void sendData(const std::uint8_t* bytes, std::size_t n);

    bool comPortEnabled() const;

    // The commands. 0 and the Query values ask for the value in force.
    void requestSignature();
    void setBaudRate(std::uint32_t baud);
    void setDataSize(std::uint8_t bits);
    void setParity(Parity parity);
    void setStopSize(StopSize stop);
    void setControl(Control control);
    void requestLineState();
    void requestModemState();
    void suspendFlow(bool suspend);
    void setLineStateMask(std::uint8_t mask);
    void setModemStateMask(std::uint8_t mask);
    void purge(Purge what);

private:
    void toWire(const std::uint8_t* bytes, std::size_t n) override;
    void received(const std::uint8_t* bytes, std::size_t n) override;
    void subnegotiation(std::uint8_t option, const std::uint8_t* payload, std::size_t n) override;
    void option(std::uint8_t option, Side side, bool on) override;

    void answer(const std::uint8_t* p, std::size_t n);
    void send(Command c, const std::uint8_t* value, std::size_t n);
    void send(Command c, std::uint8_t value);

    struct Held {
        int kind;
        std::vector<std::uint8_t> payload;
    };

    ClientHost& m_host;
    Telnet m_telnet;
    std::string m_signature;
    bool m_comPort = false;
    std::vector<Held> m_held;
};

}  // namespace rfc2217
