#include "app/uCommandLine.h"

#include <gtest/gtest.h>

#include "app/uOneInstance.h"

using namespace zelto;

TEST(CommandLine, ReadsEveryOption) {
    const struct {
        std::vector<std::string> args;
        bool headless, help, version;
        std::optional<uint16_t> port;
        std::optional<std::string> adapter;
        bool error;
    } cases[] = {
        {{}, false, false, false, std::nullopt, std::nullopt, false},
        {{"--headless"}, true, false, false, std::nullopt, std::nullopt, false},
        {{"--port", "8080", "--adapter", "eth1"}, false, false, false, 8080, "eth1", false},
        {{"--port=0", "--adapter="}, false, false, false, 0, "", false},
        {{"--port", "65535"}, false, false, false, 65535, std::nullopt, false},
        {{"--help"}, false, true, false, std::nullopt, std::nullopt, false},
        {{"-h"}, false, true, false, std::nullopt, std::nullopt, false},
        {{"--version", "--headless"}, true, false, true, std::nullopt, std::nullopt, false},
        {{"--port", "65536"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--port", "-1"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--port", "80x"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--port"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--adapter"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--verbose"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--headless=1"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--allow", "10.0.0.0/8,fd00::/8", "--bind=::1", "--read-only", "--config", "d", "--log", "f"},
         false, false, false, std::nullopt, std::nullopt, false},
        {{"--allow", "10.0.0.0/33"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--allow="}, false, false, false, std::nullopt, std::nullopt, false},
        {{"--bind", "eth0"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--read-only=1"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--www", "/nonexistent/zelto"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--log"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--allow-origin", "*", "--stream-interval=100"}, false, false, false, std::nullopt, std::nullopt, false},
        {{"--stream-interval", "0"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--stream-interval", "fast"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--allow-origin"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--parallel-controllers", "1", "--max-request-items=50", "--max-request-controllers", "8"},
         false, false, false, std::nullopt, std::nullopt, false},
        {{"--parallel-controllers", "0"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--max-request-items", "many"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--max-request-controllers", "1025"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--allow-host", "plant.example, *", "--write-header", "--log-stale-answers"}, false, false, false, std::nullopt,
         std::nullopt, false},
        {{"--allow-host", "http://plant.example/"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--write-header=1"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--mqtt", "mqtt://broker", "--mqtt-publish", "c10.temp, c10.table[2]", "--mqtt-interval=250", "--mqtt-writes",
          "--mqtt-prefix", "site/a"}, false, false, false, std::nullopt, std::nullopt, false},
        {{"--mqtt", "tcp://broker"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--mqtt-publish", "c10.temp,sys.server_version"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--mqtt-interval", "5"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--mqtt-prefix", "a/#"}, false, false, false, std::nullopt, std::nullopt, true},
        {{"--mqtt-writes=1"}, false, false, false, std::nullopt, std::nullopt, true},
    };
    for (const auto& c : cases) {
        const TCommandLine cl = ParseCommandLine(c.args);
        const std::string what = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(!cl.Error.empty(), c.error) << what << ": " << cl.Error;
        if (c.error) continue;
        EXPECT_EQ(cl.Headless, c.headless) << what;
        EXPECT_EQ(cl.Help, c.help) << what;
        EXPECT_EQ(cl.Version, c.version) << what;
        EXPECT_EQ(cl.Port, c.port) << what;
        EXPECT_EQ(cl.Adapter, c.adapter) << what;
    }
    const TCommandLine web = ParseCommandLine({"--allow-origin", "http://a.example https://b.example", "--stream-interval", "1000"});
    EXPECT_EQ(web.AllowOrigin, "http://a.example https://b.example");
    EXPECT_EQ(web.StreamInterval, 1000);
    const TCommandLine bounds = ParseCommandLine({"--parallel-controllers=1", "--max-request-items", "50"});
    EXPECT_EQ(bounds.Service.ParallelControllers, 1);
    EXPECT_EQ(bounds.Service.MaxRequestItems, 50);
    EXPECT_EQ(bounds.Service.MaxRequestControllers, std::nullopt);
    EXPECT_EQ(ParseCommandLine({"--parallel-controllers", "0"}).Error, "--parallel-controllers needs a number from 1 to 1024, not '0'");
    const TCommandLine safety = ParseCommandLine({"--allow-host=plant.example", "--write-header", "--log-stale-answers"});
    EXPECT_EQ(safety.Service.AllowHost, "plant.example");
    EXPECT_TRUE(safety.Service.WriteHeader);
    EXPECT_TRUE(safety.Service.LogStaleAnswers);
    const TCommandLine mqtt = ParseCommandLine({"--mqtt=mqtts://[::1]:9883", "--mqtt-interval", "250", "--mqtt-writes"});
    EXPECT_EQ(mqtt.Mqtt.Broker, "mqtts://[::1]:9883");
    EXPECT_EQ(mqtt.Mqtt.Interval, 250);
    EXPECT_TRUE(mqtt.Mqtt.Writes);
}

TEST(InstanceName, FileNameWithoutFolderAndBackslashesThenVersion) {
    EXPECT_EQ(MakeInstanceName("/opt/zelto/ZeltoHttpServer", "1.0.3"), "ZeltoHttpServer1.0.3");
    EXPECT_EQ(MakeInstanceName("/opt/zelto/Zelto\\Http", "1.0.3"), "ZeltoHttp1.0.3");
    EXPECT_EQ(MakeInstanceName("ZeltoHttpServer", ""), "ZeltoHttpServer");
    EXPECT_NE(MakeInstanceName("/a/ZeltoHttpServer", "1.0.4"), MakeInstanceName("/a/ZeltoHttpServer", "1.0.3"));
}
