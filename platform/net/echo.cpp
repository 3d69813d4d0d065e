// The platform-independent half of ICMP echo: the time-out, the status
// texts, PingPeer and its test hook.
#include "net/echo.h"

#include "net/echo_p.h"
#include "net/net.h"

#include <cstdio>
#include <limits>
#include <utility>

namespace lt::net {

namespace {
std::int32_t g_echoTimeoutMs = 1000;
std::function<std::int64_t()> g_timeoutSource;
std::function<std::int32_t(const std::string&)> g_pingPeerHook;
std::function<std::string()> g_echoUnavailableHook;
std::function<void(const std::string&)> g_warningHandler;

struct StatusName {
    std::int32_t status;
    const char* text;
};

constexpr StatusName kStatusNames[] = {
    {IP_SUCCESS, "IP Success"},
    {IP_BAD_FORMAT, "Bad IP Format"},
    {IP_BUF_TOO_SMALL, "IP Buffer too_small"},
    {IP_DEST_NET_UNREACHABLE, "IP Dest Net Unreachable"},
    {IP_DEST_HOST_UNREACHABLE, "IP Dest Host Unreachable"},
    {IP_DEST_PROT_UNREACHABLE, "IP Dest Prot Unreachable"},
    {IP_DEST_PORT_UNREACHABLE, "IP Dest Port Unreachable"},
    {IP_NO_RESOURCES, "IP No Resources"},
    {IP_BAD_OPTION, "IP Bad Option"},
    {IP_HW_ERROR, "IP Hardware Error"},
    {IP_PACKET_TOO_BIG, "IP Packet Too Big"},
    {IP_REQ_TIMED_OUT, "IP Request Timed Out"},
    {IP_BAD_REQ, "IP Bad Request"},
    {IP_BAD_ROUTE, "IP Bad Route"},
    {IP_TTL_EXPIRED_TRANSIT, "IP TTL Expired Transit"},
    {IP_TTL_EXPIRED_REASSEM, "IP TTL Expired Reassembly"},
    {IP_PARAM_PROBLEM, "IP Parameter Problem"},
    {IP_SOURCE_QUENCH, "IP Source Quench"},
    {IP_OPTION_TOO_BIG, "IP Option Too Big"},
    {IP_BAD_DESTINATION, "IP Bad Destination"},
    {IP_ADDR_DELETED, "IP Address Deleted"},
    {IP_SPEC_MTU_CHANGE, "IP Spec MTU Change"},
    {IP_MTU_CHANGE, "IP MTU Changed"},
    {IP_UNLOAD, "IP Unload"},
    {IP_ADDR_ADDED, "IP Address Added"},
    {IP_GENERAL_FAILURE, "IP General Failure"},
    {IP_PENDING, "IP Pending"},
};
}  // namespace

void socketsWarning(const std::string& text)
{
    if (g_warningHandler)
        g_warningHandler(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

void SetSocketsWarningHandler(std::function<void(const std::string&)> handler)
{
    g_warningHandler = std::move(handler);
}

std::int32_t EchoTimeoutForPosition(std::int64_t position)
{
    // 64-bit so that any position a configuration file holds cannot overflow.
    const std::int64_t ms = (position + 1) * 100;
    if (ms < 1) return 500;
    return ms > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                        : std::int32_t(ms);
}

void SetPingTimeoutSource(std::function<std::int64_t()> source)
{
    g_timeoutSource = std::move(source);
}

std::int32_t EchoTimeoutMs() { return g_echoTimeoutMs; }

void ResetEchoTimeout() { g_echoTimeoutMs = 1000; }

std::int32_t updateEchoTimeout()
{
    const std::int64_t position = g_timeoutSource ? g_timeoutSource() : 9;
    g_echoTimeoutMs = EchoTimeoutForPosition(position);
    return g_echoTimeoutMs;
}

std::string EchoStatusText(std::int32_t status)
{
    const char* text = nullptr;
    for (const auto& s : kStatusNames)
        if (s.status == status) text = s.text;
    if (!text) text = status == g_echoTimeoutMs ? "Ping Timeout" : "Unknown Message Returned";
    return std::to_string(status) + "   [" + text + "]";
}

std::int32_t PingPeer(const std::string& address)
{
    if (g_pingPeerHook) return g_pingPeerHook(address);
    if (!StartSockets()) return -1;
    EchoReplyBuffer reply;
    const std::int32_t status = SendEcho(address, "Hello", reply);
    StopSockets();
    return status;
}

void SetPingPeerHook(std::function<std::int32_t(const std::string&)> hook)
{
    g_pingPeerHook = std::move(hook);
}

std::string EchoUnavailable()
{
    if (g_echoUnavailableHook) return g_echoUnavailableHook();
    if (g_pingPeerHook) return {};
    return probeIcmpSocket();
}

void SetEchoUnavailableHook(std::function<std::string()> hook)
{
    g_echoUnavailableHook = std::move(hook);
}

std::string ResolveHostAddress(const std::string& name) { return resolveHostAddress(name); }

}  // namespace lt::net
