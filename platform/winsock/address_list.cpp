#include "winsock/address_list.h"

#include <algorithm>

namespace lt::winsock {
namespace {

std::string trimmed(const std::string& s)
{
    const std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// A whole literal address: Qt alone would also take "10" or "10.1" as
// shortened IPv4 forms, which nobody writing an allow-list means.
bool literal(const std::string& text, QHostAddress& out)
{
    const QString q = QString::fromStdString(text);
    if (!out.setAddress(q) || !out.scopeId().isEmpty())
        return false;
    if (out.protocol() == QAbstractSocket::IPv4Protocol)
        return std::count(text.begin(), text.end(), '.') == 3;
    return true;
}

}  // namespace

QHostAddress plainAddress(const QHostAddress& a)
{
    if (a.protocol() != QAbstractSocket::IPv6Protocol)
        return a;
    const Q_IPV6ADDR b = a.toIPv6Address();
    for (int i = 0; i < 10; ++i)
        if (b[i] != 0)
            return a;
    if (b[10] != 0xff || b[11] != 0xff)
        return a;
    return QHostAddress(quint32(b[12]) << 24 | quint32(b[13]) << 16 | quint32(b[14]) << 8 | b[15]);
}

bool AddressList::parse(const std::string& text, std::string* why)
{
    std::vector<std::pair<QHostAddress, int>> ranges;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string entry = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (entry.empty())
            continue;
        const std::size_t slash = entry.find('/');
        QHostAddress address;
        if (!literal(trimmed(entry.substr(0, slash)), address)) {
            if (why)
                *why = "\"" + entry + "\" is not an IP address or range";
            return false;
        }
        address = plainAddress(address);
        const int bits = address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
        int prefix = bits;
        if (slash != std::string::npos) {
            const std::string p = trimmed(entry.substr(slash + 1));
            if (p.empty() || p.size() > 3 || p.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(p) > bits) {
                if (why)
                    *why = "\"" + entry + "\" has no prefix length from 0 to " + std::to_string(bits);
                return false;
            }
            prefix = std::stoi(p);
        }
        ranges.emplace_back(address, prefix);
    }
    m_ranges = std::move(ranges);
    return true;
}

bool AddressList::admits(const QHostAddress& peer) const
{
    if (m_ranges.empty())
        return true;
    const QHostAddress p = plainAddress(peer);
    for (const auto& [address, prefix] : m_ranges)
        if (p.isInSubnet(address, prefix))
            return true;
    return false;
}

bool AddressList::admits(const std::string& peer) const
{
    return admits(QHostAddress(QString::fromStdString(peer)));
}

}  // namespace lt::winsock
