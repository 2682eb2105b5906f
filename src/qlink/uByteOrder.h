#pragma once
// Little-endian fields in byte buffers, read and written with shifts (never by casting a buffer), for the
// request and answer data of the controller commands and the code memory records.
#include <cstddef>
#include <cstdint>
#include <span>

namespace zelto {

inline uint16_t GetU16LE(std::span<const uint8_t> Bytes, std::size_t Offset) {
    return static_cast<uint16_t>(Bytes[Offset] | (Bytes[Offset + 1] << 8));
}

inline uint32_t GetU32LE(std::span<const uint8_t> Bytes, std::size_t Offset) {
    return static_cast<uint32_t>(Bytes[Offset]) | (static_cast<uint32_t>(Bytes[Offset + 1]) << 8) |
           (static_cast<uint32_t>(Bytes[Offset + 2]) << 16) | (static_cast<uint32_t>(Bytes[Offset + 3]) << 24);
}

inline int16_t GetS16LE(std::span<const uint8_t> Bytes, std::size_t Offset) {
    return static_cast<int16_t>(GetU16LE(Bytes, Offset));
}

inline int32_t GetS32LE(std::span<const uint8_t> Bytes, std::size_t Offset) {
    return static_cast<int32_t>(GetU32LE(Bytes, Offset));
}

inline void PutU16LE(std::span<uint8_t> Bytes, std::size_t Offset, uint16_t Value) {
    Bytes[Offset] = static_cast<uint8_t>(Value);
    Bytes[Offset + 1] = static_cast<uint8_t>(Value >> 8);
}

inline void PutU32LE(std::span<uint8_t> Bytes, std::size_t Offset, uint32_t Value) {
    for (std::size_t i = 0; i < 4; ++i) Bytes[Offset + i] = static_cast<uint8_t>(Value >> (8 * i));
}

inline void PutS16LE(std::span<uint8_t> Bytes, std::size_t Offset, int16_t Value) {
    PutU16LE(Bytes, Offset, static_cast<uint16_t>(Value));
}

inline void PutS32LE(std::span<uint8_t> Bytes, std::size_t Offset, int32_t Value) {
    PutU32LE(Bytes, Offset, static_cast<uint32_t>(Value));
}

}  // namespace zelto
