// Telnet (RFC 854, 855) as a byte machine. Fed what the peer sent, it hands
// out data, subnegotiations and the other commands, and answers option
// negotiation by itself. It does no I/O: every byte for the peer goes out
// through the host.
//
// Negotiation follows RFC 1143's rules without the states for turning an
// option off from our side, which this codec never asks for: a request for
// a state the option is already in, or the peer's answer to our own
// request, is never answered, so two ends cannot loop. Options not marked
// supported are refused (WONT/DONT).
//
// Data goes through unchanged in both directions apart from 255, which is
// doubled on the wire. BINARY is asked for both ways at the start, so no CR
// or NUL translation is done even while a peer has not agreed to it (RFC
// 2217 peers send 8-bit data raw).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rfc2217 {

namespace tn {
inline constexpr std::uint8_t SE = 240;
inline constexpr std::uint8_t NOP = 241;
inline constexpr std::uint8_t BRK = 243;
inline constexpr std::uint8_t GA = 249;
inline constexpr std::uint8_t SB = 250;
inline constexpr std::uint8_t WILL = 251;
inline constexpr std::uint8_t WONT = 252;
inline constexpr std::uint8_t DO = 253;
inline constexpr std::uint8_t DONT = 254;
inline constexpr std::uint8_t IAC = 255;

inline constexpr std::uint8_t BINARY = 0;    // RFC 856
inline constexpr std::uint8_t ECHO = 1;      // RFC 857, refused here
inline constexpr std::uint8_t SGA = 3;       // RFC 858, SUPPRESS-GO-AHEAD
inline constexpr std::uint8_t COM_PORT = 44;  // RFC 2217
}  // namespace tn

// Who performs an option: Local is this end (we send WILL/WONT, the peer
// DO/DONT), Remote is the peer.
enum class Side : std::uint8_t { Local, Remote };

class TelnetHost {
public:
    virtual ~TelnetHost() = default;
    // Bytes for the peer: escaped data, negotiation, subnegotiations.
    virtual void toWire(const std::uint8_t* bytes, std::size_t n) = 0;
    // Data the peer sent, 255s already undoubled.
    virtual void received(const std::uint8_t* bytes, std::size_t n) = 0;
    // A complete IAC SB <option> ... IAC SE, payload undoubled. Only for
    // payloads up to Telnet::kMaxSubnegotiation bytes; longer ones are
    // dropped whole.
    virtual void subnegotiation(std::uint8_t option, const std::uint8_t* payload, std::size_t n) = 0;
    // An option went on or off; on == false also when the peer refused a
    // request of ours.
    virtual void option(std::uint8_t, Side, bool) {}
    // IAC followed by NOP, DM, BRK, IP, AO, AYT, EC, EL or GA.
    virtual void command(std::uint8_t) {}
};

class Telnet {
public:
    static constexpr std::size_t kMaxSubnegotiation = 256;

    explicit Telnet(TelnetHost& host);

    // Options agreed to when the peer asks: local for its DO, remote for
    // its WILL.
    void support(std::uint8_t option, bool local, bool remote);
    // Asks the peer to turn an option on (WILL for Local, DO for Remote);
    // marks it supported on that side.
    void request(std::uint8_t option, Side side);
    bool enabled(std::uint8_t option, Side side) const;

    void feed(const std::uint8_t* bytes, std::size_t n);

    void sendData(const std::uint8_t* bytes, std::size_t n);
    void sendSubnegotiation(std::uint8_t option, const std::uint8_t* payload, std::size_t n);

private:
    enum class State : std::uint8_t { Data, Iac, Verb, SbOption, SbData, SbIac };
    // RFC 1143's NO, YES and WANTYES.
    enum class Q : std::uint8_t { No, Yes, WantYes };
    struct Option {
        Q local = Q::No;
        Q remote = Q::No;
        bool supportLocal = false;
        bool supportRemote = false;
    };

    void step(std::uint8_t b);
    void afterIac(std::uint8_t b);
    void negotiate(std::uint8_t verb, std::uint8_t option);
    void send3(std::uint8_t verb, std::uint8_t option);
    std::size_t gather(const std::uint8_t* bytes, std::size_t i, std::size_t n);
    void flushReceived();

    // 255s closer than this make the copies run byte by byte, for a stretch.
    static constexpr std::size_t kDenseRun = 8;
    static constexpr std::size_t kDenseStretch = 256;

    TelnetHost& m_host;
    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    int m_sbOption = -1;          // -1: IAC SB IAC, no option named
    bool m_sbTooLong = false;
    std::vector<std::uint8_t> m_sb;
    std::vector<std::uint8_t> m_out;
    std::vector<std::uint8_t> m_in;   // data gathered across doubled 255s: m_inLen bytes
    std::size_t m_inLen = 0;
    std::array<Option, 256> m_options{};
};

}  // namespace rfc2217
