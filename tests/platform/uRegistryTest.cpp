#include "platform/uRegistry.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/TempDir.h"

using namespace zelto;
using namespace zelto::test;

namespace {
const char* kKey = "\\Software\\Tessvik\\ZeltoHttpServer\\";
}

TEST(SettingsFileOf, KeyPathsBecomeFilesBelowTheRoot) {
    const struct {
        const char* key;
        const char* file;
    } cases[] = {
        {"\\Software\\Tessvik\\ZeltoHttpServer\\", "/r/Tessvik/ZeltoHttpServer.conf"},
        {"\\Software\\Tessvik\\ZeltoComServer\\", "/r/Tessvik/ZeltoComServer.conf"},
        {"Software\\Tessvik\\ZeltoHttpServer", "/r/Tessvik/ZeltoHttpServer.conf"},
        {"\\Other\\Key\\", "/r/Other/Key.conf"},
        {"\\Software\\..\\..\\x\\", "/r/x.conf"},  // no climbing out of the root
        {"\\", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(SettingsFileOf("/r", c.key), c.file) << c.key;
}

TEST(Registry, MissingKeyOpensOnlyWhenCreating) {
    TTempDir dir;
    TRegistry reg(dir.Path().string());
    EXPECT_FALSE(reg.OpenKey(kKey, false));
    EXPECT_FALSE(reg.ValueExists("Port"));
    ASSERT_TRUE(reg.OpenKey(kKey, true));
    reg.CloseKey();
    // A created key exists on disk, readable by the user only (it holds the password).
    const std::string file = dir / "Tessvik/ZeltoHttpServer.conf";
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(reg.OpenKey(kKey, false));
}

TEST(Registry, TypedValuesRoundTrip) {
    TTempDir dir;
    {
        TRegistry reg(dir.Path().string());
        ASSERT_TRUE(reg.OpenKey(kKey, true));
        reg.WriteInteger("Port", 8080);
        reg.WriteInteger("Top", -20);
        reg.WriteBool("LogToFile", true);
        reg.WriteBool("Maximized", false);
        reg.WriteString("QLinkPassword", " pass\\word = x\n2\t ");
        reg.WriteString("Empty", "");
        reg.CloseKey();
    }
    TRegistry reg(dir.Path().string());
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    EXPECT_EQ(reg.ReadInteger("Port"), 8080);
    EXPECT_EQ(reg.ReadInteger("top"), -20);  // names compare without case
    EXPECT_TRUE(reg.ReadBool("LogToFile"));
    EXPECT_FALSE(reg.ReadBool("Maximized"));
    EXPECT_EQ(reg.ReadString("QLinkPassword"), " pass\\word = x\n2\t ");
    EXPECT_TRUE(reg.ValueExists("Empty"));
    EXPECT_EQ(reg.ReadString("Empty"), "");
    EXPECT_EQ(reg.ReadString("Port"), "8080");
}

TEST(Registry, IntegerReadsCheckTheText) {
    TTempDir dir;
    WriteFileText(dir / "Tessvik/ZeltoHttpServer.conf",
                  "# a comment\n[section]\nA=12\nB = 65616 \nC=4294967295\nD=-2147483648\n"
                  "E=abc\nF=\nG=12x\nH=4294967296\nI=-2147483649\nJ=0x10\nK=1.5\n");
    TRegistry reg(dir.Path().string());
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    const struct {
        const char* name;
        bool ok;
        int32_t value;
    } cases[] = {
        {"A", true, 12},  {"B", true, 65616}, {"C", true, -1}, {"D", true, INT32_MIN}, {"E", false, 0}, {"F", false, 0},
        {"G", false, 0},  {"H", false, 0},    {"I", false, 0}, {"J", false, 0},        {"K", false, 0},
        {"Missing", false, 0},
    };
    for (const auto& c : cases) {
        if (c.ok) {
            EXPECT_EQ(reg.ReadInteger(c.name), c.value) << c.name;
        } else {
            try {
                reg.ReadInteger(c.name);
                ADD_FAILURE() << c.name << " read as an integer";
            } catch (const ERegistryException& e) {
                EXPECT_EQ(std::string(e.what()), std::string("Invalid data type for '") + c.name + "'");
            }
            EXPECT_THROW(reg.ReadBool(c.name), ERegistryException) << c.name;
        }
    }
}

TEST(Registry, RewriteKeepsOtherLinesAndOnlyWritesWhenChanged) {
    TTempDir dir;
    const std::string file = dir / "Tessvik/ZeltoHttpServer.conf";
    WriteFileText(file, "# kept\nPort = 80\nOther=x\n");
    TRegistry reg(dir.Path().string());
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    reg.WriteInteger("port", 80);  // same value: the user's line stays as written
    reg.CloseKey();
    EXPECT_EQ(ReadFileText(file), "# kept\nPort = 80\nOther=x\n");
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    reg.WriteInteger("Port", 81);
    reg.WriteString("New", "v");
    reg.CloseKey();
    EXPECT_EQ(ReadFileText(file), "# kept\nPort=81\nOther=x\nNew=v\n");
}

TEST(Registry, KeyThatCannotBeCreatedIsNotOpened) {
    TTempDir dir;
    WriteFileText(dir / "Tessvik", "a file where the folder should be");
    TRegistry reg(dir.Path().string());
    EXPECT_FALSE(reg.OpenKey(kKey, true));
    EXPECT_THROW(reg.WriteInteger("Port", 1), ERegistryException);
}

TEST(Registry, FailedWriteIsReported) {
    TTempDir dir;
    const std::string file = dir / "Tessvik/ZeltoHttpServer.conf";
    WriteFileText(file, "Port=80\n");
    TRegistry reg(dir.Path().string());
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    reg.WriteInteger("Port", 81);
    // The temporary file cannot be made once the folder is gone.
    std::filesystem::remove_all(dir.Path() / "Tessvik");
    EXPECT_THROW(reg.CloseKey(), ERegistryException);
}
