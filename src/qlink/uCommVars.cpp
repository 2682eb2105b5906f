// Random-access variable transfer of TCommunicator: ReadRandom/WriteRandom exchanges and the chunked
// ReadVars/WriteVars over a controller variable list.
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "qlink/uCommunication.h"

namespace zelto {

namespace {

constexpr int kChunkSize = 100;          // variables per random-access exchange
constexpr int kValueBufferSize = 1040;
constexpr std::size_t kHeadSize = 6;     // the three counts

using TAddressList = std::array<uint16_t, kChunkSize + 1>;
using TValueBuffer = std::array<uint8_t, kValueBufferSize>;

// One chunk's variables in transfer order: the 1-byte items, then the 2-byte items, then the 4-byte items,
// each group in list order. Variables without a transferred value are left out.
struct TChunk {
    std::vector<TZeltoVar*> Ordered;
    int Count1 = 0, Count2 = 0, Count4 = 0;
    TAddressList Addresses{};

    int ValueBytes() const { return Count1 + 2 * Count2 + 4 * Count4; }
};

TChunk CollectChunk(const TZeltoVarList& List, int First, int Last) {
    TChunk chunk;
    for (const int size : {1, 2, 4}) {
        for (int i = First; i < Last; ++i) {
            TZeltoVar* v = List.Items(i);
            if (v == nullptr || VarTypTransferBytes(v->Typ()) != size) continue;
            chunk.Addresses[chunk.Ordered.size()] = static_cast<uint16_t>(v->RealAddress());
            chunk.Ordered.push_back(v);
            (size == 1 ? chunk.Count1 : size == 2 ? chunk.Count2 : chunk.Count4)++;
        }
    }
    return chunk;
}

// Request data: the three counts and the first N addresses.
bool AddressRequest(int VarCount1, int VarCount2, int VarCount4, std::span<const uint16_t> Addresses,
                    std::vector<uint8_t>& Request) {
    if (VarCount1 < 0 || VarCount2 < 0 || VarCount4 < 0) return false;
    const std::size_t n = static_cast<std::size_t>(VarCount1) + static_cast<std::size_t>(VarCount2) +
                          static_cast<std::size_t>(VarCount4);
    // Beyond this the request would not fit one frame.
    if (n > Addresses.size() || kHeadSize + 2 * n > static_cast<std::size_t>(kMaxRequestData)) return false;
    Request.assign(kHeadSize + 2 * n, 0);
    PutU16LE(Request, 0, static_cast<uint16_t>(VarCount1));
    PutU16LE(Request, 2, static_cast<uint16_t>(VarCount2));
    PutU16LE(Request, 4, static_cast<uint16_t>(VarCount4));
    for (std::size_t i = 0; i < n; ++i) PutU16LE(Request, kHeadSize + 2 * i, Addresses[i]);
    return true;
}

std::size_t ValueBytes(int VarCount1, int VarCount2, int VarCount4) {
    return static_cast<std::size_t>(VarCount1) + 2 * static_cast<std::size_t>(VarCount2) +
           4 * static_cast<std::size_t>(VarCount4);
}

}  // namespace

bool TCommunicator::ReadRandom(int VarCount1, int VarCount2, int VarCount4, std::span<const uint16_t> Addresses,
                               std::span<uint8_t> data) {
    std::vector<uint8_t> request;
    if (!AddressRequest(VarCount1, VarCount2, VarCount4, Addresses, request)) return false;
    int count = 0;
    if (!RequestAnswer(kCmdReadRandom, request, data, count)) return false;
    return static_cast<std::size_t>(count) >= ValueBytes(VarCount1, VarCount2, VarCount4);
}

bool TCommunicator::WriteRandom(int VarCount1, int VarCount2, int VarCount4, std::span<const uint16_t> Addresses,
                                std::span<const uint8_t> data) {
    std::vector<uint8_t> request;
    if (!AddressRequest(VarCount1, VarCount2, VarCount4, Addresses, request)) return false;
    const std::size_t values = ValueBytes(VarCount1, VarCount2, VarCount4);
    if (data.size() < values) return false;
    request.insert(request.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(values));
    return SendRequest(kCmdWriteRandom, request);
}

bool TCommunicator::ReadVars(TZeltoVarList* VarList) {
    if (VarList == nullptr) return false;
    for (int first = 0; first < VarList->Count(); first += kChunkSize) {
        const TChunk chunk = CollectChunk(*VarList, first, std::min(first + kChunkSize, VarList->Count()));
        TValueBuffer values{};
        if (!ReadRandom(chunk.Count1, chunk.Count2, chunk.Count4, chunk.Addresses, values)) return false;
        std::size_t at = 0;
        for (TZeltoVar* v : chunk.Ordered) {
            switch (VarTypTransferBytes(v->Typ())) {
                case 1: v->SetZeltoValue(values[at]); break;
                case 2: v->SetZeltoValue(GetU16LE(values, at)); break;
                default: v->SetZeltoValue(GetS32LE(values, at)); break;
            }
            at += static_cast<std::size_t>(VarTypTransferBytes(v->Typ()));
        }
    }
    return true;
}

bool TCommunicator::WriteVars(TZeltoVarList* VarList) {
    if (VarList == nullptr || VarList->Count() == 0) return false;
    for (int first = 0; first < VarList->Count(); first += kChunkSize) {
        const int last = std::min(first + kChunkSize, VarList->Count());
        const TChunk chunk = CollectChunk(*VarList, first, last);
        TValueBuffer values{};
        std::size_t at = 0;
        for (const TZeltoVar* v : chunk.Ordered) {
            const auto raw = static_cast<uint32_t>(v->ZeltoValue());
            const int size = VarTypTransferBytes(v->Typ());
            for (int b = 0; b < size; ++b) values[at++] = static_cast<uint8_t>(raw >> (8 * b));
        }
        const bool written = WriteRandom(chunk.Count1, chunk.Count2, chunk.Count4, chunk.Addresses,
                                         std::span<const uint8_t>(values.data(), at));
        // A failed write is not kept pending: the next request decides anew what to write.
        for (int i = first; i < last; ++i)
            if (TZeltoVar* v = VarList->Items(i)) v->SetWriteReq(false);
        if (!written) return false;
    }
    return true;
}

bool TCommunicator::WriteVar(TZeltoVar* AVar, const Variant& Value) {
    if (AVar == nullptr) return false;
    bool written = false;
    try {
        const auto raw = static_cast<uint32_t>(VarToPLCValue(Value, AVar->Typ()).AsInt32());
        const int size = VarTypTransferBytes(AVar->Typ());
        std::array<uint8_t, 4> bytes{};
        for (int b = 0; b < size; ++b) bytes[static_cast<std::size_t>(b)] = static_cast<uint8_t>(raw >> (8 * b));
        written = WriteData(static_cast<uint16_t>(AVar->RealAddress()), static_cast<uint16_t>(size),
                            std::span<const uint8_t>(bytes.data(), static_cast<std::size_t>(size)));
    } catch (const EVariantError&) {
        // A value the variable's type refuses is not sent at all.
    }
    AVar->SetWriteReq(false);
    return written;
}

}  // namespace zelto
