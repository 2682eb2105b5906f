#include "sim/uSimOptions.h"

#include <algorithm>
#include <utility>

#include "base/NumberText.h"
#include "net/uEthernetUtils.h"

namespace zelto::sim {

namespace {

const std::pair<const char*, TSysStatus> kSysStatusNames[] = {
    {"loader", TSysStatus::ssLoader}, {"kernel", TSysStatus::ssKernel}, {"none", TSysStatus::ssNone}};
const std::pair<const char*, TPLCStatus> kPLCStatusNames[] = {
    {"stop", TPLCStatus::psStop}, {"pause", TPLCStatus::psPause}, {"run", TPLCStatus::psRun},
    {"noprogram", TPLCStatus::psNoValidProgram}, {"congestion", TPLCStatus::psCongestionError},
    {"none", TPLCStatus::psNone}};

template <typename T, std::size_t N>
bool LookUp(const std::pair<const char*, T> (&names)[N], const std::string& text, T& value) {
    for (const auto& [name, v] : names) {
        if (text == name) {
            value = v;
            return true;
        }
    }
    return false;
}

}  // namespace

std::string SimUsage() {
    return "Usage: ZeltoSim [--bind ADDRESS] [--port PORT] [--sys-status loader|kernel|none]\n"
           "                [--plc-status stop|pause|run|noprogram|congestion|none] NAD [NAD ...]\n"
           "Simulates Zelto controllers with the given NADs on UDP port 8442 (all local addresses by default).\n";
}

bool ParseSimOptions(const std::vector<std::string>& Args, TSimOptions& Options, std::string& Error) {
    Options = TSimOptions();
    for (std::size_t i = 0; i < Args.size(); ++i) {
        const std::string& arg = Args[i];
        if (arg == "--help" || arg == "-h") {
            Options.Help = true;
            return true;
        }
        if (arg.rfind("--", 0) == 0) {
            if (i + 1 >= Args.size()) {
                Error = "Missing value after " + arg;
                return false;
            }
            const std::string& value = Args[++i];
            int32_t number = 0;
            if (arg == "--bind") {
                if (!IsValidIPAddress(value)) {
                    Error = "Not an IPv4 address: " + value;
                    return false;
                }
                Options.BindAddress = value;
            } else if (arg == "--port") {
                if (!TryParseWholeNumber(value, number) || number < 1 || number > 65535) {
                    Error = "Not a port number: " + value;
                    return false;
                }
                Options.Port = static_cast<uint16_t>(number);
            } else if (arg == "--sys-status") {
                if (!LookUp(kSysStatusNames, value, Options.SysStatus)) {
                    Error = "Unknown system status: " + value;
                    return false;
                }
            } else if (arg == "--plc-status") {
                if (!LookUp(kPLCStatusNames, value, Options.PLCStatus)) {
                    Error = "Unknown PLC status: " + value;
                    return false;
                }
            } else {
                Error = "Unknown option: " + arg;
                return false;
            }
            continue;
        }
        int32_t nad = 0;
        if (!TryParseWholeNumber(arg, nad) || nad < 2) {
            Error = "Not a controller NAD (2 or more): " + arg;
            return false;
        }
        if (std::find(Options.NADs.begin(), Options.NADs.end(), nad) != Options.NADs.end()) {
            Error = "NAD given twice: " + arg;
            return false;
        }
        Options.NADs.push_back(nad);
    }
    if (Options.NADs.empty()) {
        Error = "No controller NAD given";
        return false;
    }
    return true;
}

}  // namespace zelto::sim
