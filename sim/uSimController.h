#pragma once
// One simulated controller of the Zelto family, known by its NAD. It answers the Q-link requests addressed
// to it, one handler per command; a command it does not serve gets no answer, as from a controller that
// ignores it.
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "qlink/hQLinkCommands.h"

namespace zelto::sim {

// A request as the controller sees it: the frame's NADs, the command byte, the data after it and the
// password checksum.
struct TSimRequest {
    int32_t SenderNAD = 0;
    int32_t ReceiverNAD = 0;
    uint8_t Command = 0;
    std::vector<uint8_t> Data;
    uint16_t PasswordCRC = 0;
};

class TSimController {
public:
    explicit TSimController(int32_t NAD);

    int32_t NAD() const { return fNAD; }
    TSysStatus SysStatus() const { return fSysStatus; }
    void SetSysStatus(TSysStatus Value) { fSysStatus = Value; }
    TPLCStatus PLCStatus() const { return fPLCStatus; }
    void SetPLCStatus(TPLCStatus Value) { fPLCStatus = Value; }

    // The answer data for a request addressed to this controller, or nothing when it does not answer.
    // Broadcast marks a request to NAD 0, which only the commands that all controllers answer get.
    std::optional<std::vector<uint8_t>> Handle(const TSimRequest& Request, bool Broadcast);

private:
    using THandler = std::optional<std::vector<uint8_t>> (TSimController::*)(const TSimRequest&);
    struct TCommand {
        THandler Handler;
        bool AnswersBroadcast;
    };

    std::optional<std::vector<uint8_t>> HandlePing(const TSimRequest& Request);
    std::optional<std::vector<uint8_t>> HandleReadStatus(const TSimRequest& Request);

    int32_t fNAD;
    TSysStatus fSysStatus = TSysStatus::ssKernel;
    TPLCStatus fPLCStatus = TPLCStatus::psRun;
    std::map<uint8_t, TCommand> fCommands;
};

}  // namespace zelto::sim
