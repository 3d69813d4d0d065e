#include "net/net.h"

#include <QNetworkInterface>
#include <set>

#include <gtest/gtest.h>

using namespace lt::net;

TEST(Dotted, ParseAndFormat)
{
    EXPECT_EQ(*parseDotted("10.0.0.5"), 0x0A000005u);
    EXPECT_EQ(*parseDotted(" 255.255.255.255 "), 0xFFFFFFFFu);
    EXPECT_EQ(formatDotted(0xC0A80101u), "192.168.1.1");
    EXPECT_EQ(formatDotted(*parseDotted("1.2.3.4")), "1.2.3.4");
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "1.2.3.4x", "a.b.c.d", "1.2.3.0004"})
        EXPECT_FALSE(parseDotted(bad)) << bad;
}

TEST(Lookup, DottedAddressResolvesToItself)
{
    EXPECT_EQ(resolveHostAddress("10.0.0.5"), "10.0.0.5");
    EXPECT_EQ(resolveHostAddress("127.0.0.1"), "127.0.0.1");
}

TEST(Lookup, LocalhostAndFailures)
{
    auto l = lookupHost("localhost");
    ASSERT_FALSE(l.empty());
    EXPECT_EQ(l.front().rfind("127.", 0), 0u);
    EXPECT_EQ(resolveHostAddress(""), "");
    EXPECT_EQ(resolveHostAddress("no-such-host.invalid"), "");
}

TEST(Lookup, LocalAddressesAreDistinctDottedIPv4)
{
    EXPECT_FALSE(localHostName().empty());
    auto addrs = listLocalAddresses();
    ASSERT_FALSE(addrs.empty());
    for (std::size_t i = 0; i < addrs.size(); ++i) {
        EXPECT_TRUE(parseDotted(addrs[i])) << addrs[i];
        for (std::size_t j = i + 1; j < addrs.size(); ++j) EXPECT_NE(addrs[i], addrs[j]);
    }
}

TEST(Lookup, LocalAddressesAreTheInterfacesWithLoopbackOnlyAlone)
{
    // Qt reads the interfaces through netlink: an independent account.
    std::set<std::string> others, loop;
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        if (!(i.flags() & QNetworkInterface::IsUp)) continue;
        for (const QNetworkAddressEntry& e : i.addressEntries()) {
            if (e.ip().protocol() != QAbstractSocket::IPv4Protocol) continue;
            ((i.flags() & QNetworkInterface::IsLoopBack) ? loop : others).insert(e.ip().toString().toStdString());
        }
    }
    const auto addrs = listLocalAddresses();
    const std::set<std::string> got(addrs.begin(), addrs.end());
    EXPECT_EQ(got.size(), addrs.size());
    EXPECT_EQ(got, others.empty() ? loop : others);
}
