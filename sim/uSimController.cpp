#include "sim/uSimController.h"

namespace zelto::sim {

TSimController::TSimController(int32_t NAD) : fNAD(NAD) {
    fCommands = {
        {kCmdPing, {&TSimController::HandlePing, true}},
        {kCmdReadStatus, {&TSimController::HandleReadStatus, false}},
    };
}

std::optional<std::vector<uint8_t>> TSimController::Handle(const TSimRequest& Request, bool Broadcast) {
    const auto command = fCommands.find(Request.Command);
    if (command == fCommands.end()) return std::nullopt;
    if (Broadcast && !command->second.AnswersBroadcast) return std::nullopt;
    return (this->*command->second.Handler)(Request);
}

// Ping: an answer without data is the whole result.
std::optional<std::vector<uint8_t>> TSimController::HandlePing(const TSimRequest&) { return std::vector<uint8_t>{}; }

// ReadStatus: system status, then PLC status.
std::optional<std::vector<uint8_t>> TSimController::HandleReadStatus(const TSimRequest&) {
    return std::vector<uint8_t>{static_cast<uint8_t>(fSysStatus), static_cast<uint8_t>(fPLCStatus)};
}

}  // namespace zelto::sim
