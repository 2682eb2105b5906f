#include "web/uMqttTopics.h"

#include <gtest/gtest.h>

using namespace zelto;
using namespace std::chrono_literals;

TEST(MqttTopics, BrokerUrls) {
    const struct {
        std::string url;
        std::optional<TMqttBroker> broker;
    } cases[] = {
        {"mqtt://broker", TMqttBroker{false, "broker", 1883}},
        {"mqtt://10.0.0.5:1884", TMqttBroker{false, "10.0.0.5", 1884}},
        {"mqtts://broker.example/", TMqttBroker{true, "broker.example", 8883}},
        {"mqtts://[::1]:9883", TMqttBroker{true, "::1", 9883}},
        {"mqtt://[fd00::5]", TMqttBroker{false, "fd00::5", 1883}},
        {"broker:1883", std::nullopt},
        {"tcp://broker", std::nullopt},
        {"mqtt://", std::nullopt},
        {"mqtt://broker:0", std::nullopt},
        {"mqtt://broker:65536", std::nullopt},
        {"mqtt://broker:+5", std::nullopt},
        {"mqtt://user@broker", std::nullopt},
        {"mqtt://[::1", std::nullopt},
        {"mqtt://[::1]x", std::nullopt},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_EQ(ParseMqttUrl(c.url, why), c.broker) << c.url;
        EXPECT_EQ(why.empty(), c.broker.has_value()) << c.url;
    }
}

TEST(MqttTopics, PublishListsAndTopics) {
    const struct {
        std::string list;
        std::vector<std::string> items;  // empty: refused
        std::vector<std::string> topics;
    } cases[] = {
        {"c10.temp,c10.setpoint,c10.table[2]", {"c10.temp", "c10.setpoint", "c10.table[2]"},
         {"p/c10/temp", "p/c10/setpoint", "p/c10/table[2]"}},
        {" c10.temp , ,C0x0B.x", {"c10.temp", "C0x0B.x"}, {"p/c10/temp", "p/c11/x"}},
        {"c10.a.b", {"c10.a.b"}, {"p/c10/a.b"}},
        {"", {}, {}},
        {"sys.server_version", {}, {}},
        {"c10.sys.alc_file", {}, {}},
        {"c10.temp=5", {}, {}},
        {"c10.a/b", {}, {}},
        {"c10.a#", {}, {}},
        {"c10.", {}, {}},
        {"cx.temp", {}, {}},
        {"c0.temp", {}, {}},
        {"d10.temp", {}, {}},
    };
    for (const auto& c : cases) {
        std::string why;
        const auto items = ParseMqttPublishList(c.list, why);
        EXPECT_EQ(items.value_or(std::vector<std::string>{}), c.items) << c.list;
        EXPECT_EQ(why.empty(), items.has_value()) << c.list;
        for (std::size_t i = 0; i < c.items.size() && i < c.topics.size(); ++i)
            EXPECT_EQ(MqttTopicOf("p", c.items[i]), c.topics[i]);
    }
}

TEST(MqttTopics, PayloadsCarryTheJsonAnswersValuesAndErrors) {
    const auto at = std::chrono::system_clock::time_point(1796864523456ms);  // 2026-12-10T01:02:03.456Z
    const struct {
        TVarResult result;
        std::string payload;
    } cases[] = {
        {{"c10.temp", TValueKind::Number, 22.5, {}, {}, {}, {}}, R"({"value":22.5,"ts":"2026-12-10T01:02:03.456Z"})"},
        {{"c10.x", TValueKind::Number, 0.1f, {}, {}, {}, {}}, R"({"value":0.100000001490116,"ts":"2026-12-10T01:02:03.456Z"})"},
        {{"c10.x", TValueKind::Number, -1e20, {}, {}, {}, {}}, R"({"value":-1E20,"ts":"2026-12-10T01:02:03.456Z"})"},
        {{"c10.x", TValueKind::Number, 1e300 * 1e10, {}, {}, {}, {}}, R"({"value":"INF","ts":"2026-12-10T01:02:03.456Z"})"},
        {{"c10.x", TValueKind::Missing, 0, "?", {}, "PLC not responding!", {}},
         R"({"value":null,"error":"PLC not responding!","ts":"2026-12-10T01:02:03.456Z"})"},
        {{"c10.x", TValueKind::Missing, 0, "?", {}, {}, {}}, R"({"value":null,"error":"unknown variable","ts":"2026-12-10T01:02:03.456Z"})"},
        {{"c10.x", TValueKind::Missing, 0, "?", {}, "say \"no\"\n", {}},
         R"({"value":null,"error":"say \"no\"\n","ts":"2026-12-10T01:02:03.456Z"})"},
    };
    for (const auto& c : cases) EXPECT_EQ(MqttPayload(c.result, at), c.payload) << c.payload;
    EXPECT_EQ(MqttTimestamp(std::chrono::system_clock::time_point(0ms)), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(DefaultMqttPrefix().rfind("zelto/", 0), 0u);
}
