#pragma once
// The program's log: timestamped lines appended to a text file beside the executable. One object, MyLog,
// exists for the whole run. Writing is switched on and off as a whole by Enabled and per category by flags.
#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

namespace zelto {

class TMyLog {
public:
    // An empty file name means the executable's own path with the extension ".log".
    explicit TMyLog(const std::string& ALogFile = "");

    // Public switches, read and written directly by the settings and the setup dialog.
    std::atomic<bool> LogCom{true};
    std::atomic<bool> LogSys{true};
    std::atomic<bool> LogOPC{true};
    std::atomic<bool> Enabled{false};
    std::atomic<bool> ShortenComMessages{true};
    // Whether Q-link answers that arrived before the request they seem to answer get a line of their own
    // (the LogStaleAnswers setting); off, the log holds only sent and received frames.
    std::atomic<bool> LogStaleAnswers{false};

    void AddLog(const std::string& s);     // general line (HTTP requests)
    void AddComLog(const std::string& s);  // communication line "COM ", cut after 146 characters
    void AddSysLog(const std::string& s);  // system line "SYS "
    void AddOPCLog(const std::string& s);  // OPC line "OPC "

    // Appends s and CR LF to the file, whatever Enabled says. Control characters in s (a request's CR or
    // LF among them) are written as "%" and two hex digits, so that no text can start a line of its own.
    // The file is for the user only (mode 0600), also one that existed before. A file that cannot be opened
    // drops the line silently; a failing write or close raises std::system_error.
    void WriteToFile(const std::string& s);
    // Deletes the log file if it exists.
    void DeleteFile();

    std::string LogFile() const;
    void SetLogFile(const std::string& path);

    // "yyyy-dd-mm hh:nn:ss.zzz " (day before month) of the current time, with the locale's time separator.
    static std::string Timestamp();

    // Longest communication message written whole.
    static constexpr std::size_t kMaxComMessage = 146;

private:
    mutable std::mutex fMutex;  // serialises writers so that overlapping lines are never lost
    std::string fLogFile;
    bool fModeChecked = false;  // the file's mode has been made 0600 since the name was set
};

// The text with every control character (below 20h, and 7Fh) written as "%" and two uppercase hex digits.
std::string EscapeLogText(std::string_view Text);

// The executable's full path ("" when it cannot be found).
std::string ExecutablePath();
// The folder that holds the executable, without a trailing slash.
std::string ExecutableDir();

// The one log of the program; it exists before main() runs.
extern TMyLog MyLog;

}  // namespace zelto
