// ICMP echo over Linux sockets: a datagram ICMP socket where the kernel
// allows one (net.ipv4.ping_group_range), else a raw ICMP socket.
#include "net/echo.h"

#include "net/echo_p.h"
#include "net/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lt::net {

namespace {
int g_socketsStarted = 0;
std::uint16_t g_sequence = 0;
std::string g_unavailableReason;

using Clock = std::chrono::steady_clock;

// Closes the descriptor on every way out of SendEcho.
struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0) ::close(fd);
    }
};

std::uint16_t checksum(const std::uint8_t* p, std::size_t n)
{
    std::uint32_t sum = 0;
    for (; n > 1; p += 2, n -= 2) sum += std::uint32_t(p[0]) << 8 | p[1];
    if (n) sum += std::uint32_t(p[0]) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return htons(std::uint16_t(~sum));
}

// The platform's IP status for an errno of a send, a receive or a locally
// raised error.
std::int32_t statusFromErrno(int e)
{
    switch (e) {
    case ENETUNREACH:
    case ENETDOWN: return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH:
    case EHOSTDOWN: return IP_DEST_HOST_UNREACHABLE;
    case ENOPROTOOPT: return IP_DEST_PROT_UNREACHABLE;
    case ECONNREFUSED: return IP_DEST_PORT_UNREACHABLE;
    case EMSGSIZE: return IP_PACKET_TOO_BIG;
    case EOPNOTSUPP: return IP_BAD_ROUTE;
    case ENOBUFS:
    case ENOMEM:
    case EMFILE:
    case ENFILE: return IP_NO_RESOURCES;
    case EINVAL: return IP_BAD_REQ;
    default: return IP_GENERAL_FAILURE;
    }
}

// The platform's IP status for an ICMP error message.
std::int32_t statusFromIcmp(int type, int code)
{
    switch (type) {
    case ICMP_DEST_UNREACH:
        switch (code) {
        case ICMP_NET_UNREACH:
        case ICMP_NET_UNKNOWN:
        case ICMP_NET_ANO:
        case ICMP_NET_UNR_TOS: return IP_DEST_NET_UNREACHABLE;
        case ICMP_PROT_UNREACH: return IP_DEST_PROT_UNREACHABLE;
        case ICMP_PORT_UNREACH: return IP_DEST_PORT_UNREACHABLE;
        case ICMP_FRAG_NEEDED: return IP_PACKET_TOO_BIG;
        case ICMP_SR_FAILED: return IP_BAD_ROUTE;
        default: return IP_DEST_HOST_UNREACHABLE;
        }
    case ICMP_TIME_EXCEEDED:
        return code == ICMP_EXC_FRAGTIME ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case ICMP_PARAMETERPROB: return IP_PARAM_PROBLEM;
    case ICMP_SOURCE_QUENCH: return IP_SOURCE_QUENCH;
    default: return IP_GENERAL_FAILURE;
    }
}

bool isIcmpError(int type)
{
    return type == ICMP_DEST_UNREACH || type == ICMP_TIME_EXCEEDED || type == ICMP_PARAMETERPROB ||
           type == ICMP_SOURCE_QUENCH;
}

// Opens a datagram ICMP socket, else a raw one.  On failure returns -1 with
// the reason and the errno that decides the status.
int openIcmpSocket(bool& raw, std::string& reason, int& err)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0) {
        raw = false;
        return fd;
    }
    const int dgramErr = errno;
    fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0) {
        raw = true;
        return fd;
    }
    err = errno;
    reason = std::string("datagram ICMP socket: ") + std::strerror(dgramErr) +
             " (this group is outside net.ipv4.ping_group_range); raw ICMP socket: " +
             std::strerror(err) + " (needs CAP_NET_RAW)";
    // Out of descriptors or memory on both: say so rather than a general failure.
    if (statusFromErrno(dgramErr) != IP_NO_RESOURCES) err = dgramErr;
    return -1;
}

// Copies what arrived into the reply and returns its status.
std::int32_t finish(EchoReplyBuffer& reply, std::int32_t status, std::uint32_t from,
                    Clock::time_point start, const std::uint8_t* data, std::size_t size)
{
    reply.Status = status;
    reply.Address = from;
    reply.RoundTripTime = std::uint32_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    const std::size_t n = size < kEchoDataArea ? size : kEchoDataArea;
    reply.DataSize = std::uint16_t(n);
    if (n) std::memcpy(reply.Data.data(), data, n);
    return status;
}

// Reads one queued error of a datagram socket.  Returns true with the status
// when there was one.
bool readErrorQueue(int fd, std::int32_t& status, std::uint32_t& from)
{
    std::uint8_t payload[576];
    std::uint8_t control[512];
    sockaddr_in target{};
    iovec iov{payload, sizeof payload};
    msghdr msg{};
    msg.msg_name = &target;
    msg.msg_namelen = sizeof target;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    if (::recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) return false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR) continue;
        const auto* ee = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
        if (ee->ee_origin == SO_EE_ORIGIN_ICMP) {
            status = statusFromIcmp(ee->ee_type, ee->ee_code);
            const auto* off = reinterpret_cast<const sockaddr_in*>(SO_EE_OFFENDER(ee));
            from = off->sin_family == AF_INET ? ntohl(off->sin_addr.s_addr) : 0;
        } else {
            status = statusFromErrno(int(ee->ee_errno));
            from = 0;
        }
        return true;
    }
    return false;
}
}  // namespace

bool StartSockets()
{
    // Nothing to load on this platform; the library "answers" when a socket
    // can be made (not in a sandbox that forbids them, not out of descriptors).
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ::close(fd);
    ++g_socketsStarted;
    return true;
}

bool StopSockets()
{
    if (g_socketsStarted == 0) {
        socketsWarning("Windows Sockets error occurred in Cleanup.");
        return false;
    }
    --g_socketsStarted;
    return true;
}

std::string EchoUnavailableReason() { return g_unavailableReason; }

std::string probeIcmpSocket()
{
    bool raw = false;
    int err = 0;
    std::string reason;
    Fd sock;
    sock.fd = openIcmpSocket(raw, reason, err);
    return reason;
}

std::int32_t SendEcho(const std::string& address, const std::string& data, EchoReplyBuffer& reply)
{
    const std::int32_t timeoutMs = updateEchoTimeout();
    g_unavailableReason.clear();
    reply.Status = 0;

    const auto dest = parseDotted(address);
    if (!dest) return reply.Status = IP_BAD_FORMAT;
    // The echoed data has to fit the reply's data area.
    if (data.size() > kEchoDataArea) return reply.Status = IP_BUF_TOO_SMALL;

    bool raw = false;
    int openErr = 0;
    Fd sock;
    sock.fd = openIcmpSocket(raw, g_unavailableReason, openErr);
    if (sock.fd < 0) {
        const std::int32_t s = statusFromErrno(openErr);
        return reply.Status = (s == IP_NO_RESOURCES ? s : IP_GENERAL_FAILURE);
    }
    if (!raw) {
        const int on = 1;
        ::setsockopt(sock.fd, SOL_IP, IP_RECVERR, &on, sizeof on);
    }

    // Request: ICMP header and data.  A datagram socket replaces the
    // identifier with its own and fills the checksum again.
    const std::uint16_t id = std::uint16_t(::getpid());
    const std::uint16_t seq = ++g_sequence;
    std::uint8_t packet[sizeof(icmphdr) + kEchoDataArea] = {};
    auto* hdr = reinterpret_cast<icmphdr*>(packet);
    hdr->type = ICMP_ECHO;
    hdr->un.echo.id = htons(id);
    hdr->un.echo.sequence = htons(seq);
    std::memcpy(packet + sizeof(icmphdr), data.data(), data.size());
    const std::size_t packetSize = sizeof(icmphdr) + data.size();
    hdr->checksum = checksum(packet, packetSize);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(*dest);
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::milliseconds(timeoutMs);
    if (::sendto(sock.fd, packet, packetSize, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
        return reply.Status = statusFromErrno(errno);

    std::uint8_t in[65536];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return reply.Status = IP_REQ_TIMED_OUT;
        pollfd p{sock.fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(left) + 1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return reply.Status = statusFromErrno(errno);
        if (ready == 0) continue;

        if (p.revents & POLLERR) {
            std::int32_t status = IP_GENERAL_FAILURE;
            std::uint32_t from = 0;
            if (!raw && readErrorQueue(sock.fd, status, from))
                return finish(reply, status, from, start, nullptr, 0);
            int soErr = 0;
            socklen_t len = sizeof soErr;
            ::getsockopt(sock.fd, SOL_SOCKET, SO_ERROR, &soErr, &len);
            if (soErr) return finish(reply, statusFromErrno(soErr), 0, start, nullptr, 0);
            if (!(p.revents & POLLIN)) continue;
        }

        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n =
            ::recvfrom(sock.fd, in, sizeof in, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            return finish(reply, statusFromErrno(errno), 0, start, nullptr, 0);
        }
        const std::uint32_t source = ntohl(from.sin_addr.s_addr);
        const std::uint8_t* icmp = in;
        std::size_t icmpSize = std::size_t(n);
        if (raw) {
            // A raw socket sees every ICMP message of the host, IP header first.
            if (icmpSize < sizeof(iphdr)) continue;
            const std::size_t ihl = std::size_t(in[0] & 0x0F) * 4;
            if (ihl < sizeof(iphdr) || icmpSize < ihl) continue;
            icmp += ihl;
            icmpSize -= ihl;
        }
        if (icmpSize < sizeof(icmphdr)) continue;
        icmphdr h;
        std::memcpy(&h, icmp, sizeof h);

        if (h.type == ICMP_ECHOREPLY) {
            if (ntohs(h.un.echo.sequence) != seq) continue;
            if (raw && ntohs(h.un.echo.id) != id) continue;
            return finish(reply, IP_SUCCESS, source, start, icmp + sizeof(icmphdr),
                          icmpSize - sizeof(icmphdr));
        }
        if (raw && isIcmpError(h.type)) {
            // The error quotes the IP header and first 8 bytes of our request.
            const std::uint8_t* quoted = icmp + sizeof(icmphdr);
            const std::size_t quotedSize = icmpSize - sizeof(icmphdr);
            if (quotedSize < sizeof(iphdr)) continue;
            const std::size_t qihl = std::size_t(quoted[0] & 0x0F) * 4;
            if (qihl < sizeof(iphdr) || quotedSize < qihl + sizeof(icmphdr)) continue;
            if (quoted[9] != IPPROTO_ICMP) continue;
            icmphdr q;
            std::memcpy(&q, quoted + qihl, sizeof q);
            if (q.type != ICMP_ECHO || ntohs(q.un.echo.id) != id || ntohs(q.un.echo.sequence) != seq)
                continue;
            return finish(reply, statusFromIcmp(h.type, h.code), source, start, nullptr, 0);
        }
        // Anything else (our own request on loopback, other programs' pings) is not ours.
    }
}

}  // namespace lt::net
