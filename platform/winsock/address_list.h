// Which peers a listener admits: IPv4 and IPv6 addresses and CIDR ranges,
// written as a comma-separated list ("10.0.0.0/8, 192.168.1.20, fd00::/8").
#pragma once

#include <QHostAddress>

#include <string>
#include <utility>
#include <vector>

namespace lt::winsock {

// An IPv4 peer on a dual-stack socket shows as ::ffff:a.b.c.d: here it is
// a.b.c.d again.  Other addresses pass unchanged.
QHostAddress plainAddress(const QHostAddress& a);

class AddressList {
public:
    // Takes the text; false, with the first entry that is no address or
    // range in why, leaves the list as it was.  An empty text (or one of
    // only commas and spaces) is the empty list.
    bool parse(const std::string& text, std::string* why = nullptr);
    // The empty list admits everyone.
    bool empty() const { return m_ranges.empty(); }
    bool admits(const QHostAddress& peer) const;
    bool admits(const std::string& peer) const;

private:
    std::vector<std::pair<QHostAddress, int>> m_ranges;
};

}  // namespace lt::winsock
