#pragma once
// The simulator's command line (ZeltoSim --help lists it, SimUsage gives the text).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qlink/hQLinkCommands.h"
#include "qlink/uChecksumKey.h"
#include "sim/uSimFaults.h"

namespace zelto::sim {

struct TSimOptions {
    std::string BindAddress;  // "" = all local addresses
    std::string Device;       // "" = every network adapter; else only datagrams that arrive on it
    uint16_t Port = 8442;
    TSysStatus SysStatus = TSysStatus::ssKernel;
    TPLCStatus PLCStatus = TPLCStatus::psRun;
    std::vector<int32_t> NADs;  // hosted controllers, each once; none: the NAD the ALC names
    std::string AlcFile;        // "" = demo.alc beside the program
    bool WatchAlc = false;      // reload the program when the ALC file changes
    std::optional<std::string> Password;
    TChecksumKey ChecksumKey = kDefaultChecksumKey;  // the controllers' checksum constants
    int TickMs = 100;           // step of the live values
    TSimFaultOptions Faults;
    bool CountReads = false;    // random reads answer with their own number instead of the values
    bool Help = false;
};

// False with a message for the user when the arguments (without the program name) are not usable.
bool ParseSimOptions(const std::vector<std::string>& Args, TSimOptions& Options, std::string& Error);
std::string SimUsage();

}  // namespace zelto::sim
