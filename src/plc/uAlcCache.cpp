#include "plc/uAlcCache.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <string_view>

#include "base/TempFiles.h"

namespace zelto {

namespace {

std::string EnvValue(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// Creates a folder with mode 0700 unless it exists as a folder.
bool MakePrivateDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) return true;
    if (errno != EEXIST) return false;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Closes a descriptor when it goes out of scope.
struct TFd {
    int fd = -1;
    ~TFd() {
        if (fd >= 0) ::close(fd);
    }
};

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string AlcCacheDir() {
    std::string dir = EnvValue("TEMP");
    if (!dir.empty()) {
        if (dir.back() != '/') dir += '/';
        return dir;
    }
    std::string base = EnvValue("XDG_CACHE_HOME");
    if (base.empty() || base.front() != '/') {
        const std::string home = EnvValue("HOME");
        if (home.empty()) return {};
        base = home + "/.cache";
        if (!MakePrivateDir(base)) return {};
    }
    dir = base + "/ZeltoHttpServer";
    if (!MakePrivateDir(dir)) return {};
    return dir + "/";
}

std::string AlcCacheFileName(int32_t NAD) {
    const std::string dir = AlcCacheDir();
    if (dir.empty()) return {};
    return dir + "alc_http_" + std::to_string(NAD) + ".tmp";
}

std::optional<std::string> ReadAlcCache(const std::string& FileName, int32_t TransferDate) {
    if (FileName.empty()) return std::nullopt;
    // O_NOFOLLOW refuses a link; O_NONBLOCK keeps a planted FIFO from blocking the open.
    TFd f{::open(FileName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK)};
    if (f.fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) return std::nullopt;
    // A file of no more than the date holds no archive to use.
    if (st.st_size <= 4 || static_cast<uint64_t>(st.st_size) > kMaxAlcCacheSize) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(f.fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    // A file that changed size while it was read is not the file that was written.
    if (got != bytes.size()) return std::nullopt;
    const auto b = [&](int i) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[static_cast<std::size_t>(i)])); };
    const auto date = static_cast<int32_t>(b(0) | (b(1) << 8) | (b(2) << 16) | (b(3) << 24));
    if (date != TransferDate) return std::nullopt;
    return bytes.substr(4);
}

bool WriteAlcCache(const std::string& FileName, int32_t TransferDate, const std::string& Archive) {
    if (FileName.empty()) return false;
    std::string temp;
    TFd f{CreateTempFileFor(FileName, temp)};  // mode 0600
    if (f.fd < 0) return false;
    const auto d = static_cast<uint32_t>(TransferDate);
    const char head[4] = {static_cast<char>(d & 0xFF), static_cast<char>((d >> 8) & 0xFF),
                          static_cast<char>((d >> 16) & 0xFF), static_cast<char>((d >> 24) & 0xFF)};
    bool ok = WriteAll(f.fd, head, 4) && WriteAll(f.fd, Archive.data(), Archive.size()) && ::fsync(f.fd) == 0;
    // Renamed while still open (and locked), so that the start-up clean-up never takes it for a leftover.
    if (ok) ok = ::rename(temp.c_str(), FileName.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

int RemoveInterruptedAlcCacheWrites() {
    const std::string dir = AlcCacheDir();
    if (dir.empty()) return 0;
    return RemoveInterruptedWrites(dir, [](const std::string& target) {
        // "alc_http_<NAD>.tmp", the NAD in decimal as AlcCacheFileName writes it.
        constexpr std::string_view kHead = "alc_http_", kTail = ".tmp";
        if (target.size() <= kHead.size() + kTail.size() || target.rfind(kHead, 0) != 0 ||
            target.compare(target.size() - kTail.size(), kTail.size(), kTail) != 0)
            return false;
        int32_t nad = 0;
        const std::string digits = target.substr(kHead.size(), target.size() - kHead.size() - kTail.size());
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), nad);
        return ec == std::errc() && end == digits.data() + digits.size() && std::to_string(nad) == digits;
    });
}

}  // namespace zelto
