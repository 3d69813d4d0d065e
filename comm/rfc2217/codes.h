// The words of RFC 2217's COM-PORT-OPTION (Telnet option 44): the
// subnegotiation commands and their values, as they are on the wire.
#pragma once

#include <cstdint>

namespace rfc2217 {

// IAC SB COM-PORT-OPTION <command> <value...> IAC SE. A client sends these
// codes; a server answers and notifies with the same code plus kServer.
enum class Command : std::uint8_t {
    Signature = 0,            // text; empty asks for the other end's
    SetBaudRate = 1,          // 4 bytes, network order
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,      // server: line state; client: asks for it
    NotifyModemState = 7,     // server: modem state; client: asks for it
    FlowControlSuspend = 8,   // either end: stop sending me data
    FlowControlResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
};
inline constexpr std::uint8_t kServer = 100;

// In SET-BAUDRATE, SET-DATASIZE, SET-PARITY and SET-STOPSIZE a 0 asks for
// the value in force. Data sizes are 5 to 8.
inline constexpr std::uint8_t kQuery = 0;

enum class Parity : std::uint8_t { Query = 0, None = 1, Odd = 2, Even = 3, Mark = 4, Space = 5 };
enum class StopSize : std::uint8_t { Query = 0, One = 1, Two = 2, OnePointFive = 3 };

// SET-CONTROL values, in five groups: outbound (or both ways) flow control,
// BREAK, DTR, RTS, inbound flow control. Each group has its query; the
// answer to a query or a set is the value in force from the same group.
enum class Control : std::uint8_t {
    FlowQuery = 0,
    FlowNone = 1,
    FlowXonXoff = 2,
    FlowHardware = 3,
    BreakQuery = 4,
    BreakOn = 5,
    BreakOff = 6,
    DtrQuery = 7,
    DtrOn = 8,
    DtrOff = 9,
    RtsQuery = 10,
    RtsOn = 11,
    RtsOff = 12,
    InboundFlowQuery = 13,
    InboundFlowNone = 14,
    InboundFlowXonXoff = 15,
    InboundFlowHardware = 16,
    FlowDcd = 17,
    InboundFlowDtr = 18,
    FlowDsr = 19,
};
inline constexpr std::uint8_t kControlCount = 20;

enum class ControlGroup : std::uint8_t { Flow, Break, Dtr, Rts, InboundFlow };
ControlGroup controlGroup(Control c);  // c below kControlCount
bool isQuery(Control c);

// PURGE-DATA. The server's receive buffer holds what came from the serial
// device and is not yet sent to the client; its transmit buffer holds what
// the client sent and is not yet written to the device.
enum class Purge : std::uint8_t { Receive = 1, Transmit = 2, Both = 3 };

// NOTIFY-LINESTATE bits.
namespace line {
inline constexpr std::uint8_t DataReady = 0x01;
inline constexpr std::uint8_t Overrun = 0x02;
inline constexpr std::uint8_t ParityError = 0x04;
inline constexpr std::uint8_t FramingError = 0x08;
inline constexpr std::uint8_t BreakDetect = 0x10;
inline constexpr std::uint8_t HoldingEmpty = 0x20;   // transfer holding register empty
inline constexpr std::uint8_t ShiftEmpty = 0x40;     // transfer shift register empty
inline constexpr std::uint8_t Timeout = 0x80;
// Bits that report an event rather than a level.
inline constexpr std::uint8_t Errors = Overrun | ParityError | FramingError | BreakDetect | Timeout;
}  // namespace line

// NOTIFY-MODEMSTATE bits: the four lines in the high nibble, what changed
// since the last notification in the low one.
namespace modem {
inline constexpr std::uint8_t DeltaCts = 0x01;
inline constexpr std::uint8_t DeltaDsr = 0x02;
inline constexpr std::uint8_t RingEnded = 0x04;  // trailing edge of RI
inline constexpr std::uint8_t DeltaCd = 0x08;
inline constexpr std::uint8_t Cts = 0x10;
inline constexpr std::uint8_t Dsr = 0x20;
inline constexpr std::uint8_t Ring = 0x40;
inline constexpr std::uint8_t Cd = 0x80;         // receive line signal detect
inline constexpr std::uint8_t Lines = 0xF0;
}  // namespace modem

// The masks a server starts with: every modem-state change is notified,
// no line-state change is.
inline constexpr std::uint8_t kDefaultModemStateMask = 0xFF;
inline constexpr std::uint8_t kDefaultLineStateMask = 0x00;

}  // namespace rfc2217
