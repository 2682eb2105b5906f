// The controller commands of TCommunicator: ping and status, code and data memory in blocks, the code
// header, the file table and the ALC archive, flash and data initialisation.
#include <algorithm>
#include <array>
#include <cstdint>

#include "qlink/uCommunication.h"

namespace zelto {

namespace {

constexpr int kAnswerBufferSize = 1040;
constexpr int kStatusTries = 5;
constexpr int kHeaderTries = 5;
constexpr int kFlashInitWaitTime = 10000;  // ms: erasing flash takes the controller a while
constexpr int64_t kSegmentCount = 0x10000; // segment numbers are 16-bit

using TAnswerBuffer = std::array<uint8_t, kAnswerBufferSize>;

// Reads a record of `Size` bytes from the code header's address.
template <typename TRecord, typename TDecode>
bool ReadHeaderRecord(TCommunicator& Comm, std::unique_ptr<TRecord>& CodeHead, TDecode Decode) {
    TMemoryStream stream;
    if (!Comm.ReadToStream(kCodeHeaderAddress, static_cast<int32_t>(sizeof(TRecord)), &stream)) return false;
    if (stream.size() < sizeof(TRecord)) return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(stream.data());
    CodeHead = std::make_unique<TRecord>(Decode(std::span<const uint8_t, sizeof(TRecord)>(bytes, sizeof(TRecord))));
    return true;
}

}  // namespace

bool TCommunicator::RequestAnswer(uint8_t Command, std::span<const uint8_t> Data, std::span<uint8_t> Answer,
                                  int& Count) {
    Count = 0;
    if (!SendRequest(Command, Data)) return false;
    std::string data;
    {
        std::lock_guard<std::mutex> lock(fLock);
        data = fLastData;
    }
    HexToBytes(data, Answer, Count);
    return true;
}

bool TCommunicator::Ping() { return SendCommand(kCmdPing); }

bool TCommunicator::ReadStatus(TSysStatus& sys_status, TPLCStatus& plc_status) {
    std::array<uint8_t, 2> answer{};
    int count = 0;
    if (!RequestAnswer(kCmdReadStatus, {}, answer, count) || count < 2) return false;
    bool ok = true;
    if (answer[0] <= static_cast<uint8_t>(TSysStatus::ssNone))
        sys_status = static_cast<TSysStatus>(answer[0]);
    else
        ok = false;
    if (answer[1] <= static_cast<uint8_t>(TPLCStatus::psNone))
        plc_status = static_cast<TPLCStatus>(answer[1]);
    else
        ok = false;
    return ok;
}

bool TCommunicator::CheckIfZeltoIsRunning() {
    TSysStatus sys = TSysStatus::ssNone;
    TPLCStatus plc = TPLCStatus::psNone;
    for (int i = 0; i < kStatusTries; ++i) {
        if (ReadStatus(sys, plc)) return sys == TSysStatus::ssKernel && plc == TPLCStatus::psRun;
    }
    return false;
}

std::unique_ptr<TCodeHeaderShort> TCommunicator::ReadCodeHeaderShortRetried() {
    std::unique_ptr<TCodeHeaderShort> header;
    for (int i = 0; i < kHeaderTries && !header; ++i) ReadCodeHeaderShort(header);
    return header;
}

bool TCommunicator::CheckCode() {
    const auto header = ReadCodeHeaderShortRetried();
    return header && IsValidCodeHeader(*header);
}

bool TCommunicator::CheckDateNotChanged() {
    const auto header = ReadCodeHeaderShortRetried();
    if (!header || !IsValidCodeHeader(*header)) return false;
    const bool unchanged = header->transfer_date == fTransferDate;
    fTransferDate = header->transfer_date;
    return unchanged;
}

bool TCommunicator::ReadCodeHeader(std::unique_ptr<TCodeHeader>& CodeHead) {
    return ReadHeaderRecord(*this, CodeHead, DecodeCodeHeader);
}

bool TCommunicator::ReadCodeHeaderShort(std::unique_ptr<TCodeHeaderShort>& CodeHead) {
    return ReadHeaderRecord(*this, CodeHead, DecodeCodeHeaderShort);
}

bool TCommunicator::ReadBlock(uint8_t Command, uint16_t Where, uint16_t Block_size, std::span<uint8_t> data) {
    std::array<uint8_t, 4> request{};
    PutU16LE(request, 0, Where);
    PutU16LE(request, 2, Block_size);
    int count = 0;
    return RequestAnswer(Command, request, data, count) && count >= Block_size;
}

bool TCommunicator::WriteBlock(uint8_t Command, uint16_t Where, uint16_t Block_size, std::span<const uint8_t> data) {
    if (data.size() < Block_size) return false;
    std::vector<uint8_t> request(4 + static_cast<std::size_t>(Block_size));
    PutU16LE(request, 0, Where);
    PutU16LE(request, 2, Block_size);
    std::copy_n(data.begin(), Block_size, request.begin() + 4);
    return SendRequest(Command, request);
}

bool TCommunicator::ReadCode(uint16_t Seg_num, uint16_t Block_size, std::span<uint8_t> data) {
    return ReadBlock(kCmdReadCode, Seg_num, Block_size, data);
}

bool TCommunicator::ReadData(uint16_t Block_addr, uint16_t Block_size, std::span<uint8_t> data) {
    return ReadBlock(kCmdReadData, Block_addr, Block_size, data);
}

bool TCommunicator::WriteCode(uint16_t Seg_num, uint16_t Block_size, std::span<const uint8_t> data) {
    return WriteBlock(kCmdWriteCode, Seg_num, Block_size, data);
}

bool TCommunicator::WriteData(uint16_t Block_addr, uint16_t Block_size, std::span<const uint8_t> data) {
    return WriteBlock(kCmdWriteData, Block_addr, Block_size, data);
}

bool TCommunicator::ReadToStream(int32_t Address, int32_t size, TMemoryStream* DataStream) {
    if (DataStream == nullptr) return false;
    DataStream->clear();
    // Code addresses are 24-bit (16-bit segments of 256 bytes); anything else is a broken table entry.
    if (Address < 0 || size < 0 || size > kMaxCodeFileSize) return false;
    const int64_t end = static_cast<int64_t>(Address) + size;
    const int64_t first = Address / kCodeSegmentSize;
    const int64_t blocks = end / kCodeSegmentSize - first + 1;
    const int64_t offset = Address % kCodeSegmentSize;
    if (end > kSegmentCount * kCodeSegmentSize) return false;

    TAnswerBuffer buffer{};
    for (int64_t i = 0; i < blocks; ++i) {
        // The last block ends where the range ends within its segment; it may be empty.
        const int64_t blockSize =
            i < blocks - 1 ? kCodeSegmentSize : end - first * kCodeSegmentSize - (blocks - 1) * kCodeSegmentSize;
        if (blockSize > 0 &&
            !ReadCode(static_cast<uint16_t>(first + i), static_cast<uint16_t>(blockSize), buffer))
            return false;
        const int64_t from = i == 0 ? offset : 0;
        if (blockSize > from)
            DataStream->append(reinterpret_cast<const char*>(buffer.data() + from),
                               static_cast<std::size_t>(blockSize - from));
    }
    return true;
}

bool TCommunicator::SendStream(uint32_t Address, const TMemoryStream& DataStream) {
    const uint32_t first = Address / kCodeSegmentSize;
    const std::size_t blocks = (DataStream.size() + kCodeSegmentSize - 1) / kCodeSegmentSize;
    if (blocks > 0 && first + blocks - 1 >= kSegmentCount) return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(DataStream.data());
    for (std::size_t i = 0; i < blocks; ++i) {
        const std::size_t at = i * kCodeSegmentSize;
        const std::size_t blockSize = std::min<std::size_t>(kCodeSegmentSize, DataStream.size() - at);
        if (!WriteCode(static_cast<uint16_t>(first + i), static_cast<uint16_t>(blockSize),
                       std::span<const uint8_t>(bytes + at, blockSize)))
            return false;
    }
    return true;
}

bool TCommunicator::ReadAlc(std::unique_ptr<TMemoryStream>& AlcStream) {
    AlcStream.reset();
    std::unique_ptr<TCodeHeader> header;
    if (!ReadCodeHeader(header)) return false;
    if (!IsValidCodeHeader(*header) || header->file_count == 0) return false;
    fTransferDate = header->transfer_date;
    // A table longer than any controller keeps is a broken header, not a reason for hundreds of reads.
    if (header->file_count > kMaxCodeFileCount) return false;

    TMemoryStream table;
    constexpr int32_t entrySize = sizeof(TCodeFileDescriptor);
    if (!ReadToStream(header->file_adr, header->file_count * entrySize, &table)) return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(table.data());
    for (std::size_t at = 0; at + entrySize <= table.size(); at += entrySize) {
        const TCodeFileDescriptor entry =
            DecodeCodeFileDescriptor(std::span<const uint8_t, sizeof(TCodeFileDescriptor)>(bytes + at, entrySize));
        if (entry.file_size <= 0 || CodeFileName(entry) != kAlcFileName) continue;
        AlcStream = std::make_unique<TMemoryStream>();
        return ReadToStream(entry.file_address, entry.file_size, AlcStream.get());
    }
    return false;
}

bool TCommunicator::FlashInit(uint8_t sector_flags, uint8_t clear_plc_var) {
    const std::array<uint8_t, 2> request{sector_flags, clear_plc_var};
    fWaitTime = kFlashInitWaitTime;  // for this exchange only: SendFrame puts it back
    return SendRequest(kCmdFlashInit, request);
}

bool TCommunicator::DataInit() { return SendCommand(kCmdDataInit); }

}  // namespace zelto
