// ICMP echo requests (one request, one reply) and the socket library
// start/stop around them, with the status codes and texts the callers show.
//
// Everything here is meant for the user-interface thread: SendEcho blocks
// its caller for up to EchoTimeoutMs().
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace lt::net {

// Status of an echo request.  0 means a reply arrived; -1 means the address
// was not a dotted address; the rest are the IP status codes of the platform's
// ICMP service.
constexpr std::int32_t IP_SUCCESS = 0;
constexpr std::int32_t IP_BAD_FORMAT = -1;
constexpr std::int32_t IP_BUF_TOO_SMALL = 11001;
constexpr std::int32_t IP_DEST_NET_UNREACHABLE = 11002;
constexpr std::int32_t IP_DEST_HOST_UNREACHABLE = 11003;
constexpr std::int32_t IP_DEST_PROT_UNREACHABLE = 11004;
constexpr std::int32_t IP_DEST_PORT_UNREACHABLE = 11005;
constexpr std::int32_t IP_NO_RESOURCES = 11006;
constexpr std::int32_t IP_BAD_OPTION = 11007;
constexpr std::int32_t IP_HW_ERROR = 11008;
constexpr std::int32_t IP_PACKET_TOO_BIG = 11009;
constexpr std::int32_t IP_REQ_TIMED_OUT = 11010;
constexpr std::int32_t IP_BAD_REQ = 11011;
constexpr std::int32_t IP_BAD_ROUTE = 11012;
constexpr std::int32_t IP_TTL_EXPIRED_TRANSIT = 11013;
constexpr std::int32_t IP_TTL_EXPIRED_REASSEM = 11014;
constexpr std::int32_t IP_PARAM_PROBLEM = 11015;
constexpr std::int32_t IP_SOURCE_QUENCH = 11016;
constexpr std::int32_t IP_OPTION_TOO_BIG = 11017;
constexpr std::int32_t IP_BAD_DESTINATION = 11018;
constexpr std::int32_t IP_ADDR_DELETED = 11019;
constexpr std::int32_t IP_SPEC_MTU_CHANGE = 11020;
constexpr std::int32_t IP_MTU_CHANGE = 11021;
constexpr std::int32_t IP_UNLOAD = 11022;
constexpr std::int32_t IP_ADDR_ADDED = 11023;
constexpr std::int32_t IP_GENERAL_FAILURE = 11050;
constexpr std::int32_t IP_PENDING = 11255;

// Size of the area behind the reply record that receives the echoed data.
constexpr std::size_t kEchoDataArea = 250;

// The reply to one echo request, followed by the area for the echoed data.
// A default-constructed buffer is cleared, as SendEcho expects it.
struct EchoReplyBuffer {
    std::uint32_t Address = 0;        // replying address, host order (a.b.c.d is a<<24 | ...)
    std::int32_t Status = 0;          // same value SendEcho returns
    std::uint32_t RoundTripTime = 0;  // milliseconds
    std::uint16_t DataSize = 0;       // bytes of echoed data in Data
    std::array<std::uint8_t, kEchoDataArea> Data{};
};

// Starts the socket library; true when it answers (a socket can be made).
// Every successful start needs one StopSockets.
bool StartSockets();

// Stops the socket library.  A stop without a matching start fails: the
// warning "Windows Sockets error occurred in Cleanup." goes to the warning
// handler and the result is false.
bool StopSockets();

// Where StopSockets' warning goes; the default writes it to standard error.
// The application installs one that shows a warning message box.
void SetSocketsWarningHandler(std::function<void(const std::string& text)> handler);

// The echo time-out for a ping time-out list position: (position + 1) x 100 ms,
// 500 when that is below 1.
std::int32_t EchoTimeoutForPosition(std::int64_t position);

// Where the current ping time-out position is read before every echo request
// (the global option PingTimeout).  The application installs
//   lt::net::SetPingTimeoutSource([] { return lintrel::GlobalOptions.PingTimeout; });
// Until then the position is 9 (1000 ms).
void SetPingTimeoutSource(std::function<std::int64_t()> source);

// The program-wide echo time-out in ms: the value the last echo request
// computed, or 1000 after ResetEchoTimeout.  Used by EchoStatusText.
std::int32_t EchoTimeoutMs();

// Sets the echo time-out to 1000 ms; a session window calls it when it opens,
// so the time-out holds 1000 before the first echo request.
void ResetEchoTimeout();

// One echo request to a dotted address carrying the bytes of data, waiting
// up to the echo time-out (recomputed first from the ping time-out source).
// Fills reply and returns its status: IP_SUCCESS when the reply arrived,
// IP_BAD_FORMAT for an address that is not dotted (nothing is sent),
// IP_BUF_TOO_SMALL for data longer than kEchoDataArea (nothing is sent),
// IP_REQ_TIMED_OUT when no answer came in time, an unreachable or other
// code from an ICMP error, and IP_GENERAL_FAILURE (or IP_NO_RESOURCES when
// out of descriptors or memory) when no ICMP socket could be opened at all:
// neither a datagram ICMP socket (allowed by net.ipv4.ping_group_range) nor
// a raw one (needs CAP_NET_RAW).  Needs the socket library started.
std::int32_t SendEcho(const std::string& address, const std::string& data, EchoReplyBuffer& reply);

// Why the last SendEcho could not open an ICMP socket; empty when it could
// (or when it returned before needing one).
std::string EchoUnavailableReason();

// Whether this process may send echo requests at all: empty when an ICMP
// socket of either kind can be opened, else why not (as
// EchoUnavailableReason words it).  Opens and closes a socket, sends nothing.
// Empty while a PingPeer hook is set, since the echoes are simulated then.
std::string EchoUnavailable();

// Test hook: while set, EchoUnavailable returns hook().  Pass an empty
// function to remove it.
void SetEchoUnavailableHook(std::function<std::string()> hook);

// "<status>   [<text>]", the text from the IP status table; a status equal to
// the current EchoTimeoutMs() that is not in the table reads "Ping Timeout",
// anything else "Unknown Message Returned".
std::string EchoStatusText(std::int32_t status);

// One echo with the data "Hello" to a peer, between StartSockets and
// StopSockets; -1 when the socket library does not start.  0 means the peer
// answered.
std::int32_t PingPeer(const std::string& address);

// Test hook: while set, PingPeer returns hook(address) and sends nothing.
// Pass an empty function to remove it.
void SetPingPeerHook(std::function<std::int32_t(const std::string& address)> hook);

// First IPv4 address of a host in dotted decimal, empty when the name does
// not resolve; a dotted address resolves to itself.
std::string ResolveHostAddress(const std::string& name);

}  // namespace lt::net
