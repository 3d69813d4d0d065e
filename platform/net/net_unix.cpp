#include "net/net.h"

#include <algorithm>
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lt::net {

namespace {
std::string trim(const std::string& s)
{
    auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}
}  // namespace

std::string localHostName()
{
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return {};
    return trim(buf);
}

std::vector<std::string> lookupHost(const std::string& name)
{
    std::vector<std::string> out;
    std::string host = trim(name);
    if (host.empty()) return out;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;   // one entry per address
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0) return out;
    for (addrinfo* p = res; p; p = p->ai_next) {
        if (p->ai_family != AF_INET) continue;
        auto* sin = reinterpret_cast<sockaddr_in*>(p->ai_addr);
        std::string text = formatDotted(ntohl(sin->sin_addr.s_addr));
        if (std::find(out.begin(), out.end(), text) == out.end()) out.push_back(text);
    }
    freeaddrinfo(res);
    return out;
}

std::string resolveHostAddress(const std::string& name)
{
    auto all = lookupHost(name);
    return all.empty() ? std::string() : all.front();
}

std::vector<std::string> listLocalAddresses()
{
    // The interfaces' own addresses: resolving the host name would give
    // whatever /etc/hosts says (often only a loopback address).
    std::vector<std::string> out, loopback;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs* p = list; p; p = p->ifa_next) {
            if (!p->ifa_addr || p->ifa_addr->sa_family != AF_INET || !(p->ifa_flags & IFF_UP)) continue;
            auto* sin = reinterpret_cast<sockaddr_in*>(p->ifa_addr);
            std::string text = formatDotted(ntohl(sin->sin_addr.s_addr));
            auto& into = (p->ifa_flags & IFF_LOOPBACK) ? loopback : out;
            if (std::find(into.begin(), into.end(), text) == into.end()) into.push_back(text);
        }
        freeifaddrs(list);
    }
    if (out.empty()) out = loopback;
    if (out.empty()) out.push_back("127.0.0.1");
    return out;
}

std::optional<std::uint32_t> parseDotted(const std::string& text)
{
    // Strictly four decimal parts 0..255; inet_addr's octal and short forms
    // would turn "010.0.0.1" or "10.1" into surprising addresses.
    std::uint32_t value = 0;
    int parts = 0;
    std::size_t i = 0;
    const std::string t = trim(text);
    while (parts < 4) {
        if (i >= t.size() || t[i] < '0' || t[i] > '9') return std::nullopt;
        unsigned part = 0;
        int digits = 0;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
            part = part * 10 + unsigned(t[i] - '0');
            if (++digits > 3 || part > 255) return std::nullopt;
            ++i;
        }
        value = (value << 8) | part;
        if (++parts < 4) {
            if (i >= t.size() || t[i] != '.') return std::nullopt;
            ++i;
        }
    }
    if (i != t.size()) return std::nullopt;
    return value;
}

std::string formatDotted(std::uint32_t a)
{
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." +
           std::to_string((a >> 8) & 0xFF) + "." + std::to_string(a & 0xFF);
}

}  // namespace lt::net
