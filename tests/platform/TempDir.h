#pragma once
// A fresh folder per test, removed afterwards.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

namespace zelto::test {

class TTempDir {
public:
    TTempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("zelto_") + info->test_suite_name() + "_" + info->name() + "_" + std::to_string(::getpid());
        for (char& c : name) if (c == '/') c = '_';
        fPath = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(fPath);
        std::filesystem::create_directories(fPath);
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(fPath, ec);
    }
    const std::filesystem::path& Path() const { return fPath; }
    std::string operator/(const std::string& name) const { return (fPath / name).string(); }

private:
    std::filesystem::path fPath;
};

inline std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void WriteFileText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace zelto::test
