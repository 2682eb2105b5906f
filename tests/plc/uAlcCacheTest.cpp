#include "plc/uAlcCache.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace zelto;
namespace fs = std::filesystem;

namespace {

struct TCacheDir : ::testing::Test {
    std::string dir;
    void SetUp() override {
        std::string t = (fs::temp_directory_path() / "zelto-alc-XXXXXX").string();
        dir = ::mkdtemp(t.data());
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Put(const std::string& name, const std::string& bytes) const {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

// 0x12345678 as the file's first four bytes.
const std::string kDate("\x78\x56\x34\x12", 4);
constexpr int32_t kDateValue = 0x12345678;

}  // namespace

TEST_F(TCacheDir, OnlyAGoodFileOfTheDateCounts) {
    const std::string good = Put("good", kDate + "PK-archive");
    EXPECT_EQ(ReadAlcCache(good, kDateValue), std::optional<std::string>("PK-archive"));
    EXPECT_EQ(ReadAlcCache(good, kDateValue + 1), std::nullopt) << "another transfer date";
    EXPECT_EQ(ReadAlcCache(Put("negative", std::string("\xFF\xFF\xFF\xFF", 4) + "x"), -1), std::optional<std::string>("x"));

    const struct {
        const char* what;
        std::string path;
    } absent[] = {
        {"missing", dir + "/missing"},
        {"no name", ""},
        {"empty", Put("empty", "")},
        {"three bytes", Put("short", kDate.substr(0, 3))},
        {"a date and no archive", Put("dateonly", kDate)},
        {"a folder", (fs::create_directory(dir + "/folder"), dir + "/folder")},
        {"a link to a good file", (fs::create_symlink(good, dir + "/link"), dir + "/link")},
        {"a FIFO", (::mkfifo((dir + "/fifo").c_str(), 0600), dir + "/fifo")},
    };
    for (const auto& a : absent) EXPECT_EQ(ReadAlcCache(a.path, kDateValue), std::nullopt) << a.what;

    // Another user's file (as root the file can be given away); and a file beyond any controller's memory.
    const std::string foreign = Put("foreign", kDate + "x");
    if (::geteuid() == 0 && ::chown(foreign.c_str(), 65534, 65534) == 0) {
        EXPECT_EQ(ReadAlcCache(foreign, kDateValue), std::nullopt) << "another user's file";
    }
    const std::string huge = Put("huge", kDate);
    fs::resize_file(huge, kMaxAlcCacheSize + 1);
    EXPECT_EQ(ReadAlcCache(huge, 0), std::nullopt);
}

TEST_F(TCacheDir, WriteReplacesWholeFilesOnly) {
    const std::string file = dir + "/alc_http_10.tmp";
    ASSERT_TRUE(WriteAlcCache(file, kDateValue, std::string("PK\0\1", 4)));
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kDate + std::string("PK\0\1", 4));
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(Names(), std::vector<std::string>{"alc_http_10.tmp"}) << "no temporary file stays";

    // A link at the name is replaced, its target left alone.
    const std::string target = Put("target", "keep");
    const std::string linked = dir + "/alc_http_11.tmp";
    fs::create_symlink(target, linked);
    ASSERT_TRUE(WriteAlcCache(linked, 1, "new"));
    EXPECT_FALSE(fs::is_symlink(linked));
    EXPECT_EQ(ReadAlcCache(linked, 1), std::optional<std::string>("new"));
    EXPECT_EQ(ReadAlcCache(Put("t2", kDate + "keep"), kDateValue), std::optional<std::string>("keep"));

    // A folder at the name, or no folder at all: nothing written, nothing left behind.
    fs::create_directory(dir + "/alc_http_12.tmp");
    EXPECT_FALSE(WriteAlcCache(dir + "/alc_http_12.tmp", 1, "x"));
    EXPECT_FALSE(WriteAlcCache(dir + "/none/alc_http_13.tmp", 1, "x"));
    EXPECT_FALSE(WriteAlcCache("", 1, "x"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"alc_http_10.tmp", "alc_http_11.tmp", "alc_http_12.tmp", "t2", "target"}));
}

TEST_F(TCacheDir, FolderFromTheEnvironment) {
    const char* oldTemp = std::getenv("TEMP");
    const std::string savedTemp = oldTemp ? oldTemp : "";
    ::setenv("TEMP", dir.c_str(), 1);
    EXPECT_EQ(AlcCacheDir(), dir + "/");
    EXPECT_EQ(AlcCacheFileName(10), dir + "/alc_http_10.tmp");
    ::setenv("TEMP", (dir + "/").c_str(), 1);
    EXPECT_EQ(AlcCacheFileName(-3), dir + "/alc_http_-3.tmp");

    // Without TEMP: a private folder below the user's cache folder.
    ::unsetenv("TEMP");
    ::setenv("XDG_CACHE_HOME", dir.c_str(), 1);
    EXPECT_EQ(AlcCacheDir(), dir + "/ZeltoHttpServer/");
    struct stat st {};
    ASSERT_EQ(::stat((dir + "/ZeltoHttpServer").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    Put("ZeltoHttpServer2", "");
    ::setenv("XDG_CACHE_HOME", (dir + "/ZeltoHttpServer2").c_str(), 1);  // a file where the folder belongs
    EXPECT_EQ(AlcCacheDir(), "");
    EXPECT_EQ(AlcCacheFileName(10), "");
    ::unsetenv("XDG_CACHE_HOME");
    if (oldTemp) ::setenv("TEMP", savedTemp.c_str(), 1);
}
