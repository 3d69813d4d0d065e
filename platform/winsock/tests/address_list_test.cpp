#include "winsock/address_list.h"

#include <gtest/gtest.h>

using lt::winsock::AddressList;

namespace {
AddressList parsed(const std::string& text)
{
    AddressList list;
    std::string why;
    EXPECT_TRUE(list.parse(text, &why)) << text << ": " << why;
    return list;
}
}  // namespace

TEST(AddressList, EmptyAdmitsEveryone)
{
    for (const char* text : {"", "  ", " , ,"}) {
        const AddressList list = parsed(text);
        EXPECT_TRUE(list.empty());
        EXPECT_TRUE(list.admits("203.0.113.9"));
        EXPECT_TRUE(list.admits("2001:db8::1"));
    }
}

TEST(AddressList, AddressesAndRangesOfBothFamilies)
{
    const AddressList list = parsed(" 127.0.0.1, 10.0.0.0/8,192.168.1.128/25 , fd00::/8, 2001:db8::5 ");
    struct Case {
        const char* peer;
        bool in;
    } cases[] = {
        {"127.0.0.1", true},      {"127.0.0.2", false},     {"10.255.1.2", true},   {"11.0.0.1", false},
        {"192.168.1.128", true},  {"192.168.1.255", true},  {"192.168.1.127", false},
        {"fd12:3456::1", true},   {"fe80::1", false},       {"2001:db8::5", true},  {"2001:db8::6", false},
        // An IPv4 peer seen through a dual-stack socket is the same peer.
        {"::ffff:10.1.2.3", true}, {"::ffff:11.1.2.3", false},
        {"not an address", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(list.admits(c.peer), c.in) << c.peer;
}

TEST(AddressList, HostBitsInARangeAndWholePrefixes)
{
    EXPECT_TRUE(parsed("10.1.2.7/24").admits("10.1.2.200"));
    EXPECT_TRUE(parsed("0.0.0.0/0").admits("198.51.100.1"));
    EXPECT_FALSE(parsed("0.0.0.0/0").admits("2001:db8::1")) << "an IPv4 range holds no IPv6 peer";
    EXPECT_TRUE(parsed("::/0").admits("2001:db8::1"));
    EXPECT_TRUE(parsed("::ffff:10.0.0.0/8").admits("10.9.9.9")) << "a mapped range is its IPv4 range";
}

// A list that does not read must never fall back to admitting everyone:
// the caller refuses to start with it.
TEST(AddressList, RefusesWhatIsNoAddressAndKeepsTheOldList)
{
    AddressList list = parsed("127.0.0.1");
    for (const char* text : {"localhost", "10", "10.1", "10.0.0.0/33", "fd00::/129", "10.0.0.0/", "10.0.0.0/x",
                             "10.0.0.0/-1", "127.0.0.1, 10.0.0.300", "fe80::1%eth0", "1.2.3.4/8/8"}) {
        std::string why;
        EXPECT_FALSE(list.parse(text, &why)) << text;
        EXPECT_FALSE(why.empty()) << text;
        EXPECT_TRUE(list.admits("127.0.0.1")) << text;
        EXPECT_FALSE(list.admits("127.0.0.2")) << text;
    }
}
