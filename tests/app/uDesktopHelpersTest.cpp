#include "app/uDesktopHelpers.h"

#include <gtest/gtest.h>

#include "platform/TempDir.h"

using namespace zelto;
using namespace zelto::test;

TEST(DesktopHelpers, TracerPidOfAStatusText) {
    const struct {
        const char* text;
        long pid;
    } cases[] = {
        {"Name:\tx\nState:\tR\nTracerPid:\t0\nUid:\t0\n", 0},
        {"Name:\tx\nTracerPid:\t4711\nUid:\t0\n", 4711},
        {"TracerPid:\t12", 12},
        {"Name:\tx\nUid:\t0\n", 0},
        {"TracerPid:\tabc\n", 0},
        {"TracerPid:\t99999999999999999999\n", 0},
        {"", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(TracerPidOf(c.text), c.pid) << c.text;
    EXPECT_FALSE(RunningUnderDebugger() && TracerPidOf("TracerPid:\t0") != 0);
}

TEST(DesktopHelpers, HelpTextIsReadOnceWithItsEncoding) {
    TTempDir dir;
    const struct {
        std::string bytes;
        const char* text;
    } cases[] = {
        {"Line 1\r\nLine 2\r\n", "Line 1\nLine 2\n"},
        {"caf\xE9 \x80 5\rnext", "caf\xC3\xA9 \xE2\x82\xAC 5\nnext"},        // Windows-1252
        {"\xEF\xBB\xBF" "caf\xC3\xA9\n", "caf\xC3\xA9\n"},                    // UTF-8 mark
        {"caf\xC3\xA9 \xE2\x82\xAC\n", "caf\xC3\xA9 \xE2\x82\xAC\n"},           // UTF-8, no mark
        {std::string("\xFF\xFE" "h\0i\0", 6), "hi"},                           // UTF-16 LE mark
    };
    for (const auto& c : cases) {
        WriteFileText(dir / "Readme.txt", c.bytes);
        THelpText help;
        EXPECT_EQ(help.Load(dir / "Readme.txt"), c.text);
        WriteFileText(dir / "Readme.txt", "changed");
        EXPECT_EQ(help.Load(dir / "Readme.txt"), c.text) << "loaded once";
    }
    THelpText missing;
    EXPECT_EQ(missing.Load(dir / "Nothing.txt"), "");
    EXPECT_EQ(missing.Load(dir / "Readme.txt"), "changed") << "nothing loaded yet: a later showing reads the file";
}

TEST(DesktopHelpers, LinkTargets) {
    EXPECT_EQ(LinkTarget("support@tessvik.com"), "mailto:support@tessvik.com");
    EXPECT_EQ(LinkTarget("https://www.tessvik.com"), "https://www.tessvik.com");
    EXPECT_EQ(LinkTarget("www.example.com/a@b"), "mailto:www.example.com/a@b");
}

TEST(DesktopHelpers, BrowserAddresses) {
    const struct {
        const char* localIp;
        uint16_t port;
        const char* address;
    } cases[] = {
        {"192.168.1.20", 80, "http://192.168.1.20:80/"},
        {"127.0.0.1", 65535, "http://127.0.0.1:65535/"},
        {"::1", 8080, "http://[::1]:8080/"},
        {"::ffff:10.0.0.5", 8080, "http://10.0.0.5:8080/"},
        {"fe80::1%eth0", 8080, "http://[fe80::1%25eth0]:8080/"},
        {"", 8080, ""},            // no local address known
        {"127.0.0.1", 0, ""},      // no port bound
    };
    for (const auto& c : cases) EXPECT_EQ(BrowserAddress(c.localIp, c.port), c.address) << c.localIp;
}

TEST(DesktopHelpers, AWakeBeforeTheWindowIsDeliveredLater) {
    TWakeRelay relay;
    int wakes = 0;
    relay.Wake();
    relay.Wake();
    relay.SetReceiver([&] { ++wakes; });
    EXPECT_EQ(wakes, 1) << "one pending wake-up shows the window once";
    relay.Wake();
    EXPECT_EQ(wakes, 2);
    relay.SetReceiver(nullptr);
    relay.Wake();
    EXPECT_EQ(wakes, 2);
}
