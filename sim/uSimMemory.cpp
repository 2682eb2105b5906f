#include "sim/uSimMemory.h"

#include <algorithm>

#include "base/Variant.h"

namespace zelto::sim {

namespace {

bool InRange(uint32_t Address, std::size_t Count, uint32_t Size) {
    return Address <= Size && Count <= Size - Address;
}

}  // namespace

bool TSimCodeMemory::Read(uint32_t Address, std::span<uint8_t> Bytes) const {
    if (!InRange(Address, Bytes.size(), kSize)) return false;
    // One look-up per segment touched, not one per byte.
    std::size_t done = 0;
    while (done < Bytes.size()) {
        const uint32_t at = Address + static_cast<uint32_t>(done);
        const std::size_t count = std::min<std::size_t>(Bytes.size() - done, 256 - (at & 0xFF));
        const auto segment = fSegments.find(at >> 8);
        const auto out = Bytes.begin() + static_cast<std::ptrdiff_t>(done);
        if (segment == fSegments.end())
            std::fill_n(out, count, uint8_t{0});
        else
            std::copy_n(segment->second.begin() + (at & 0xFF), count, out);
        done += count;
    }
    return true;
}

bool TSimCodeMemory::Write(uint32_t Address, std::span<const uint8_t> Bytes) {
    if (!InRange(Address, Bytes.size(), kSize)) return false;
    for (std::size_t i = 0; i < Bytes.size(); ++i) {
        const uint32_t at = Address + static_cast<uint32_t>(i);
        fSegments[at >> 8][at & 0xFF] = Bytes[i];  // a new segment starts erased (zeros)
    }
    return true;
}

bool TSimDataMemory::Read(uint32_t Address, std::span<uint8_t> Bytes) const {
    if (!InRange(Address, Bytes.size(), kSize)) return false;
    std::copy_n(fBytes.begin() + Address, Bytes.size(), Bytes.begin());
    return true;
}

bool TSimDataMemory::Write(uint32_t Address, std::span<const uint8_t> Bytes) {
    if (!InRange(Address, Bytes.size(), kSize)) return false;
    std::copy(Bytes.begin(), Bytes.end(), fBytes.begin() + Address);
    return true;
}

std::optional<uint32_t> TSimDataMemory::ReadItem(uint32_t Address, int Size) const {
    if (Size < 1 || !InRange(Address, static_cast<std::size_t>(Size), kSize)) return std::nullopt;
    uint32_t value = 0;
    for (int b = Size - 1; b >= 0; --b) value = (value << 8) | fBytes[Address + static_cast<uint32_t>(b)];
    return value;
}

bool TSimDataMemory::WriteItem(uint32_t Address, int Size, uint32_t Value) {
    if (Size < 1 || !InRange(Address, static_cast<std::size_t>(Size), kSize)) return false;
    for (int b = 0; b < Size; ++b) fBytes[Address + static_cast<uint32_t>(b)] = static_cast<uint8_t>(Value >> (8 * b));
    return true;
}

int32_t TSimDataMemory::RawValue(const TZeltoVar& Var) const {
    const int size = VarTypTransferBytes(Var.Typ());
    if (size == 0 || Var.RealAddress() < 0) return 0;
    return static_cast<int32_t>(ReadItem(static_cast<uint32_t>(Var.RealAddress()), size).value_or(0));
}

void TSimDataMemory::SetRawValue(const TZeltoVar& Var, int32_t Raw) {
    const int size = VarTypTransferBytes(Var.Typ());
    if (size == 0 || Var.RealAddress() < 0) return;
    WriteItem(static_cast<uint32_t>(Var.RealAddress()), size, static_cast<uint32_t>(Raw));
}

double TSimDataMemory::Number(const TZeltoVar& Var) const {
    TZeltoVar value;
    value.Assign(&Var);
    value.SetZeltoValue(RawValue(Var));
    return value.ValueFloat();
}

void TSimDataMemory::SetNumber(const TZeltoVar& Var, double Value) {
    TZeltoVar value;
    value.Assign(&Var);
    try {
        value.SetValue(Variant(Value));
    } catch (const EVariantError&) {
        return;  // a value the type cannot hold is not written
    }
    SetRawValue(Var, value.ZeltoValue());
}

}  // namespace zelto::sim
