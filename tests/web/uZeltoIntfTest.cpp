#include "web/uZeltoIntf.h"

#include <atomic>
#include <cfloat>
#include <thread>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace zelto;
namespace fs = std::filesystem;

namespace {

// A settings folder of the test's own, so that the user's settings are never read.
class TSettingsDir {
public:
    TSettingsDir() {
        std::string t = (fs::temp_directory_path() / "zelto-web-XXXXXX").string();
        Path = ::mkdtemp(t.data());
    }
    ~TSettingsDir() { fs::remove_all(Path); }
    void WriteSiblingAdapter(const std::string& id) const {
        fs::create_directories(Path + "/Tessvik");
        std::ofstream(Path + "/Tessvik/ZeltoComServer.conf") << "EthernetAdapterID=" << id << "\n";
    }
    std::string Path;
};

struct TServerFixture : ::testing::Test {
    TSettingsDir settings;
    int32_t reqCount = 7;
    TDateTime started = 0;
    std::unique_ptr<TZeltoServer> server;

    void SetUp() override {
        SetFormatSettings(TFormatSettings{".", ":"});
        TZeltoServerHost host;
        host.ServerStartedAt = [this] { return started; };
        host.ReqCount = [this] { return reqCount; };
        host.SettingsRoot = settings.Path;
        server = std::make_unique<TZeltoServer>(host);
        server->SetOutputType(iotXML);
    }
    void TearDown() override { SetNowFunction({}); }

    // Binds request variable `index` to a controller variable kept by the test.
    TZeltoVar* Bind(int index, TZeltoVarTyp typ, const Variant& value, const std::string& description) {
        auto v = std::make_unique<TZeltoVar>("x", 0x40, 4, 1, 0, 0, vsGlobal, typ, vvUser, vaReadWrite, description,
                                             Variant(int32_t{0}));
        v->SetValue(value);
        vars.Add(std::move(v));
        TZeltoVar* bound = vars.Items(vars.Count() - 1);
        request.Vars.Items(index)->SetZeltoVar(bound);
        return bound;
    }
    // Parses a request as the service does; true when an item named a controller.
    bool Parse(const std::string& query) {
        request = server->ParseRequest(query);
        return !request.Named.empty();
    }
    // The document of the parsed request, its variables as bound.
    std::string Document() { return server->BuildResponse(server->Results(request)); }
    TZeltoVarList vars;
    TVarRequest request;
};

std::string Xml(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<data>\r\n" + body + "\r\n</data>";
}

std::string Var(const std::string& name, const std::string& value, const std::string& description) {
    return "<var><name>" + name + "</name><value>" + value + "</value><description>" + description +
           "</description></var>";
}

}  // namespace

TEST_F(TServerFixture, ParseRequestSortsItems) {
    struct TG {
        std::string full, name;
        int32_t nad, index;
        std::string write;
    };
    const struct {
        std::string query;
        bool result;
        std::vector<TG> vars;
        std::vector<std::string> sys;
    } cases[] = {
        {"c10.temp&sys.http_request_count", true, {{"c10.temp", "temp", 10, 0, ""}}, {"sys.http_request_count"}},
        {"c10.level=12.5", true, {{"c10.level", "level", 10, 0, "12.5"}}, {}},
        {"c10.level=abc&c10.level=1,5", true, {{"c10.level", "level", 10, 0, ""}, {"c10.level", "level", 10, 0, ""}}, {}},
        {"c10.tab[3]&c10.tab", true, {{"c10.tab[3]", "tab", 10, 3, ""}, {"c10.tab", "tab", 10, 0, ""}}, {}},
        {"c10.tab[-1]&c10.tab[]", true, {{"c10.tab[-1]", "tab[-1]", 10, 0, ""}, {"c10.tab[]", "tab[]", 10, 0, ""}}, {}},
        {"C10.x&c$A.y", true, {{"C10.x", "x", 10, 0, ""}, {"c$A.y", "y", 10, 0, ""}}, {}},
        {"cx.temp&c.temp", false, {}, {}},
        {"d10.temp&temp", false, {}, {"d10.temp", "temp"}},
        {"c10.sys.alc_file&sys.alc_file&c10.sys.nad_list", true, {}, {"c10.sys.alc_file", "sys.alc_file", "c10.sys.nad_list"}},
        {"C10.SYS.alc_file", true, {{"C10.SYS.alc_file", "SYS.alc_file", 10, 0, ""}}, {}},
        {"c10.t%5B1%5D", true, {{"c10.t%5B1%5D", "t%5B1%5D", 10, 0, ""}}, {}},
        {"&", false, {}, {""}},
        {"c10.a\\&c10.b&", true, {{"c10.a", "a", 10, 0, ""}, {"c10.b", "b", 10, 0, ""}}, {}},
        {"c10.a\\=5", true, {{"c10.a", "a", 10, 0, "5"}}, {}},
        // "." and "=" positions are taken before the value is cut off.
        {"c10=1.5&x=1.5", true, {{"c10", "", 10, 0, "1.5"}}, {"x"}},
        {"c10.sys.alc_file=3", true, {}, {"c10.sys.alc_file"}},
        {"", false, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        EXPECT_EQ(Parse(c.query), c.result);
        ASSERT_EQ(request.Vars.Count(), static_cast<int>(c.vars.size()));
        for (std::size_t i = 0; i < c.vars.size(); ++i) {
            const TGadgetVar* g = request.Vars.Items(static_cast<int>(i));
            EXPECT_EQ(g->FullName(), c.vars[i].full);
            EXPECT_EQ(g->Name(), c.vars[i].name);
            EXPECT_EQ(g->NAD(), c.vars[i].nad);
            EXPECT_EQ(g->ArrayIndex(), c.vars[i].index);
            EXPECT_EQ(g->WriteValue(), c.vars[i].write);
            EXPECT_EQ(g->WriteReq(), !c.vars[i].write.empty());
        }
        EXPECT_EQ(request.SysVars, c.sys);
    }
}

TEST_F(TServerFixture, FirstEdgeCaseDocument) {
    reqCount = 21;
    ASSERT_TRUE(Parse("c10.temp&sys.http_request_count"));
    Bind(0, vtReal, 21.5, "Temperature");
    EXPECT_EQ(Document(),
              Xml(Var("c10.temp", "21.5", "Temperature") + "\r\n" +
                  Var("sys.http_request_count", "21", "Total number of http requests.")));
}

TEST_F(TServerFixture, DocumentsInThreeFormats) {
    ASSERT_TRUE(Parse("c10.a&c10.b&sys.nope&&"));
    Bind(0, vtInt, int32_t{-3}, "");
    const struct {
        TOutputType type;
        std::string doc;
    } cases[] = {
        {iotText, "c10.a=-3&c10.b=?&sys.nope=?&="},
        {iotHTML, "<html><head></head><body>\r\nc10.a=-3<br>\r\nc10.b=?<br>\r\nsys.nope=?<br>\r\n=\r\n</body></html>"},
        {iotXML, Xml(Var("c10.a", "-3", "") + "\r\n" + Var("c10.b", "?", "") + "\r\n" + Var("sys.nope", "?", "") +
                     "\r\n" + Var("", "", ""))},
    };
    for (const auto& c : cases) {
        server->SetOutputType(c.type);
        EXPECT_EQ(Document(), c.doc) << c.type;
    }
    Parse("sys.");  // not even an item that parses as a variable: one "?" entry
    Parse("");
    server->SetOutputType(iotXML);
    EXPECT_EQ(Document(), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<data>\r\n\r\n</data>");
}

TEST_F(TServerFixture, ClientTextIsEscapedInMarkup) {
    ASSERT_TRUE(Parse("c10.<b>&x\"&y\xC3\xA4"));
    Bind(0, vtBit, uint8_t{1}, "a<b & \xC3\xA4");
    EXPECT_EQ(Document(), Xml(Var("c10.&lt;b&gt;", "1", "a&lt;b &amp; &#228;") + "\r\n" +
                                           Var("x&quot;", "?", "") + "\r\n" + Var("y&#228;", "?", "")));
    server->SetOutputType(iotHTML);
    EXPECT_NE(Document().find("c10.&lt;b&gt;=1"), std::string::npos);
    server->SetOutputType(iotText);
    EXPECT_EQ(Document(), "c10.<b>=1&x\"=?&y\xC3\xA4=?");
}

TEST_F(TServerFixture, NumberTextOfValues) {
    const struct {
        TZeltoVarTyp typ;
        Variant value;
        const char* text;
    } cases[] = {
        {vtReal, 0.0, "0"},
        {vtReal, static_cast<double>(FLT_MAX), "3.40282346638529E38"},
        {vtReal, static_cast<double>(0.1f), "0.100000001490116"},
        {vtReal, -0.00001, "-9.99999974737875E-6"},  // the single nearest to -1E-5
        {vtLong, int32_t{-2147483647 - 1}, "-2147483648"},
        {vtWord, uint16_t{65535}, "65535"},
    };
    ASSERT_TRUE(Parse("c1.x"));
    for (const auto& c : cases) {
        Bind(0, c.typ, c.value, "");
        EXPECT_EQ(Document(), Xml(Var("c1.x", c.text, ""))) << c.text;
    }
    SetFormatSettings(TFormatSettings{",", ":"});
    Bind(0, vtReal, 21.5, "");
    EXPECT_EQ(Document(), Xml(Var("c1.x", "21,5", "")));
}

TEST_F(TServerFixture, SystemVariables) {
    SetNowFunction([] { return 100.0 + (26 * 60 + 5) / 1440.0; });
    started = 100.0;
    const struct {
        const char* name;
        std::string value;
        const char* description;
    } cases[] = {
        {"sys.server_version", "1.0.3", "ZeltoHttpServer version."},
        {"sys.server_uptime", "1 days, 2:05:00", "Time since the server is started."},
        {"sys.http_request_count", "7", "Total number of http requests."},
        {"sys.http_port_status", "active",
         "Http port status can be only in active state. If port is inactive, server is down."},
        {"sys.scgi_port_status", "active",
         "SCGI port status can be only in active state. If port is inactive, server is down."},
        {"sys.alc_file", "?", ""},
        {"sys.Server_version", "?", ""},
        {"c10.sys.nad_list", "", ""},
        {"c99.sys.alc_file", "Zelto 99 not found", ""},
        {"", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(server->FormatSystemVar(c.name), Var(c.name, c.value, c.description)) << c.name;
}

TEST(ServerUptime, DaysAndTimeOfDay) {
    const TFormatSettings colon{".", ":"}, dot{",", "."};
    EXPECT_EQ(FormatServerUptime(10.0, 10.0, colon), "0 days, 0:00:00");
    EXPECT_EQ(FormatServerUptime(12.5 + 1.0 / 86400, 10.0, colon), "2 days, 12:00:01");
    EXPECT_EQ(FormatServerUptime(10.0 + 23.0 / 24 + 59.0 / 1440 + 59.4 / 86400, 10.0, dot), "0 days, 23.59.59");
    EXPECT_EQ(FormatServerUptime(10.0 + 1.0 / 1440, 10.0 - 400, colon), "400 days, 0:01:00");
}

TEST(ZeltoServerAdapter, SiblingSettingsChooseTheAdapter) {
    TSettingsDir settings;
    settings.WriteSiblingAdapter("lo");
    TZeltoServerHost host;
    host.SettingsRoot = settings.Path;
    TZeltoServer chosen(host);
    EXPECT_EQ(chosen.DefaultEthAdapter().ID(), "lo");
    EXPECT_EQ(chosen.DefaultEthAdapter().BroadcastAddress(), "127.255.255.255");

    // An unknown or empty ID falls back to the adapter of the host's first IPv4 address.
    TEthernetAdapterInfo def;
    def.GetDefault();
    for (const char* id : {"no-such-adapter", ""}) {
        chosen.SetEthernetAdapter(id);
        EXPECT_EQ(chosen.DefaultEthAdapter().ID(), def.ID()) << id;
    }
    TSettingsDir empty;
    host.SettingsRoot = empty.Path;
    TZeltoServer plain(host);
    EXPECT_EQ(plain.DefaultEthAdapter().ID(), def.ID());
    EXPECT_EQ(plain.OutputType(), iotText);
    EXPECT_EQ(plain.Status(), ccsReady);
}
