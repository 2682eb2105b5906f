#include "sim/uSimOptions.h"

#include <algorithm>
#include <functional>
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

bool WholeNumberIn(const std::string& text, int32_t low, int32_t high, int32_t& value) {
    return TryParseWholeNumber(text, value) && value >= low && value <= high;
}

bool AddNAD(const std::string& text, TSimOptions& o, std::string& error) {
    int32_t nad = 0;
    if (!WholeNumberIn(text, 2, INT32_MAX, nad)) {
        error = "Not a controller NAD (2 or more): " + text;
        return false;
    }
    if (std::find(o.NADs.begin(), o.NADs.end(), nad) != o.NADs.end()) {
        error = "NAD given twice: " + text;
        return false;
    }
    o.NADs.push_back(nad);
    return true;
}

bool FaultRule(const std::string& text, TFaultRule& rule, std::string& error) {
    if (ParseFaultRule(text, rule)) return true;
    error = "Not a fault rule (N for every Nth answer, or a probability such as 0.25): " + text;
    return false;
}

// An option whose value is a whole number from Low to High, handed to Set.
template <typename TSet>
auto WholeNumberOption(int32_t Low, int32_t High, const char* What, TSet Set) {
    return [=](const std::string& v, TSimOptions& o, std::string& e) {
        int32_t n = 0;
        if (!WholeNumberIn(v, Low, High, n)) {
            e = std::string("Not ") + What + ": " + v;
            return false;
        }
        Set(o, n);
        return true;
    };
}

// One option: its name, the name of its value ("" for a switch), its help line, and what it does.
struct TOption {
    const char* Name;
    const char* Value;
    const char* Help;
    std::function<bool(const std::string& value, TSimOptions& o, std::string& error)> Apply;
};

const std::vector<TOption>& OptionTable() {
    static const std::vector<TOption> options = {
        {"--nad", "NAD", "host a controller with this NAD (repeatable; bare NADs count as well).\n"
                         "Without any, the NAD on the ALC's \";CPU Zelto-2 NAD n\" line.",
         AddNAD},
        {"--alc", "FILE", "the program's ALC file (default: demo.alc beside ZeltoSim). It is zipped into\n"
                          "\"alc.zip\" in the controller's file table and lays out its data memory.",
         [](const std::string& v, TSimOptions& o, std::string&) {
             o.AlcFile = v;
             return true;
         }},
        {"--watch-alc", "", "load the program again when the ALC file changes (checked every second).",
         [](const std::string&, TSimOptions& o, std::string&) {
             o.WatchAlc = true;
             return true;
         }},
        {"--password", "TEXT", "answer only requests that carry this password's checksum.",
         [](const std::string& v, TSimOptions& o, std::string&) {
             o.Password = v;
             return true;
         }},
        {"--checksum-key", "HEX", "the checksum key, one hexadecimal byte (default 5C). A server with\n"
                                  "another key gets no answer.",
         [](const std::string& v, TSimOptions& o, std::string& e) {
             if (ParseChecksumXor(v, o.ChecksumKey.Xor)) return true;
             e = std::string("Not ") + kChecksumXorExpected + ": " + v;
             return false;
         }},
        {"--checksum-weights", "LIST", "the checksum weights, 16 hexadecimal words separated by commas\n"
                                       "(default 0001,0003,0007,000D,0017,002F,005B,00B5,0167,02CF,\n"
                                       "059F,0B3B,1675,2CE9,59D3,B3A7).",
         [](const std::string& v, TSimOptions& o, std::string& e) {
             if (ParseChecksumWeights(v, o.ChecksumKey.Weights)) return true;
             e = std::string("Not ") + kChecksumWeightsExpected + ": " + v;
             return false;
         }},
        {"--bind", "ADDRESS", "listen on this IPv4 address only (default: all local addresses).",
         [](const std::string& v, TSimOptions& o, std::string& e) {
             if (!IsValidIPAddress(v)) {
                 e = "Not an IPv4 address: " + v;
                 return false;
             }
             o.BindAddress = v;
             return true;
         }},
        {"--device", "IFACE", "take only datagrams that arrive on this network adapter, e.g. lo: with\n"
                              "the server on --adapter lo the pair talks over loopback broadcasts and\n"
                              "nothing on the real network reaches the simulated controller.",
         [](const std::string& v, TSimOptions& o, std::string& e) {
             if (v.empty() || v.size() >= 16 || v.find('/') != std::string::npos) {
                 e = "Not a network adapter name: " + v;
                 return false;
             }
             o.Device = v;
             return true;
         }},
        {"--port", "PORT", "UDP port (default 8442, where the server sends).",
         WholeNumberOption(1, 65535, "a port number",
                           [](TSimOptions& o, int32_t n) { o.Port = static_cast<uint16_t>(n); })},
        {"--sys-status", "S", "system status: loader, kernel (default) or none.",
         [](const std::string& v, TSimOptions& o, std::string& e) {
             if (LookUp(kSysStatusNames, v, o.SysStatus)) return true;
             e = "Unknown system status: " + v;
             return false;
         }},
        {"--plc-status", "S", "program status: stop, pause, run (default), noprogram, congestion or none.",
         [](const std::string& v, TSimOptions& o, std::string& e) {
             if (LookUp(kPLCStatusNames, v, o.PLCStatus)) return true;
             e = "Unknown PLC status: " + v;
             return false;
         }},
        {"--tick", "MS", "step of the demo program's live values in milliseconds (default 100).",
         WholeNumberOption(1, 60000, "a tick from 1 to 60000 ms", [](TSimOptions& o, int32_t n) { o.TickMs = n; })},
        {"--drop", "RULE", "send no answer: RULE N = every Nth answer, 0.x = with that probability.",
         [](const std::string& v, TSimOptions& o, std::string& e) { return FaultRule(v, o.Faults.Drop, e); }},
        {"--duplicate", "RULE", "send the answer twice.",
         [](const std::string& v, TSimOptions& o, std::string& e) { return FaultRule(v, o.Faults.Duplicate, e); }},
        {"--corrupt", "RULE", "break the answer's frame checksum (its last byte inverted).",
         [](const std::string& v, TSimOptions& o, std::string& e) { return FaultRule(v, o.Faults.Corrupt, e); }},
        {"--split", "RULE", "send the answer as two datagrams.",
         [](const std::string& v, TSimOptions& o, std::string& e) { return FaultRule(v, o.Faults.Split, e); }},
        {"--delay", "MS", "send every answer this many milliseconds late.",
         WholeNumberOption(0, 60000, "a delay from 0 to 60000 ms",
                           [](TSimOptions& o, int32_t n) { o.Faults.DelayMs = n; })},
        {"--jitter", "MS", "send each copy of every answer a random time from 0 to MS milliseconds later\n"
                           "(beside --delay): answers come out of order, and late.",
         WholeNumberOption(0, 60000, "a jitter from 0 to 60000 ms",
                           [](TSimOptions& o, int32_t n) { o.Faults.JitterMs = n; })},
        {"--count-reads", "", "answer every random-access read with the number of that read (1, 2, 3 ...\n"
                              "per controller, cut to each item's size) in every item instead of its\n"
                              "value: a client can tell which request each value it shows answered.",
         [](const std::string&, TSimOptions& o, std::string&) {
             o.CountReads = true;
             return true;
         }},
        {"--seed", "N", "seed of the fault probabilities (default 1), to repeat a run.",
         WholeNumberOption(0, INT32_MAX, "a seed",
                           [](TSimOptions& o, int32_t n) { o.Faults.Seed = static_cast<uint32_t>(n); })},
        {"--help", "", "this text.",
         [](const std::string&, TSimOptions& o, std::string&) {
             o.Help = true;
             return true;
         }},
    };
    return options;
}

}  // namespace

std::string SimUsage() {
    constexpr std::size_t kHelpColumn = 22;
    std::string text =
        "Usage: ZeltoSim [OPTION ...] [NAD ...]\n"
        "Simulates Zelto controllers on UDP port 8442: each answers ping, status, code and data memory,\n"
        "random-access variable reads and writes, and keeps its program's \"alc.zip\" in its file table.\n"
        "The demo program (a heated tank) has live values while it runs.\n\nOptions:\n";
    for (const auto& option : OptionTable()) {
        std::string head = std::string("  ") + option.Name + (*option.Value ? std::string(" ") + option.Value : "");
        text += head + std::string(head.size() < kHelpColumn ? kHelpColumn - head.size() : 1, ' ');
        for (const char c : std::string(option.Help)) {
            text += c;
            if (c == '\n') text += std::string(kHelpColumn, ' ');
        }
        text += "\n";
    }
    text +=
        "\nWhile it runs:\n"
        "  SIGHUP   load the ALC file again: a new program transfer date, so a server fetches the ALC anew\n"
        "  SIGUSR1  stop the program when it runs, run it when it is stopped\n"
        "  SIGINT, SIGTERM  end\n"
        "Example: ZeltoSim --nad 10 --alc demo.alc --drop 5 --delay 20\n";
    return text;
}

bool ParseSimOptions(const std::vector<std::string>& Args, TSimOptions& Options, std::string& Error) {
    Options = TSimOptions();
    for (std::size_t i = 0; i < Args.size(); ++i) {
        const std::string& arg = Args[i];
        if (arg == "-h") {
            Options.Help = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            if (!AddNAD(arg, Options, Error)) return false;
            continue;
        }
        const auto& all = OptionTable();
        const auto option =
            std::find_if(all.begin(), all.end(), [&](const TOption& o) { return arg == o.Name; });
        if (option == all.end()) {
            Error = "Unknown option: " + arg;
            return false;
        }
        std::string value;
        if (*option->Value) {
            if (i + 1 >= Args.size()) {
                Error = "Missing value after " + arg;
                return false;
            }
            value = Args[++i];
        }
        if (!option->Apply(value, Options, Error)) return false;
    }
    return true;
}

}  // namespace zelto::sim
