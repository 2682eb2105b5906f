#include "app/uServiceOptions.h"

#include <filesystem>

#include "app/uAccessRules.h"
#include "app/uPaths.h"
#include "log/uLog.h"
#include "platform/uRegistry.h"

namespace zelto {

namespace {

// The bounds: option, setting and the field of the options, with the largest value that makes sense.
struct TBoundOption {
    const char* Option;
    const char* Setting;
    std::optional<int> TServiceOptions::*Field;
    int Max;
};
constexpr TBoundOption kBoundOptions[] = {
    {"--parallel-controllers", "ParallelControllers", &TServiceOptions::ParallelControllers, 1024},
    {"--max-request-items", "MaxRequestItems", &TServiceOptions::MaxRequestItems, 1000000},
    {"--max-request-controllers", "MaxRequestControllers", &TServiceOptions::MaxRequestControllers, kMaxControllerRecords},
};

bool ParseBound(const std::string& text, int max, int& value) {
    if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stoi(text);
    return value >= 1 && value <= max;
}

}  // namespace

bool IsServiceOption(const std::string& arg) {
    for (const auto& b : kBoundOptions)
        if (arg == b.Option) return true;
    return arg == "--www" || arg == "--log" || arg == "--config" || arg == "--allow" || arg == "--read-only" ||
           arg == "--bind" || arg == "--allow-host" || arg == "--write-header" || arg == "--log-stale-answers";
}

std::string ReadServiceOption(const std::string& arg, bool hasInlineValue,
                              const std::function<std::optional<std::string>()>& value, TServiceOptions& options) {
    for (auto [name, flag] : {std::pair{"--read-only", &options.ReadOnly}, std::pair{"--write-header", &options.WriteHeader},
                              std::pair{"--log-stale-answers", &options.LogStaleAnswers}}) {
        if (arg != name) continue;
        if (hasInlineValue) return arg + " takes no value";
        *flag = true;
        return {};
    }
    const auto v = value();
    if (!v) return {};  // value() has said what is missing
    for (const auto& b : kBoundOptions) {
        if (arg != b.Option) continue;
        int n = 0;
        if (!ParseBound(*v, b.Max, n))
            return arg + " needs a number from 1 to " + std::to_string(b.Max) + ", not '" + *v + "'";
        options.*b.Field = n;
        return {};
    }
    if (arg == "--www") {
        std::error_code ec;
        if (!std::filesystem::is_directory(*v, ec)) return "--www needs a folder, and '" + *v + "' is none";
        options.WebRoot = *v;
    } else if (arg == "--log") {
        if (v->empty() || std::filesystem::is_directory(*v)) return "--log needs a file name, not '" + *v + "'";
        options.LogFile = *v;
    } else if (arg == "--config") {
        if (v->empty()) return "--config needs a folder";
        options.ConfigDir = *v;
    } else if (arg == "--allow") {
        TAccessList list;
        const std::string why = list.Parse(*v);
        if (!why.empty()) return "--allow: " + why;
        options.AllowFrom = *v;
    } else if (arg == "--bind") {
        if (!IsIpAddress(*v)) return "--bind needs one IPv4 or IPv6 address of this machine, not '" + *v + "'";
        options.Bind = *v;
    } else if (arg == "--allow-host") {
        THostNames hosts;
        const std::string why = ParseAllowHost(*v, hosts);
        if (!why.empty()) return "--allow-host: " + why;
        options.AllowHost = *v;
    }
    return {};
}

TServiceOptions ReadServiceSettings(const TRegistry& reg) {
    TServiceOptions s;
    if (reg.ValueExists("WebRoot")) s.WebRoot = reg.ReadString("WebRoot");
    if (reg.ValueExists("LogFile")) s.LogFile = reg.ReadString("LogFile");
    if (reg.ValueExists("AllowFrom")) s.AllowFrom = reg.ReadString("AllowFrom");
    if (reg.ValueExists("ReadOnly")) s.ReadOnly = reg.ReadBool("ReadOnly");
    if (reg.ValueExists("LogToFile")) s.LogToFile = reg.ReadBool("LogToFile");
    for (const auto& b : kBoundOptions)
        if (reg.ValueExists(b.Setting)) s.*b.Field = reg.ReadInteger(b.Setting);
    if (reg.ValueExists("AllowHost")) s.AllowHost = reg.ReadString("AllowHost");
    if (reg.ValueExists("WriteHeader")) s.WriteHeader = reg.ReadBool("WriteHeader");
    if (reg.ValueExists("LogStaleAnswers")) s.LogStaleAnswers = reg.ReadBool("LogStaleAnswers");
    return s;
}

bool TServiceSettings::LogToFileToSave(bool logEnabled) {
    if (!logEnabled) LogOnForThisRun = false;
    return LogOnForThisRun ? StoredLogToFile : logEnabled;
}

TServiceSettings ResolveServiceSettings(const TServiceOptions& commandLine, const TServiceOptions& stored,
                                        const std::string& programDir) {
    TServiceSettings s;
    if (commandLine.WebRoot) {
        s.WebRoot = *commandLine.WebRoot;
    } else if (stored.WebRoot && !stored.WebRoot->empty()) {
        std::error_code ec;
        if (!std::filesystem::is_directory(*stored.WebRoot, ec)) {
            throw ERegistryException("Invalid value for 'WebRoot': '" + *stored.WebRoot + "' is no folder");
        }
        s.WebRoot = *stored.WebRoot;
    } else {
        s.WebRoot = DefaultWebRoot(programDir);
    }

    const std::optional<std::string>& allow = commandLine.AllowFrom ? commandLine.AllowFrom : stored.AllowFrom;
    if (allow) {
        const std::string why = s.Access.Parse(*allow);
        if (!why.empty()) throw ERegistryException("Invalid value for 'AllowFrom': " + why);
    }
    s.ReadOnly = commandLine.ReadOnly || stored.ReadOnly;
    int* bounds[] = {&s.ParallelControllers, &s.Bounds.MaxItems, &s.Bounds.MaxControllers};
    for (std::size_t i = 0; i < std::size(kBoundOptions); ++i) {
        const TBoundOption& b = kBoundOptions[i];
        if ((commandLine.*b.Field).has_value()) {
            *bounds[i] = *(commandLine.*b.Field);
        } else if (const auto& v = stored.*b.Field) {
            if (*v < 1 || *v > b.Max)
                throw ERegistryException(std::string("Invalid value for '") + b.Setting + "': a number from 1 to " +
                                         std::to_string(b.Max) + " expected");
            *bounds[i] = *v;
        }
    }
    if (const auto& hosts = commandLine.AllowHost ? commandLine.AllowHost : stored.AllowHost) {
        const std::string why = ParseAllowHost(*hosts, s.AllowHost);
        if (!why.empty()) throw ERegistryException("Invalid value for 'AllowHost': " + why);
    }
    s.WriteHeader = commandLine.WriteHeader || stored.WriteHeader;
    MyLog.LogStaleAnswers = commandLine.LogStaleAnswers || stored.LogStaleAnswers;

    const std::optional<std::string>& log =
        commandLine.LogFile ? commandLine.LogFile : (stored.LogFile && !stored.LogFile->empty() ? stored.LogFile : std::nullopt);
    if (commandLine.LogFile) {
        // Whoever names a log file for a run wants it written.
        s.LogOnForThisRun = true;
        s.StoredLogToFile = stored.LogToFile.value_or(false);
        MyLog.Enabled = true;
    }
    if (log) {
        MyLog.SetLogFile(std::filesystem::absolute(*log).string());
    } else {
        bool fellBack = false;
        const std::string file = ChooseLogFile(MyLog.LogFile(), fellBack);
        if (fellBack) {
            s.LogNotice = "The program's folder cannot be written; the log goes to " + file;
            MyLog.SetLogFile(file);
        }
    }
    return s;
}

std::string ServiceUsageText() {
    return "  --www DIR      serve web files from DIR (setting WebRoot; default: the program's folder, or the\n"
           "                 installed share/zeltohttpserver/www)\n"
           "  --log FILE     write the log to FILE and switch it on for this run (setting LogFile; default:\n"
           "                 beside the program, or $XDG_STATE_HOME/ZeltoHttpServer/ZeltoHttpServer.log when\n"
           "                 that folder cannot be written; without --log the setting LogToFile switches it)\n"
           "  --config DIR   read and write both settings files in DIR instead of $XDG_CONFIG_HOME/Tessvik\n"
           "  --allow LIST   only these addresses and networks may send requests, e.g. 192.168.1.0/24,10.0.0.5\n"
           "                 (setting AllowFrom); others get 403\n"
           "  --read-only    never write controller variables; write values in requests are only read\n"
           "                 (setting ReadOnly=1)\n"
           "  --bind ADDRESS listen on this local address only (default: every IPv4 address)\n"
           "  --parallel-controllers N  at most N controller exchanges at once in the whole server (setting\n"
           "                 ParallelControllers; default 16; 1 for a Q-link network that takes one at a time)\n"
           "  --max-request-items N  at most N items in one variable request (setting MaxRequestItems;\n"
           "                 default 1000); more get 400\n"
           "  --max-request-controllers N  at most N controllers in one variable request (setting\n"
           "                 MaxRequestControllers; default 64); more get 400\n"
           "  --allow-host LIST  further names of this server that requests may carry in their Host header,\n"
           "                 besides IP addresses, localhost and the machine's name (setting AllowHost; \"*\": any);\n"
           "                 others get 421\n"
           "  --write-header writes need the header \"X-Zelto-Write: 1\" (setting WriteHeader=1); others get 403\n"
           "  --log-stale-answers  log Q-link answers that arrived too late (setting LogStaleAnswers=1)\n";
}

}  // namespace zelto
