#include "app/uPaths.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace zelto {

namespace fs = std::filesystem;

std::string InstalledDataDir(const std::string& programDir) {
    return (fs::path(programDir).parent_path() / "share" / "zeltohttpserver").string();
}

std::string DefaultWebRoot(const std::string& programDir) {
    std::error_code ec;
    if (fs::exists(fs::path(programDir) / "index.html", ec)) return programDir;
    const fs::path installed = fs::path(InstalledDataDir(programDir)) / "www";
    return fs::is_directory(installed, ec) ? installed.string() : programDir;
}

std::string DefaultHelpFile(const std::string& programDir) {
    const fs::path beside = fs::path(programDir) / "Readme.txt";
    const fs::path installed = fs::path(InstalledDataDir(programDir)) / "Readme.txt";
    std::error_code ec;
    return (!fs::exists(beside, ec) && fs::exists(installed, ec) ? installed : beside).string();
}

std::string StateLogFile() {
    const char* state = std::getenv("XDG_STATE_HOME");
    fs::path root;
    if (state != nullptr && state[0] == '/') {
        root = state;
    } else {
        const char* home = std::getenv("HOME");
        root = fs::path(home != nullptr ? home : "") / ".local" / "state";
    }
    return (root / "ZeltoHttpServer" / "ZeltoHttpServer.log").string();
}

bool CanWriteFile(const std::string& file) {
    std::error_code ec;
    if (fs::exists(file, ec)) return ::access(file.c_str(), W_OK) == 0;
    const std::string dir = fs::path(file).parent_path().string();
    return ::access(dir.empty() ? "." : dir.c_str(), W_OK) == 0;
}

std::string ChooseLogFile(const std::string& defaultFile, bool& fellBack) {
    fellBack = !CanWriteFile(defaultFile);
    if (!fellBack) return defaultFile;
    const std::string file = StateLogFile();
    std::error_code ec;
    fs::create_directories(fs::path(file).parent_path(), ec);
    return file;
}

}  // namespace zelto
