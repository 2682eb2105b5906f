#include "sim/uSimController.h"

#include "qlink/uByteOrder.h"
#include "qlink/uQLink.h"

namespace zelto::sim {

namespace {

using TBytes = std::vector<uint8_t>;
constexpr std::size_t kBlockHead = 4;  // address or segment, then size

// The counts and addresses of a random-access request; nothing when the data are too short for them.
struct TRandomItems {
    int Count[3] = {0, 0, 0};  // 1-, 2- and 4-byte items
    std::vector<uint16_t> Addresses;
    std::size_t ValueBytes = 0;
    std::size_t ValuesAt = 0;  // where the values of a write begin
};

std::optional<TRandomItems> DecodeRandomItems(const TBytes& Data) {
    if (Data.size() < 6) return std::nullopt;
    TRandomItems items;
    std::size_t n = 0;
    for (int k = 0; k < 3; ++k) {
        items.Count[k] = GetU16LE(Data, 2 * static_cast<std::size_t>(k));
        n += static_cast<std::size_t>(items.Count[k]);
    }
    items.ValuesAt = 6 + 2 * n;
    if (Data.size() < items.ValuesAt) return std::nullopt;
    for (std::size_t i = 0; i < n; ++i) items.Addresses.push_back(GetU16LE(Data, 6 + 2 * i));
    items.ValueBytes = static_cast<std::size_t>(items.Count[0]) + 2 * static_cast<std::size_t>(items.Count[1]) +
                       4 * static_cast<std::size_t>(items.Count[2]);
    return items;
}

// Calls Item(address, size) for each item in request order.
template <typename TItem>
bool ForEachItem(const TRandomItems& Items, TItem Item) {
    static constexpr int kSizes[3] = {1, 2, 4};
    std::size_t i = 0;
    for (int k = 0; k < 3; ++k)
        for (int c = 0; c < Items.Count[k]; ++c)
            if (!Item(Items.Addresses[i++], kSizes[k])) return false;
    return true;
}

// Block_size bytes from the block's start (Where * Scale); nothing for a short request or a block past the
// end of the memory.
template <typename TMemory>
std::optional<TBytes> ReadBlock(const TMemory& Memory, const TBytes& Data, uint32_t Scale) {
    if (Data.size() < kBlockHead) return std::nullopt;
    TBytes block(GetU16LE(Data, 2));
    if (!Memory.Read(GetU16LE(Data, 0) * Scale, block)) return std::nullopt;
    return block;
}

// Writes the request's Block_size bytes at the block's start.
template <typename TMemory>
std::optional<TBytes> WriteBlock(TMemory& Memory, const TBytes& Data, uint32_t Scale) {
    if (Data.size() < kBlockHead) return std::nullopt;
    const std::size_t size = GetU16LE(Data, 2);
    if (Data.size() < kBlockHead + size) return std::nullopt;
    if (!Memory.Write(GetU16LE(Data, 0) * Scale, std::span(Data).subspan(kBlockHead, size))) return std::nullopt;
    return TBytes{};
}

}  // namespace

TSimController::TSimController(int32_t NAD) : fNAD(NAD) {
    fCommands = {
        {kCmdPing, {&TSimController::HandlePing, true}},
        {kCmdReadStatus, {&TSimController::HandleReadStatus, false}},
        {kCmdFlashInit, {&TSimController::HandleFlashInit, false}},
        {kCmdReadCode, {&TSimController::HandleReadCode, false}},
        {kCmdWriteCode, {&TSimController::HandleWriteCode, false}},
        {kCmdDataInit, {&TSimController::HandleDataInit, false}},
        {kCmdReadData, {&TSimController::HandleReadData, false}},
        {kCmdWriteData, {&TSimController::HandleWriteData, false}},
        {kCmdReadRandom, {&TSimController::HandleReadRandom, false}},
        {kCmdWriteRandom, {&TSimController::HandleWriteRandom, false}},
    };
}

void TSimController::ToggleRun() {
    if (fPLCStatus == TPLCStatus::psRun)
        fPLCStatus = TPLCStatus::psStop;
    else if (fPLCStatus == TPLCStatus::psStop || fPLCStatus == TPLCStatus::psPause)
        fPLCStatus = TPLCStatus::psRun;
}

void TSimController::LoadProgram(std::shared_ptr<const TSimProgram> Program) {
    fProgram = std::move(Program);
    fTransferDate = NextTransferDate(fTransferDate);
    LayOutProgram(fCode, *fProgram, fNAD, fTransferDate);
    fData.Clear();
    fDemo = std::make_unique<TSimDemo>(fProgram->Vars);
    fDemo->Start(fData);
    if (fPLCStatus == TPLCStatus::psNoValidProgram) fPLCStatus = TPLCStatus::psRun;
}

void TSimController::Tick(double Seconds) {
    if (fDemo && fSysStatus == TSysStatus::ssKernel && fPLCStatus == TPLCStatus::psRun) fDemo->Step(fData, Seconds);
}

std::optional<std::vector<uint8_t>> TSimController::Handle(const TSimRequest& Request, bool Broadcast) {
    if (fPasswordCRC && Request.PasswordCRC != *fPasswordCRC) return std::nullopt;
    const auto command = fCommands.find(Request.Command);
    if (command == fCommands.end()) return std::nullopt;
    if (Broadcast && !command->second.AnswersBroadcast) return std::nullopt;
    auto answer = (this->*command->second.Handler)(Request);
    // No answer frame holds more than this; a request that asks for more is not served.
    if (answer && answer->size() > static_cast<std::size_t>(kMaxAnswerData)) return std::nullopt;
    return answer;
}

// Ping: an answer without data is the whole result.
TSimController::TAnswer TSimController::HandlePing(const TSimRequest&) { return TBytes{}; }

// ReadStatus: system status, then PLC status.
TSimController::TAnswer TSimController::HandleReadStatus(const TSimRequest&) {
    return TBytes{static_cast<uint8_t>(fSysStatus), static_cast<uint8_t>(fPLCStatus)};
}

// FlashInit(sector_flags, clear_plc_var): erases the program; a second byte other than 0 clears the data
// memory too.
TSimController::TAnswer TSimController::HandleFlashInit(const TSimRequest& Request) {
    if (Request.Data.size() < 2) return std::nullopt;
    fCode.Clear();
    if (Request.Data[1] != 0) fData.Clear();
    fDemo.reset();
    fProgram.reset();
    fPLCStatus = TPLCStatus::psNoValidProgram;
    return TBytes{};
}

// ReadCode(Seg_num, Block_size): Block_size bytes from code address Seg_num * 256.
TSimController::TAnswer TSimController::HandleReadCode(const TSimRequest& Request) {
    return ReadBlock(fCode, Request.Data, 256);
}

// WriteCode(Seg_num, Block_size, bytes).
TSimController::TAnswer TSimController::HandleWriteCode(const TSimRequest& Request) {
    return WriteBlock(fCode, Request.Data, 256);
}

// DataInit: clears the data memory.
TSimController::TAnswer TSimController::HandleDataInit(const TSimRequest&) {
    fData.Clear();
    return TBytes{};
}

// ReadData(Block_addr, Block_size).
TSimController::TAnswer TSimController::HandleReadData(const TSimRequest& Request) {
    return ReadBlock(fData, Request.Data, 1);
}

// WriteData(Block_addr, Block_size, bytes).
TSimController::TAnswer TSimController::HandleWriteData(const TSimRequest& Request) {
    return WriteBlock(fData, Request.Data, 1);
}

// ReadRandom(counts, addresses): the values in request order, little-endian.
TSimController::TAnswer TSimController::HandleReadRandom(const TSimRequest& Request) {
    const auto items = DecodeRandomItems(Request.Data);
    if (!items) return std::nullopt;
    TBytes values;
    const uint32_t number = fReadCount + 1;
    const bool ok = ForEachItem(*items, [&](uint16_t address, int size) {
        auto value = fData.ReadItem(address, size);
        if (!value) return false;
        if (fCountReads) value = number;
        for (int b = 0; b < size; ++b) values.push_back(static_cast<uint8_t>(*value >> (8 * b)));
        return true;
    });
    if (!ok) return std::nullopt;
    if (fCountReads) fReadCount = number;
    return values;
}

// WriteRandom(counts, addresses, values). Nothing is written unless every item fits the memory.
TSimController::TAnswer TSimController::HandleWriteRandom(const TSimRequest& Request) {
    const auto items = DecodeRandomItems(Request.Data);
    if (!items || Request.Data.size() < items->ValuesAt + items->ValueBytes) return std::nullopt;
    if (!ForEachItem(*items, [&](uint16_t address, int size) { return fData.ReadItem(address, size).has_value(); }))
        return std::nullopt;
    std::size_t at = items->ValuesAt;
    ForEachItem(*items, [&](uint16_t address, int size) {
        uint32_t value = 0;
        for (int b = size - 1; b >= 0; --b) value = (value << 8) | Request.Data[at + static_cast<std::size_t>(b)];
        at += static_cast<std::size_t>(size);
        return fData.WriteItem(address, size, value);
    });
    return TBytes{};
}

}  // namespace zelto::sim
