#include "net/uEthernetUtils.h"

#include <gtest/gtest.h>

#include "net/PrivateNetwork.h"
#include "net/uAdapterQuery.h"

using namespace zelto;

TEST(DottedQuad, ValidityTable) {
    const std::pair<const char*, bool> cases[] = {
        {"0.0.0.0", true},         {"255.255.255.255", true}, {"192.168.1.10", true},
        {"010.001.0.9", true},     {"256.1.1.1", false},      {"11.22.33", false},
        {"1.2.3.4.", false},       {"1..2.3.4", false},       {".1.2.3.4", false},
        {"1.2.3.4.5", false},      {"1234.1.1.1", false},     {"1.2.3.a", false},
        {"1.2.3", false},          {"", false},               {"1.2.3.4 ", false},
        {"001.002.003.004", true}, {"1.2.3.0004", false},     {"255.255.255.2555", false},
    };
    for (const auto& [text, valid] : cases) EXPECT_EQ(IsValidIPAddress(text), valid) << text;
}

TEST(DottedQuad, ConversionsBothWays) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"192.168.1.10", 0xC0A8010Au}, {"0.0.0.0", 0u},        {"255.255.255.255", 0xFFFFFFFFu},
        {"010.001.0.9", 0x0A010009u},  {"1.2.3.4.5", 0u},      {"256.1.1.1", 0u},
        {"127.0.0.1", 0x7F000001u},
    };
    for (const auto& [text, number] : cases) EXPECT_EQ(IPAddressToNumber(text), number) << text;
    EXPECT_EQ(NumberToIPAddress(0xC0A8010Au), "192.168.1.10");
    EXPECT_EQ(NumberToIPAddress(0), "0.0.0.0");
    EXPECT_EQ(NumberToIPAddress(0xFFFFFFFFu), "255.255.255.255");
    EXPECT_EQ(NumberToIPAddress(IPAddressToNumber("10.0.20.3")), "10.0.20.3");
}

TEST(DottedQuad, BroadcastAddressTable) {
    struct Case {
        const char *ip, *mask, *broadcast;
    };
    const Case cases[] = {
        {"192.168.1.20", "255.255.255.0", "192.168.1.255"},
        {"127.0.0.1", "255.0.0.0", "127.255.255.255"},
        {"10.1.2.3", "255.255.240.0", "10.1.15.255"},
        {"", "", "255.255.255.255"},
        {"10.1.2.3", "255.255.255.255", "10.1.2.3"},
        {"junk", "255.255.255.0", "0.0.0.255"},
    };
    for (const auto& c : cases) EXPECT_EQ(GetBroadcastAddress(c.ip, c.mask), c.broadcast) << c.ip << "/" << c.mask;
}

TEST(AdapterQuery, DefaultGatewaysFromRouteTable) {
    const std::string table =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
        "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth0\t00000000\t0201A8C0\t0003\t0\t0\t200\t00000000\t0\t0\t0\n"
        "wlan0\t00000000\t0101000A\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"
        "tun0\t00000000\tFE004D0A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
        "broken line\n";
    const auto gateways = ParseDefaultGateways(table);
    ASSERT_EQ(gateways.size(), 2u);
    EXPECT_EQ(gateways.at("eth0"), "192.168.1.1");  // the first default route wins
    EXPECT_EQ(gateways.at("tun0"), "10.77.0.254");
    EXPECT_EQ(gateways.count("wlan0"), 0u);  // no gateway flag
}

TEST(AdapterInfo, ConstructorComputesBroadcastAndClearEmpties) {
    TEthernetAdapterInfo a("eth1", "Ethernet eth1", "192.168.1.20", "255.255.255.0");
    EXPECT_EQ(a.ID(), "eth1");
    EXPECT_EQ(a.DescName(), "Ethernet eth1");
    EXPECT_EQ(a.IPAddress(), "192.168.1.20");
    EXPECT_EQ(a.SubnetMask(), "255.255.255.0");
    EXPECT_EQ(a.BroadcastAddress(), "192.168.1.255");
    EXPECT_EQ(a.Gateway(), "");
    a.Clear();
    for (const auto* field : {&a.ID(), &a.DescName(), &a.IPAddress(), &a.SubnetMask(), &a.BroadcastAddress()})
        EXPECT_EQ(*field, "");
}

// In a namespace of its own the host has exactly one adapter: the loopback.
TEST(AdapterList, LoopbackOnlyNamespace) {
    ZELTO_REQUIRE_PRIVATE_NETWORK();
    TEthernetAdapterInfoList list;
    list.Refresh();
    ASSERT_EQ(list.Count(), 1);
    const TEthernetAdapterInfo* lo = list.GetItem(0);
    EXPECT_EQ(lo->ID(), "lo");
    EXPECT_EQ(lo->IPAddress(), "127.0.0.1");
    EXPECT_EQ(lo->SubnetMask(), "255.0.0.0");
    EXPECT_EQ(lo->BroadcastAddress(), "127.255.255.255");
    EXPECT_EQ(lo->DescName(), "Loopback lo");
    EXPECT_EQ(list.GetItem(-1), nullptr);
    EXPECT_EQ(list.GetItem(1), nullptr);
    EXPECT_EQ(list.IndexOf("lo"), 0);
    EXPECT_EQ(list.IndexOf("LO"), -1);
    EXPECT_EQ(list.IndexOf(*lo), 0);
    EXPECT_EQ(list.GetByID("lo"), lo);
    EXPECT_EQ(list.GetByID("eth0"), nullptr);

    std::vector<std::string> combo{"kept"};
    list.WriteToCombo(combo);
    list.WriteToCombo(combo);
    EXPECT_EQ(combo, (std::vector<std::string>{"kept", "Loopback lo (127.0.0.1)", "Loopback lo (127.0.0.1)"}));

    list.Delete(-1);
    list.Delete(1);
    EXPECT_EQ(list.Count(), 1);
    list.Delete(0);
    EXPECT_EQ(list.Count(), 0);
    combo.clear();
    list.WriteToCombo(combo);
    EXPECT_TRUE(combo.empty());

    EXPECT_EQ(GetLocalIPAddress(), "127.0.0.1");
    TEthernetAdapterInfo def;
    ASSERT_TRUE(def.GetDefault());
    EXPECT_EQ(def.ID(), "lo");
    EXPECT_EQ(def.BroadcastAddress(), "127.255.255.255");

    TEthernetAdapterInfo byId;
    EXPECT_FALSE(byId.SetByID("LO"));  // names compare case-sensitively
    EXPECT_EQ(byId.ID(), "");
    ASSERT_TRUE(byId.SetByID("lo"));
    EXPECT_EQ(byId.IPAddress(), "127.0.0.1");
    EXPECT_EQ(byId.Gateway(), "");
}

// A second adapter with two addresses and a default route, inside the test's own namespace (no traffic).
TEST(AdapterList, SecondAdapterIsPreferredAndKnownByItsFirstAddress) {
    ZELTO_REQUIRE_PRIVATE_NETWORK();
    if (!test::RunIp("link add zq0 type veth peer name zq1")) GTEST_SKIP() << "no veth support";
    ASSERT_TRUE(test::RunIp("addr add 10.77.0.1/24 dev zq0"));
    ASSERT_TRUE(test::RunIp("addr add 10.78.0.1/16 dev zq0"));
    ASSERT_TRUE(test::RunIp("addr add 10.79.0.1/16 dev zq0 label zq0:1"));  // an alias, not an adapter
    ASSERT_TRUE(test::RunIp("link set zq0 up"));
    ASSERT_TRUE(test::RunIp("route add default via 10.77.0.254 dev zq0"));

    EXPECT_EQ(GetLocalIPAddress(), "10.77.0.1");
    TEthernetAdapterInfo def;
    ASSERT_TRUE(def.GetDefault());
    EXPECT_EQ(def.ID(), "zq0");
    EXPECT_EQ(def.SubnetMask(), "255.255.255.0");
    EXPECT_EQ(def.BroadcastAddress(), "10.77.0.255");
    EXPECT_EQ(def.Gateway(), "10.77.0.254");

    std::string mask, id, gateway, desc;
    EXPECT_FALSE(GetAdapterInfoByIP("10.78.0.1", mask, id, gateway, desc));  // not its first address
    EXPECT_FALSE(GetAdapterInfoByIP("10.79.0.1", mask, id, gateway, desc));
    EXPECT_EQ(id, "");

    // zq1 has no IPv4 address and is listed all the same.
    TEthernetAdapterInfoList list;
    list.Refresh();
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.GetItem(0)->ID(), "lo");
    EXPECT_EQ(list.GetByID("zq0:1"), nullptr);
    ASSERT_NE(list.GetByID("zq0"), nullptr);
    EXPECT_EQ(list.GetByID("zq0")->IPAddress(), "10.77.0.1");
    const TEthernetAdapterInfo* zq1 = list.GetByID("zq1");
    ASSERT_NE(zq1, nullptr);
    EXPECT_EQ(zq1->IPAddress(), "0.0.0.0");

    ASSERT_TRUE(test::RunIp("link del zq0"));
    list.Refresh();
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(GetLocalIPAddress(), "127.0.0.1");
}
