#pragma once
// The options that place the program's files and restrict its clients, for services and installations:
// --www DIR, --log FILE, --config DIR, --allow LIST, --read-only, --bind ADDRESS, the bounds of the
// controller work (--parallel-controllers N, --max-request-items N, --max-request-controllers N) and the
// request safety options (--allow-host LIST, --write-header, --log-stale-answers). Each applies to this run
// only and wins over the setting of the same meaning (WebRoot, LogFile, AllowFrom, ReadOnly,
// ParallelControllers, MaxRequestItems, MaxRequestControllers, AllowHost, WriteHeader, LogStaleAnswers);
// --log also switches the log on for its run, whatever LogToFile says, without changing that setting.
#include <functional>
#include <optional>
#include <string>

#include "app/uAccessRules.h"
#include "web/uControllerService.h"
#include "web/uVarRequest.h"
#include "app/uRequestSafety.h"

namespace zelto {

struct TServiceOptions {
    std::optional<std::string> WebRoot;    // --www: the folder web files are served from
    std::optional<std::string> LogFile;    // --log
    std::optional<std::string> ConfigDir;  // --config: both settings files lie directly in it
    std::optional<std::string> AllowFrom;  // --allow: addresses and networks that may send requests
    bool ReadOnly = false;                 // --read-only: write values in requests are not sent
    std::optional<std::string> Bind;       // --bind: the one local address to listen on
    std::optional<int> ParallelControllers;    // --parallel-controllers: exchanges at once in the server
    std::optional<int> MaxRequestItems;        // --max-request-items: items in one variable request
    std::optional<int> MaxRequestControllers;  // --max-request-controllers: controllers in one request
    std::optional<bool> LogToFile;         // the stored switch of the log (no option of its own: --log sets it)
    // Request safety.
    std::optional<std::string> AllowHost;  // --allow-host: further names of this server ("*": any Host)
    bool WriteHeader = false;              // --write-header: writes need "X-Zelto-Write: 1"
    bool LogStaleAnswers = false;          // --log-stale-answers: log Q-link answers that came too late
};

// Whether arg (without an "=value" part) is one of these options.
bool IsServiceOption(const std::string& arg);

// Reads one of these options into options. value() yields the option's value (or nullopt after it has
// reported a missing value itself); hasInlineValue tells whether "=value" was written. Returns "" or the
// reason the value cannot be used.
std::string ReadServiceOption(const std::string& arg, bool hasInlineValue,
                              const std::function<std::optional<std::string>()>& value, TServiceOptions& options);

class TRegistry;

// The settings of the same meaning from an open key: WebRoot, LogFile, AllowFrom, AllowHost (text),
// ReadOnly, LogToFile, WriteHeader and LogStaleAnswers (integer, non-zero = on) and the three bounds
// (integers). Throws ERegistryException ("Invalid data type for 'ReadOnly'") like every read.
TServiceOptions ReadServiceSettings(const TRegistry& reg);

// What the options and settings come to for this run.
struct TServiceSettings {
    std::string WebRoot;
    TAccessList Access;
    bool ReadOnly = false;
    int ParallelControllers = kDefaultParallelControllers;
    TRequestBounds Bounds;
    THostNames AllowHost;  // the names of AllowHost (the machine's own are added at start-up)
    bool WriteHeader = false;
    std::string LogNotice;  // said once at start-up: where the log goes when the program's folder is closed

    // The LogToFile to save while the log is switched on (logEnabled) or off. While --log keeps the log on,
    // the stored setting is saved unchanged; once the log is switched off (the setup dialog), the switch is
    // the user's again and is saved as it stands.
    bool LogToFileToSave(bool logEnabled);
    bool LogOnForThisRun = false;   // --log switched the log on
    bool StoredLogToFile = false;   // the setting's value then
};

// Combines the command line (first) with the stored settings and the defaults for a program in
// programDir, and points the log (MyLog) at its file and sets its LogStaleAnswers. Throws
// ERegistryException for a stored value that cannot be used (a WebRoot that is no folder, an AllowFrom or
// AllowHost with a bad entry, a bound below 1).
TServiceSettings ResolveServiceSettings(const TServiceOptions& commandLine, const TServiceOptions& stored,
                                        const std::string& programDir);

// The lines --help shows for these options.
std::string ServiceUsageText();

}  // namespace zelto
