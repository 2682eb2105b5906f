#include "app/uAccessRules.h"

#include <gtest/gtest.h>

using namespace zelto;

TEST(AccessList, LetsInOnlyTheListedAddressesAndNetworks) {
    const struct {
        std::string list, client;
        bool allowed;
    } cases[] = {
        {"", "203.0.113.7", true},  // no list: everyone
        {"192.168.1.0/24,10.0.0.5", "192.168.1.200", true},
        {"192.168.1.0/24,10.0.0.5", "192.168.2.1", false},
        {"192.168.1.0/24,10.0.0.5", "10.0.0.5", true},
        {"192.168.1.0/24,10.0.0.5", "10.0.0.6", false},
        {"192.168.1.0/24", "::ffff:192.168.1.9", true},  // IPv4 through an IPv6 socket
        {"192.168.1.0/24", "::ffff:192.168.3.9", false},
        {"::ffff:10.0.0.0/104", "10.1.2.3", true},
        {" 10.0.0.0/8 , 172.16.0.0/12 ", "172.31.255.255", true},
        {"172.16.0.0/12", "172.32.0.0", false},
        {"192.168.1.77/24", "192.168.1.1", true},  // host bits are ignored
        {"10.0.0.5/32", "10.0.0.4", false},
        {"0.0.0.0/0", "198.51.100.1", true},
        {"0.0.0.0/0", "2001:db8::1", false},
        {"fd00::/8", "fd12:3456::1", true},
        {"fd00::/8", "fe80::1%eth0", false},
        {"::/0", "::ffff:10.0.0.1", false},  // an IPv6 network does not take IPv4 clients
        {"::1", "::1", true},
        {"127.0.0.1", "not an address", false},
    };
    for (const auto& c : cases) {
        TAccessList list;
        ASSERT_EQ(list.Parse(c.list), "") << c.list;
        EXPECT_EQ(list.Allows(c.client), c.allowed) << c.list << " / " << c.client;
    }
}

TEST(AccessList, BadEntriesAreNamedAndLeaveTheListEmpty) {
    const struct {
        std::string list, named;
    } cases[] = {
        {"192.168.1.0/33", "'192.168.1.0/33'"},
        {"10.0.0.256", "'10.0.0.256'"},
        {"10.0.0.1,,10.0.0.2", "empty entry"},
        {"10.0.0.1,", "empty entry"},
        {"10.0.0.0/", "'10.0.0.0/'"},
        {"10.0.0.0/8x", "'10.0.0.0/8x'"},
        {"10.0.0.0/-1", "'10.0.0.0/-1'"},
        {"fd00::/129", "'fd00::/129'"},
        {"eth0", "'eth0'"},
        {"10.0.0.1 10.0.0.2", "'10.0.0.1 10.0.0.2'"},
    };
    for (const auto& c : cases) {
        TAccessList list;
        const std::string why = list.Parse(c.list);
        EXPECT_NE(why.find(c.named), std::string::npos) << c.list << ": " << why;
        EXPECT_TRUE(list.Empty()) << c.list;
    }
    EXPECT_TRUE(IsIpAddress("192.168.1.5"));
    EXPECT_TRUE(IsIpAddress("::1"));
    EXPECT_FALSE(IsIpAddress("192.168.1.0/24"));
    EXPECT_FALSE(IsIpAddress("localhost"));
    EXPECT_FALSE(IsIpAddress("fe80::1%eth0"));
}
