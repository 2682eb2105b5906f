#pragma once
// One simulated controller of the Zelto family, known by its NAD. It holds a program (code header, file
// table and "alc.zip" in code memory, the program's variables in data memory), runs or stops it, and
// answers the Q-link requests addressed to it, one handler per command. A command it does not serve, a
// malformed request and a request with the wrong password checksum get no answer, as from a controller
// that ignores them.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "qlink/hQLinkCommands.h"
#include "sim/uSimDemo.h"
#include "sim/uSimMemory.h"
#include "sim/uSimProgram.h"

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
    // Stops a running program and runs a stopped one; a controller without program stays as it is.
    void ToggleRun();

    // Requests must carry this password checksum; without one every checksum is accepted.
    void SetPasswordCRC(std::optional<uint16_t> Value) { fPasswordCRC = Value; }

    // In this mode every random-access read answers each item with the read's number (counted from 1 per
    // controller, cut to the item's size) instead of its value, so that a client can tell which read a
    // value it shows came from.
    void SetCountReads(bool Value) { fCountReads = Value; }
    uint32_t ReadCount() const { return fReadCount; }

    // Transfers a program: code memory holds it with a new transfer date, data memory is cleared and the
    // program's start values are set, and a controller that had no program runs it.
    void LoadProgram(std::shared_ptr<const TSimProgram> Program);
    const TSimProgram* Program() const { return fProgram.get(); }
    int32_t TransferDate() const { return fTransferDate; }

    // Advances the running program by Seconds (the demo's live values); a stopped program stands still.
    void Tick(double Seconds);

    TSimCodeMemory& Code() { return fCode; }
    TSimDataMemory& Data() { return fData; }

    // The answer data for a request addressed to this controller, or nothing when it does not answer.
    // Broadcast marks a request to NAD 0, which only the commands that all controllers answer get.
    std::optional<std::vector<uint8_t>> Handle(const TSimRequest& Request, bool Broadcast);

private:
    using TAnswer = std::optional<std::vector<uint8_t>>;
    using THandler = TAnswer (TSimController::*)(const TSimRequest&);
    struct TCommand {
        THandler Handler;
        bool AnswersBroadcast;
    };

    TAnswer HandlePing(const TSimRequest& Request);
    TAnswer HandleReadStatus(const TSimRequest& Request);
    TAnswer HandleFlashInit(const TSimRequest& Request);
    TAnswer HandleReadCode(const TSimRequest& Request);
    TAnswer HandleWriteCode(const TSimRequest& Request);
    TAnswer HandleDataInit(const TSimRequest& Request);
    TAnswer HandleReadData(const TSimRequest& Request);
    TAnswer HandleWriteData(const TSimRequest& Request);
    TAnswer HandleReadRandom(const TSimRequest& Request);
    TAnswer HandleWriteRandom(const TSimRequest& Request);

    int32_t fNAD;
    TSysStatus fSysStatus = TSysStatus::ssKernel;
    TPLCStatus fPLCStatus = TPLCStatus::psRun;
    std::optional<uint16_t> fPasswordCRC;
    bool fCountReads = false;
    uint32_t fReadCount = 0;  // random reads answered in that mode
    std::shared_ptr<const TSimProgram> fProgram;
    std::unique_ptr<TSimDemo> fDemo;
    int32_t fTransferDate = 0;
    TSimCodeMemory fCode;
    TSimDataMemory fData;
    std::map<uint8_t, TCommand> fCommands;
};

}  // namespace zelto::sim
