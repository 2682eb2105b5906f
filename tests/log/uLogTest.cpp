#include "log/uLog.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "base/DateTime.h"
#include "base/FormatSettings.h"

using namespace zelto;

namespace {
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        fDir = std::filesystem::temp_directory_path() / ("zelto_log_" + std::to_string(::getpid()) + "_" +
                                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(fDir);
        std::filesystem::create_directories(fDir);
        fFile = (fDir / "ZeltoHttpServer.log").string();
        SetFormatSettings({".", ":"});
        SetNowFunction([] { return EncodeDateTime({2018, 3, 5, 9, 4, 5, 6}); });
    }
    void TearDown() override {
        SetNowFunction(nullptr);
        std::filesystem::remove_all(fDir);
    }
    std::string Contents() const {
        std::ifstream in(fFile, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::filesystem::path fDir;
    std::string fFile;
};
}  // namespace

TEST_F(LogTest, DisabledWritesNothingWhateverTheFlags) {
    TMyLog log(fFile);
    log.AddLog("a");
    log.AddComLog("b");
    log.AddSysLog("c");
    log.AddOPCLog("d");
    EXPECT_FALSE(std::filesystem::exists(fFile));
}

TEST_F(LogTest, LinesCarryTimestampDayBeforeMonthAndCategory) {
    TMyLog log(fFile);
    log.Enabled = true;
    log.AddLog("GET /");
    log.AddComLog("Tx x");
    log.AddSysLog("s");
    log.AddOPCLog("o");
    log.LogCom = false;
    log.AddComLog("dropped");
    EXPECT_EQ(Contents(),
              "2018-05-03 09:04:05.006 GET /\r\n"
              "2018-05-03 09:04:05.006 COM Tx x\r\n"
              "2018-05-03 09:04:05.006 SYS s\r\n"
              "2018-05-03 09:04:05.006 OPC o\r\n");
    // A second log on the same file (a later run) appends.
    TMyLog later(fFile);
    later.Enabled = true;
    later.AddLog("again");
    EXPECT_NE(Contents().find("OPC o\r\n2018-05-03 09:04:05.006 again\r\n"), std::string::npos);
}

TEST_F(LogTest, TimeSeparatorFollowsLocale) {
    SetFormatSettings({",", "."});
    EXPECT_EQ(TMyLog::Timestamp(), "2018-05-03 09.04.05.006 ");
}

TEST_F(LogTest, CommunicationLinesCutAfter146Characters) {
    struct Case { std::size_t length; bool shorten; std::string expectedTail; };
    const Case cases[] = {
        {146, true, std::string(146, 'x')},
        {147, true, std::string(146, 'x') + "..."},
        {500, true, std::string(146, 'x') + "..."},
        {500, false, std::string(500, 'x')},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(fFile);
        TMyLog log(fFile);
        log.Enabled = true;
        log.ShortenComMessages = c.shorten;
        log.AddComLog(std::string(c.length, 'x'));
        EXPECT_EQ(Contents(), "2018-05-03 09:04:05.006 COM " + c.expectedTail + "\r\n") << c.length;
    }
}

TEST_F(LogTest, NewFileIsForTheUserOnly) {
    TMyLog log(fFile);
    log.Enabled = true;
    log.AddLog("Login request from 10.0.0.2: username=a&password=secret");
    EXPECT_EQ(std::filesystem::status(fFile).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(LogTest, AnOlderFileIsTightenedAndNoTextStartsALineOfItsOwn) {
    { std::ofstream(fFile) << "older line\r\n"; }
    std::filesystem::permissions(fFile, std::filesystem::perms::others_read | std::filesystem::perms::group_read,
                                 std::filesystem::perm_options::add);
    TMyLog log(fFile);
    log.Enabled = true;
    log.AddLog(std::string("File request from 10.0.0.2: /a\r\n2018-05-03 09:04:05.006 forged\x1b[2J\t\0!", 69));
    log.AddComLog("Rx\n");
    EXPECT_EQ(std::filesystem::status(fFile).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(Contents(), "older line\r\n"
                          "2018-05-03 09:04:05.006 File request from 10.0.0.2: /a%0D%0A2018-05-03 09:04:05.006 "
                          "forged%1B[2J%09%00!\r\n"
                          "2018-05-03 09:04:05.006 COM Rx%0A\r\n");
}

TEST_F(LogTest, UnwritableFolderDropsLinesQuietly) {
    TMyLog log((fDir / "missing" / "x.log").string());
    log.Enabled = true;
    EXPECT_NO_THROW(log.AddLog("lost"));
    EXPECT_FALSE(std::filesystem::exists(fDir / "missing"));
}

TEST_F(LogTest, OverlappingWritersLoseNoLine) {
    TMyLog log(fFile);
    log.Enabled = true;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 250; ++i) log.AddComLog("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (auto& th : threads) th.join();
    const std::string text = Contents();
    std::size_t lines = 0;
    for (std::size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", p + 2)) ++lines;
    EXPECT_EQ(lines, 1000u);
}

TEST(LogDefault, FileBesideTheExecutable) {
    TMyLog log;
    const std::filesystem::path p(log.LogFile());
    EXPECT_EQ(p.extension(), ".log");
    EXPECT_EQ(p.parent_path().string(), ExecutableDir());
    EXPECT_EQ(p.stem(), "log_tests");
}
