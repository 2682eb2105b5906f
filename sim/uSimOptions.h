#pragma once
// The simulator's command line:
//   ZeltoSim [--bind ADDRESS] [--port PORT] [--sys-status loader|kernel|none]
//            [--plc-status stop|pause|run|noprogram|congestion|none] NAD [NAD ...]
#include <cstdint>
#include <string>
#include <vector>

#include "qlink/hQLinkCommands.h"

namespace zelto::sim {

struct TSimOptions {
    std::string BindAddress;  // "" = all local addresses
    uint16_t Port = 8442;
    TSysStatus SysStatus = TSysStatus::ssKernel;
    TPLCStatus PLCStatus = TPLCStatus::psRun;
    std::vector<int32_t> NADs;  // hosted controllers, at least one, each once; 0 and 1 are not controllers
    bool Help = false;
};

// False with a message for the user when the arguments (without the program name) are not usable.
bool ParseSimOptions(const std::vector<std::string>& Args, TSimOptions& Options, std::string& Error);
std::string SimUsage();

}  // namespace zelto::sim
