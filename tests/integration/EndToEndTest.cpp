// A variable request end to end: HTTP client -> ZeltoHttpServer -> Q-link over loopback -> ZeltoSim.
#include <regex>

#include "integration/EndToEnd.h"

using namespace zelto::test;
using namespace std::chrono_literals;

TEST_F(TEndToEnd, SystemVariables) {
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    const THttpReply reply = Query("sys.server_version&sys.http_request_count&sys.server_uptime&sys.http_port_status&"
                                   "sys.scgi_port_status&sys.nope&sys.alc_file&c10.sys.nad_list");
    EXPECT_EQ(reply.Status, 200);
    EXPECT_EQ(reply.Header("content-type").rfind("text/xml", 0), 0u) << reply.Header("content-type");
    EXPECT_EQ(reply.Body.rfind("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<data>\r\n", 0), 0u);
    const auto e = Entries(reply.Body);
    ASSERT_EQ(e.size(), 8u) << reply.Body;
    EXPECT_EQ(e[0], (TEntry{"sys.server_version", "1.0.3", "ZeltoHttpServer version."}));
    EXPECT_EQ(e[1], (TEntry{"sys.http_request_count", "1", "Total number of http requests."}));
    EXPECT_TRUE(std::regex_match(e[2].Value, std::regex("0 days, 0:00:[0-9][0-9]"))) << e[2].Value;
    EXPECT_EQ(e[3].Value, "active");
    EXPECT_EQ(e[4].Value, "active");
    EXPECT_EQ(e[5], (TEntry{"sys.nope", "?", ""}));
    EXPECT_EQ(e[6], (TEntry{"sys.alc_file", "?", ""}));
    EXPECT_EQ(e[7], (TEntry{"c10.sys.nad_list", "", ""}));
    EXPECT_EQ(Value("sys.http_request_count"), "2");
}

TEST_F(TEndToEnd, NadListFindsTheControllers) {
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    std::chrono::milliseconds took{};
    auto e = Vars("sys.nad_list", &took);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0], (TEntry{"sys.nad_list", "", "List of autodetected NADs."})) << "no controller on the network";
    EXPECT_GE(took, 450ms) << "the detection listens for its whole time";

    ASSERT_TRUE(StartSim({"10", "12"})) << fSim->Stderr();
    e = Vars("sys.nad_list");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_TRUE(e[0].Value == "      <item>10</item>\r\n      <item>12</item>\r\n" ||
                e[0].Value == "      <item>12</item>\r\n      <item>10</item>\r\n")
        << e[0].Value;
}

TEST_F(TEndToEnd, SilentControllerGivesQuestionMarks) {
    ASSERT_TRUE(StartSim({"10"})) << fSim->Stderr();
    ASSERT_TRUE(StartServer()) << fServer->Stderr();
    std::chrono::milliseconds took{};
    const auto e = Vars("c77.temp&c77.level=3&sys.server_version", &took);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0], (TEntry{"c77.temp", "?", ""}));
    EXPECT_EQ(e[1], (TEntry{"c77.level", "?", ""}));
    EXPECT_EQ(e[2].Value, "1.0.3");
    // Three pings of 500 ms, and nothing more for a controller that never answered.
    EXPECT_GE(took, 1400ms);
    EXPECT_LT(took, 2500ms);
}
