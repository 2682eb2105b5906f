#include "base/TempFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace zelto {

namespace {

constexpr const char* kTempSuffix = ".XXXXXX";
constexpr std::size_t kTempSuffixSize = 7;

// The file whose temporary name this is, or "" for any other name.
std::string TargetOf(const std::string& Name) {
    if (Name.size() <= kTempSuffixSize || Name[Name.size() - kTempSuffixSize] != '.') return {};
    for (std::size_t i = Name.size() - kTempSuffixSize + 1; i < Name.size(); ++i) {
        const char c = Name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return {};
    }
    return Name.substr(0, Name.size() - kTempSuffixSize);
}

// True when the file is the user's own regular file and no writer holds it; its lock is taken then.
bool Abandoned(int Fd) {
    struct stat st {};
    if (::fstat(Fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) return false;
    return ::flock(Fd, LOCK_EX | LOCK_NB) == 0;
}

}  // namespace

int CreateTempFileFor(const std::string& File, std::string& TempName) {
    TempName = File + kTempSuffix;
    const int fd = ::mkstemp(TempName.data());  // mode 0600
    if (fd < 0) return -1;
    // A fresh file nobody else has open: the lock is granted at once.
    if (::flock(fd, LOCK_EX) != 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(TempName.c_str());
        errno = err;
        return -1;
    }
    return fd;
}

int RemoveInterruptedWrites(const std::string& Folder, const std::function<bool(const std::string&)>& IsTarget) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(Folder.c_str()), ::closedir);
    if (!dir) return 0;
    const int dirFd = ::dirfd(dir.get());
    int removed = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        const std::string target = TargetOf(name);
        if (target.empty() || !IsTarget(target)) continue;
        // O_NOFOLLOW leaves a link alone; O_NONBLOCK keeps a planted FIFO from blocking the open.
        const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        if (Abandoned(fd) && ::unlinkat(dirFd, name.c_str(), 0) == 0) ++removed;
        ::close(fd);
    }
    return removed;
}

}  // namespace zelto
