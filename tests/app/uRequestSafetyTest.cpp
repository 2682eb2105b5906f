#include "app/uRequestSafety.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "app/uKeptFiles.h"

using namespace zelto;

namespace {

using H = std::vector<std::pair<std::string, std::string>>;

THttpRequestInfo Request(const std::string& command, const std::string& params, H headers) {
    THttpRequestInfo r;
    r.Command = command;
    r.Document = "/";
    r.Params = params;
    r.Headers = std::move(headers);
    return r;
}

}  // namespace

// Who may write: scripts and the server's own pages, pages of listed origins; not a page of another site.
TEST(RequestSafety, WritesFromAnotherSiteOrWithoutTheWriteHeaderAreRefused) {
    const H own = {{"Host", "gw:8080"}};
    const auto with = [&](H more) {
        H h = own;
        h.insert(h.end(), more.begin(), more.end());
        return h;
    };
    enum TSetting { Plain, Listed, Header, ReadOnly, Any };
    const struct {
        const char* command;
        const char* params;
        H headers;
        TSetting setting;
        int status;  // 0: goes on
    } cases[] = {
        // Scripts: no browser headers.
        {"GET", "c10.setpoint=91", own, Plain, 0},
        {"POST", "c10.setpoint=91", {}, Plain, 0},
        // The server's own pages, directly and behind a proxy for https that passes the name.
        {"POST", "c10.setpoint=91", with({{"Origin", "http://gw:8080"}}), Plain, 0},
        {"GET", "c10.setpoint=91", with({{"Referer", "http://GW:8080/index.html?x"}}), Plain, 0},
        {"POST", "c10.setpoint=91", {{"Host", "plant.example"}, {"Origin", "https://plant.example"}}, Plain, 0},
        {"GET", "c10.setpoint=91", with({{"Sec-Fetch-Site", "same-origin"}}), Plain, 0},
        {"GET", "c10.setpoint=91", with({{"Sec-Fetch-Site", "none"}}), Plain, 0},
        // Pages of other sites: image, form POST, fetch, also on the same host with another port.
        {"GET", "c10.setpoint=91", with({{"Referer", "http://evil.example/page"}, {"Sec-Fetch-Site", "cross-site"}}), Plain, 403},
        {"GET", "c10.setpoint=91", with({{"Sec-Fetch-Site", "cross-site"}}), Plain, 403},
        {"POST", "c10.setpoint=91", with({{"Origin", "http://evil.example"}}), Plain, 403},
        {"POST", "c10.setpoint=91", with({{"Origin", "null"}}), Plain, 403},
        {"POST", "c10.setpoint=91", with({{"Origin", "http://gw:8000"}, {"Sec-Fetch-Site", "same-site"}}), Plain, 403},
        {"GET", "c10.setpoint=91", with({{"Referer", "http://gw.evil.example:8080/"}}), Plain, 403},
        {"GET", "c10.setpoint=91", with({{"Referer", "file:///tmp/page.html"}}), Plain, 403},
        {"HEAD", "c10.setpoint=91", with({{"Origin", "http://evil.example"}}), Plain, 403},
        {"GET", "C$0A.table[1]\\=3", with({{"Origin", "http://evil.example"}}), Plain, 403},
        // Reading, and items that write nothing, pass from anywhere.
        {"GET", "c10.setpoint", with({{"Origin", "http://evil.example"}}), Plain, 0},
        {"GET", "c10.setpoint=abc&c10=1.5&x.y=3&c10.sys.alc_file=1&cx.a=1", with({{"Origin", "http://evil.example"}}), Plain, 0},
        // A listed origin may write; "*" lists every one.
        {"POST", "c10.setpoint=91", with({{"Origin", "http://page.example"}, {"Sec-Fetch-Site", "cross-site"}}), Listed, 0},
        {"GET", "c10.setpoint=91", with({{"Referer", "http://page.example/x"}, {"Sec-Fetch-Site", "cross-site"}}), Listed, 0},
        {"POST", "c10.setpoint=91", with({{"Origin", "http://page.example:81"}}), Listed, 403},
        {"POST", "c10.setpoint=91", with({{"Origin", "http://evil.example"}}), Any, 0},
        // --write-header: every write needs the header, also a script's; reads do not.
        {"GET", "c10.setpoint=91", own, Header, 403},
        {"GET", "c10.setpoint=91", with({{"X-Zelto-Write", "1"}}), Header, 0},
        {"GET", "c10.setpoint=91", with({{"x-zelto-write", "yes"}}), Header, 403},
        {"GET", "c10.setpoint", own, Header, 0},
        {"POST", "c10.setpoint=91", with({{"Origin", "http://evil.example"}, {"X-Zelto-Write", "1"}}), Header, 403},
        // --read-only: nothing writes, so nothing is refused.
        {"POST", "c10.setpoint=91", with({{"Origin", "http://evil.example"}}), ReadOnly, 0},
        // The Host comes first, for every request.
        {"GET", "", {{"Host", "evil.example"}}, Plain, 421},
        {"GET", "c10.setpoint=91", {{"Host", "evil.example"}, {"Origin", "http://evil.example"}}, Plain, 421},
        {"GET", "c10.setpoint", {{"Host", ""}}, Plain, 421},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " " + c.params + " setting " + std::to_string(c.setting));
        TRequestSafetySettings s;
        s.Hosts.Names = {"gw", "plant.example"};
        s.AllowOrigin = TCrossOrigin(c.setting == Listed ? "http://page.example" : c.setting == Any ? "*" : "");
        s.WriteHeader = c.setting == Header;
        s.ReadOnly = c.setting == ReadOnly;
        const TRequestRefusal r = CheckRequest(Request(c.command, c.params, c.headers), s);
        EXPECT_EQ(r.Status, c.status) << r.Text;
        if (c.status != 0) {
            EXPECT_NE(r.Text.find(c.status == 421 ? "add it with --allow-host" : "--"), std::string::npos)
                << "names the setting to change";
        }
    }
}

TEST(RequestSafety, TheServersNames) {
    THostNames names;
    ASSERT_EQ(ParseAllowHost("plant.example, GW  ", names), "");
    names.Names.push_back("mybox");
    const struct {
        const char* host;
        bool ours;
    } cases[] = {
        {"127.0.0.1", true},        {"192.168.10.2:8080", true}, {"[::1]", true},          {"[fe80::1]:80", true},
        {"localhost", true},        {"LOCALHOST:8080", true},    {"localhost.", true},     {"app.localhost:80", true},
        {"mybox", true},            {"plant.example:443", true}, {"gw", true},             {"evil.example", false},
        {"", false},                {"127.0.0.1.nip.io", false}, {"mybox.evil.example", false}, {"::1", false},
        {"[::1", false},            {"gw:http", false},          {"1.2.3.4:", false},      {"a b", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsServerHost(c.host, names), c.ours) << c.host;
    ASSERT_EQ(ParseAllowHost("*", names), "");
    EXPECT_TRUE(IsServerHost("evil.example", names));
    EXPECT_NE(ParseAllowHost("http://plant.example/", names), "");

    // The machine's own names are all lower case; the short name has its ".local" too.
    const std::vector<std::string> own = MachineHostNames();
    ASSERT_FALSE(own.empty());
    for (const std::string& n : own)
        EXPECT_TRUE(std::none_of(n.begin(), n.end(), [](char ch) { return ch >= 'A' && ch <= 'Z'; })) << n;
    EXPECT_TRUE(std::any_of(own.begin(), own.end(), [](const std::string& n) { return n.ends_with(".local"); }));
}

TEST(RequestSafety, PasswordsNeverReachTheLog) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"username=operator&password=Hunter2", "username=operator&password=***"},
        {"password=a&username=b&Password=c&x=1", "password=***&username=b&Password=***&x=1"},
        {"username=u&password=", "username=u&password=***"},
        {"c10.temp", "c10.temp"},
    };
    for (const auto& c : cases) EXPECT_EQ(MaskPasswords(c.in), c.out) << c.in;
}

TEST(KeptFiles, NamesNeverServed) {
    const struct {
        const char* name;
        bool kept;
    } cases[] = {
        {"plant.log", true},          {"plant.log.1", true},         {"plant.log.2.gz", true},
        {"plant.log-20240101", true}, {"ZeltoHttpServer.log.1", true}, {"ZeltoHttpServer.conf", true},
        {"ZeltoHttpServer.conf.bak", true}, {"ZeltoComServer.conf", true}, {"x.CONF~", true},
        {"index.html~", true},        {"index.html.bak", true},      {".index.html.swp", true},
        {"#index.html#", true},       {"ZeltoHttpServer", true},     {"ZeltoSim", true},
        {"index.html", false},        {"plant.logo.png", false},     {"demo.js", false},
        {"ZeltoHttpServer.png", false}, {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsKeptName(c.name, "plant.log"), c.kept) << c.name;
}
