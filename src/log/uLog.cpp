#include "log/uLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <system_error>

#include "base/DateTime.h"
#include "base/FormatSettings.h"

namespace zelto {

std::string ExecutablePath() {
    std::error_code ec;
    const auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

std::string ExecutableDir() {
    const std::filesystem::path p(ExecutablePath());
    return p.parent_path().string();
}

namespace {
std::string DefaultLogFile() {
    std::filesystem::path p(ExecutablePath());
    if (p.empty()) return "ZeltoHttpServer.log";
    p.replace_extension(".log");
    return p.string();
}
}  // namespace

TMyLog MyLog;

TMyLog::TMyLog(const std::string& ALogFile) : fLogFile(ALogFile.empty() ? DefaultLogFile() : ALogFile) {}

std::string TMyLog::LogFile() const {
    std::lock_guard<std::mutex> lock(fMutex);
    return fLogFile;
}

void TMyLog::SetLogFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(fMutex);
    fLogFile = path.empty() ? DefaultLogFile() : path;
    fModeChecked = false;
}

std::string EscapeLogText(std::string_view Text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(Text.size());
    for (const char ch : Text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c != 0x7F) {
            out += ch;
            continue;
        }
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
    return out;
}

std::string TMyLog::Timestamp() {
    const TDateTimeParts p = DecodeDateTime(Now());
    const std::string ts = FormatSettings().TimeSeparator;
    return std::to_string(p.Year) + "-" + TwoDigits(p.Day) + "-" + TwoDigits(p.Month) + " " + TwoDigits(p.Hour) + ts +
           TwoDigits(p.Minute) + ts + TwoDigits(p.Second) + "." + ThreeDigits(p.MilliSecond) + " ";
}

void TMyLog::AddLog(const std::string& s) {
    if (Enabled) WriteToFile(Timestamp() + s);
}

void TMyLog::AddComLog(const std::string& s) {
    if (!Enabled || !LogCom) return;
    if (ShortenComMessages && s.size() > kMaxComMessage) {
        WriteToFile(Timestamp() + "COM " + s.substr(0, kMaxComMessage) + "...");
    } else {
        WriteToFile(Timestamp() + "COM " + s);
    }
}

void TMyLog::AddSysLog(const std::string& s) {
    if (Enabled && LogSys) WriteToFile(Timestamp() + "SYS " + s);
}

void TMyLog::AddOPCLog(const std::string& s) {
    if (Enabled && LogOPC) WriteToFile(Timestamp() + "OPC " + s);
}

void TMyLog::WriteToFile(const std::string& s) {
    std::lock_guard<std::mutex> lock(fMutex);
    // One open, append and close per line, so each line is on disk when the call returns. A new file is
    // for the user only: login lines carry the client's password.
    const int fd = ::open(fLogFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;  // folder not writable, path invalid: the line is lost, the next one tries again
    if (!fModeChecked) {
        // A file made before (by an older version, or another umask) is tightened like a new one.
        struct stat st {};
        if (::fstat(fd, &st) == 0 && (st.st_mode & 0077) != 0) static_cast<void>(::fchmod(fd, 0600));
        fModeChecked = true;
    }
    const std::string line = EscapeLogText(s) + "\r\n";
    std::size_t done = 0;
    int err = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && err == 0 && errno != EINTR) err = errno;
    if (err != 0) throw std::system_error(err, std::generic_category(), "Log file " + fLogFile);
}

void TMyLog::DeleteFile() {
    std::lock_guard<std::mutex> lock(fMutex);
    std::error_code ec;
    std::filesystem::remove(fLogFile, ec);
}

}  // namespace zelto
