#include "web/uJsonText.h"

#include <cfloat>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "TestJson.h"
#include "web/uAnswerFormat.h"
#include "web/uCrossOrigin.h"

using namespace zelto;
using zelto::test::TJson;
using zelto::test::TJsonReader;

namespace {

TVarResult Number(double x) { return TVarResult{"c1.x", TValueKind::Number, x, {}, {}, {}, {}}; }
TVarResult Text(std::string s, std::string description = {}) {
    return TVarResult{"c1.x", TValueKind::Text, 0, std::move(s), {}, {}, std::move(description)};
}

}  // namespace

// Every entry is read back by a strict parser: the number's digits, the string's meaning after escaping,
// null with the reason for a value that cannot be served.
TEST(JsonText, EntriesReadBackByAParser) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        TVarResult in;
        TJson::TKind kind;
        std::string value;  // NumText of a number, Str of a string
        std::string error;  // "" when the entry must have none
    } cases[] = {
        {Number(21.5), TJson::Number, "21.5", ""},
        {Number(0), TJson::Number, "0", ""},
        {Number(-2147483648.0), TJson::Number, "-2147483648", ""},
        {Number(static_cast<double>(FLT_MAX)), TJson::Number, "3.40282346638529E38", ""},
        {Number(static_cast<double>(0.1f)), TJson::Number, "0.100000001490116", ""},
        {Number(0.00001), TJson::Number, "1E-5", ""},
        {Number(inf), TJson::String, "INF", ""},
        {Number(-inf), TJson::String, "-INF", ""},
        {Number(std::nan("")), TJson::String, "NAN", ""},
        {Text("a \"b\" \\c\\ /d"), TJson::String, "a \"b\" \\c\\ /d", ""},
        {Text("line\r\nnext\ttab\x01\x1F"), TJson::String, "line\r\nnext\ttab\x01\x1F", ""},
        {Text("Tank \xC2\xB0" "C \xE2\x82\xAC \xF0\x9F\x98\x80"), TJson::String, "Tank \xC2\xB0" "C \xE2\x82\xAC \xF0\x9F\x98\x80", ""},
        {Text(std::string("\xFF" "a\xC3", 3)), TJson::String, "\xC3\xBF" "a\xC3\x83", ""},  // stray bytes as Latin-1
        {Text(""), TJson::String, "", ""},
        {TVarResult{"c1.x", TValueKind::Missing, 0, "?", {}, "PLC not running!", {}}, TJson::Null, "", "PLC not running!"},
        {TVarResult{"c1.x", TValueKind::Missing, 0, "?", {}, "", {}}, TJson::Null, "", "unknown variable"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const TJson e = TJsonReader::Parse(JsonVarEntry(c.in));
        EXPECT_EQ(e["name"].Str, "c1.x");
        ASSERT_EQ(e["value"].Kind, c.kind);
        if (c.kind == TJson::Number) {
            EXPECT_EQ(e["value"].NumText, c.value);
        } else if (c.kind == TJson::String) {
            EXPECT_EQ(e["value"].Str, c.value);
        }
        EXPECT_EQ(e.Has("error"), !c.error.empty());
        if (e.Has("error")) {
            EXPECT_EQ(e["error"].Str, c.error);
        }
    }

    // A whole answer: entries in order, a description in UTF-8, the NAD list as numbers, the names escaped.
    TVarResult list{"sys.nad_list", TValueKind::NumberList, 0, {}, {"10", "7"}, {}, "List of autodetected NADs."};
    TVarResult quoted = Text("1", "Tank temperature [\xC2\xB0" "C] \"x\" <y>");
    quoted.Name = "c10.\"a\\b\"";
    const TJson doc = TJsonReader::Parse(JsonVarsDocument({quoted, list, TVarResult{"sys.nad_list", TValueKind::NumberList, 0, {}, {}, {}, {}}}));
    const auto& vars = doc["vars"].Items;
    ASSERT_EQ(vars.size(), 3u);
    EXPECT_EQ(vars[0]["name"].Str, "c10.\"a\\b\"");
    EXPECT_EQ(vars[0]["description"].Str, "Tank temperature [\xC2\xB0" "C] \"x\" <y>");
    ASSERT_EQ(vars[1]["value"].Kind, TJson::Array);
    ASSERT_EQ(vars[1]["value"].Items.size(), 2u);
    EXPECT_EQ(vars[1]["value"].Items[0].NumText, "10");
    EXPECT_EQ(vars[1]["value"].Items[1].NumText, "7");
    EXPECT_TRUE(vars[2]["value"].Items.empty());
    EXPECT_EQ(TJsonReader::Parse(JsonVarsDocument({}))["vars"].Items.size(), 0u);
}

TEST(AnswerFormat, AcceptHeaderChoosesTheAnswer) {
    using F = TAnswerFormat;
    const struct {
        const char* accept;
        F format;
    } cases[] = {
        {"", F::Xml},
        {"*/*", F::Xml},
        {"application/json", F::Json},
        {"Application/JSON; charset=utf-8", F::Json},
        {"application/json, text/plain, */*", F::Xml},                               // axios, Angular
        {"application/json, */*;q=0.01", F::Xml},                                     // XML admitted at all
        {"text/xml;q=0, application/xml;q=0, */*", F::Json},                          // XML refused by name
        {"application/json, text/event-stream", F::Json},
        {"text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8", F::Xml},  // a browser's page load
        {"application/json;q=0.5, text/xml", F::Xml},
        {"text/xml;q=0.4, application/json;q=0.8", F::Xml},
        {"application/*", F::Xml},
        {"text/*", F::Xml},
        {"application/json;q=0, */*", F::Xml},
        {"application/json;q=abc", F::Xml},
        {"image/png", F::Xml},
        {"text/event-stream", F::EventStream},
        {"text/event-stream;q=0", F::Xml},
        {"text/event-stream;q=0.5, application/json", F::Json},
        {" application/json ;q=1 ,, ", F::Json},
    };
    for (const auto& c : cases) EXPECT_EQ(ChooseAnswerFormat(c.accept), c.format) << c.accept;
}

TEST(CrossOrigin, AnswerAndPreflightHeaders) {
    using H = THeaderList;
    const H preflight = {{"Access-Control-Allow-Methods", TCrossOrigin::kAllowedMethods},
                         {"Access-Control-Allow-Headers", TCrossOrigin::kAllowedHeaders},
                         {"Access-Control-Max-Age", "600"}};
    const struct {
        const char* setting;
        const char* origin;
        H answer;
        bool preflight;
    } cases[] = {
        {"", "http://a.example", {}, false},
        {"*", "http://a.example", {{"Access-Control-Allow-Origin", "*"}}, true},
        {"*", "", {}, false},
        {"http://a.example, https://b.example:8443", "https://b.example:8443",
         {{"Access-Control-Allow-Origin", "https://b.example:8443"}, {"Vary", "Origin"}}, true},
        {"http://a.example/ http://c.example", "HTTP://A.example", {{"Access-Control-Allow-Origin", "HTTP://A.example"}, {"Vary", "Origin"}}, true},
        {"http://a.example", "http://a.example.evil", {{"Vary", "Origin"}}, false},
        {"http://a.example", "", {{"Vary", "Origin"}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.setting) + " / " + c.origin);
        const TCrossOrigin rules(c.setting);
        EXPECT_EQ(rules.Enabled(), std::string(c.setting) != "");
        EXPECT_EQ(rules.AnswerHeaders(c.origin), c.answer);
        H headers;
        EXPECT_EQ(rules.Preflight(c.origin, headers), c.preflight);
        H expected = c.answer;
        if (c.preflight) expected.insert(expected.end(), preflight.begin(), preflight.end());
        else expected.emplace_back("Allow", "GET, HEAD, POST");
        EXPECT_EQ(headers, expected);
    }
}
