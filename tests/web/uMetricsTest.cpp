#include "web/uMetrics.h"

#include <cmath>

#include <gtest/gtest.h>

using namespace zelto;

TEST(Metrics, TextFormatEscapesAndNumbers) {
    const struct {
        double value;
        const char* text;
    } numbers[] = {
        {0, "0"}, {42, "42"}, {-3, "-3"}, {0.1, "0.1"}, {0.0025, "0.0025"}, {1e20, "1e+20"},
        {1.0 / 3, "0.3333333333333333"}, {1e300 * 1e10, "+Inf"}, {-1e300 * 1e10, "-Inf"}, {std::nan(""), "NaN"},
    };
    for (const auto& n : numbers) EXPECT_EQ(PrometheusNumber(n.value), n.text) << n.text;

    const struct {
        std::string label;
        std::string help;
        std::string expected;
    } escapes[] = {
        {"plain", "Plain help.", "# HELP m Plain help.\n# TYPE m counter\nm{l=\"plain\"} 1\n"},
        {"a\"b", "say \"hi\"", "# HELP m say \"hi\"\n# TYPE m counter\nm{l=\"a\\\"b\"} 1\n"},
        {"back\\slash", "back\\slash", "# HELP m back\\\\slash\n# TYPE m counter\nm{l=\"back\\\\slash\"} 1\n"},
        {"two\nlines", "two\nlines", "# HELP m two\\nlines\n# TYPE m counter\nm{l=\"two\\nlines\"} 1\n"},
        {"Füllventil", "°C", "# HELP m °C\n# TYPE m counter\nm{l=\"Füllventil\"} 1\n"},
    };
    for (const auto& e : escapes)
        EXPECT_EQ(PrometheusText({{"m", e.help, "counter", {{"m", {{"l", e.label}}, 1}}}}), e.expected) << e.label;
}

TEST(Metrics, RequestsExchangesAndHistogramAddUp) {
    TMetrics m;
    m.CountRequest(TRequestKind::Variable, 200, 0.0004);
    m.CountRequest(TRequestKind::Variable, 200, 0.3);
    m.CountRequest(TRequestKind::File, 404, 20);
    m.NoteExchange(10, TExchangeResult::Answered);
    m.NoteExchange(10, TExchangeResult::Timeout);
    m.NoteExchange(11, TExchangeResult::Answered);
    m.NoteExchange(0, TExchangeResult::Answered);  // a ping to every controller counts for none
    m.NoteAlcLoad(11);
    m.NoteMqttConnected(true);
    m.CountMqttPublished();
    const std::string text = m.Text({3, 2});
    for (const char* line : {
             "zelto_http_requests_total{kind=\"variable\",code=\"200\"} 2\n",
             "zelto_http_requests_total{kind=\"file\",code=\"404\"} 1\n",
             "zelto_http_request_duration_seconds_bucket{kind=\"variable\",le=\"0.001\"} 1\n",
             "zelto_http_request_duration_seconds_bucket{kind=\"variable\",le=\"0.25\"} 1\n",
             "zelto_http_request_duration_seconds_bucket{kind=\"variable\",le=\"0.5\"} 2\n",
             "zelto_http_request_duration_seconds_bucket{kind=\"variable\",le=\"+Inf\"} 2\n",
             "zelto_http_request_duration_seconds_bucket{kind=\"file\",le=\"10\"} 0\n",
             "zelto_http_request_duration_seconds_bucket{kind=\"file\",le=\"+Inf\"} 1\n",
             "zelto_http_request_duration_seconds_count{kind=\"file\"} 1\n",
             "zelto_http_connections_open 3\n",
             "zelto_streams_open 2\n",
             "zelto_controller_up{nad=\"10\"} 0\n",
             "zelto_controller_up{nad=\"11\"} 1\n",
             "zelto_controller_exchanges_total{nad=\"10\",result=\"timeout\"} 1\n",
             "zelto_controller_exchanges_total{nad=\"10\",result=\"refused\"} 0\n",
             "zelto_controller_alc_loads_total{nad=\"11\"} 1\n",
             "zelto_mqtt_connected 1\n",
             "zelto_mqtt_messages_published_total 1\n",
             "# TYPE process_cpu_seconds_total counter\n",
             "# TYPE process_open_fds gauge\n",
         })
        EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_EQ(text.find("nad=\"0\""), std::string::npos);
}
