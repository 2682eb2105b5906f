#pragma once
// The two memories of a simulated controller: code memory (24-bit addresses, 16-bit segments of 256 bytes,
// held sparsely because a program uses a few KiB of 16 MiB) and data memory (64 KiB, 16-bit addresses),
// with the typed access the program's variables need.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "vars/uZeltoVars.h"

namespace zelto::sim {

class TSimCodeMemory {
public:
    static constexpr uint32_t kSize = 0x1000000;  // 65536 segments of 256 bytes

    // Bytes from Address on; false (and nothing read) when the range passes the end of code memory.
    bool Read(uint32_t Address, std::span<uint8_t> Bytes) const;
    bool Write(uint32_t Address, std::span<const uint8_t> Bytes);
    // Erased flash reads as zeros.
    void Clear() { fSegments.clear(); }

private:
    using TSegment = std::array<uint8_t, 256>;
    std::map<uint32_t, TSegment> fSegments;
};

class TSimDataMemory {
public:
    static constexpr uint32_t kSize = 0x10000;

    bool Read(uint32_t Address, std::span<uint8_t> Bytes) const;
    bool Write(uint32_t Address, std::span<const uint8_t> Bytes);
    void Clear() { fBytes.fill(0); }

    // An item of 1, 2 or 4 bytes, little-endian; nothing when it lies (partly) outside the memory.
    std::optional<uint32_t> ReadItem(uint32_t Address, int Size) const;
    bool WriteItem(uint32_t Address, int Size, uint32_t Value);

    // A program variable's raw controller form at its RealAddress (0 for types without a transferred value
    // or outside the memory), and its value written in that form.
    int32_t RawValue(const TZeltoVar& Var) const;
    void SetRawValue(const TZeltoVar& Var, int32_t Raw);
    // The variable's value in program form (a real as its single, a bit 0/1 ...), through TZeltoVar's
    // conversions; and a value written through them.
    double Number(const TZeltoVar& Var) const;
    void SetNumber(const TZeltoVar& Var, double Value);

private:
    std::array<uint8_t, kSize> fBytes{};
};

}  // namespace zelto::sim
