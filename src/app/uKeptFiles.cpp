#include "app/uKeptFiles.h"

#include <algorithm>
#include <filesystem>

#include "base/TextEncoding.h"
#include "log/uLog.h"

namespace zelto {

namespace {

constexpr std::string_view kExecutables[] = {"ZeltoHttpServer", "ZeltoSim"};
constexpr std::string_view kBackupEndings[] = {"~", ".bak", ".swp", ".swo", ".orig", ".old"};

std::string FileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

}  // namespace

bool IsKeptName(std::string_view Name, std::string_view LogName) {
    const std::string name = LowerAscii(Name);
    for (const std::string& log : {LowerAscii(LogName), std::string("zeltohttpserver.log")}) {
        if (log.empty()) continue;
        if (name == log) return true;
        if (name.starts_with(log) && (name[log.size()] == '.' || name[log.size()] == '-')) return true;
    }
    if (name.find(".conf") != std::string::npos) return true;
    if (std::any_of(std::begin(kBackupEndings), std::end(kBackupEndings),
                    [&](std::string_view e) { return name.ends_with(e); }))
        return true;
    if (name.size() > 1 && name.front() == '#' && name.back() == '#') return true;
    return std::find(std::begin(kExecutables), std::end(kExecutables), Name) != std::end(kExecutables);
}

bool IsKeptFile(const std::string& Document, const std::string& File, const struct stat& Found,
                const std::vector<std::string>& KeptFiles) {
    const std::string logName = FileName(MyLog.LogFile());
    if (IsKeptName(FileName(Document), logName) || IsKeptName(FileName(File), logName)) return true;
    return std::any_of(KeptFiles.begin(), KeptFiles.end(), [&](const std::string& kept) {
        struct stat other {};
        return ::stat(kept.c_str(), &other) == 0 && other.st_dev == Found.st_dev && other.st_ino == Found.st_ino;
    });
}

bool NamesDecide(const std::string& Document, const struct stat& Found, const std::vector<std::string>& KeptFiles) {
    if (!S_ISREG(Found.st_mode) || Found.st_nlink != 1) return false;
    const std::string name = FileName(Document);
    return std::none_of(KeptFiles.begin(), KeptFiles.end(), [&](const std::string& kept) { return FileName(kept) == name; });
}

std::vector<std::string> OwnExecutables() {
    std::vector<std::string> files{ExecutablePath()};
    const std::string dir = ExecutableDir();
    for (std::string_view name : kExecutables) files.push_back(dir + "/" + std::string(name));
    return files;
}

}  // namespace zelto
